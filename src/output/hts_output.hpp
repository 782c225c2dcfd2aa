#pragma once
// One VCF or BCF file being written, opened and closed by htslib itself,
// with its index. Both are written under temporary names in the same
// directory: those of the run's output set, renamed with the rest of the
// set, or outside a set (the writers' own checks) ".part" names renamed once
// complete. A failed run leaves no file under a final name.
//
// On one thread htslib indexes the records as they go by. With a pool of
// compressing threads htslib cuts and compresses the same BGZF blocks, but
// no longer knows where a block starts in the file when a record is written;
// so each record's end is kept as (block, offset) of the uncompressed
// stream, cut where htslib cuts it, and indexed once the file is closed and
// the blocks' compressed sizes can be read back. The index is then the same,
// byte for byte, as on one thread.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>
#include <htslib/thread_pool.h>
#include <htslib/vcf.h>

// htslib's thread pool of `threads` threads; none when 0 or when it cannot
// be started.
class Compressors {
 public:
  explicit Compressors(int threads) {
    if (threads > 0) pool.pool = hts_tpool_init(threads);
  }
  ~Compressors() {
    if (pool.pool != nullptr) hts_tpool_destroy(pool.pool);
  }
  Compressors(const Compressors&) = delete;
  Compressors& operator=(const Compressors&) = delete;
  htsThreadPool* get() { return pool.pool != nullptr ? &pool : nullptr; }

 private:
  htsThreadPool pool{nullptr, 0};
};

class HtsOutput {
 public:
  HtsOutput(const boost::filesystem::path& data_name, const std::string& index_suffix);
  ~HtsOutput();
  HtsOutput(const HtsOutput&) = delete;
  HtsOutput& operator=(const HtsOutput&) = delete;

  // Opens the file in htslib's `mode`, writes the header and starts the
  // index (min_shift 0: TBI, else CSI); compresses on `pool`'s threads when
  // not null (which must outlive the file).
  void open(const char* mode, int min_shift, bcf_hdr_t* header, std::ostream& log,
            htsThreadPool* pool = nullptr);
  // The same, for a caller that compresses the blocks after the header
  // itself (output/bcf_blocks.hpp).
  void open_for_blocks(const char* mode, int min_shift, bcf_hdr_t* header, std::ostream& log);
  void write(bcf_hdr_t* header, bcf1_t* record);
  // For a file opened for blocks: the header's bytes htslib has not
  // compressed yet (they start the first block), the level of the file's
  // compression, compressed blocks to write as they are, and a record of
  // `bytes` written, for the index.
  std::string take_pending();
  int level() const;
  void write_blocks(const unsigned char* data, std::size_t size);
  void index_record(std::size_t bytes, hts_pos_t begin, hts_pos_t end);
  // A VCF line made by the caller, ending in a line feed: a record of
  // `contig` at 0-based `position` whose REF has `length` bases.
  void write_line(const char* line, std::size_t size, const char* contig, hts_pos_t position, hts_pos_t length);
  // Saves the index, closes the file and gives both their final names.
  void finish();

 private:
  // A record's place in the index, its end as htslib's BGZF would tell it.
  struct Entry {
    hts_pos_t begin, end;
    std::uint64_t block;
    std::uint32_t offset;
  };
  static std::string temporary_name(const std::string& final_name);
  [[noreturn]] void fail() const;
  // `bytes` more of the uncompressed stream, written at once (`whole`, as a
  // VCF line: a new block first unless they fit in this one) or not.
  void advance(std::size_t bytes, bool whole);
  void defer_index();
  void index_after_close();

  const std::string name, index, part, index_part;  // htslib keeps index_part's pointer
  htsFile* file = nullptr;
  bool finished = false;
  // With a pool: the index, taken from the file so that htslib adds nothing
  // to it, the records for it, and where the stream stands.
  hts_idx_t* deferred = nullptr;
  std::vector<Entry> entries;
  std::int64_t data_start = 0;  // where the first block after the header begins
  std::uint64_t block = 0;
  std::uint32_t offset = 0;
  std::string contig;
};
