// Fuzzes the command-line parser: the input's lines are the words of a command line. Every rejection must
// come as one of the program's own error classes, or as a filesystem error when the output directory cannot
// be created (the driver reports that with status 1).
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
  for (const std::string& w : words)  // every directory the parser creates stays in the scratch directory
    if (w.find("..") != std::string::npos || (!w.empty() && (w[0] == '/' || w[0] == '~'))) return -1;
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);
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
  }
  for (fs::directory_iterator it("."), end; it != end; ++it) fs::remove_all(it->path());
  fs::current_path(home);
  return 0;
}
