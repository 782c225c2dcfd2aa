// Compressed output files as BGZF: every block well formed, the end block, cuts at fixed offsets of the text
// however it was written, levels, and blocks compressed apart from the stream.
#include <zlib.h>

#include <random>

#include "params/bgzf.hpp"
#include "params/summary.hpp"
#include "test_support.hpp"

using namespace testing_support;

namespace {

std::size_t get(const std::string& s, std::size_t at, int bytes) {
  std::size_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(s[at + i]);
  return value;
}

// Inflates a BGZF file block by block, each on its own, checking every header and checksum; returns the text
// and the text size of each block.
std::string walk(const std::string& file, std::vector<std::size_t>& sizes) {
  std::string all;
  for (std::size_t at = 0, size = 0; at < file.size(); at += size) {
    EXPECT_EQ(file.substr(at, 4) + file.substr(at + 10, 6), std::string("\x1f\x8b\x08\x04\x06\x00" "BC\x02\x00", 10));
    size = get(file, at + 16, 2) + 1;
    EXPECT_LE(at + size, file.size());
    std::string text(get(file, at + size - 4, 4), '\0');
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(file.data() + at + 18));
    z.avail_in = static_cast<uInt>(size - 26);
    z.next_out = reinterpret_cast<Bytef*>(&text[0]);
    z.avail_out = static_cast<uInt>(text.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END) << at;
    inflateEnd(&z);
    EXPECT_EQ(get(file, at + size - 8, 4), crc32(0, reinterpret_cast<const Bytef*>(text.data()), z.total_out));
    sizes.push_back(text.size());
    all += text;
  }
  return all;
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

TEST(Bgzf, WellFormedBlocksCutAtFixedOffsetsOfTheText) {
  TempDir dir;
  // Text that compresses like the output files, then bytes that do not compress.
  std::mt19937 random(7);
  std::string text;
  while (text.size() < 150000) text += std::to_string(random() % 3) + (random() % 9 ? " " : " \n");
  for (int i = 0; i < 70000; ++i) text += static_cast<char>(random());
  const std::string whole = write_gz(dir.file("a.gz"), text, text.size());
  std::vector<std::size_t> sizes;
  EXPECT_EQ(walk(whole, sizes), text);
  EXPECT_EQ(sizes, std::vector<std::size_t>({bgzf::block_input, bgzf::block_input, bgzf::block_input,
                                             text.size() - 3 * bgzf::block_input, 0}));
  EXPECT_EQ(whole.substr(whole.size() - 28), std::string(reinterpret_cast<const char*>(bgzf::eof_block), 28));
  for (std::size_t piece : {std::size_t(1), std::size_t(70001)})
    EXPECT_EQ(write_gz(dir.file("b.gz"), text, piece), whole) << piece;
  const std::string fast = write_gz(dir.file("1.gz"), text, text.size(), 1);
  EXPECT_LT(write_gz(dir.file("9.gz"), text, text.size(), 9).size(), fast.size());
  EXPECT_EQ(read_gzip_file(dir.file("1.gz")), text);

  // Blocks compressed apart follow the text written to the stream before them.
  auto out = open_output_file(dir.file("m.gz"), std::ios::out, 9);
  EXPECT_EQ(output_file_gz_level(*out), 9);
  *out << "head\n";
  TextBuffer packed;
  bgzf::compress(text.data(), text.size(), 9, packed);
  write_compressed_output(*out, packed.data(), packed.size());
  close_output_file(out, dir.file("m.gz"));
  sizes.clear();
  EXPECT_EQ(walk(read_file(dir.file("m.gz")), sizes), "head\n" + text);
  EXPECT_EQ(sizes.front(), 5u);
}
