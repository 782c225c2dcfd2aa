// The output pipeline: blocks made by several threads and written in order, the same bytes for any thread
// count, memory bounded by the ring of blocks, and failures of a worker or of a write carried to the calling
// thread.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <memory>
#include <new>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <tuple>

#include "output/pipeline.hpp"
#include "params/errors.hpp"
#include "test_support.hpp"

using namespace testing_support;

namespace {

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
  r.threads = threads;
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
  } catch (const std::bad_alloc&) {
    out.error = "out of memory";
  } catch (const std::exception& e) {
    out.error = e.what();
  }
  for (auto& f : owned) f->close();
  for (const char* name : names)
    out.files.push_back(read_text(dir.file(name)));
  out.most_ahead = ahead;
  return out;
}

}  // namespace

TEST(Pipeline, SameBytesForAnyThreadCountAndTheFirstFailureInBlockOrder) {
  const auto failed = [](const char* what) { return std::make_exception_ptr(std::runtime_error(what)); };
  for (const auto& [failing, failure, message] :
       {std::make_tuple(std::size_t(60), std::exception_ptr(), std::string("none")),
        std::make_tuple(std::size_t(17), failed("block 17 failed"), std::string("block 17 failed")),
        std::make_tuple(std::size_t(0), std::make_exception_ptr(std::bad_alloc()), std::string("out of memory")),
        std::make_tuple(std::size_t(59), failed("the last block failed"), std::string("the last block failed"))}) {
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

// Whole runs on the example panel, SNPs and tag SNPs over several blocks: one thread and eight write the same
// bytes, and the same compressed bytes in gzip mode; the tag SNPs' lines are the genotype file's at the tag
// positions; a full disk ends a many-threaded run as on one thread.
TEST(Pipeline, ExamplePanelRunsAgreeForEveryThreadCount) {
  TempDir dir;
  std::string tags, line;
  std::set<std::string> tagged;
  std::istringstream legend(read_gzip_file(example_file("chr20.legend.gz")));
  for (int k = 0; legend >> line >> line; ++k, std::getline(legend, line))
    if (k % 2 == 1 && tagged.insert(line).second) tags += line + "\n";  // every other position, no header
  write_file(dir.file("tags"), tags);
  const std::string args =
      example_panel() + "-int 1000000 1300000 -n 1000 1000 -dl 1066806 1 1.5 2.25 -nrs -t tags";
  const auto files = [&](const std::string& stem, bool gz, bool raw = false) {
    std::vector<std::string> texts;
    for (const std::string suffix : {".controls.haps", ".cases.haps", ".legend", ".controls.gen",
                                     ".cases.gen", ".controls.tags.gen", ".cases.tags.gen", ".controls.sample",
                                     ".cases.sample"}) {
      const bool packed = gz && !contains(suffix, "legend") && !contains(suffix, "sample");
      const std::string name = dir.file(stem + suffix + (packed ? ".gz" : ""));
      texts.push_back(raw ? read_file(name) : read_text(name));
    }
    return texts;
  };
  for (const std::string threads : {"1", "8"}) {
    ASSERT_EQ(run_tarvik(args + " -threads " + threads + " -o p" + threads + "/run", dir.path()).status, 0);
    ASSERT_EQ(run_tarvik(args + " -threads " + threads + " -o z" + threads + "/run.gz", dir.path()).status, 0);
  }
  const std::vector<std::string> plain = files("p1/run", false);
  EXPECT_EQ(files("p8/run", false), plain);
  EXPECT_EQ(files("z8/run", true), plain);
  EXPECT_EQ(files("z8/run", true, true), files("z1/run", true, true));
  EXPECT_GT(std::count(plain[5].begin(), plain[5].end(), '\n'), 1024);  // more than the largest block
  for (int g : {3, 4}) {
    std::istringstream gen(plain[g]);
    std::string expected;
    for (std::string row, id, rsid, position; std::getline(gen, row);)
      if (std::istringstream(row) >> id >> rsid >> position && tagged.count(position)) expected += row + "\n";
    EXPECT_TRUE(plain[g + 2] == expected) << "the tag SNPs' lines of " << (g == 3 ? "controls" : "cases");
  }
  // A write that fails on a worker's file (a file-size limit: EFBIG) ends the run as on one thread.
  const CommandResult r = run_command("ulimit -f 64; '" + tarvik_binary() + "' " + args + " -threads 8 -o full/run.gz",
                                      dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.output, ": the file could not be written completely (file too large).\n")) << r.output;
  EXPECT_TRUE(contains(r.output, "\nError writing file full/run.")) << r.output;
}
