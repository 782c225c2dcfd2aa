#include "output/bcf_blocks.hpp"

#include <cstring>

#include <htslib/bgzf.h>

#include "core/errors.hpp"
#include "output/hts_output.hpp"

namespace {

constexpr std::uint64_t kBlock = BGZF_BLOCK_SIZE;

void put32(std::uint32_t v, char* out) {
  for (int k = 0; k < 4; ++k) out[k] = static_cast<char>(v >> (8 * k) & 0xff);
}

}  // namespace

BcfRecordHead::BcfRecordHead() : record(bcf_init()), synced(bcf_init()) {
  if (record == nullptr || synced == nullptr) throw RunError("out of memory for the BCF records.\n");
}

void BcfRecordHead::make(const bcf_hdr_t* header, SnpIterator snp, std::size_t samples, std::size_t indiv_bytes,
                         std::string& out) {
  bcf1_t* r = record.get();
  bcf_clear(r);
  r->rid = 0;
  r->pos = static_cast<hts_pos_t>(snp->first) - 1;
  bcf_float_set_missing(r->qual);
  const char* alleles[2] = {snp->second.allele0.c_str(), snp->second.allele1.c_str()};
  // htslib packs the shared part (ID, alleles, FILTER) when a record is
  // copied, as when it is written: its bytes are the library's own.
  if (bcf_update_id(header, r, snp->second.rsid.c_str()) != 0 || bcf_update_alleles(header, r, alleles, 2) != 0 ||
      bcf_copy(synced.get(), r) == nullptr)
    throw RunError("the VCF record of " + snp->second.rsid + " could not be built.\n");
  // The lengths and fixed fields, little-endian, as bcf_write lays them out.
  out.resize(32 + r->shared.l);
  char* head = &out[0];
  put32(static_cast<std::uint32_t>(r->shared.l + 24), head);
  put32(static_cast<std::uint32_t>(indiv_bytes), head + 4);
  put32(static_cast<std::uint32_t>(r->rid), head + 8);
  put32(static_cast<std::uint32_t>(r->pos), head + 12);
  put32(static_cast<std::uint32_t>(r->rlen), head + 16);
  std::uint32_t qual;
  std::memcpy(&qual, &r->qual, 4);
  put32(qual, head + 20);
  put32(static_cast<std::uint32_t>(r->n_allele) << 16 | r->n_info, head + 24);
  const std::uint32_t n_fmt = samples > 0 ? 1 : 0;
  put32(n_fmt << 24 | (static_cast<std::uint32_t>(samples) & 0xffffff), head + 28);
  std::memcpy(head + 32, r->shared.s, r->shared.l);
}

std::vector<std::uint64_t> bcf_record_ends(const bcf_hdr_t* header, const std::vector<SnpIterator>& rows,
                                           std::size_t haplotypes) {
  std::vector<std::uint64_t> ends(rows.size());
  BcfRecordHead maker;
  std::string head;
  std::uint64_t at = 0;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    maker.make(header, rows[r], haplotypes / 2, bcf_indiv_bytes(haplotypes), head);
    at += head.size() + bcf_indiv_bytes(haplotypes);
    ends[r] = at;
  }
  return ends;
}

void compress_inner_blocks(BcfBytes& bytes, int level) {
  const std::uint64_t start = bytes.start, end = start + bytes.records.size();
  const std::uint64_t first_cut = (start + kBlock - 1) / kBlock * kBlock, last_cut = end / kBlock * kBlock;
  bytes.cut = first_cut <= last_cut;
  if (!bytes.cut) {  // all of it joins the block being filled
    bytes.head = bytes.tail = bytes.records.size();
    return;
  }
  bytes.head = static_cast<std::size_t>(first_cut - start);
  bytes.tail = static_cast<std::size_t>(last_cut - start);
  const std::size_t inner = static_cast<std::size_t>((last_cut - first_cut) / kBlock);
  bytes.compressed.clear();
  for (std::size_t k = 0; k < inner; ++k) {
    std::size_t size = BGZF_MAX_BLOCK_SIZE;
    auto* out = reinterpret_cast<unsigned char*>(bytes.compressed.extend(size));
    if (bgzf_compress(out, &size, bytes.records.data() + bytes.head + k * kBlock, kBlock, level) != 0)
      throw RunError("a BGZF block of the BCF file could not be compressed.\n");
    bytes.compressed.shrink(BGZF_MAX_BLOCK_SIZE - size);
  }
}

BcfBlockWriter::BcfBlockWriter(HtsOutput& out) : file(out), carry(out.take_pending()), header(carry.size()) {
  scratch.resize(BGZF_MAX_BLOCK_SIZE);
}

void BcfBlockWriter::write_carry() {
  std::size_t size = scratch.size();
  if (bgzf_compress(scratch.data(), &size, carry.data(), carry.size(), file.level()) != 0)
    throw RunError("a BGZF block of the BCF file could not be compressed.\n");
  file.write_blocks(scratch.data(), size);
  carry.clear();
}

void BcfBlockWriter::write(const BcfBytes& bytes) {
  carry.append(bytes.records.data(), bytes.head);
  if (!bytes.cut) return;
  // The head completes the block being filled, or the records start on a cut.
  if (!carry.empty()) {
    if (carry.size() != kBlock) throw RunError("the BCF blocks were cut out of order.\n");
    write_carry();
  }
  file.write_blocks(reinterpret_cast<const unsigned char*>(bytes.compressed.data()), bytes.compressed.size());
  carry.assign(bytes.records.data() + bytes.tail, bytes.records.size() - bytes.tail);
}

void BcfBlockWriter::finish() {
  if (!carry.empty()) write_carry();
}
