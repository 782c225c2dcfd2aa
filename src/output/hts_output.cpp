#include "output/hts_output.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include <htslib/bgzf.h>
#include <htslib/hfile.h>
#include <htslib/hts.h>
#include <htslib/tbx.h>

#include "core/errors.hpp"
#include "core/system_errors.hpp"
#include "io/output_set.hpp"

namespace {

// Uncompressed bytes per BGZF block, as htslib cuts them.
constexpr std::uint64_t block_bytes = 0xff00;

}  // namespace

HtsOutput::HtsOutput(const boost::filesystem::path& data_name, const std::string& index_suffix)
    : name(data_name.string()),
      index(name + index_suffix),
      part(temporary_name(name)),
      index_part(temporary_name(index)) {}

std::string HtsOutput::temporary_name(const std::string& final_name) {
  return output_set_open() ? pending_output_name(final_name).string() : final_name + ".part";
}

// htslib leaves the cause of a failed write in errno, unless its thread pool
// wrote: then the file and its file system tell.
void HtsOutput::fail() const {
  int cause = errno;
  if (system_error_cause(cause).empty()) cause = likely_write_error(part);
  throw FileError::writing(name, incomplete_write_detail(cause));
}

void HtsOutput::open(const char* mode, int min_shift, bcf_hdr_t* header, std::ostream& log, htsThreadPool* pool) {
  log << "writing output file " << name << std::endl;
  log << "writing output file " << index << std::endl;
  file = hts_open(part.c_str(), mode);
  if (file == nullptr) throw FileError::reading(name, "can't open file.");
  if (bcf_hdr_write(file, header) != 0) fail();
  if (bcf_idx_init(file, header, min_shift, index_part.c_str()) != 0) fail();
  if (pool == nullptr) return;
  defer_index();
  if (hts_set_thread_pool(file, pool) != 0) fail();
}

void HtsOutput::open_for_blocks(const char* mode, int min_shift, bcf_hdr_t* header, std::ostream& log) {
  open(mode, min_shift, header, log);
  defer_index();
}

// The index starts where the header ends, which this thread knows only
// before the blocks are compressed elsewhere.
void HtsOutput::defer_index() {
  const std::uint64_t at = static_cast<std::uint64_t>(bgzf_tell(hts_get_bgzfp(file)));
  data_start = static_cast<std::int64_t>(at >> 16);
  offset = static_cast<std::uint32_t>(at & 0xffff);
  deferred = file->idx;
  file->idx = nullptr;
}

std::string HtsOutput::take_pending() {
  BGZF* bgzf = hts_get_bgzfp(file);
  std::string pending(static_cast<const char*>(bgzf->uncompressed_block), static_cast<std::size_t>(bgzf->block_offset));
  bgzf->block_offset = 0;
  return pending;
}

int HtsOutput::level() const { return hts_get_bgzfp(file)->compress_level; }

void HtsOutput::write_blocks(const unsigned char* data, std::size_t size) {
  BGZF* bgzf = hts_get_bgzfp(file);
  if (size == 0) return;
  if (hwrite(bgzf->fp, data, size) != static_cast<ssize_t>(size)) fail();
  bgzf->block_address += static_cast<std::int64_t>(size);
}

void HtsOutput::index_record(std::size_t bytes, hts_pos_t begin, hts_pos_t end) {
  advance(bytes, false);
  entries.push_back({begin, end, block, offset});
}

void HtsOutput::advance(std::size_t bytes, bool whole) {
  if (whole && offset > 0 && offset + bytes > block_bytes) {
    ++block;
    offset = 0;
  }
  const std::uint64_t total = offset + bytes;
  block += total / block_bytes;
  offset = static_cast<std::uint32_t>(total % block_bytes);
}

void HtsOutput::write(bcf_hdr_t* header, bcf1_t* record) {
  if (bcf_write(file, header, record) != 0) fail();
  if (deferred == nullptr) return;
  // bcf_write wrote 32 bytes of lengths and fixed fields, then the shared
  // and the individual parts.
  index_record(32 + record->shared.l + record->indiv.l, record->pos, record->pos + record->rlen);
}

void HtsOutput::write_line(const char* line, std::size_t size, const char* contig_name, hts_pos_t position,
                           hts_pos_t length) {
  // What htslib's own VCF writer does with a line: start a new block rather
  // than split a record across two, and tell the index where it begins.
  BGZF* bgzf = hts_get_bgzfp(file);
  if (bgzf_flush_try(bgzf, static_cast<ssize_t>(size)) < 0 ||
      bgzf_write(bgzf, line, size) != static_cast<ssize_t>(size))
    fail();
  if (deferred != nullptr) {
    advance(size, true);
    entries.push_back({position, position + length, block, offset});
    contig = contig_name;
    return;
  }
  const int tid = hts_idx_tbi_name(file->idx, 0, contig_name);
  if (tid < 0 || hts_idx_push(file->idx, tid, position, position + length, bgzf_tell(bgzf), 1) < 0) fail();
}

void HtsOutput::index_after_close() {
  // Each block's compressed size, from its header (BSIZE, bytes 16 and 17,
  // is the size less one).
  std::vector<std::int64_t> address{data_start};
  std::FILE* in = std::fopen(part.c_str(), "rb");
  if (in == nullptr || fseeko(in, data_start, SEEK_SET) != 0) fail();
  unsigned char head[18];
  while (address.size() <= block + 1 && std::fread(head, 1, sizeof head, in) == sizeof head) {
    if (head[0] != 31 || head[1] != 139) break;
    const long size = (head[16] | head[17] << 8) + 1;
    address.push_back(address.back() + size);
    if (fseeko(in, size - static_cast<long>(sizeof head), SEEK_CUR) != 0) break;
  }
  std::fclose(in);
  if (address.size() <= block + (offset > 0 ? 1 : 0)) fail();
  const auto where = [&](std::uint64_t b, std::uint32_t off) {
    return static_cast<std::uint64_t>(address[b]) << 16 | off;
  };
  const bool vcf = hts_idx_fmt(deferred) == HTS_FMT_TBI;
  for (const Entry& e : entries) {
    const int tid = vcf ? hts_idx_tbi_name(deferred, 0, contig.c_str()) : 0;
    if (tid < 0 || hts_idx_push(deferred, tid, e.begin, e.end, where(e.block, e.offset), 1) < 0) fail();
  }
  // htslib flushes the last block before it saves an index, which so ends
  // where the next block would begin.
  if (hts_idx_finish(deferred, offset > 0 ? where(block + 1, 0) : where(block, 0)) != 0 ||
      hts_idx_save_as(deferred, nullptr, index_part.c_str(), hts_idx_fmt(deferred)) != 0)
    fail();
  hts_idx_destroy(deferred);
  deferred = nullptr;
}

void HtsOutput::finish() {
  if (deferred == nullptr && bcf_idx_save(file) != 0) fail();
  const int closed = hts_close(file);
  file = nullptr;
  if (closed != 0) fail();
  if (deferred != nullptr) index_after_close();
  // The index was saved before the data's last block was written; readers
  // warn about an index older than its data, so it gets the later time.
  utimensat(AT_FDCWD, index_part.c_str(), nullptr, 0);
  if (output_set_open()) {
    pending_output_closed(name);
    pending_output_closed(index);
  } else if (std::rename(index_part.c_str(), index.c_str()) != 0 ||
             std::rename(part.c_str(), name.c_str()) != 0) {
    throw FileError::writing(name, "the finished file could not be renamed from " + part + ".");
  }
  finished = true;
}

HtsOutput::~HtsOutput() {
  if (file != nullptr) {
    // An index still being built belongs to the file handle, which does not
    // free it on close.
    if (file->idx != nullptr) hts_idx_destroy(file->idx);
    file->idx = nullptr;
    // A file abandoned after a failed write: htslib's close would flush the
    // bytes that failed, write the end-of-file block, fail again and keep
    // its buffers. With nothing left to write it only closes and frees.
    if (BGZF* bgzf = hts_get_bgzfp(file)) {
      bgzf->is_compressed = 0;
      bgzf->fp->begin = bgzf->fp->buffer;
      bgzf->fp->has_errno = 0;
    }
    hts_close(file);
  }
  if (deferred != nullptr) hts_idx_destroy(deferred);
  if (!finished) {
    std::remove(part.c_str());
    std::remove(index_part.c_str());
  }
}
