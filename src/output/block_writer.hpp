#pragma once
// An output file written in large blocks: lines are formatted into the
// writer's own buffer, which goes to the file whenever it exceeds a megabyte,
// and every block write is checked so that a full disk stops the run instead
// of leaving a truncated file behind.
#include <cstring>
#include <memory>
#include <ostream>
#include <string>

#include <boost/filesystem/path.hpp>

class BlockWriter {
 public:
  static constexpr std::size_t flush_threshold = std::size_t(1) << 20;

  // Opens `file` with open_output_file, which announces it in `log` and
  // compresses when the name ends in ".gz".
  BlockWriter(const boost::filesystem::path& file, std::ostream& log);

  // Room for `bytes` more bytes at the end of the text, returned
  // uninitialised: the caller writes every one of them.
  char* extend(std::size_t bytes) {
    if (used + bytes > capacity) grow(used + bytes);
    char* at = buffer.get() + used;
    used += bytes;
    return at;
  }
  void append(const char* text, std::size_t bytes) { std::memcpy(extend(bytes), text, bytes); }
  void append(const std::string& text) { append(text.data(), text.size()); }
  void append(char c) { *extend(1) = c; }
  // Drops the last `bytes` bytes of the text (padding written past a line).
  void shrink(std::size_t bytes) { used -= bytes; }

  // Call after each complete line or block of lines: writes the buffer once
  // it is large.
  void line_done() {
    if (used >= flush_threshold) write_buffer();
  }
  // Writes what is left, flushes and closes the file (the gzip trailer
  // included). Throws badfilename naming the file if anything failed.
  void close();

 private:
  void grow(std::size_t bytes);
  void write_buffer();

  boost::filesystem::path file;
  std::unique_ptr<char[]> buffer;
  std::size_t used = 0;
  std::size_t capacity = 0;
  std::unique_ptr<std::ostream> stream;
};
