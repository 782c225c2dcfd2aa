#include "params/summary.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

#include <boost/iostreams/filter/gzip.hpp>
#include <boost/iostreams/filtering_stream.hpp>

#include "params/output_set.hpp"
#include "params/progress.hpp"
#include "params/system_errors.hpp"

namespace io = boost::iostreams;

namespace {

// The file at the end of every output chain. It never throws: a failed write
// or close is remembered in `failed`, which close_output_file checks, so that
// a failure met while the chain flushes or closes itself is never lost.
struct SinkState {
  int fd = -1;
  bool failed = false;
  int error = 0;  // errno of the first failure, 0 when none was given
};

void fail(SinkState& state, int err) {
  if (!state.failed) state.error = err;
  state.failed = true;
}

// Writes all n bytes to the file, retrying interrupted and partial writes;
// a failure is remembered in `state` and ends the writing.
void write_all(SinkState& state, const char* data, std::size_t n) {
  std::size_t done = 0;
  while (done < n && !state.failed) {
    ssize_t w = ::write(state.fd, data + done, n - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) fail(state, w < 0 ? errno : 0);
    else done += static_cast<std::size_t>(w);
  }
}

class checked_file_sink {
 public:
  typedef char char_type;
  struct category : io::sink_tag, io::closable_tag {};

  explicit checked_file_sink(std::shared_ptr<SinkState> s) : state(std::move(s)) {}

  std::streamsize write(const char* data, std::streamsize n) {
    write_all(*state, data, static_cast<std::size_t>(n));
    return n;
  }

  void close() {
    if (state->fd < 0) return;
    if (::close(state->fd) != 0) fail(*state, errno);
    state->fd = -1;
  }

 private:
  std::shared_ptr<SinkState> state;
};

// The stream handed out by open_output_file: a filtering stream that knows
// whether its file was written without error.
class OutputFileStream : public io::filtering_ostream {
 public:
  std::shared_ptr<SinkState> state = std::make_shared<SinkState>();
  bool compressed = false;
  ~OutputFileStream() override {
    try {
      reset();
    } catch (...) {
    }
    if (state->fd >= 0) ::close(state->fd);
  }
};

io::gzip_params gzip_settings() {
  io::gzip_params settings(io::gzip::default_compression, io::gzip::deflated,
                           15,  // window bits
                           8,   // memory level
                           io::gzip::default_strategy);
  settings.file_name = "";
  settings.comment = "";
  settings.mtime = 0;
  return settings;
}

const std::streamsize file_buffer_size = 1 << 16;

// Opens `target` for the output file `file`. A temporary file of the set is
// always created afresh, never through a link left at its name.
std::unique_ptr<std::ostream> open_stream(const boost::filesystem::path& file, const std::string& target,
                                          bool temporary, std::ostream& log, std::ios_base::openmode mode) {
  auto stream = std::make_unique<OutputFileStream>();
  if (file.extension() == ".gz") {
    log << "writing output file " << file.string() << " (in gzip mode) " << std::endl;
    stream->push(io::gzip_compressor(gzip_settings(), 4096));
    stream->compressed = true;
  } else {
    log << "writing output file " << file.string() << std::endl;
  }
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | ((mode & std::ios_base::app) ? O_APPEND : O_TRUNC);
  if (temporary) {
    ::unlink(target.c_str());  // left by a killed process that had this pid
    flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  }
  int fd = ::open(target.c_str(), flags, 0666);
  if (fd < 0) throw badfilename::reading(file.string(), with_system_cause("can't open file", errno));
  stream->state->fd = fd;
  stream->push(checked_file_sink(stream->state), file_buffer_size);
  return stream;
}

}  // namespace

std::unique_ptr<std::ostream> open_output_file(boost::filesystem::path file, std::ostream& log,
                                               std::ios_base::openmode mode) {
  if (!output_set_open()) return open_stream(file, file.string(), false, log, mode);
  const std::string target = pending_output_name(file).string();
  return open_stream(file, target, true, log, mode);
}

std::unique_ptr<std::ostream> open_output_file(boost::filesystem::path file,
                                               std::ios_base::openmode mode) {
  std::ostringstream discarded;
  return open_output_file(file, discarded, mode);
}

int output_file_error(const std::ostream& stream) {
  const auto* out = dynamic_cast<const OutputFileStream*>(&stream);
  return out != nullptr ? out->state->error : 0;
}

bool output_file_failed(const std::ostream& stream) {
  if (!stream) return true;
  const auto* out = dynamic_cast<const OutputFileStream*>(&stream);
  return out != nullptr && out->state->failed;
}

void write_output_block(std::ostream& stream, const char* data, std::size_t size) {
  auto* out = dynamic_cast<OutputFileStream*>(&stream);
  if (out == nullptr || out->compressed || out->state->fd < 0) {
    stream.write(data, static_cast<std::streamsize>(size));
    return;
  }
  // A plain file takes the block in one system call, without a copy through
  // the stream's buffer; whatever that buffer still holds goes first.
  if (!stream.flush()) return;
  write_all(*out->state, data, size);
}

void close_output_file(std::unique_ptr<std::ostream>& stream, const boost::filesystem::path& file) {
  if (!stream) return;
  bool ok = static_cast<bool>(stream->flush());
  int error = 0;
  if (auto* out = dynamic_cast<OutputFileStream*>(stream.get())) {
    try {
      // Resetting the chain writes the gzip trailer and closes the file.
      out->reset();
    } catch (const std::exception&) {
      ok = false;
    }
    if (out->state->failed) ok = false;
    error = out->state->error;
  }
  stream.reset();
  if (!ok) throw badfilename::writing(file.string(), incomplete_write_detail(error));
  if (output_set_open()) pending_output_closed(file);
}

void update_summary_file(const Parameters& params, std::ostringstream& text,
                         std::ios_base::openmode mode) {
  boost::filesystem::path file(params.summary_file);
  std::ostringstream discarded;
  std::unique_ptr<std::ostream> out = open_stream(file, file.string(), false, discarded, mode);
  const std::string content = text.str();
  Progress::hide_active();  // the console text goes where the progress line would be
  std::cout << content << std::flush;
  *out << content;
  text.str("");
  close_output_file(out, file);
}
