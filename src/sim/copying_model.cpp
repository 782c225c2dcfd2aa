#include <cassert>
#include <cmath>
#include <ios>
#include <vector>

#include "params/summary.hpp"
#include "sim/generator.hpp"
#include "sim/random.hpp"

namespace {

// Cuts one haplotype with N candidates into copying segments along the map:
// `starts` receives the first SNP index of every segment. Draws exactly
// nsnps - 1 uniforms, one per neighbouring pair of SNPs.
void cut_segments(const std::vector<double>& rho, const int N, UniformDraws& draws,
                  std::vector<int>& starts) {
  starts.clear();
  starts.push_back(0);
  const int nsnps = static_cast<int>(rho.size());
  const double candidates = N;
  double rho_prev = rho[0];
  for (int j = 1; j < nsnps; ++j) {
    const double u = draws.next();
    const double rho_j = rho[j];
    // The staying probability p = exp(-x) is at least 1 - x, and the library
    // exp is accurate to far better than the 1e-12 margin, so a draw below
    // 1 - x - 1e-12 stays without evaluating exp; only draws near p (a
    // fraction of about x) need the exact comparison. Equal map positions
    // (x = 0, p = 1) always stay.
    const double x = (rho_j - rho_prev) / candidates;
    if (!(u <= (1.0 - x) - 1e-12)) {
      const double p = std::exp(-(rho_j - rho_prev) / candidates);
      if (!(u <= p)) starts.push_back(j);
    }
    rho_prev = rho_j;
  }
}

std::vector<double> map_positions_of(const std::map<int, snp>& snps) {
  std::vector<double> rho;
  rho.reserve(snps.size());
  for (const auto& entry : snps) rho.push_back(entry.second.cumulative_rho);
  return rho;
}

}  // namespace

void TarvikGenerator::set_theta() {
  std::ostringstream log;
  const int n = panel_data.nhaplotypes;
  double theta = 1.0;
  if (n != 1) {
    double harmonic = 0.0;
    for (int i = 1; i <= n; ++i) harmonic += 1.0 / i;
    theta = 1.0 / harmonic;
  }
  params.theta = theta;
  log << "theta not set, so setting to a default value of " << theta << "\n";
  update_summary_file(params, log, std::ios_base::app);
}

void TarvikGenerator::simulate_crossovers(const std::map<int, snp>& snps, const int& N,
                                          std::vector<std::vector<int>>& segments) const {
  segments.clear();
  if (snps.empty()) return;
  const std::vector<double> rho = map_positions_of(snps);
  UniformDraws draws;
  std::vector<int> starts;
  cut_segments(rho, N, draws, starts);
  const int nsnps = static_cast<int>(rho.size());
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const int last = i + 1 < starts.size() ? starts[i + 1] : nsnps;
    std::vector<int> segment;
    segment.reserve(last - starts[i]);
    for (int j = starts[i]; j < last; ++j) segment.push_back(j);
    segments.push_back(std::move(segment));
  }
}

void TarvikGenerator::simulate_all_alleles() {
  std::ostringstream log;
  log << "\nSimulating haplotypes ... ";
  update_summary_file(params, log, std::ios_base::app);
  simulated_haplotypes.clear();
  simulated_phenotypes.clear();

  assert(params.ncontrols >= 0 && params.ncases >= 0);
  const int T = 2 * (params.ncontrols + params.ncases);
  if (T >= 1) {
    const int nsnps = static_cast<int>(panel_data.snps_data.size());
    const int n = panel_data.nhaplotypes;
    const double theta = params.theta;
    const int first_case_row = 2 * params.ncontrols;

    // The panel is held per SNP; index it once so the per-allele loop reads
    // arrays instead of walking the map.
    std::vector<const int*> panel_alleles;
    panel_alleles.reserve(nsnps);
    for (const auto& entry : panel_data.snps_data) panel_alleles.push_back(entry.second.haplotypes.data());
    const std::vector<double> rho = map_positions_of(panel_data.snps_data);

    // Every row is reserved up front so that row storage never moves while
    // later rows copy from earlier ones.
    simulated_haplotypes.reserve(T);
    simulated_phenotypes.reserve(T / 2);

    std::vector<std::vector<int>> copying_states(2, std::vector<int>(nsnps, -1));
    std::vector<std::vector<int>> disease_haplotypes(2);
    std::vector<int> starts;
    std::vector<double> weights;
    UniformDraws draws;

    for (int h = 0; h < T; h += 2) {
      const bool is_case = h >= first_case_row;
      const int N[2] = {n + h, n + h + 1};
      const double mu[2] = {(theta * 0.5) / (N[0] + theta), (theta * 0.5) / (N[1] + theta)};

      // Segments, labelled by their ordinal; a case's segments that hold a
      // disease locus get -2 - ordinal so that their sources come from the
      // disease model instead.
      for (int k = 0; k < 2; ++k) {
        simulated_haplotypes.emplace_back(nsnps, static_cast<short>(-1));
        cut_segments(rho, N[k], draws, starts);
        int* states = copying_states[k].data();
        const int nsegments = static_cast<int>(starts.size());
        for (int i = 0; i < nsegments; ++i) {
          const int first = starts[i];
          const int end = i + 1 < nsegments ? starts[i + 1] : nsnps;
          int label = i;
          if (is_case) {
            for (const int locus : dl_indices) {
              if (locus >= first && locus < end) {
                label = -2 - i;
                break;
              }
            }
          }
          for (int j = first; j < end; ++j) states[j] = label;
        }
      }

      // One uniformly chosen source per ordinary segment, in SNP order.
      for (int k = 0; k < 2; ++k) {
        int* states = copying_states[k].data();
        int label = -1;
        int source = -1;
        for (int j = 0; j < nsnps; ++j) {
          if (states[j] < 0) continue;
          if (states[j] != label) {
            label = states[j];
            weights.assign(N[k], 1.0 / N[k]);
            source = rmultinom(&weights) - 1;
          }
          states[j] = source;
        }
      }

      if (!is_case) {
        simulated_phenotypes.push_back(0);
      } else {
        simulate_disease_alleles(copying_states, disease_haplotypes, mu);
        for (int k = 0; k < 2; ++k) {
          std::vector<short>& row = simulated_haplotypes[h + k];
          for (std::size_t d = 0; d < dl_indices.size(); ++d) {
            row[dl_indices[d]] = static_cast<short>(disease_haplotypes[k][d]);
          }
        }
        simulated_phenotypes.push_back(1);
      }

      // Copy every allele not already fixed by the disease model from its
      // source, flipping it with the mutation probability.
      for (int l = 0; l < 2; ++l) {
        short* row = simulated_haplotypes[h + l].data();
        const double mutation = mu[l];
        for (int j = 0; j < nsnps; ++j) {
          const int c = copying_states[l][j];
          assert(copying_states[l][j] >= 0);
          if (row[j] != -1) continue;
          const double u = draws.next();
          int allele = c < n ? panel_alleles[j][c] : simulated_haplotypes[c - n][j];
          if (u < mutation) allele = 1 - allele;
          row[j] = static_cast<short>(allele);
        }
      }

      num_simulated_haps = h + 2;
    }
  }

  log << "done\n";
  update_summary_file(params, log, std::ios_base::app);
}
