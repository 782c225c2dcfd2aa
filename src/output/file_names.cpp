#include "output/file_names.hpp"

OutputFileNames output_file_names(const TarvikParameters& params) {
  namespace fs = boost::filesystem;
  const fs::path& output = params.output_file;
  const bool gzip_mode = output.extension() == ".gz";
  const std::string stem = output.stem().string();
  // In gzip mode only the haplotype and genotype files carry ".gz" and so are
  // compressed; the legend and sample files stay plain text.
  auto name = [&](const std::string& suffix, bool compressed) {
    if (!gzip_mode) return fs::path(output.string() + suffix);
    return params.output_directory / (stem + suffix + (compressed ? ".gz" : ""));
  };
  OutputFileNames names;
  names.haps[0] = name(".controls.haps", true);
  names.haps[1] = name(".cases.haps", true);
  names.legend = name(".legend", false);
  names.gen[0] = name(".controls.gen", true);
  names.gen[1] = name(".cases.gen", true);
  names.tags[0] = name(".controls.tags.gen", true);
  names.tags[1] = name(".cases.tags.gen", true);
  names.sample[0] = name(".controls.sample", false);
  names.sample[1] = name(".cases.sample", false);
  return names;
}
