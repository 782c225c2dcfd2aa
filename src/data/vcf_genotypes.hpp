#pragma once
// The phased genotypes of one VCF/BCF record as a panel row: one bit per
// haplotype, sample s giving haplotypes 2s and 2s + 1.
#include <cstdint>
#include <string>
#include <vector>

#include <htslib/vcf.h>

class GenotypeRows {
 public:
  // For the records of `header`'s samples; refusals name `file_name`.
  GenotypeRows(std::string file_name, const bcf_hdr_t* header);
  ~GenotypeRows() { free(values); }
  GenotypeRows(const GenotypeRows&) = delete;
  GenotypeRows& operator=(const GenotypeRows&) = delete;

  // Sets the haplotypes' bits of `record` in `bits` (zeroed beforehand;
  // haplotype h at bit h % 64 of word h / 64) and returns how many are 1.
  // Throws FileError naming the record and the first sample whose genotype
  // is not a phased pair of alleles 0 and 1.
  long long pack(bcf1_t* record, std::uint64_t* bits);

 private:
  bool pack_common(bcf1_t* record, std::uint64_t* bits, long long& ones);
  const int* read(bcf1_t* record);
  [[noreturn]] void refuse(const bcf1_t* record, int sample, const std::string& what) const;

  const std::string name;
  const bcf_hdr_t* hdr;
  const int samples;
  std::vector<int> codes;
  std::int32_t* values = nullptr;  // htslib's buffer, reused for every record
  int capacity = 0;
  const int gt_id;
};
