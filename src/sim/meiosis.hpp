#pragma once
// Transmission from a parent to a child: a meiosis of the parent's two
// haplotypes. Crossovers fall as a Poisson process along the map's own
// centimorgans (one per Morgan), the haplotype the child starts from by a
// fair draw; a de novo rate per SNP flips alleles. The draws come from a
// stream of their own, so that families never change the founders' bytes.
#include <cstdint>
#include <random>
#include <vector>

#include "store/mosaic.hpp"

class MeiosisDraws {
 public:
  explicit MeiosisDraws(std::uint32_t seed_word);
  // Uniform on [0, 1), 53 bits.
  double uniform() { return static_cast<double>(engine() >> 11) * 0x1.0p-53; }
  // Exponential with mean 1.
  double exponential();

 private:
  std::mt19937_64 engine;
};

// The child's haplotype from a parent whose haplotypes are sources
// `first_source` and `first_source + 1`: its segments (first SNP, source)
// and the SNPs where it mutated. `cm` holds each SNP's map position in cM,
// ascending; `denovo` is the mutation probability per SNP.
void meiosis(const std::vector<double>& cm, std::int32_t first_source, double denovo, MeiosisDraws& draws,
             std::vector<Segment>& segments, std::vector<int>& mutations);
