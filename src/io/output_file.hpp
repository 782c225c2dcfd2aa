#pragma once
// The opener of every output file: plain, or gzip in BGZF blocks when the name
// ends in ".gz", written in large checked writes.
#include <ios>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>

#include <boost/filesystem/path.hpp>

constexpr int default_gz_level = 6;

// Opens `file` for writing, gzip-compressed at `gz_level` (1 to 9) exactly
// when its extension is ".gz". Announces the file in `log` before opening.
// Throws FileError ("Error reading file <file>: can't open file.", with the
// cause when it is a limit such as too many open files) when it cannot be
// opened. While an output set is open (io/output_set.hpp) the file is
// written under a temporary name and starts empty, whatever the mode.
std::unique_ptr<std::ostream> open_output_file(boost::filesystem::path file, std::ostream& log,
                                               std::ios_base::openmode mode,
                                               int gz_level = default_gz_level);
std::unique_ptr<std::ostream> open_output_file(boost::filesystem::path file,
                                               std::ios_base::openmode mode,
                                               int gz_level = default_gz_level);

// True once a write to the file behind a stream returned by open_output_file
// has failed (data may still sit in the stream's buffers and fail later).
bool output_file_failed(const std::ostream& stream);
// The errno of the first failed write or close of such a stream, 0 if none.
int output_file_error(const std::ostream& stream);

// The compression level of a stream returned by open_output_file; 0 for a
// plain file.
int output_file_gz_level(const std::ostream& stream);

// Writes a block of bytes to a stream returned by open_output_file, as
// stream.write would; a plain file gets it in one system call, without a copy
// through the stream's buffer. Failures show as for any write to the stream.
void write_output_block(std::ostream& stream, const char* data, std::size_t size);

// Writes BGZF blocks (bgzf::compress, at the stream's level) to a compressed
// stream as they are, after the text written to it so far. Failures show as
// for any write to the stream.
void write_compressed_output(std::ostream& stream, const char* data, std::size_t size);

// Flushes and closes a stream returned by open_output_file (writing the gzip
// end block), and throws FileError naming `file` if any write, the flush or
// the close failed. The stream is released either way. A file of an open
// output set is marked finished.
void close_output_file(std::unique_ptr<std::ostream>& stream, const boost::filesystem::path& file);
