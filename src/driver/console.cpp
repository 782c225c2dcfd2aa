#include "driver/console.hpp"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

StandardStreams prepare_standard_streams() {
  StandardStreams streams;
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (fd == 1) streams.output_was_closed = true;
    // The lowest free descriptor is this one, as the lower ones are open.
    const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
  return streams;
}

bool report_console_failure(const StandardStreams& streams, const std::string& report_file) {
  std::cout.flush();
  if (std::cout && !streams.output_was_closed) return false;
  std::cerr << "tarvik: "
            << (streams.output_was_closed ? "standard output was closed"
                                          : "standard output could not be written")
            << (report_file.empty() ? std::string(".") : "; the whole report is in " + report_file + ".")
            << std::endl;
  return true;
}
