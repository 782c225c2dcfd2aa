#include "output/pipeline.hpp"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "params/bgzf.hpp"
#include "params/errors.hpp"
#include "params/summary.hpp"
#include "params/system_errors.hpp"

PipelineFile::PipelineFile(const boost::filesystem::path& file, std::ostream& log, int gz_level)
    : name(file) {
  stream = open_output_file(name, log, std::ios::out, gz_level);
  level = output_file_gz_level(*stream);
}

void PipelineFile::write(const char* data, std::size_t size) {
  // Small pieces (a legend block, a well-compressed block) are gathered, so
  // that every file is written in large writes; a piece that is large
  // already goes out as it is, without a copy.
  if (pending.empty() && size >= write_size / 4) {
    if (level > 0) write_compressed_output(*stream, data, size);
    else write_output_block(*stream, data, size);
  } else {
    pending.append(data, size);
    if (pending.size() < write_size) return;
    write_pending();
  }
  if (!*stream || output_file_failed(*stream))
    throw badfilename::writing(name.string(), incomplete_write_detail(output_file_error(*stream)));
}

void PipelineFile::write_pending() {
  if (level > 0) write_compressed_output(*stream, pending.data(), pending.size());
  else write_output_block(*stream, pending.data(), pending.size());
  pending.clear();
}

void PipelineFile::close() {
  if (!pending.empty()) write_pending();
  close_output_file(stream, name);
}

namespace {

// The bytes of one block for every file: text, and BGZF blocks for the
// compressed files.
struct Slot {
  explicit Slot(std::size_t files) : texts(files), packed(files) {}
  std::vector<TextBuffer> texts, packed;
  std::exception_ptr error;  // the block failed; nothing else in the slot counts
  bool ready = false;
};

void make_block(BlockFormatter& format, const std::vector<PipelineFile*>& files, std::size_t block,
                Slot& slot) {
  for (std::size_t f = 0; f < files.size(); ++f) {
    slot.texts[f].clear();
    slot.packed[f].clear();
  }
  format(block, slot.texts);
  for (std::size_t f = 0; f < files.size(); ++f)
    if (files[f]->gz_level() > 0)
      bgzf::compress(slot.texts[f].data(), slot.texts[f].size(), files[f]->gz_level(), slot.packed[f]);
}

void write_block(const std::vector<PipelineFile*>& files, const Slot& slot) {
  for (std::size_t f = 0; f < files.size(); ++f) {
    const TextBuffer& bytes = files[f]->gz_level() > 0 ? slot.packed[f] : slot.texts[f];
    files[f]->write(bytes.data(), bytes.size());
  }
}

// The worker threads and the ring of slots they fill. Block b goes to slot
// b % slots.size(), and is taken only once block b - slots.size() is
// written, so the ring bounds the memory. Its destructor stops and joins
// every thread, on every way out of run_pipeline.
class Workers {
 public:
  Workers(const PipelineRun& pipeline_run, int threads);
  ~Workers();
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;

  // Waits until block `block` is made (or has failed).
  const Slot& wait_for(std::size_t block);
  // Block `block` is written: its slot may take the block one ring later.
  void release(std::size_t block);

 private:
  void work();
  void stop();

  const PipelineRun& run;
  std::vector<Slot> slots;
  std::mutex mutex;
  std::condition_variable made, freed;
  std::size_t next = 0;     // the next block to take
  std::size_t written = 0;  // blocks written so far
  bool taking = true;       // false once a block failed or the run stops
  std::vector<std::thread> threads;
};

Workers::Workers(const PipelineRun& pipeline_run, int count)
    : run(pipeline_run) {
  const std::size_t ring = static_cast<std::size_t>(count) + 2;
  slots.reserve(ring);
  for (std::size_t s = 0; s < ring; ++s) slots.emplace_back(run.files.size());
  try {
    for (int t = 0; t < count; ++t) threads.emplace_back(&Workers::work, this);
  } catch (...) {
    stop();  // a thread that could not be started: the started ones are joined
    throw;
  }
}

Workers::~Workers() { stop(); }

void Workers::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    taking = false;
  }
  freed.notify_all();
  for (std::thread& t : threads) t.join();
  threads.clear();
}

void Workers::work() {
  BlockFormatter format;
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    freed.wait(lock, [this] { return !taking || next >= run.blocks || next < written + slots.size(); });
    if (!taking || next >= run.blocks) return;
    const std::size_t block = next++;
    Slot& slot = slots[block % slots.size()];
    lock.unlock();
    std::exception_ptr error;
    try {
      if (!format) format = run.make_formatter();
      make_block(format, run.files, block, slot);
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    slot.error = error;
    slot.ready = true;
    // The blocks before this one are all taken and will be made; the
    // writer meets this failure after writing them, as one thread would.
    if (error) taking = false;
    made.notify_all();
  }
}

const Slot& Workers::wait_for(std::size_t block) {
  Slot& slot = slots[block % slots.size()];
  std::unique_lock<std::mutex> lock(mutex);
  made.wait(lock, [&slot] { return slot.ready; });
  return slot;
}

void Workers::release(std::size_t block) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    slots[block % slots.size()].ready = false;
    written = block + 1;
  }
  freed.notify_all();
}

}  // namespace

namespace {

void run_on_this_thread(const PipelineRun& run) {
  Slot slot(run.files.size());
  BlockFormatter format = run.make_formatter();
  for (std::size_t b = 0; b < run.blocks; ++b) {
    make_block(format, run.files, b, slot);
    write_block(run.files, slot);
    if (run.written) run.written(b + 1);
  }
}

}  // namespace

void run_pipeline(const PipelineRun& run) {
  if (run.blocks == 0) return;
  // No more workers than blocks: the others would only be started and joined.
  const int threads = static_cast<int>(std::min<std::size_t>(std::max(run.threads, 1), run.blocks));
  if (threads == 1) return run_on_this_thread(run);
  // Writing plain text keeps the calling thread busy (the system copies
  // every byte), so it counts as one of the threads; compressed blocks are
  // small next to the work of making them, so every thread compresses.
  bool compressed = false;
  for (const PipelineFile* file : run.files) compressed |= file->gz_level() > 0;
  std::unique_ptr<Workers> workers;
  try {
    workers = std::make_unique<Workers>(run, compressed ? threads : threads - 1);
  } catch (const std::system_error&) {
    // No thread could be started (a process or memory limit): the same
    // blocks, in the same order, on this thread alone.
    return run_on_this_thread(run);
  }
  for (std::size_t b = 0; b < run.blocks; ++b) {
    const Slot& slot = workers->wait_for(b);
    if (slot.error) std::rethrow_exception(slot.error);
    write_block(run.files, slot);
    workers->release(b);
    if (run.written) run.written(b + 1);
  }
}
