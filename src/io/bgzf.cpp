#include "io/bgzf.hpp"

#include <libdeflate.h>

#include <cstdint>
#include <cstring>
#include <new>

namespace bgzf {

const unsigned char eof_block[eof_size] = {0x1f, 0x8b, 8, 4, 0, 0, 0, 0, 0, 0xff, 6, 0, 'B', 'C',
                                           2,    0,    0x1b, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0};

namespace {

constexpr std::size_t header_size = 18, trailer_size = 8;

void put16(char* at, std::uint32_t value) {
  at[0] = static_cast<char>(value & 0xff);
  at[1] = static_cast<char>((value >> 8) & 0xff);
}

void put32(char* at, std::uint32_t value) {
  put16(at, value & 0xffff);
  put16(at + 2, value >> 16);
}

// A compressor per thread and level: allocating one costs more than
// compressing a block, and a compressor may serve one thread at a time only.
class Compressor {
 public:
  ~Compressor() {
    if (compressor != nullptr) libdeflate_free_compressor(compressor);
  }
  libdeflate_compressor* at_level(int wanted) {
    if (compressor == nullptr || level != wanted) {
      if (compressor != nullptr) libdeflate_free_compressor(compressor);
      compressor = libdeflate_alloc_compressor(wanted);
      level = wanted;
      if (compressor == nullptr) throw std::bad_alloc();
    }
    return compressor;
  }

 private:
  libdeflate_compressor* compressor = nullptr;
  int level = 0;
};

thread_local Compressor compressor;

// A deflate stream of one stored block: the data as it is, behind a 5-byte
// block header.
std::size_t store(const char* data, std::size_t size, char* out) {
  out[0] = 1;  // the last block, stored
  put16(out + 1, static_cast<std::uint32_t>(size));
  put16(out + 3, static_cast<std::uint32_t>(~size & 0xffff));
  std::memcpy(out + 5, data, size);
  return size + 5;
}

}  // namespace

std::size_t compress_block(const char* data, std::size_t size, int level, char* out) {
  char* const payload = out + header_size;
  const std::size_t room = max_block - header_size - trailer_size;
  std::size_t packed = libdeflate_deflate_compress(compressor.at_level(level), data, size, payload, room);
  if (packed == 0) packed = store(data, size, payload);
  const std::size_t total = header_size + packed + trailer_size;
  // The gzip header with one extra field, "BC": the block's size less one.
  static const unsigned char header[16] = {0x1f, 0x8b, 8, 4, 0, 0, 0, 0, 0, 0xff, 6, 0, 'B', 'C', 2, 0};
  std::memcpy(out, header, sizeof header);
  put16(out + 16, static_cast<std::uint32_t>(total - 1));
  put32(payload + packed, libdeflate_crc32(0, data, size));
  put32(payload + packed + 4, static_cast<std::uint32_t>(size));
  return total;
}

void compress(const char* data, std::size_t size, int level, TextBuffer& out) {
  for (std::size_t done = 0; done < size; done += block_input) {
    const std::size_t take = size - done < block_input ? size - done : block_input;
    char* at = out.extend(max_block);
    out.shrink(max_block - compress_block(data + done, take, level, at));
  }
}

}  // namespace bgzf
