// Builds a chromosome-scale panel from the bundled example for the scale
// workload: the 600 haplotypes widened to 600 * copies by copies whose
// haplotypes and SNPs are rotated (so that no copy is a clone of another),
// and the SNPs tiled `tiles` times along the chromosome, each tile 3 Mb
// further on, so that the real genetic map spans them all.
//
//   make_scale_panel <example.hap[.gz]> <example.legend[.gz]> <copies> <tiles> <out stem>
//
// writes <out stem>.hap and <out stem>.legend (plain text).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "io/input_file.hpp"

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: make_scale_panel hap legend copies tiles out_stem\n");
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
  std::string text(2 * n * copies, ' ');
  for (int t = 0; t < tiles; ++t) {
    for (std::size_t j = 0; j < S; ++j) {
      for (int r = 0; r < copies; ++r) {
        const std::string& source = codes[(j + 31 * r + 7 * t) % S];
        for (std::size_t c = 0; c < n; ++c) text[2 * (r * n + c)] = source[(c + 75 * r + 13 * t) % n];
      }
      text.back() = '\n';
      if (std::fwrite(text.data(), 1, text.size(), hap_out) != text.size()) return 1;
      std::fprintf(legend_out, "%s_%d %ld %s %s\n", rsid[j].c_str(), t, position[j] + 3000000L * t,
                   a0[j].c_str(), a1[j].c_str());
    }
  }
  return std::fclose(hap_out) == 0 && std::fclose(legend_out) == 0 ? 0 : 1;
}
