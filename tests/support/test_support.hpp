#pragma once
// Helpers shared by the test programs: scratch directories, whole files, running the binary.
#include <gtest/gtest.h>
#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

class TarvikParameters;

namespace testing_support {

// A fresh directory under /tmp, removed with its content on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return dir; }
  std::string file(const std::string& name) const { return dir + "/" + name; }

 private:
  std::string dir;
};

std::string read_file(const std::string& name);
void write_file(const std::string& name, const std::string& content);
bool file_exists(const std::string& name);
std::string gzip(const std::string& text);            // one gzip member of the text
std::string read_gzip_file(const std::string& name);  // decompressed through zlib
// Writes `to` and `to`.csi with htslib's own BCF writer on one thread, each record built afresh from the ID,
// alleles and genotypes of `from`'s: the reference for every byte of a BCF file and its index. Throws
// std::runtime_error when a step fails.
void rewrite_bcf_with_htslib(const std::string& from, const std::string& to);
std::string read_text(const std::string& name);       // decompressed when the name ends in ".gz"
bool contains(const std::string& text, const std::string& part);
// What the driver would report of the system's error that `f` throws ("help" for the help screen); "no error"
// when it returns.
std::string error_of(const std::function<void()>& f);

// Every entry under `dir` (hidden ones included) with its content, or its link target, so that a comparison
// sees any file written, left or removed; summary files may be left out.
std::map<std::string, std::string> snapshot(const std::string& dir, bool with_summaries = true);
// The console or summary text with the run time, a whole number of seconds, replaced by N.
std::string without_run_time(std::string text);

struct CommandResult {
  int status = -1;  // exit status, or -1 if the command did not exit normally
  int signal = 0;   // the signal that ended it, if one did
  std::string output, error;
};
// A shell command started in `dir` (if not empty) with its standard streams captured and SIGPIPE at its
// default; `in_child` runs in the child just before exec (resource limits, other streams).
class Child {
 public:
  Child(const std::string& command, const std::string& dir, const std::function<void()>& in_child = {});
  CommandResult wait();
  pid_t pid;

 private:
  TempDir capture;
};
CommandResult run_command(const std::string& command, const std::string& workdir = "");
CommandResult run_tarvik(const std::string& args, const std::string& workdir = "");

std::string example_file(const std::string& name);  // of the bundled panel, e.g. "chr20.hap.gz"
std::string example_panel();                        // "-h <hap> -l <legend> -m <map> " of it
std::string source_dir();
std::string tarvik_binary();

// The whitespace-separated fields of each line of `text`.
using Table = std::vector<std::vector<std::string>>;
Table table_of(const std::string& text);

// Parses a command line (words separated by blanks, the program's name
// first) as the binary would.
void parse(TarvikParameters& params, const std::string& line);

}  // namespace testing_support
