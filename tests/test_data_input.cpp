// A gzip input read with and without a thread decompressing ahead: the same
// lines, and a cut-off file fails after the same lines with the same message.
#include <zlib.h>

#include "data/input_file.hpp"
#include "params/errors.hpp"
#include "test_support.hpp"

using namespace testing_support;

namespace {

std::string gzip(const std::string& text) {
  uLongf size = compressBound(text.size()) + 32;
  std::string out(size, '\0');
  z_stream zs{};
  deflateInit2(&zs, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);  // 15 + 16: a gzip member
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  zs.avail_in = static_cast<uInt>(text.size());
  zs.next_out = reinterpret_cast<Bytef*>(&out[0]);
  zs.avail_out = static_cast<uInt>(size);
  EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

std::pair<std::vector<std::string>, std::string> read_lines(const std::string& name, bool ahead) {
  InputFile in(name, ahead);
  std::vector<std::string> lines;
  std::string line;
  try {
    while (in.getline(line)) lines.push_back(line);
  } catch (const badfilename& e) {
    return {lines, e.message};
  }
  return {lines, ""};
}

}  // namespace

TEST(InputFile, ReadingAheadGivesTheSameLinesAndTheSameError) {
  TempDir dir;
  std::string text;  // several blocks of a megabyte once decompressed
  for (int i = 0; i < 400000; ++i) text += std::to_string(i) + " 0 1 1 0\n";
  const std::string packed = gzip(text);
  write_file(dir.file("whole.gz"), packed);
  write_file(dir.file("cut.gz"), packed.substr(0, packed.size() * 2 / 3));
  const auto whole = read_lines(dir.file("whole.gz"), false), cut = read_lines(dir.file("cut.gz"), false);
  EXPECT_EQ(whole.first.size(), 400000u);
  EXPECT_EQ(whole.first.back(), "399999 0 1 1 0");
  EXPECT_EQ(whole.second, "");
  EXPECT_GT(cut.first.size(), 100000u);
  EXPECT_EQ(cut.second, "Error reading file " + dir.file("cut.gz") + ": truncated or corrupt gzip data.");
  EXPECT_EQ(read_lines(dir.file("whole.gz"), true), whole);
  EXPECT_EQ(read_lines(dir.file("cut.gz"), true), cut);
}
