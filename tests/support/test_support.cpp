#include "test_support.hpp"

#include "params/tarvik_parameters.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <boost/filesystem.hpp>
#include <htslib/vcf.h>

#include "core/errors.hpp"
#include "io/hts.hpp"

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

std::string error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (...) {
    return error_message(std::current_exception());
  }
  return "no error";
}

std::string gzip(const std::string& text) {
  TempDir dir;
  gzFile f = gzopen(dir.file("z").c_str(), "wb");
  gzwrite(f, text.data(), static_cast<unsigned>(text.size()));
  gzclose(f);
  return read_file(dir.file("z"));
}

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
  if (end > from && text.compare(end, tail.size(), tail) == 0) text.replace(from, end - from, "N");
  return text;
}

Child::Child(const std::string& command, const std::string& dir, const std::function<void()>& in_child) {
  const std::string out = capture.file("out"), err = capture.file("err");
  pid = fork();
  if (pid != 0) return;
  signal(SIGPIPE, SIG_DFL);
  if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(120);
  dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
  dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
  for (int fd = 3; fd < 1024; ++fd) close(fd);  // a descriptor limit counts only the command's own
  if (in_child) in_child();
  execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
  _exit(127);
}

CommandResult Child::wait() {
  int raw = 0;
  CommandResult r;
  if (pid < 0 || waitpid(pid, &raw, 0) != pid) return r;
  if (WIFEXITED(raw)) r.status = WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) r.signal = WTERMSIG(raw);
  r.output = read_file(capture.file("out"));
  r.error = read_file(capture.file("err"));
  return r;
}

CommandResult run_command(const std::string& command, const std::string& workdir) {
  return Child(command, workdir).wait();
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

void parse(TarvikParameters& params, const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> tokens;
  for (std::string t; in >> t;) tokens.push_back(t);
  std::vector<char*> argv;
  for (std::string& t : tokens) argv.push_back(&t[0]);
  params.process_parameters(static_cast<int>(argv.size()), argv.data());
}

Table table_of(const std::string& text) {
  Table rows;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    rows.emplace_back();
    for (std::string f; fields >> f;) rows.back().push_back(f);
  }
  return rows;
}

void rewrite_bcf_with_htslib(const std::string& from, const std::string& to) {
  const auto check = [&](bool ok, const char* step) {
    if (!ok) throw std::runtime_error("rewriting " + from + " through htslib: " + step);
  };
  Hts<htsFile> in(hts_open(from.c_str(), "r")), out(hts_open(to.c_str(), "wb1"));
  check(in && out, "open");
  Hts<bcf_hdr_t> header(bcf_hdr_read(in.get()));
  check(header && bcf_hdr_write(out.get(), header.get()) == 0, "header");
  const std::string index = to + ".csi";  // htslib keeps the pointer
  check(bcf_idx_init(out.get(), header.get(), 14, index.c_str()) == 0, "index");
  Hts<bcf1_t> read(bcf_init()), made(bcf_init());
  int32_t* gt = nullptr;
  int size = 0;
  while (bcf_read(in.get(), header.get(), read.get()) == 0) {
    bcf_unpack(read.get(), BCF_UN_ALL);
    const int n = bcf_get_genotypes(header.get(), read.get(), &gt, &size);
    bcf1_t* r = made.get();
    bcf_clear(r);
    r->rid = read->rid;
    r->pos = read->pos;
    bcf_float_set_missing(r->qual);
    const char* alleles[2] = {read->d.allele[0], read->d.allele[1]};
    const bool ok = n > 0 && bcf_update_id(header.get(), r, read->d.id) == 0 &&
                    bcf_update_alleles(header.get(), r, alleles, 2) == 0 &&
                    bcf_update_genotypes(header.get(), r, gt, n) == 0 && bcf_write(out.get(), header.get(), r) == 0;
    if (!ok) std::free(gt);
    check(ok, "record");
  }
  std::free(gt);
  check(bcf_idx_save(out.get()) == 0, "saving the index");
  check(hts_close(out.release()) == 0, "close");
}

}  // namespace testing_support
