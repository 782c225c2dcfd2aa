#include "store/mosaic.hpp"

#include <algorithm>
#include <cassert>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

MosaicStore::MosaicStore(std::size_t panel_haplotypes, std::size_t snp_count,
                         std::vector<int> disease_snps)
    : n(panel_haplotypes), nsnps(snp_count), disease(std::move(disease_snps)), columns(disease.size()) {
  assert(std::is_sorted(disease.begin(), disease.end()));
}

void MosaicStore::clear() { *this = MosaicStore(n, nsnps, disease); }

void MosaicStore::add(const std::vector<Segment>& segments, const std::vector<int>& mutations,
                      bool fixed, const std::uint8_t* disease_alleles, const BitMatrix& panel) {
  const std::size_t h = haplotypes();
  assert(!segments.empty() && segments.front().first_snp == 0);
  for (const Segment& s : segments) {
    assert(s.source >= 0 && static_cast<std::size_t>(s.source) < n + h && "sources come earlier");
    (void)s;
  }
  // The copied alleles at the disease SNPs: the source's own allele there
  // (known without decoding: a panel bit or the source's disease column),
  // flipped where this haplotype mutated.
  for (std::size_t d = 0; d < disease.size(); ++d) {
    std::uint8_t allele;
    if (fixed) {
      allele = disease_alleles[d];
    } else {
      const int j = disease[d];
      auto seg = std::upper_bound(segments.begin(), segments.end(), j,
                                  [](int snp, const Segment& s) { return snp < s.first_snp; });
      allele = source_allele(d, static_cast<std::size_t>((seg - 1)->source), panel);
      if (std::binary_search(mutations.begin(), mutations.end(), j)) allele ^= 1;
    }
    columns[d].push_back(allele);
  }
  segment_list.insert(segment_list.end(), segments.begin(), segments.end());
  segment_begin.push_back(segment_list.size());
  mutation_list.insert(mutation_list.end(), mutations.begin(), mutations.end());
  mutation_begin.push_back(mutation_list.size());
  fixed_alleles.push_back(fixed ? 1 : 0);
}

void MosaicStore::reserve(std::size_t haplotypes, std::size_t segments, std::size_t mutations) {
  segment_list.reserve(segment_list.size() + haplotypes * segments);
  segment_begin.reserve(segment_begin.size() + haplotypes);
  mutation_list.reserve(mutation_list.size() + haplotypes * mutations);
  mutation_begin.reserve(mutation_begin.size() + haplotypes);
  fixed_alleles.reserve(fixed_alleles.size() + haplotypes);
  for (auto& column : columns) column.reserve(column.size() + haplotypes);
}

std::size_t MosaicStore::bytes() const {
  std::size_t total = segment_list.capacity() * sizeof(Segment) +
                      segment_begin.capacity() * sizeof(std::size_t) +
                      mutation_list.capacity() * sizeof(std::int32_t) +
                      mutation_begin.capacity() * sizeof(std::size_t) + fixed_alleles.capacity();
  for (const auto& column : columns) total += column.capacity();
  return total;
}

namespace {

// The panel's alleles at SNPs [snp0, snp0 + width), haplotype-major, so
// that a segment copied from the panel is one contiguous copy.
void expand_panel(const BitMatrix& panel, std::size_t snp0, std::size_t width,
                  std::vector<std::uint8_t>& out) {
  const std::size_t n = panel.columns();
  out.resize(n * width);
  for (std::size_t j = 0; j < width; ++j) {
    const std::uint64_t* bits = panel.row(snp0 + j);
    for (std::size_t c = 0; c < n; ++c)
      out[c * width + j] = static_cast<std::uint8_t>(bits[c >> 6] >> (c & 63) & 1u);
  }
}

// The segment of a haplotype that holds SNP j.
std::size_t segment_at(const Segment* segments, std::size_t count, std::size_t j) {
  const Segment* s = std::upper_bound(segments, segments + count, static_cast<std::int32_t>(j),
                                      [](std::int32_t snp, const Segment& t) { return snp < t.first_snp; });
  return static_cast<std::size_t>(s - segments) - 1;
}

// rows (T x width, haplotype-major) into the tile (width x T, SNP-major).
void transpose_rows(const std::uint8_t* rows, std::size_t T, std::size_t width, std::uint8_t* tile) {
  std::size_t h = 0;
#if defined(__SSE2__)
  // 16 haplotypes by 16 SNPs at a time, transposed in registers.
  for (; h + 16 <= T; h += 16) {
    std::size_t j = 0;
    for (; j + 16 <= width; j += 16) {
      __m128i r[16];
      for (int i = 0; i < 16; ++i)
        r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows + (h + i) * width + j));
      __m128i a[16], b[16];
      for (int i = 0; i < 8; ++i) {
        a[i] = _mm_unpacklo_epi8(r[2 * i], r[2 * i + 1]);
        a[i + 8] = _mm_unpackhi_epi8(r[2 * i], r[2 * i + 1]);
      }
      for (int g = 0; g < 16; g += 8)
        for (int i = 0; i < 4; ++i) {
          b[g + i] = _mm_unpacklo_epi16(a[g + 2 * i], a[g + 2 * i + 1]);
          b[g + i + 4] = _mm_unpackhi_epi16(a[g + 2 * i], a[g + 2 * i + 1]);
        }
      for (int g = 0; g < 16; g += 4)
        for (int i = 0; i < 2; ++i) {
          a[g + i] = _mm_unpacklo_epi32(b[g + 2 * i], b[g + 2 * i + 1]);
          a[g + i + 2] = _mm_unpackhi_epi32(b[g + 2 * i], b[g + 2 * i + 1]);
        }
      for (int g = 0; g < 16; g += 2) {
        b[g] = _mm_unpacklo_epi64(a[g], a[g + 1]);
        b[g + 1] = _mm_unpackhi_epi64(a[g], a[g + 1]);
      }
      // b[k]: SNP j + k of the 16 haplotypes, in order.
      for (int k = 0; k < 16; ++k)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(tile + (j + k) * T + h), b[k]);
    }
    for (; j < width; ++j)
      for (int i = 0; i < 16; ++i) tile[j * T + h + i] = rows[(h + i) * width + j];
  }
#endif
  for (; h < T; ++h)
    for (std::size_t j = 0; j < width; ++j) tile[j * T + h] = rows[h * width + j];
}

}  // namespace

void MosaicSource::decode_rows(std::size_t snp0, std::size_t width, std::vector<std::uint8_t>& rows) const {
  const std::size_t T = store.haplotypes(), n = store.panel_haplotypes(), j1 = snp0 + width;
  const std::size_t nsnps = store.snps();
  assert(j1 <= nsnps);
  thread_local std::vector<std::uint8_t> panel_rows;
  expand_panel(panel, snp0, width, panel_rows);
  rows.resize(T * width);
  const std::vector<int>& disease = store.disease_snps();
  for (std::size_t h = 0; h < T; ++h) {
    std::uint8_t* out = rows.data() + h * width;
    std::size_t count;
    const Segment* segments = store.segments_of(h, count);
    for (std::size_t i = segment_at(segments, count, snp0), j = snp0; j < j1; ++i) {
      const std::size_t end =
          std::min(i + 1 < count ? static_cast<std::size_t>(segments[i + 1].first_snp) : nsnps, j1);
      const std::size_t c = static_cast<std::size_t>(segments[i].source);
      const std::uint8_t* from = c < n ? panel_rows.data() + c * width : rows.data() + (c - n) * width;
      std::memcpy(out + (j - snp0), from + (j - snp0), end - j);
      j = end;
    }
    std::size_t nmutations;
    const std::int32_t* mutations = store.mutations_of(h, nmutations);
    for (const std::int32_t* m = std::lower_bound(mutations, mutations + nmutations, static_cast<std::int32_t>(snp0));
         m < mutations + nmutations && static_cast<std::size_t>(*m) < j1; ++m)
      out[*m - snp0] ^= 1;
    if (store.has_fixed_disease_alleles(h))
      for (std::size_t d = 0; d < disease.size(); ++d)
        if (static_cast<std::size_t>(disease[d]) >= snp0 && static_cast<std::size_t>(disease[d]) < j1)
          out[disease[d] - snp0] = store.disease_allele(d, h);
  }
}

void MosaicSource::decode(std::size_t snp0, std::size_t nsnps, Tile& out) const {
  thread_local std::vector<std::uint8_t> rows;
  decode_rows(snp0, nsnps, rows);
  const std::size_t T = store.haplotypes();
  out.reset(snp0, nsnps, T);
  transpose_rows(rows.data(), T, nsnps, out.allele.data());
}

void MosaicSource::decode_snps(const std::vector<int>& indices, Tile& out) const {
  // Few SNPs far apart (tags, disease loci, causal SNPs): one allele per
  // haplotype and SNP, the sources being earlier in the same row. For SNPs in
  // ascending order each haplotype keeps its place in its segments and
  // mutations from one SNP to the next; otherwise each is found by search.
  const std::size_t T = store.haplotypes(), n = store.panel_haplotypes();
  out.reset(indices.empty() ? 0 : static_cast<std::size_t>(indices.front()), indices.size(), T);
  const bool ascending = std::is_sorted(indices.begin(), indices.end());
  std::vector<std::uint32_t> segment(ascending ? T : 0, 0), mutation(ascending ? T : 0, 0);
  const std::vector<int>& disease = store.disease_snps();
  for (std::size_t r = 0; r < indices.size(); ++r) {
    const std::size_t j = static_cast<std::size_t>(indices[r]);
    std::uint8_t* allele = out.snp(r);
    const auto d = std::lower_bound(disease.begin(), disease.end(), indices[r]);
    if (d != disease.end() && *d == indices[r]) {  // every haplotype's allele there is kept
      for (std::size_t h = 0; h < T; ++h)
        allele[h] = store.disease_allele(static_cast<std::size_t>(d - disease.begin()), h);
      continue;
    }
    for (std::size_t h = 0; h < T; ++h) {
      std::size_t count, nmutations;
      const Segment* segments = store.segments_of(h, count);
      const std::int32_t* mutations = store.mutations_of(h, nmutations);
      std::size_t i;
      bool mutated;
      if (ascending) {
        std::uint32_t& at = segment[h];
        while (at + 1 < count && static_cast<std::size_t>(segments[at + 1].first_snp) <= j) ++at;
        std::uint32_t& m = mutation[h];
        while (m < nmutations && static_cast<std::size_t>(mutations[m]) < j) ++m;
        i = at;
        mutated = m < nmutations && static_cast<std::size_t>(mutations[m]) == j;
      } else {
        i = segment_at(segments, count, j);
        mutated = std::binary_search(mutations, mutations + nmutations, static_cast<std::int32_t>(j));
      }
      const std::size_t c = static_cast<std::size_t>(segments[i].source);
      const std::uint8_t a = c < n ? static_cast<std::uint8_t>(panel.get(j, c)) : allele[c - n];
      allele[h] = static_cast<std::uint8_t>(a ^ (mutated ? 1 : 0));
    }
  }
}
