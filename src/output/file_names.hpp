#pragma once
// The names of a run's output files.
#include <boost/filesystem/path.hpp>

#include "params/tarvik_parameters.hpp"

// The nine files of a run; index 0 is the control group, 1 the case group.
struct OutputFileNames {
  boost::filesystem::path haps[2];
  boost::filesystem::path legend;
  boost::filesystem::path gen[2];
  boost::filesystem::path tags[2];
  boost::filesystem::path sample[2];
};

// Plain mode appends each suffix to output_file. Gzip mode (output_file ends
// in exactly ".gz") puts stem + suffix in output_directory and adds ".gz" to
// the haplotype, genotype and tag-SNP genotype files, so that only these are
// compressed: out/run.gz gives out/run.controls.haps.gz and out/run.legend.
OutputFileNames output_file_names(const TarvikParameters& params);
