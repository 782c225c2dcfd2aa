// Compressed output files as BGZF: every block well formed and checked, the
// end block, cuts at fixed offsets of the text however it was written, and
// the compression level.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "output/bgzf.hpp"
#include "params/summary.hpp"
#include "test_support.hpp"

using namespace testing_support;

namespace {

unsigned get16(const std::string& s, std::size_t at) {
  return static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8;
}
std::uint32_t get32(const std::string& s, std::size_t at) { return get16(s, at) | get16(s, at + 2) << 16; }

struct Blocks {
  std::vector<std::size_t> sizes;  // uncompressed bytes of each block, the end block included
  std::string text;
};

// Walks a BGZF file block by block, inflating each on its own; any fault of
// the format fails the test.
Blocks walk(const std::string& file) {
  Blocks out;
  for (std::size_t at = 0; at < file.size();) {
    EXPECT_EQ(file.substr(at, 4), std::string("\x1f\x8b\x08\x04", 4)) << at;
    EXPECT_EQ(get16(file, at + 10), 6u);
    EXPECT_EQ(file.substr(at + 12, 4), std::string("BC\x02\x00", 4));
    const std::size_t size = get16(file, at + 16) + 1;
    if (at + size > file.size()) {
      ADD_FAILURE() << "block at " << at << " runs past the end";
      break;
    }
    const std::size_t isize = get32(file, at + size - 4);
    std::string text(isize, '\0');
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(file.data() + at + 18));
    z.avail_in = static_cast<uInt>(size - 26);
    z.next_out = reinterpret_cast<Bytef*>(&text[0]);
    z.avail_out = static_cast<uInt>(isize);
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END) << at;
    EXPECT_EQ(z.avail_in, 0u);
    inflateEnd(&z);
    const auto crc = crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(isize));
    EXPECT_EQ(get32(file, at + size - 8), crc) << at;
    out.sizes.push_back(isize);
    out.text += text;
    at += size;
  }
  return out;
}

// Text that compresses like the output files, with a stretch of random bytes
// that does not compress at all.
std::string sample_text() {
  std::mt19937 random(7);
  std::string text;
  while (text.size() < 150000) text += std::to_string(random() % 3) + (random() % 9 ? " " : " \n");
  for (int i = 0; i < 70000; ++i) text += static_cast<char>(random());
  return text + "end\n";
}

std::string write_gz(const std::string& name, const std::string& text, std::size_t piece, int level = 6) {
  auto out = open_output_file(name, std::ios::out, level);
  for (std::size_t at = 0; at < text.size(); at += piece) {
    write_output_block(*out, text.data() + at, std::min(piece, text.size() - at));
    if (at % 3 == 0) out->flush();
  }
  close_output_file(out, name);
  return read_file(name);
}

}  // namespace

TEST(Bgzf, BlocksCutAtFixedOffsetsOfTheTextHoweverWritten) {
  TempDir dir;
  const std::string text = sample_text();
  const std::string whole = write_gz(dir.file("a.gz"), text, text.size());
  const Blocks blocks = walk(whole);
  EXPECT_EQ(blocks.text, text);
  ASSERT_EQ(blocks.sizes.size(), text.size() / bgzf::block_input + 2);
  for (std::size_t b = 0; b + 2 < blocks.sizes.size(); ++b) EXPECT_EQ(blocks.sizes[b], bgzf::block_input);
  EXPECT_EQ(whole.substr(whole.size() - bgzf::eof_size),
            std::string(reinterpret_cast<const char*>(bgzf::eof_block), bgzf::eof_size));
  EXPECT_EQ(read_gzip_file(dir.file("a.gz")), text);
  for (std::size_t piece : {std::size_t(1), std::size_t(4093), std::size_t(70001)})
    EXPECT_EQ(write_gz(dir.file("b.gz"), text, piece), whole) << piece;
  // One character at a time through the stream itself.
  auto out = open_output_file(dir.file("c.gz"), std::ios::out);
  for (char c : text) *out << c;
  close_output_file(out, dir.file("c.gz"));
  EXPECT_EQ(read_file(dir.file("c.gz")), whole);
}

TEST(Bgzf, LevelsAndBlocksMadeElsewhere) {
  TempDir dir;
  const std::string text = sample_text();
  const std::string fast = write_gz(dir.file("1.gz"), text, text.size(), 1);
  const std::string small = write_gz(dir.file("9.gz"), text, text.size(), 9);
  EXPECT_EQ(walk(fast).text, text);
  EXPECT_EQ(walk(small).text, text);
  EXPECT_LT(small.size(), fast.size());

  // Blocks compressed apart from the stream follow the text written before them.
  auto out = open_output_file(dir.file("m.gz"), std::ios::out, 9);
  EXPECT_EQ(output_file_gz_level(*out), 9);
  *out << "head\n";
  TextBuffer packed;
  bgzf::compress(text.data(), text.size(), 9, packed);
  write_compressed_output(*out, packed.data(), packed.size());
  close_output_file(out, dir.file("m.gz"));
  const Blocks mixed = walk(read_file(dir.file("m.gz")));
  EXPECT_EQ(mixed.text, "head\n" + text);
  EXPECT_EQ(mixed.sizes.front(), 5u);
  auto plain = open_output_file(dir.file("p.txt"), std::ios::out, 9);
  EXPECT_EQ(output_file_gz_level(*plain), 0);
  close_output_file(plain, dir.file("p.txt"));
}
