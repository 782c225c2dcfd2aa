#pragma once
// Shared set-up of the fuzz targets: a scratch directory for the session, removed at exit (a crash leaves it
// for inspection), and a console that drops the readers' progress text.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

namespace fuzz_support {

inline void silence_console() { std::cout.setstate(std::ios::badbit); }

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
