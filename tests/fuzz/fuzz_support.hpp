#pragma once
// Shared set-up of the fuzz targets: a private scratch directory for the
// files a target writes, and a console that swallows the progress text the
// readers print (it would slow the fuzzer down and flood its log).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <streambuf>
#include <string>

namespace fuzz_support {

class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c == EOF ? 0 : c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

inline void silence_console() {
  static NullBuffer sink;
  std::cout.rdbuf(&sink);
}

// A fresh directory under /tmp for the whole fuzzing session. It is removed
// at exit; a crash leaves it behind, named after the target, for inspection.
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

inline void write_bytes(const std::string& name, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out) std::abort();
}

}  // namespace fuzz_support
