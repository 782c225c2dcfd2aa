#pragma once
// htslib's objects owned by std::unique_ptr, each freed by its own function.
#include <memory>

#include <htslib/hts.h>
#include <htslib/hts_log.h>
#include <htslib/tbx.h>
#include <htslib/vcf.h>

struct HtsDeleter {
  void operator()(htsFile* file) const { hts_close(file); }
  void operator()(bcf_hdr_t* header) const { bcf_hdr_destroy(header); }
  void operator()(bcf1_t* record) const { bcf_destroy(record); }
  void operator()(hts_idx_t* index) const { hts_idx_destroy(index); }
  void operator()(tbx_t* index) const { tbx_destroy(index); }
  void operator()(hts_itr_t* iterator) const { hts_itr_destroy(iterator); }
};
template <class T>
using Hts = std::unique_ptr<T, HtsDeleter>;

// htslib's own console messages stay out of the run's output while it reads
// or writes a file: every problem it meets becomes one error naming the file.
class QuietHtslib {
 public:
  QuietHtslib() : level(hts_get_log_level()) { hts_set_log_level(HTS_LOG_OFF); }
  ~QuietHtslib() { hts_set_log_level(level); }
  QuietHtslib(const QuietHtslib&) = delete;
  QuietHtslib& operator=(const QuietHtslib&) = delete;

 private:
  htsLogLevel level;
};
