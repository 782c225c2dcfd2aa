#include "io/text_buffer.hpp"

#include <algorithm>

void TextBuffer::grow(std::size_t bytes) {
  // new char[] leaves the bytes as they are: the text is written once, not
  // zero-filled first. Doubling keeps the copies few.
  const std::size_t size = std::max({bytes, 2 * capacity, std::size_t(1) << 16});
  std::unique_ptr<char[]> larger(new char[size]);
  if (used > 0) std::memcpy(larger.get(), buffer.get(), used);
  buffer = std::move(larger);
  capacity = size;
}
