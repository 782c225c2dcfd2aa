// Fuzzes the command-line parser: the input is split at line feeds into the words of a command
// line, which TarvikParameters::process_parameters reads. Every rejection must come as one of the
// program's own error classes.
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>

#include "fuzz_support.hpp"
#include "output/output_files.hpp"
#include "params/tarvik_parameters.hpp"

namespace fs = boost::filesystem;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::silence_console();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words{"tarvik"};
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  for (std::string word; std::getline(in, word);) words.push_back(word);
  // Keep every directory the parser may create inside the scratch directory.
  for (const std::string& w : words)
    if (w.find("..") != std::string::npos || (!w.empty() && (w[0] == '/' || w[0] == '~'))) return -1;
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);

  // The parser creates the output directory relative to the working directory, so each input is
  // parsed inside the scratch directory (and the fuzzer's own relative paths still work).
  const fs::path home = fs::current_path();
  fs::current_path(fuzz_support::scratch_dir("flags"));
  TarvikParameters params;
  try {
    params.process_parameters(static_cast<int>(words.size()), argv.data());
    std::ostringstream summary;
    params.parameters_summary(summary);
    output_file_names(params);
  } catch (const HelpException&) {
  } catch (const MissingFlagException&) {
  } catch (const GenericErrorException&) {
  } catch (const badfilename&) {
  } catch (const fs::filesystem_error&) {
    // The output directory could not be created (name too long, a file in the way): the driver
    // reports this as a failure with status 1.
  }
  // Directories created by this input must not be seen by the next one.
  for (fs::directory_iterator it("."), end; it != end; ++it) fs::remove_all(it->path());
  fs::current_path(home);
  return 0;
}
