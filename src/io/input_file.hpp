#pragma once
// Line-by-line reading of a text input that may be plain or gzip-compressed
// (recognised by the gzip magic bytes, not by the name). Reads in large
// blocks; a truncated or corrupt gzip stream is an error naming the file.
#include <memory>
#include <string>

class ThreadBudget;

class InputFile {
 public:
  // Opens `name`; is_open() tells whether that worked. Nothing is thrown here.
  // With a thread of `budget` to spare, a gzip file is decompressed on it
  // while its lines are read; the lines, and any error, are the same.
  explicit InputFile(const std::string& name, ThreadBudget* budget = nullptr);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool is_open() const;
  // Why the file did not open: the errno of the failed call, 0 when it
  // opened, or when it is a directory or a gzip stream that cannot start.
  int open_error() const;
  // Reads the next line (without its line feed, and without a carriage
  // return just before it) into `line`. Returns false,
  // like a failed std::getline, when no character was left. Throws
  // FileError naming the file when the data cannot be read or decompressed.
  bool getline(std::string& line);
  // As std::getline leaves a stream: true once a read reached the end of the
  // data without finding a line feed (a final line without line feed, or a
  // read at the very end).
  bool eof() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
};

// White space as stream extraction sees it in the "C" locale.
inline bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The tokeniser of every reader: finds the next white-space separated token
// in [p, end) as [first, last), leaving p after it. False when none is left.
inline bool next_token(const char*& p, const char* end, const char*& first, const char*& last) {
  while (p < end && is_space(*p)) ++p;
  if (p == end) return false;
  first = p;
  while (p < end && !is_space(*p)) ++p;
  last = p;
  return true;
}
