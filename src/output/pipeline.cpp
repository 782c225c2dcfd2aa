#include "output/pipeline.hpp"

#include <algorithm>

#include "core/errors.hpp"
#include "core/ordered.hpp"
#include "core/system_errors.hpp"
#include "io/bgzf.hpp"
#include "io/output_file.hpp"

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
    throw FileError::writing(name.string(), incomplete_write_detail(output_file_error(*stream)));
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
  std::vector<TextBuffer> texts, packed;
};

void make_block(BlockFormatter& format, const std::vector<PipelineFile*>& files, std::size_t block,
                Slot& slot) {
  slot.texts.resize(files.size());
  slot.packed.resize(files.size());
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

}  // namespace

void run_pipeline(const PipelineRun& run) {
  if (run.blocks == 0) return;
  // The calling thread writes, and formats a block whenever the next one to
  // write is not started yet; the threads of the lease format the others. No
  // more threads than blocks: the others would only be started and joined.
  ThreadBudget::Lease lease =
      run.budget != nullptr ? run.budget->take(static_cast<int>(std::min<std::size_t>(run.blocks - 1, 1 << 10)))
                            : ThreadBudget::Lease();
  const int makers = lease.count() + 1;
  std::vector<BlockFormatter> formatters(static_cast<std::size_t>(makers));
  const std::size_t ring = makers == 1 ? 1 : static_cast<std::size_t>(makers) + 2;
  Ordered<Slot> blocks(
      std::move(lease), ring,
      [&](std::size_t b, Slot& slot, int maker) {
        BlockFormatter& format = formatters[static_cast<std::size_t>(maker)];
        if (!format) format = run.make_formatter();
        make_block(format, run.files, b, slot);
        return true;
      },
      Ordered<Slot>::Order::any, run.blocks);
  for (std::size_t b = 0; b < run.blocks; ++b) {
    write_block(run.files, *blocks.take(b));
    blocks.release(b);
    if (run.written) run.written(b + 1);
  }
}
