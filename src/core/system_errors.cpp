#include "core/system_errors.hpp"

#include <cerrno>

std::string system_error_cause(int err) {
  switch (err) {
    case EMFILE:
    case ENFILE:
      return "too many open files";
    case ENOMEM:
      return "out of memory";
    case EFBIG:
      return "file too large";
    case ENOSPC:
      return "no space left on device";
    case EDQUOT:
      return "disk quota exceeded";
    case EIO:
      return "I/O error";
    case EPIPE:
      return "broken pipe";
    case EROFS:
      return "read-only file system";
    default:
      return "";
  }
}

std::string with_system_cause(const std::string& what, int err) {
  const std::string cause = system_error_cause(err);
  return cause.empty() ? what + "." : what + " (" + cause + ").";
}

std::string incomplete_write_detail(int err) {
  const std::string cause = system_error_cause(err);
  return "the file could not be written completely (" +
         (cause.empty() ? std::string("disk full or I/O error") : cause) + ").";
}
