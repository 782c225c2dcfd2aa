#pragma once
// What a run will hold in memory, and what the machine can still give it:
// a run too large is refused before anything is simulated, instead of
// swapping for hours or dying of an allocation failure halfway.
#include <cstdint>

#include "data/data.hpp"

// Bytes a new allocation can still get: MemAvailable (free memory plus
// caches the kernel can drop), else the free physical pages, lowered to the
// room left under the memory limit of the control group mounted at
// /sys/fs/cgroup (a container's own). 0 when nothing is known.
double available_memory_bytes();

// Bytes a run of `haplotypes` simulated haplotypes over the panel's SNPs
// adds to the panel already read: per haplotype its segments (at most one
// switch per map distance N, with N at least the panel size), its expected
// mutations and disease alleles, and the offsets that index them; per SNP the
// map steps; and the writers' tiles and buffers.
double run_memory_bytes(const Data& panel, std::int64_t haplotypes, double theta, std::size_t loci);

// Throws RunError when `-n controls cases` asks for more than
// the available memory or more candidates than an int can number.
void check_run_size(const Data& panel, std::int32_t ncontrols, std::int32_t ncases, double theta,
                    std::size_t loci);
