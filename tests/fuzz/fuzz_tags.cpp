// Fuzzes the tag-SNP position reader: the input is the tag file.
#include <cstdint>
#include <string>

#include "fuzz_support.hpp"
#include "output/output_files.hpp"
#include "params/errors.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string file = fuzz_support::scratch_dir("tags") + "/input.tags";
  fuzz_support::write_file(file, std::string(reinterpret_cast<const char*>(bytes), size));
  try {
    read_tag_positions(file);
  } catch (const badfilename&) {
  }
  return 0;
}
