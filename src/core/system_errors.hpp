#pragma once
// The causes of failed system calls on files that a user can act on, worded
// for the program's error messages.
#include <cstddef>
#include <string>

// "too many open files", "out of memory", "file too large", "no space left on
// device" and a few more for the errno values that name a limit or a
// resource; "" for the others, whose usual message stays as it was.
std::string system_error_cause(int err);

// "<what> (<cause>)." when `err` has a cause above, else "<what>.", for
// example "can't open file (too many open files).".
std::string with_system_cause(const std::string& what, int err);

// The detail of a write error: "the file could not be written completely
// (<cause>).", with "disk full or I/O error" when the cause is unknown.
std::string incomplete_write_detail(int err);

// Writes all `size` bytes to the file descriptor, retrying interrupted and
// partial writes. Returns true, or false with `err` set to the errno of the
// failed write (0 when a write wrote nothing).
bool write_fully(int fd, const char* data, std::size_t size, int& err);

// The likely errno of a write to `path` that failed where errno was not
// seen (on another thread): EFBIG when the file has reached the process's
// file-size limit, ENOSPC when its file system is full, else 0.
int likely_write_error(const std::string& path);
