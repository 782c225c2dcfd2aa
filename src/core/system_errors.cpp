#include "core/system_errors.hpp"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

std::string system_error_cause(int err) {
  switch (err) {
    case EMFILE:
    case ENFILE:
      return "too many open files";
    case ENOMEM:
      return "out of memory";
    case EFBIG:
      return "file too large";
    case ENOSPC:
      return "no space left on device";
    case EDQUOT:
      return "disk quota exceeded";
    case EIO:
      return "I/O error";
    case EPIPE:
      return "broken pipe";
    case EROFS:
      return "read-only file system";
    default:
      return "";
  }
}

std::string with_system_cause(const std::string& what, int err) {
  const std::string cause = system_error_cause(err);
  return cause.empty() ? what + "." : what + " (" + cause + ").";
}

std::string incomplete_write_detail(int err) {
  const std::string cause = system_error_cause(err);
  return "the file could not be written completely (" +
         (cause.empty() ? std::string("disk full or I/O error") : cause) + ").";
}

bool write_fully(int fd, const char* data, std::size_t size, int& err) {
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? errno : 0;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

int likely_write_error(const std::string& path) {
  // A write that failed left at most a block short of the limit.
  const off_t slack = 1 << 17;
  struct stat file;
  rlimit limit;
  if (::stat(path.c_str(), &file) == 0 && getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      file.st_size + slack >= static_cast<off_t>(limit.rlim_cur))
    return EFBIG;
  struct statvfs space;
  if (statvfs(path.c_str(), &space) == 0 && space.f_bavail * space.f_frsize < static_cast<unsigned long>(slack))
    return ENOSPC;
  return 0;
}
