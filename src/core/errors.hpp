#pragma once
// The program's one error vocabulary. Every error a run reports is an Error
// whose what() is the run's message, complete; errors are thrown by value and
// caught only in the driver, which reports them (and in the tests, through
// error_message).
#include <exception>
#include <stdexcept>
#include <string>

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A required flag is absent, or a value-taking flag lacks its values:
// "ERROR!!! Must specify a value for flag: <flag>".
class FlagError : public Error {
 public:
  explicit FlagError(const std::string& flag_name);
  std::string flag;
};

// Any file that cannot be opened, read or written.
class FileError : public Error {
 public:
  using Error::Error;
  // "Error reading file <file>: <detail>".
  static FileError reading(const std::string& file, const std::string& detail) {
    return FileError("Error reading file " + file + ": " + detail);
  }
  // "Error writing file <file>: <detail>", for output that was opened but
  // could not be written completely.
  static FileError writing(const std::string& file, const std::string& detail) {
    return FileError("Error writing file " + file + ": " + detail);
  }
};

// Any other error of a run (a bad flag value, a model that cannot be
// simulated): "Error encountered, program terminated: <detail>".
class RunError : public Error {
 public:
  static const char* const prefix;
  explicit RunError(const std::string& detail) : Error(prefix + detail) {}
};

// An output name that must not be used: an -o value that names no file, or an
// output file that is one of the inputs. The run stops before it writes or
// removes anything, the summary file included.
class OutputNameError : public RunError {
 public:
  using RunError::RunError;
};

// The run stops after its reason has been written to the summary file: the
// driver ends it with status 1 and writes nothing more, not even the run time.
class RunTerminated : public Error {
 public:
  RunTerminated() : Error("") {}
};

// Not an error: the help screen was asked for ("-help", or no flags at all).
class HelpRequested {};
// Not an error: the version was asked for ("-version" or "--version").
class VersionRequested {};

// The run's message for the exception `e`: an Error's own text; "help" for
// HelpRequested, "version" for VersionRequested; any other exception is a failure the program did not
// foresee, worded "Error encountered, program terminated: <what>" ("out of
// memory." for a failed allocation).
std::string error_message(const std::exception_ptr& e);
