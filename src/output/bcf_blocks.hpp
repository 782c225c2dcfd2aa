#pragma once
// BCF records made and compressed by the threads that format them.
//
// htslib's BCF writer appends each record (32 bytes of lengths and fixed
// fields, the shared part, the individual part) to one uncompressed stream
// that starts with the header, and cuts that stream into BGZF blocks of
// BGZF_BLOCK_SIZE bytes wherever the cut falls. So where every block begins
// depends only on the sizes of the records before it, which the run knows
// before any genotype is decoded. Each SNP block of the output can then be
// formatted and the BGZF blocks that lie inside it compressed on any thread,
// leaving only the two pieces at its ends to be joined, in order, with those
// of its neighbours: the same blocks, compressed the same way, as htslib
// writes on one thread.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <htslib/vcf.h>

#include "data/data.hpp"
#include "io/hts.hpp"
#include "io/text_buffer.hpp"
#include "output/text_lines.hpp"

class HtsOutput;

// The bytes of a record before its genotypes, as bcf_write writes them: one
// SNP (ID its rsid, REF allele0, ALT allele1, QUAL missing) of contig 0.
class BcfRecordHead {
 public:
  BcfRecordHead();
  // Replaces `out` with the 32 bytes of lengths and fixed fields followed by
  // the shared part, for a record whose individual part has `indiv_bytes`.
  void make(const bcf_hdr_t* header, SnpIterator snp, std::size_t samples, std::size_t indiv_bytes, std::string& out);

 private:
  Hts<bcf1_t> record, synced;
};

// Bytes of the individual part of a record with `haplotypes` phased alleles.
inline std::size_t bcf_indiv_bytes(std::size_t haplotypes) { return haplotypes == 0 ? 0 : 3 + haplotypes; }

// Where each record ends in the stream after the header: record r ends at
// ends[r], the first starts at 0.
std::vector<std::uint64_t> bcf_record_ends(const bcf_hdr_t* header, const std::vector<SnpIterator>& rows,
                                           std::size_t haplotypes);

// One SNP block's records, and the BGZF blocks that lie wholly inside them.
struct BcfBytes {
  TextBuffer records;              // the block's records, uncompressed
  std::uint64_t start = 0;         // where they start in the stream, header included
  bool cut = false;                // whether a block boundary falls within [start, start + size]
  std::size_t head = 0, tail = 0;  // records[0, head) and records[tail, end) are left to join
  TextBuffer compressed;           // the BGZF blocks wholly inside them
};

// Compresses, at `level`, the BGZF blocks of `bytes` that lie wholly inside
// its records, given where they start.
void compress_inner_blocks(BcfBytes& bytes, int level);

// Writes SNP blocks of BCF records in order: the pieces at the ends of each
// joined and compressed here, the blocks inside as they were compressed.
class BcfBlockWriter {
 public:
  // `out` was opened for its own blocks; what htslib has not yet compressed
  // of the header starts the stream.
  explicit BcfBlockWriter(HtsOutput& out);
  void write(const BcfBytes& bytes);
  // The last, partial block.
  void finish();
  std::uint64_t header_bytes() const { return header; }

 private:
  void write_carry();
  HtsOutput& file;
  std::string carry;  // the stream's bytes not yet in a written block
  std::uint64_t header = 0;
  std::vector<unsigned char> scratch;
};
