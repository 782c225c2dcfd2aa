#include "test_support.hpp"

#include <sys/wait.h>
#include <zlib.h>

#include <cctype>
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

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

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

std::string read_text(const std::string& name) {
  const bool gz = name.size() > 3 && name.compare(name.size() - 3, 3, ".gz") == 0;
  return gz ? read_gzip_file(name) : read_file(name);
}

std::map<std::string, std::string> snapshot(const std::string& dir, bool with_summaries) {
  namespace fs = boost::filesystem;
  std::map<std::string, std::string> entries;
  for (fs::recursive_directory_iterator it(dir), end; it != end; ++it) {
    const std::string name = it->path().string().substr(dir.size());
    if (!with_summaries && contains(name, ".summary")) continue;
    if (fs::is_symlink(it->symlink_status()))
      entries[name] = "link to " + fs::read_symlink(it->path()).string();
    else
      entries[name] = fs::is_directory(it->status()) ? "directory" : read_file(it->path().string());
  }
  return entries;
}

std::string without_run_time(std::string text) {
  const std::string head = "\nTARVIK took ", tail = " seconds to complete. Have a nice day! \n";
  const std::size_t at = text.rfind(head), from = at + head.size();
  if (at == std::string::npos) return text;
  std::size_t end = from;
  while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
  if (end > from && text.compare(end, std::string::npos, tail) == 0) text.replace(from, end - from, "N");
  return text;
}

CommandResult run_command(const std::string& command, const std::string& workdir) {
  TempDir capture;
  std::string full = "{ " + command + "\n} >" + capture.file("out") + " 2>" + capture.file("err");
  if (!workdir.empty()) full = "cd '" + workdir + "' && " + full;
  const int raw = std::system(full.c_str());
  CommandResult r;
  r.status = (raw != -1 && WIFEXITED(raw)) ? WEXITSTATUS(raw) : -1;
  r.signal = (raw != -1 && WIFSIGNALED(raw)) ? WTERMSIG(raw) : 0;
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
std::string example_panel() {
  return "-h " + example_file("chr20.hap.gz") + " -l " + example_file("chr20.legend.gz") + " -m " +
         example_file("chr20.map.gz") + " ";
}

}  // namespace testing_support
