#pragma once
// An output file written in large blocks: lines are formatted into the
// writer's own buffer, which goes to the file whenever it exceeds a megabyte,
// and every block write is checked so that a full disk stops the run instead
// of leaving a truncated file behind.
#include <ostream>

#include <boost/filesystem/path.hpp>

#include "io/text_buffer.hpp"

class BlockWriter : public TextBuffer {
 public:
  static constexpr std::size_t flush_threshold = std::size_t(1) << 20;

  // Opens `file` with open_output_file, which announces it in `log` and
  // compresses at `gz_level` when the name ends in ".gz".
  BlockWriter(const boost::filesystem::path& file, std::ostream& log, int gz_level);

  // Call after each complete line or block of lines: writes the buffer once
  // it is large.
  void line_done() {
    if (size() >= flush_threshold) write_buffer();
  }
  // Writes what is left, flushes and closes the file (the gzip end included).
  // Throws FileError naming the file if anything failed.
  void close();

 private:
  void write_buffer();

  boost::filesystem::path file;
  std::unique_ptr<std::ostream> stream;
};
