#pragma once
// Compressed output as BGZF: a series of gzip members of at most 64 KiB
// each, which gzip, zcat and any zlib reader decompress as one gzip file, and
// whose independent blocks let indexers seek into it. Every block is a
// function of its own bytes and the level alone, so text cut into blocks at
// the same places compresses to the same bytes on any thread.
#include <cstddef>

#include "io/text_buffer.hpp"

namespace bgzf {

// Uncompressed bytes per full block: the cut the format's own tools make,
// which leaves room for the header even when the data does not compress.
constexpr std::size_t block_input = 0xff00;
// Largest compressed block, header and trailer included.
constexpr std::size_t max_block = 0x10000;

// The empty block that ends every BGZF file (its readers take a file without
// it as truncated).
constexpr std::size_t eof_size = 28;
extern const unsigned char eof_block[eof_size];

// Compresses data[0, size), size at most block_input, into one block at `out`
// (room for max_block bytes); returns the block's size. Level 1 to 9; a
// block that would not shrink is stored.
std::size_t compress_block(const char* data, std::size_t size, int level, char* out);

// Appends to `out` the blocks of data[0, size): one per block_input bytes,
// the last one shorter; nothing for no data.
void compress(const char* data, std::size_t size, int level, TextBuffer& out);

}  // namespace bgzf
