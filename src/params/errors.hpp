#pragma once
// The small error classes of the program. They are plain classes, thrown and
// caught by value, and caught only in the driver, which reports them.
#include <string>

// Request for the help screen ("-help", or a command line without flags).
class HelpException {};

// Base of the command-line flag errors.
class FlagException {};

// A required flag is absent, or a value-taking flag lacks its values.
class MissingFlagException : public FlagException {
 public:
  static const std::string m_message;  // "ERROR!!! Must specify a value for flag: "
  std::string flag;
  std::string message;
  explicit MissingFlagException(const std::string& flag_name);
};

// Any file that cannot be opened, read or written. `message` is complete:
// "Error reading file " + name + ": " + detail.
class badfilename {
 public:
  std::string message;
  explicit badfilename(std::string complete_message) : message(std::move(complete_message)) {}
  // Builds "Error reading file <file>: <detail>".
  static badfilename reading(const std::string& file, const std::string& detail) {
    return badfilename("Error reading file " + file + ": " + detail);
  }
  // Builds "Error writing file <file>: <detail>", for output that was opened
  // but could not be written completely.
  static badfilename writing(const std::string& file, const std::string& detail) {
    return badfilename("Error writing file " + file + ": " + detail);
  }
};

// A user error that is neither a flag nor a file problem (bad disease allele,
// bad flag value, an undefined case distribution).
class GenericErrorException {
 public:
  static const std::string m_prefix;  // "Error encountered, program terminated: "
  std::string prefix;
  std::string detail;
  explicit GenericErrorException(std::string detail_text)
      : prefix(m_prefix), detail(std::move(detail_text)) {}
};

// An output name that must not be used: an -o value that names no file, or an
// output file that is one of the inputs. The run stops before it writes or
// removes anything, the summary file included.
class OutputNameException : public GenericErrorException {
 public:
  using GenericErrorException::GenericErrorException;
};

// The run stops after its reason has been written to the summary file: the
// driver ends it with status 1 and writes nothing more, not even the run time.
class RunTerminated {};
