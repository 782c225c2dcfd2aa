#pragma once
// Shared set-up of the fuzz targets: a private scratch directory for the files a target writes,
// and a console that drops the progress text the readers print (it would slow the fuzzer down
// and flood its log).
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

namespace fuzz_support {

// A stream in a failed state writes nothing; no code of the program tests the console's state.
inline void silence_console() { std::cout.setstate(std::ios::badbit); }

// A fresh directory under /tmp for the whole fuzzing session. It is removed at exit; a crash
// leaves it behind, named after the target, for inspection.
inline const std::string& scratch_dir(const char* target) {
  static std::string dir;
  if (dir.empty()) {
    std::string templ = std::string("/tmp/tarvik_fuzz_") + target + "_XXXXXX";
    if (mkdtemp(&templ[0]) == nullptr) std::abort();
    dir = templ;
    std::atexit([] { std::system(("rm -rf '" + dir + "'").c_str()); });
  }
  return dir;
}

inline void write_file(const std::string& name, const std::string& bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  if (!(out << bytes)) std::abort();
}

}  // namespace fuzz_support
