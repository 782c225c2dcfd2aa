#pragma once
// A growable byte buffer for output text (or compressed blocks of it):
// formatters write straight into it, and its memory is kept from one use to
// the next, so that a writer that cycles through a few buffers stops
// allocating after its first blocks.
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

class TextBuffer {
 public:
  TextBuffer() = default;
  TextBuffer(TextBuffer&&) = default;
  TextBuffer& operator=(TextBuffer&&) = default;

  // Room for `bytes` more bytes at the end, returned uninitialised: the
  // caller writes every one of them.
  char* extend(std::size_t bytes) {
    if (used + bytes > capacity) grow(used + bytes);
    char* at = buffer.get() + used;
    used += bytes;
    return at;
  }
  void append(const char* text, std::size_t bytes) {
    if (bytes > 0) std::memcpy(extend(bytes), text, bytes);
  }
  void append(const std::string& text) { append(text.data(), text.size()); }
  void append(char c) { *extend(1) = c; }
  // Drops the last `bytes` bytes (padding written past a line).
  void shrink(std::size_t bytes) { used -= bytes; }
  void clear() { used = 0; }

  const char* data() const { return buffer.get(); }
  std::size_t size() const { return used; }
  bool empty() const { return used == 0; }

 private:
  void grow(std::size_t bytes);

  std::unique_ptr<char[]> buffer;
  std::size_t used = 0;
  std::size_t capacity = 0;
};
