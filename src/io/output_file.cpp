#include "io/output_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <streambuf>

#include "core/errors.hpp"
#include "io/bgzf.hpp"
#include "io/output_set.hpp"
#include "core/system_errors.hpp"

namespace {

// The file behind every output stream. Nothing here throws: a failed write or
// close is remembered in `failed`, which close_output_file checks, so that a
// failure met while the stream flushes is never lost.
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
  int err = 0;
  if (!state.failed && !write_fully(state.fd, data, n, err)) fail(state, err);
}

// The buffer of an output stream. Plain bytes reach the file in large writes.
// In gzip mode the bytes are cut into BGZF blocks at fixed offsets of the
// file's text (every bgzf::block_input bytes), however the writes and flushes
// came, so that the compressed file depends on its text alone.
class OutputFileBuffer : public std::streambuf {
 public:
  OutputFileBuffer(int fd, int gz_level) : level(gz_level) {
    state.fd = fd;
    capacity = level > 0 ? bgzf::block_input : std::size_t(1) << 16;
    buffer.reset(new char[capacity]);
    if (level > 0) packed.reset(new char[bgzf::max_block]);
    setp(buffer.get(), buffer.get() + capacity);
  }

  // Text written without a copy through the buffer when plain.
  void write_text(const char* data, std::size_t size) {
    if (level > 0) {
      xsputn(data, static_cast<std::streamsize>(size));
      return;
    }
    drain();
    write_all(state, data, size);
  }
  // BGZF blocks made elsewhere, written as they are after what is buffered.
  void write_blocks(const char* data, std::size_t size) {
    drain();
    write_all(state, data, size);
  }
  // What is still buffered, and in gzip mode the end block.
  void finish() {
    drain();
    if (level > 0) write_all(state, reinterpret_cast<const char*>(bgzf::eof_block), bgzf::eof_size);
  }

  SinkState state;
  const int level;  // 0 for a plain file

 protected:
  int_type overflow(int_type c) override {
    drain();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
  }

  std::streamsize xsputn(const char* s, std::streamsize n) override {
    std::size_t done = 0, count = static_cast<std::size_t>(n);
    while (done < count) {
      if (pptr() == pbase() && count - done >= capacity) {
        emit(s + done, capacity);  // a whole block straight from the caller's bytes
        done += capacity;
        continue;
      }
      const std::size_t take = std::min<std::size_t>(static_cast<std::size_t>(epptr() - pptr()), count - done);
      std::memcpy(pptr(), s + done, take);
      pbump(static_cast<int>(take));
      done += take;
      if (pptr() == epptr()) drain();
    }
    return n;
  }

  // Only a plain file is written on a flush: a gzip block ends where the
  // text reaches the block size, or at the end of the file.
  int sync() override {
    if (level == 0) drain();
    return state.failed ? -1 : 0;
  }

 private:
  void drain() {
    const std::size_t pending = static_cast<std::size_t>(pptr() - pbase());
    if (pending > 0) emit(pbase(), pending);
    setp(buffer.get(), buffer.get() + capacity);
  }
  void emit(const char* data, std::size_t size) {
    if (level == 0) {
      write_all(state, data, size);
      return;
    }
    write_all(state, packed.get(), bgzf::compress_block(data, size, level, packed.get()));
  }

  std::unique_ptr<char[]> buffer, packed;
  std::size_t capacity;
};

// The stream handed out by open_output_file.
class OutputFileStream : public std::ostream {
 public:
  OutputFileStream(int fd, int gz_level) : std::ostream(nullptr), file(fd, gz_level) { rdbuf(&file); }
  ~OutputFileStream() override {
    if (file.state.fd >= 0) ::close(file.state.fd);
  }
  OutputFileBuffer file;
};

OutputFileStream* file_stream(std::ostream& stream) { return dynamic_cast<OutputFileStream*>(&stream); }

// Opens `target` for the output file `file`. A temporary file of the set is
// always created afresh, never through a link left at its name.
std::unique_ptr<std::ostream> open_stream(const boost::filesystem::path& file, const std::string& target,
                                          bool temporary, std::ostream& log, std::ios_base::openmode mode,
                                          int gz_level) {
  const bool compressed = file.extension() == ".gz";
  if (compressed) {
    log << "writing output file " << file.string() << " (in gzip mode) " << std::endl;
  } else {
    log << "writing output file " << file.string() << std::endl;
  }
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | ((mode & std::ios_base::app) ? O_APPEND : O_TRUNC);
  if (temporary) {
    ::unlink(target.c_str());  // left by a killed process that had this pid
    flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  }
  int fd = ::open(target.c_str(), flags, 0666);
  if (fd < 0) throw FileError::reading(file.string(), with_system_cause("can't open file", errno));
  return std::make_unique<OutputFileStream>(fd, compressed ? gz_level : 0);
}

}  // namespace

std::unique_ptr<std::ostream> open_output_file(boost::filesystem::path file, std::ostream& log,
                                               std::ios_base::openmode mode, int gz_level) {
  if (!output_set_open()) return open_stream(file, file.string(), false, log, mode, gz_level);
  const std::string target = pending_output_name(file).string();
  return open_stream(file, target, true, log, mode, gz_level);
}

int output_file_error(const std::ostream& stream) {
  const auto* out = dynamic_cast<const OutputFileStream*>(&stream);
  return out != nullptr ? out->file.state.error : 0;
}

std::unique_ptr<std::ostream> open_output_file(boost::filesystem::path file,
                                               std::ios_base::openmode mode, int gz_level) {
  std::ostringstream discarded;
  return open_output_file(file, discarded, mode, gz_level);
}

bool output_file_failed(const std::ostream& stream) {
  if (!stream) return true;
  const auto* out = dynamic_cast<const OutputFileStream*>(&stream);
  return out != nullptr && out->file.state.failed;
}

int output_file_gz_level(const std::ostream& stream) {
  const auto* out = dynamic_cast<const OutputFileStream*>(&stream);
  return out != nullptr ? out->file.level : 0;
}

void write_output_block(std::ostream& stream, const char* data, std::size_t size) {
  if (OutputFileStream* out = file_stream(stream)) out->file.write_text(data, size);
  else stream.write(data, static_cast<std::streamsize>(size));
}

void write_compressed_output(std::ostream& stream, const char* data, std::size_t size) {
  if (OutputFileStream* out = file_stream(stream)) out->file.write_blocks(data, size);
  else stream.write(data, static_cast<std::streamsize>(size));
}

void close_output_file(std::unique_ptr<std::ostream>& stream, const boost::filesystem::path& file) {
  if (!stream) return;
  bool ok = static_cast<bool>(stream->flush());
  int error = 0;
  if (OutputFileStream* out = file_stream(*stream)) {
    out->file.finish();
    if (::close(out->file.state.fd) != 0) fail(out->file.state, errno);
    out->file.state.fd = -1;
    if (out->file.state.failed) ok = false;
    error = out->file.state.error;
  }
  stream.reset();
  if (!ok) throw FileError::writing(file.string(), incomplete_write_detail(error));
  if (output_set_open()) pending_output_closed(file);
}

