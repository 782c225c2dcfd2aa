#pragma once
// The cut of one haplotype into copying segments along the map.
#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

#include "data/data.hpp"

// SNPs whose cut draws are first checked together (see cut_segments).
constexpr int kCutBlock = 64;

// The map distances between neighbouring SNPs, and the largest of every
// block of kCutBlock of them: step[j] = rho[j] - rho[j - 1] for j >= 1, and
// block b covers j = 1 + b * kCutBlock onwards.
struct MapSteps {
  std::vector<double> step;
  std::vector<double> block_max;

  explicit MapSteps(const std::map<int, snp>& snps) {
    step.reserve(snps.size());
    double rho_prev = snps.empty() ? 0.0 : snps.begin()->second.cumulative_rho;
    for (const auto& entry : snps) {
      step.push_back(entry.second.cumulative_rho - rho_prev);
      rho_prev = entry.second.cumulative_rho;
    }
    const int nsnps = static_cast<int>(step.size());
    for (int first = 1; first < nsnps; first += kCutBlock) {
      const int end = std::min(first + kCutBlock, nsnps);
      block_max.push_back(*std::max_element(step.begin() + first, step.begin() + end));
    }
  }
};

// Cuts one haplotype with N candidates into copying segments along the map:
// `starts` receives the first SNP index of every segment. Draws exactly
// nsnps - 1 uniforms, one per neighbouring pair of SNPs: SNP j switches when
// its draw u exceeds p = exp(-step[j] / N).
//
// p = exp(-x) is at least 1 - x, and the library exp is accurate to far
// better than the 1e-12 margin, so a draw at most 1 - x - 1e-12 stays without
// evaluating exp; a block's largest step gives one such bound for all its
// SNPs, so a block whose draws all pass it has no switch. Only the rare block
// with a draw near some p (a fraction of about x per SNP) is decided SNP by
// SNP. Equal map positions (x = 0, p = 1) always stay.
template <class Draws>
void cut_segments(const MapSteps& map, const int N, Draws& draws,
                  std::vector<typename Draws::Value>& buffer, std::vector<int>& starts) {
  starts.clear();
  starts.push_back(0);
  const int nsnps = static_cast<int>(map.step.size());
  if (nsnps < 2) return;
  if (buffer.size() < static_cast<std::size_t>(nsnps)) buffer.resize(nsnps);
  typename Draws::Value* const u = buffer.data();  // u[j - 1] is the draw of SNP j
  draws.fill(u, nsnps - 1);
  const double candidates = N;
  const double* step = map.step.data();
  for (int first = 1, b = 0; first < nsnps; first += kCutBlock, ++b) {
    const int end = std::min(first + kCutBlock, nsnps);
    const typename Draws::Bound sure = Draws::at_most((1.0 - map.block_max[b] / candidates) - 1e-12);
    if (Draws::all_at_most(u + first - 1, end - first, sure)) continue;
    for (int j = first; j < end; ++j) {
      const double v = Draws::uniform(u[j - 1]);
      if (!(v <= (1.0 - step[j] / candidates) - 1e-12)) {
        const double p = std::exp(-step[j] / candidates);
        if (!(v <= p)) starts.push_back(j);
      }
    }
  }
}

