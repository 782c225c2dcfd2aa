#pragma once
// Small helpers shared by the test programs: scratch directories, whole-file
// reads and writes, running the tarvik binary.
#include <string>
#include <vector>

namespace testing_support {

// A fresh directory under /tmp, removed (with its content) on destruction.
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
// Decompresses a gzip file (through zlib) into a string.
std::string read_gzip_file(const std::string& name);

struct CommandResult {
  int status = -1;     // exit status, or -1 if the command did not exit normally
  std::string output;  // standard output
  std::string error;   // standard error
};
// Runs a shell command in `workdir` (if not empty) and captures its outputs.
CommandResult run_command(const std::string& command, const std::string& workdir = "");
// Runs the tarvik binary with the given argument string.
CommandResult run_tarvik(const std::string& args, const std::string& workdir = "");

// Paths of the bundled example panel.
std::string example_file(const std::string& name);  // e.g. "chr20.hap.gz"
std::string source_dir();
std::string tarvik_binary();

}  // namespace testing_support
