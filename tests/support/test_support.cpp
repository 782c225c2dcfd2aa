#include "test_support.hpp"

#include <sys/wait.h>
#include <zlib.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <boost/filesystem.hpp>

namespace testing_support {

TempDir::TempDir() {
  char templ[] = "/tmp/tarvik_test_XXXXXX";
  if (mkdtemp(templ) == nullptr) throw std::runtime_error("cannot create a scratch directory");
  dir = templ;
}

TempDir::~TempDir() {
  boost::system::error_code ec;
  boost::filesystem::remove_all(dir, ec);
}

std::string read_file(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + name);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const std::string& name, const std::string& content) {
  std::ofstream out(name, std::ios::binary);
  if (!(out << content)) throw std::runtime_error("cannot write " + name);
}

bool file_exists(const std::string& name) { return boost::filesystem::exists(name); }

std::string read_gzip_file(const std::string& name) {
  gzFile f = gzopen(name.c_str(), "rb");
  if (f == nullptr) throw std::runtime_error("cannot open " + name);
  std::string out;
  char buf[65536];
  int n, err = 0;
  while ((n = gzread(f, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  gzerror(f, &err);
  gzclose(f);
  if (n < 0 || (err != Z_OK && err != Z_STREAM_END)) throw std::runtime_error("bad gzip data in " + name);
  return out;
}

CommandResult run_command(const std::string& command, const std::string& workdir) {
  TempDir capture;
  std::string full = "{ " + command + "\n} >" + capture.file("out") + " 2>" + capture.file("err");
  if (!workdir.empty()) full = "cd '" + workdir + "' && " + full;
  const int raw = std::system(full.c_str());
  CommandResult r;
  r.status = (raw != -1 && WIFEXITED(raw)) ? WEXITSTATUS(raw) : -1;
  r.output = read_file(capture.file("out"));
  r.error = read_file(capture.file("err"));
  return r;
}

CommandResult run_tarvik(const std::string& args, const std::string& workdir) {
  return run_command("'" + tarvik_binary() + "' " + args, workdir);
}

std::string source_dir() { return TARVIK_SOURCE_DIR; }
std::string tarvik_binary() { return TARVIK_BINARY; }
std::string example_file(const std::string& name) { return source_dir() + "/example/" + name; }

}  // namespace testing_support
