#pragma once
// What the PLINK and VCF writers share: the names of their files and the
// size of the SNP blocks they decode.
#include <algorithm>
#include <cstddef>
#include <string>

#include <boost/filesystem/path.hpp>

#include "params/tarvik_parameters.hpp"

// <stem><suffix>. These files carry their own compression (or none), so in
// gzip mode they are named after the stem without ".gz", beside the other
// files of the set: out/run.gz gives out/run.bed and out/run.vcf.gz.
inline boost::filesystem::path gwas_file_name(const TarvikParameters& params,
                                              const std::string& suffix) {
  const boost::filesystem::path& output = params.output_file;
  if (output.extension() != ".gz") return output.string() + suffix;
  return params.output_directory / (output.stem().string() + suffix);
}

// SNPs per decoded tile: about a megabyte of alleles, so that the tile and
// the text made of it stay in cache while each file's lines are formatted.
// A fixed function of the run's size, never of how the work is scheduled.
inline std::size_t block_snps(std::size_t haplotypes) {
  const std::size_t width = (std::size_t(1) << 20) / std::max<std::size_t>(haplotypes, 1);
  return std::min<std::size_t>(std::max<std::size_t>(width, 8), 1024);
}
