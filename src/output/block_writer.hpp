#pragma once
// An output file written in large blocks: lines are formatted into a reusable
// text buffer, which goes to the stream whenever it exceeds a megabyte, and
// every block write is checked so that a full disk stops the run instead of
// leaving a truncated file behind.
#include <memory>
#include <ostream>
#include <string>

#include <boost/filesystem/path.hpp>

class BlockWriter {
 public:
  static constexpr std::size_t flush_threshold = std::size_t(1) << 20;

  // Opens `file` with open_output_file, which announces it in `log` and
  // compresses when the name ends in ".gz". `buffer` is emptied and then
  // used for the lines of this file.
  BlockWriter(const boost::filesystem::path& file, std::ostream& log, std::string& buffer);

  // The text of the lines not yet written.
  std::string& text() { return buffer; }
  // Call after each complete line: writes the buffer once it is large.
  void line_done() {
    if (buffer.size() >= flush_threshold) write_buffer();
  }
  // Writes what is left, flushes and closes the file (the gzip trailer
  // included). Throws badfilename naming the file if anything failed.
  void close();

 private:
  void write_buffer();

  boost::filesystem::path file;
  std::string& buffer;
  std::unique_ptr<std::ostream> stream;
};
