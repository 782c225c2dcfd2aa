// The output file set: names, flags and the faults that stop a write (every file's bytes, on any thread count,
// are pinned by the golden run of the driver tests); BGZF files; and the pipeline that writes the blocks of
// several threads in order, its memory bounded by its ring and a worker's failure carried to the caller.
#include <htslib/bgzf.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <memory>
#include <new>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <tuple>

#include <boost/filesystem.hpp>

#include "core/log.hpp"
#include "core/thread_budget.hpp"
#include "output/output_files.hpp"
#include "output/pipeline.hpp"
#include "output/text_lines.hpp"
#include "io/bgzf.hpp"
#include "core/errors.hpp"
#include "io/output_file.hpp"
#include "engine_support.hpp"
#include "test_support.hpp"

using namespace testing_support;
namespace fs = boost::filesystem;

namespace {

// One call of write_output_files in a scratch directory: two controls and a case at three SNPs.
struct OutputRun {
  TempDir dir;
  RunConfig params;
  std::map<int, snp> snps = {{100, snp{"rs1", 0, "A", "G"}}, {200, snp{"rs2", 0, "C", "T"}},
                             {300, snp{"rs3", 0, "G", "GA"}}};
  std::vector<std::vector<short>> rows = {{0, 1, 1}, {1, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 0}, {0, 1, 0}};

  explicit OutputRun(const std::string& output = "run", const std::vector<const char*>& flags = {}) {
    params.ncontrols = 2;
    params.ncases = 1;
    params.tag_snps_file = dir.file("tags");
    params.output_file = dir.file(output);
    params.output_directory = params.output_file.parent_path();
    for (const std::string f : flags) {
      params.haps_output &= f != "-no_haps_output";
      params.gens_output &= f != "-no_gens_output";
      params.tag_snps |= f == "-t";
    }
  }
  void run() const {
    RunLog log(dir.file("log.summary"));
    write_output_files(RowSource(rows, snps.size()).source(), snps, params, GeneticMap(), {100, 300, 999}, nullptr, log);
  }
  std::string summary() const { return file_exists(dir.file("log.summary")) ? read_file(dir.file("log.summary")) : ""; }
};

TEST(OutputFiles, NamesAndFlags) {
  struct Case { std::string output; std::vector<const char*> flags; std::string prefix;
                std::vector<std::string> suffixes; };  // the suffixes of the files written, in order
  const std::vector<std::string> all = {"controls.haps", "cases.haps", "legend", "controls.gen", "cases.gen",
                                        "controls.sample", "cases.sample"};
  const Case cases[] = {
      {"run", {"-no_haps_output"}, "run.", {"controls.gen", "cases.gen", "controls.sample", "cases.sample"}},
      {"run", {"-no_gens_output", "-t"}, "run.", {"controls.haps", "cases.haps", "legend", "controls.tags.gen",
          "cases.tags.gen", "controls.sample", "cases.sample"}},
      {"run", {"-no_haps_output", "-no_gens_output", "-t"}, "run.",
       {"controls.tags.gen", "cases.tags.gen", "controls.sample", "cases.sample"}},
      {"x.gz/run.GZ", {}, "x.gz/run.GZ.", all},
      {"data.tar.gz", {"-no_haps_output", "-t"}, "data.tar.", {"controls.gen.gz", "cases.gen.gz",
          "controls.tags.gen.gz", "cases.tags.gen.gz", "controls.sample", "cases.sample"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    OutputRun r(c.output, c.flags);
    fs::create_directories(r.params.output_directory);
    write_file(r.dir.file("tags"), "300 100\n100 999");
    r.run();
    std::map<std::string, std::string> expected = snapshot(r.dir.path(), false);
    std::string announced = "\nWriting output to files \n";
    for (const std::string& suffix : c.suffixes) {
      const std::string name = r.dir.file(c.prefix + suffix);
      const bool gz = suffix.size() > 3 && suffix.compare(suffix.size() - 3, 3, ".gz") == 0;
      announced += "writing output file " + name + (gz ? " (in gzip mode) \n" : "\n");
      EXPECT_EQ(read_file(name).compare(0, 2, "\x1f\x8b") == 0, gz) << suffix;  // gzip data exactly when named .gz
      EXPECT_NE(read_text(name), "") << suffix;
      EXPECT_EQ(expected.erase(name.substr(r.dir.path().size())), 1u) << suffix;
    }
    EXPECT_EQ(r.summary(), announced);
    expected.erase("/tags");
    expected.erase("/x.gz");
    EXPECT_TRUE(expected.empty()) << expected.begin()->first;  // no file but those
  }
}

// Faults of the machine and of the files run end to end in the fault tests; here the internal fault of a
// haplotype count.
TEST(OutputFiles, AWrongHaplotypeCountStopsTheRun) {
  OutputRun r;
  r.rows.resize(4);
  EXPECT_EQ(error_of([&] { r.run(); }), std::string(RunError::prefix) + "output_haplotypes found 4 simulated "
                                        "haplotypes, but 2 controls and 1 cases need 6; no output file was written.\n");
  EXPECT_EQ(r.summary(), "\nWriting output to files \nsomething has gone wrong in output_haplotypes: "
                         "simulated_haplotypes.size()/2 != (params.ncontrols+params.ncases)\n");
  EXPECT_EQ(snapshot(r.dir.path(), false).size(), 0u);
}

// Reads a file block by block through htslib's BGZF reader, which checks each header and checksum; returns the
// text and the text size of each block up to the end-of-file block.
std::string walk(const std::string& name, std::vector<std::size_t>& sizes) {
  BGZF* f = bgzf_open(name.c_str(), "r");
  std::string all;
  EXPECT_TRUE(f != nullptr && bgzf_compression(f) == 2 /* BGZF */ && bgzf_check_EOF(f) == 1) << name;
  while (f != nullptr && bgzf_read_block(f) == 0 && f->block_length > 0) {
    sizes.push_back(static_cast<std::size_t>(f->block_length));
    all.append(static_cast<const char*>(f->uncompressed_block), sizes.back());
  }
  EXPECT_TRUE(f != nullptr && f->errcode == 0 && bgzf_close(f) == 0) << name;
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

TEST(Bgzf, WellFormedBlocksCutAtFixedOffsetsOfTheText) {
  TempDir dir;
  // Text that compresses like the output files, then bytes that do not compress.
  std::mt19937 random(7);
  std::string text;
  while (text.size() < 150000) text += std::to_string(random() % 3) + (random() % 9 ? " " : " \n");
  for (int i = 0; i < 70000; ++i) text += static_cast<char>(random());
  const std::string whole = write_gz(dir.file("a.gz"), text, text.size());
  std::vector<std::size_t> sizes;
  EXPECT_EQ(walk(dir.file("a.gz"), sizes), text);
  EXPECT_EQ(sizes, std::vector<std::size_t>({bgzf::block_input, bgzf::block_input, bgzf::block_input,
                                             text.size() - 3 * bgzf::block_input}));
  for (std::size_t piece : {std::size_t(1), std::size_t(70001)})
    EXPECT_EQ(write_gz(dir.file("b.gz"), text, piece), whole) << piece;
  const std::string fast = write_gz(dir.file("1.gz"), text, text.size(), 1);
  EXPECT_LT(write_gz(dir.file("9.gz"), text, text.size(), 9).size(), fast.size());
  EXPECT_EQ(read_gzip_file(dir.file("1.gz")), text);

  // Blocks compressed apart follow the text written to the stream before them.
  auto out = open_output_file(dir.file("m.gz"), std::ios::out, 9);
  *out << "head\n";
  TextBuffer packed;
  bgzf::compress(text.data(), text.size(), 9, packed);
  write_compressed_output(*out, packed.data(), packed.size());
  close_output_file(out, dir.file("m.gz"));
  sizes.clear();
  EXPECT_EQ(walk(dir.file("m.gz"), sizes), "head\n" + text);
  EXPECT_EQ(sizes.front(), 5u);
}

// Block b's text for file f: sizes from nothing to over a write's worth, so that both gathered and direct
// writes happen.
std::string block_text(std::size_t b, std::size_t f) {
  const std::size_t lines = f == 0 ? b % 4 : (b * 7919 + f) % 5 == 0 ? 40000 : b % 9 * 300;
  std::string text;
  for (std::size_t i = 0; i < lines; ++i) text += std::to_string(b) + " " + std::to_string(i * f % 3) + " \n";
  return text;
}

struct Outcome {
  std::vector<std::string> files;  // the bytes of each file
  std::string error = "none";
  std::size_t most_ahead = 0;  // how far a started block ran ahead of the written ones
};

// Writes 60 blocks to a plain file and two compressed ones; block `failing` throws `failure` instead.
Outcome run(int threads, std::size_t failing, std::exception_ptr failure) {
  TempDir dir;
  std::ostringstream log;
  const char* names[] = {"a.txt", "b.gz", "c.gz"};
  std::vector<std::unique_ptr<PipelineFile>> owned;
  PipelineRun r;
  for (int f = 0; f < 3; ++f) {
    owned.push_back(std::make_unique<PipelineFile>(dir.file(names[f]), log, f == 2 ? 1 : 6));
    r.files.push_back(owned.back().get());
  }
  std::atomic<std::size_t> written{0}, ahead{0};
  r.blocks = 60;
  ThreadBudget budget(threads);
  r.budget = &budget;
  r.make_formatter = [&]() -> BlockFormatter {
    return [&](std::size_t b, std::vector<TextBuffer>& texts) {
      const std::size_t lead = b - written.load();
      for (std::size_t seen = ahead.load(); lead > seen && !ahead.compare_exchange_weak(seen, lead);) {
      }
      // Uneven work, so that later blocks are often done before earlier ones.
      if (b % 3 == 1) std::this_thread::sleep_for(std::chrono::milliseconds(3));
      if (b == failing) std::rethrow_exception(failure);
      for (std::size_t f = 0; f < texts.size(); ++f) texts[f].append(block_text(b, f));
    };
  };
  r.written = [&](std::size_t done) { written = done; };
  Outcome out;
  try {
    run_pipeline(r);
  } catch (const std::exception& e) {
    out.error = e.what();
  }
  for (auto& f : owned) f->close();
  for (const char* name : names)
    out.files.push_back(read_text(dir.file(name)));
  out.most_ahead = ahead;
  return out;
}

TEST(Pipeline, SameBytesForAnyThreadCountAndTheFirstFailureInBlockOrder) {
  const auto failed = [](const char* what) { return std::make_exception_ptr(std::runtime_error(what)); };
  const struct { std::size_t failing; std::exception_ptr failure; std::string message; } cases[] = {
      {60, nullptr, "none"}, {17, failed("block 17 failed"), "block 17 failed"},
      {0, std::make_exception_ptr(std::bad_alloc()), std::bad_alloc().what()},
      {59, failed("the last block failed"), "the last block failed"}};
  for (const auto& [failing, failure, message] : cases) {
    // What one thread writes: the blocks before the failing one.
    std::vector<std::string> before(3);
    for (std::size_t b = 0; b < failing; ++b)
      for (std::size_t f = 0; f < 3; ++f) before[f] += block_text(b, f);
    for (int threads : {1, 2, 3, 8}) {
      SCOPED_TRACE(std::to_string(threads) + " threads, failing block " + std::to_string(failing));
      const Outcome out = run(threads, failing, failure);
      EXPECT_EQ(out.error, message);
      EXPECT_EQ(out.files, before);
      // The ring: a block starts only once the block a ring earlier is written.
      EXPECT_LE(out.most_ahead, static_cast<std::size_t>(threads == 1 ? 0 : threads + 2));
    }
  }
}

}  // namespace

// The text lines from bit rows are those from byte tiles, for groups starting anywhere in a word (a control
// count that is odd, a group of one individual, groups past the first word) and for rows of several words.
TEST(TextLines, FromBitsAsFromBytes) {
  std::mt19937 random(11);
  std::map<int, snp> snps;
  snps[1234].rsid = "rs1";
  snps[1234].allele0 = "A";
  snps[1234].allele1 = "G";
  for (const auto& [haps, hap0, hap1] : {std::make_tuple(2, 0, 2), std::make_tuple(10, 2, 10),
                                         std::make_tuple(130, 6, 130), std::make_tuple(300, 126, 300),
                                         std::make_tuple(300, 0, 126), std::make_tuple(64, 62, 64),
                                         std::make_tuple(200, 2, 200)}) {
    Tile tile;
    tile.reset(0, 3, static_cast<std::size_t>(haps));
    for (auto& a : tile.allele) a = static_cast<std::uint8_t>(random() & 1);
    BitTile bits;
    pack_tile(tile, bits);
    for (std::size_t r = 0; r < 3; ++r) {
      TextBuffer from_bytes, from_bits;
      from_bytes.append("x");  // lines are appended after what the buffer holds
      from_bits.append("x");
      append_haplotype_line(tile, r, hap0, hap1, from_bytes);
      append_haplotype_line(bits, r, hap0, hap1, from_bits);
      append_genotype_line(tile, r, hap0, hap1, 7, snps.begin(), from_bytes);
      append_genotype_line(bits, r, hap0, hap1, 7, snps.begin(), from_bits);
      ASSERT_EQ(std::string(from_bits.data(), from_bits.size()), std::string(from_bytes.data(), from_bytes.size()))
          << haps << " haplotypes, [" << hap0 << ", " << hap1 << "), row " << r;
    }
  }
}
