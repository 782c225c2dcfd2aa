#pragma once
// Output files written by several threads, one fixed block of the output at a
// time: workers make each block's bytes for every file of a set (text, then
// BGZF blocks for the compressed files), and the calling thread writes the
// blocks in order. The blocks are the caller's, never a function of the
// thread count, and each block is formatted and compressed on its own, so
// the files are the same for any number of threads.
//
// A writer of another format joins by opening its files as PipelineFiles and
// describing one block's bytes per file in a BlockFormatter; run_pipeline
// does the rest.
#include <cstddef>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

#include <boost/filesystem/path.hpp>

#include "io/text_buffer.hpp"

class ThreadBudget;

// One file of a pipeline, opened with open_output_file, which announces it in
// `log` and compresses at `gz_level` when the name ends in ".gz".
class PipelineFile {
 public:
  static constexpr std::size_t write_size = std::size_t(1) << 20;

  PipelineFile(const boost::filesystem::path& name, std::ostream& log, int gz_level);
  // The level its blocks are compressed at; 0 for a plain file.
  int gz_level() const { return level; }
  // Bytes in the file's own format (text, or BGZF blocks of the file's level
  // when compressed), gathered into writes of about write_size bytes. Throws
  // FileError naming the file once a write failed.
  void write(const char* data, std::size_t size);
  // Writes what is gathered and closes the file; throws FileError naming
  // it if anything failed.
  void close();

 private:
  void write_pending();

  boost::filesystem::path name;
  std::unique_ptr<std::ostream> stream;
  int level;
  TextBuffer pending;
};

// Appends block `block`'s bytes for file f to texts[f] (handed in empty), as
// uncompressed text for every file. Several threads call their own
// formatters at once, for different blocks: a formatter only reads what it
// shares, and keeps its scratch memory (a decoded tile) in itself.
using BlockFormatter = std::function<void(std::size_t block, std::vector<TextBuffer>& texts)>;

struct PipelineRun {
  std::size_t blocks = 0;
  std::vector<PipelineFile*> files;
  // The run's threads: the calling thread writes, and formats and
  // compresses blocks beside the threads it leases from the budget (all on
  // the calling thread when null or spent).
  ThreadBudget* budget = nullptr;
  // Makes one formatter per thread.
  std::function<BlockFormatter()> make_formatter;
  // Called on the calling thread once `done` blocks are written; may be empty.
  std::function<void(std::size_t done)> written;
};

// Formats, compresses and writes blocks 0 .. run.blocks - 1 to every file;
// with t leased threads, at most t + 3 blocks are in memory at once.
// The first failure in block order (an exception of a formatter, a failed
// write) ends the run: every thread is stopped and joined, then the
// exception is rethrown here, as one thread would have thrown it. The files
// are not closed.
void run_pipeline(const PipelineRun& run);
