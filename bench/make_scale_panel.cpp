// Builds a chromosome-scale panel from the bundled example for the scale
// workload: the 600 haplotypes widened to 600 * copies by copies whose
// haplotypes and SNPs are rotated (so that no copy is a clone of another),
// and the SNPs tiled `tiles` times along the chromosome, each tile 3 Mb
// further on, so that the real genetic map spans them all.
//
//   make_scale_panel <example.hap[.gz]> <example.legend[.gz]> <copies> <tiles> <out stem>
//                    [<example.map[.gz]> [bcf]]
//
// writes <out stem>.hap and <out stem>.legend (plain text). With a map, also
// <out stem>.map: the map's stretch under the example's SNPs repeated under
// every tile (its centimorgans carried on), so that tiles beyond the end of
// the real chromosome still see recombination, as a panel of 1000 Genomes
// density over a whole chromosome does. With "bcf", also <out stem>.bcf
// (chromosome 20, samples s<j> of haplotypes 2j and 2j + 1) for the VCF/BCF
// reader.
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <htslib/vcf.h>

#include "io/input_file.hpp"

namespace {

// The map's rows within [first, first + span), repeated every `span` bases,
// each repeat's centimorgans starting where the previous one ended.
bool write_tiled_map(const char* map_file, long first, long span, int tiles, const std::string& out) {
  InputFile in(map_file);
  if (!in.is_open()) return false;
  std::vector<long> position;
  std::vector<double> rate, cm;
  std::string line;
  in.getline(line);
  while (in.getline(line)) {
    long p;
    double r, c;
    if (std::sscanf(line.c_str(), "%ld %lf %lf", &p, &r, &c) != 3) return false;
    if (p < first || p >= first + span) continue;
    position.push_back(p);
    rate.push_back(r);
    cm.push_back(c);
  }
  FILE* f = std::fopen(out.c_str(), "w");
  if (f == nullptr || position.empty()) return false;
  std::fprintf(f, "position COMBINED_rate(cM/Mb) Genetic_Map(cM)\n");
  const double step = cm.back() - cm.front() + rate.back() * (first + span - position.back()) * 1e-6;
  for (int t = 0; t < tiles; ++t)
    for (std::size_t k = 0; k < position.size(); ++k)
      std::fprintf(f, "%ld %f %f\n", position[k] + span * t, rate[k], cm[k] - cm.front() + step * t);
  return std::fclose(f) == 0;
}

// One record per SNP of the tiled panel, written as the .hap lines are.
class BcfPanel {
 public:
  BcfPanel(const std::string& name, std::size_t haplotypes) : gt(haplotypes) {
    file = hts_open(name.c_str(), "wb");
    header = bcf_hdr_init("w");
    bcf_hdr_append(header, "##contig=<ID=20>");
    bcf_hdr_append(header, "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Phased genotype\">");
    for (std::size_t j = 0; 2 * j < haplotypes; ++j) bcf_hdr_add_sample(header, ("s" + std::to_string(j)).c_str());
    bcf_hdr_sync(header);
    hts_set_threads(file, 1);
    ok = file != nullptr && bcf_hdr_write(file, header) == 0;
    record = bcf_init();
  }
  // `text` is the .hap line: codes at even offsets.
  void add(long position, const std::string& id, const std::string& a0, const std::string& a1,
           const std::string& text) {
    bcf_clear(record);
    record->rid = 0;
    record->pos = position - 1;
    const char* alleles[2] = {a0.c_str(), a1.c_str()};
    bcf_update_id(header, record, id.c_str());
    bcf_update_alleles(header, record, alleles, 2);
    for (std::size_t h = 0; h < gt.size(); ++h)
      gt[h] = static_cast<std::int32_t>((text[2 * h] - '0' + 1) << 1 | (h & 1));
    ok = ok && bcf_update_genotypes(header, record, gt.data(), static_cast<int>(gt.size())) == 0 &&
         bcf_write(file, header, record) == 0;
  }
  bool close() {
    bcf_destroy(record);
    const bool closed = hts_close(file) == 0;
    bcf_hdr_destroy(header);
    return ok && closed;
  }

 private:
  htsFile* file;
  bcf_hdr_t* header;
  bcf1_t* record;
  std::vector<std::int32_t> gt;
  bool ok;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6 || argc > 8) {
    std::fprintf(stderr, "usage: make_scale_panel hap legend copies tiles out_stem [map [bcf]]\n");
    return 2;
  }
  const int copies = std::atoi(argv[3]), tiles = std::atoi(argv[4]);
  InputFile haps(argv[1]), legend(argv[2]);
  if (!haps.is_open() || !legend.is_open() || copies < 1 || tiles < 1) {
    std::fprintf(stderr, "make_scale_panel: cannot read the inputs\n");
    return 1;
  }
  std::vector<std::string> codes;  // per SNP, the codes without blanks
  std::vector<std::string> rsid, a0, a1;
  std::vector<long> position;
  std::string line;
  legend.getline(line);
  while (haps.getline(line)) {
    std::string row;
    for (char c : line)
      if (c == '0' || c == '1') row += c;
    codes.push_back(row);
    if (!legend.getline(line)) break;
    const char *p = line.data(), *end = p + line.size(), *f[4], *l[4];
    for (int k = 0; k < 4; ++k) next_token(p, end, f[k], l[k]);
    rsid.emplace_back(f[0], l[0]);
    position.push_back(std::atol(std::string(f[1], l[1]).c_str()));
    a0.emplace_back(f[2], l[2]);
    a1.emplace_back(f[3], l[3]);
  }
  const std::size_t S = position.size(), n = codes.empty() ? 0 : codes[0].size();
  const std::string stem = argv[5];
  FILE* hap_out = std::fopen((stem + ".hap").c_str(), "w");
  FILE* legend_out = std::fopen((stem + ".legend").c_str(), "w");
  if (!hap_out || !legend_out || n == 0) return 1;
  std::fprintf(legend_out, "rsid position a0 a1\n");
  constexpr long span = 3000000;  // each tile this much further on
  if (argc >= 7 && !write_tiled_map(argv[6], position.front(), span, tiles, stem + ".map")) {
    std::fprintf(stderr, "make_scale_panel: cannot tile the map %s\n", argv[6]);
    return 1;
  }
  std::unique_ptr<BcfPanel> bcf;
  if (argc == 8) bcf = std::make_unique<BcfPanel>(stem + ".bcf", n * copies);
  std::string text(2 * n * copies, ' ');
  for (int t = 0; t < tiles; ++t) {
    for (std::size_t j = 0; j < S; ++j) {
      for (int r = 0; r < copies; ++r) {
        const std::string& source = codes[(j + 31 * r + 7 * t) % S];
        for (std::size_t c = 0; c < n; ++c) text[2 * (r * n + c)] = source[(c + 75 * r + 13 * t) % n];
      }
      text.back() = '\n';
      if (std::fwrite(text.data(), 1, text.size(), hap_out) != text.size()) return 1;
      std::fprintf(legend_out, "%s_%d %ld %s %s\n", rsid[j].c_str(), t, position[j] + span * t,
                   a0[j].c_str(), a1[j].c_str());
      if (bcf) bcf->add(position[j] + span * t, rsid[j] + "_" + std::to_string(t), a0[j], a1[j], text);
    }
  }
  if (bcf && !bcf->close()) return 1;
  return std::fclose(hap_out) == 0 && std::fclose(legend_out) == 0 ? 0 : 1;
}
