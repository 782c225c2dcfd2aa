#pragma once
// Helpers shared by the test programs: scratch directories, whole files, running the binary.
#include <string>

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
std::string read_gzip_file(const std::string& name);  // decompressed through zlib

struct CommandResult {
  int status = -1;  // exit status, or -1 if the command did not exit normally
  std::string output, error;
};
// Runs a shell command in `workdir` (if not empty), capturing standard output and error.
CommandResult run_command(const std::string& command, const std::string& workdir = "");
CommandResult run_tarvik(const std::string& args, const std::string& workdir = "");

std::string example_file(const std::string& name);  // of the bundled panel, e.g. "chr20.hap.gz"
std::string source_dir();
std::string tarvik_binary();

}  // namespace testing_support
