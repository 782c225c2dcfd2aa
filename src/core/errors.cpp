#include "core/errors.hpp"

#include <new>

const char* const RunError::prefix = "Error encountered, program terminated: ";

FlagError::FlagError(const std::string& flag_name)
    : Error("ERROR!!! Must specify a value for flag: " + flag_name), flag(flag_name) {}

std::string error_message(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const Error& error) {
    return error.what();
  } catch (const HelpRequested&) {
    return "help";
  } catch (const VersionRequested&) {
    return "version";
  } catch (const std::bad_alloc&) {
    return std::string(RunError::prefix) + "out of memory.";
  } catch (const std::exception& other) {
    return std::string(RunError::prefix) + other.what();
  } catch (...) {
    return std::string(RunError::prefix) + "unexpected internal error.";
  }
}
