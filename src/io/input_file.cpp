#include "io/input_file.hpp"

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "core/errors.hpp"
#include "core/ordered.hpp"

namespace {

// Large blocks keep the number of system calls and inflate calls small; the
// panel files are tens of megabytes once decompressed.
constexpr std::size_t block_size = 1 << 20;

// No line of a panel, map or tag file comes near this (it would hold over a
// hundred million allele codes); a longer one is binary data or an endless
// device, which would otherwise be gathered until memory runs out.
constexpr std::size_t max_line_bytes = std::size_t(1) << 28;

// Blocks of text decompressed ahead of the reader.
constexpr std::size_t blocks_ahead = 3;

struct TextBlock {
  std::vector<char> text;
  std::size_t size = 0;
};

}  // namespace

struct InputFile::Impl {
  std::string name;
  int fd = -1;
  int open_errno = 0;
  bool gzip = false;

  // Bytes as they come from the file (compressed in gzip mode).
  std::vector<char> raw;
  std::size_t raw_filled = 0;  // bytes of `raw` holding data (plain mode)
  bool raw_at_end = false;     // the file has no more bytes

  z_stream zs{};
  bool zs_ready = false;
  bool member_done = false;  // the last inflate call finished a gzip member

  // The unread part of the current block of text.
  const char* pos = nullptr;
  const char* end = nullptr;
  bool finished = false;  // no text left at all
  bool at_eof = false;    // as a stream's eofbit after the last getline
  long lines_read = 0;     // lines returned so far

  // In gzip mode the text comes in blocks from a pipeline, which may
  // decompress them ahead on a thread of the run's budget; whoever makes a
  // block alone touches the file, `raw` and the stream meanwhile.
  std::unique_ptr<Ordered<TextBlock>> blocks;
  std::size_t next_block = 0;  // the block the reader takes next

  ~Impl() {
    blocks.reset();  // joins the thread before what it uses goes
    if (zs_ready) inflateEnd(&zs);
    if (fd >= 0) ::close(fd);
  }

  FileError error(const std::string& detail) const { return FileError::reading(name, detail); }

  // Reads up to `size` bytes into `buffer`; 0 at the end of the file.
  std::size_t read_raw(char* buffer, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
      ssize_t n = ::read(fd, buffer + got, size - got);
      if (n < 0) {
        if (errno == EINTR) continue;
        throw error(std::string("read failed (") + std::strerror(errno) + ").");
      }
      if (n == 0) {
        raw_at_end = true;
        break;
      }
      got += static_cast<std::size_t>(n);
    }
    return got;
  }

  // Makes the next block of text available in [pos, end); false when the
  // data is exhausted.
  bool refill() {
    if (finished) return false;
    if (gzip ? take_block() : read_plain_block()) return true;
    finished = true;
    return false;
  }

  bool read_plain_block() {
    // The first block was read when the file was opened, to look for the
    // gzip magic bytes.
    if (raw_filled == 0 && !raw_at_end) raw_filled = read_raw(raw.data(), raw.size());
    if (raw_filled == 0) return false;
    pos = raw.data();
    end = pos + raw_filled;
    raw_filled = 0;
    return true;
  }

  // The next block of text; the one before it is read to its end by now.
  bool take_block() {
    if (next_block > 0) blocks->release(next_block - 1);
    const TextBlock* block = blocks->take(next_block);
    if (block == nullptr) return false;
    ++next_block;
    pos = block->text.data();
    end = pos + block->size;
    return true;
  }

  // Decompresses up to `size` bytes of text into `out`; 0 at the end.
  std::size_t inflate_into(char* out, std::size_t size) {
    const uInt capacity = static_cast<uInt>(size);
    zs.next_out = reinterpret_cast<Bytef*>(out);
    zs.avail_out = capacity;
    while (zs.avail_out == capacity) {
      if (zs.avail_in == 0) {
        std::size_t n = raw_at_end ? 0 : read_raw(raw.data(), raw.size());
        if (n == 0) {
          // A clean end needs the last member to be complete; anything else
          // is a cut-off file, which must not pass as a shorter panel.
          if (member_done) break;
          throw error("truncated or corrupt gzip data.");
        }
        zs.next_in = reinterpret_cast<Bytef*>(raw.data());
        zs.avail_in = static_cast<uInt>(n);
      }
      if (member_done) {
        // Further bytes after a finished member: the next member of a
        // concatenated gzip file.
        if (inflateReset(&zs) != Z_OK) throw error("truncated or corrupt gzip data.");
        member_done = false;
      }
      int status = inflate(&zs, Z_NO_FLUSH);
      if (status == Z_STREAM_END) {
        member_done = true;
      } else if (status == Z_BUF_ERROR) {
        // No progress possible without more input; only valid when the
        // input is used up, which the next iteration handles.
        if (zs.avail_in != 0) throw error("truncated or corrupt gzip data.");
      } else if (status != Z_OK) {
        throw error("truncated or corrupt gzip data.");
      }
    }
    return capacity - zs.avail_out;
  }

  void start_blocks(ThreadBudget* budget) {
    ThreadBudget::Lease lease = budget != nullptr ? budget->take(1) : ThreadBudget::Lease();
    const std::size_t ring = lease.count() > 0 ? blocks_ahead : 1;
    blocks = std::make_unique<Ordered<TextBlock>>(
        std::move(lease), ring,
        [this](std::size_t, TextBlock& block, int) {
          block.text.resize(block_size);
          block.size = inflate_into(block.text.data(), block.text.size());
          return block.size > 0;
        },
        Ordered<TextBlock>::Order::one_at_a_time);
  }
};

InputFile::InputFile(const std::string& name, ThreadBudget* budget) : impl(new Impl) {
  impl->name = name;
  int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    impl->open_errno = errno;
    return;
  }
  impl->fd = fd;
  struct stat info;
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    impl->fd = -1;
    return;
  }
  // Small files (tag lists, hand-made panels) need no megabyte block; one
  // byte more than the size lets the first read see the end of the file.
  std::size_t raw_size = block_size;
  if (S_ISREG(info.st_mode) && static_cast<std::size_t>(info.st_size) < block_size)
    raw_size = static_cast<std::size_t>(info.st_size) + 1;
  impl->raw.resize(raw_size);
  // A file that opens but cannot be read is reported like one that does not
  // open: the first read happens here, to sniff the gzip magic bytes.
  try {
    impl->raw_filled = impl->read_raw(impl->raw.data(), impl->raw.size());
  } catch (const FileError&) {
    impl->open_errno = errno;
    ::close(fd);
    impl->fd = -1;
    return;
  }
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(impl->raw.data());
  if (impl->raw_filled >= 2 && bytes[0] == 0x1f && bytes[1] == 0x8b) {
    impl->gzip = true;
    // 15 + 32: full window, gzip or zlib header detected automatically.
    if (inflateInit2(&impl->zs, 15 + 32) != Z_OK) {
      ::close(fd);
      impl->fd = -1;
      return;
    }
    impl->zs_ready = true;
    impl->zs.next_in = reinterpret_cast<Bytef*>(impl->raw.data());
    impl->zs.avail_in = static_cast<uInt>(impl->raw_filled);
    impl->raw_filled = 0;
    impl->start_blocks(budget);
  }
}

InputFile::~InputFile() = default;

bool InputFile::is_open() const { return impl->fd >= 0; }

int InputFile::open_error() const { return impl->open_errno; }

bool InputFile::getline(std::string& line) {
  Impl& f = *impl;
  line.clear();
  if (f.fd < 0) {
    f.at_eof = true;
    return false;
  }
  bool extracted = false;
  for (;;) {
    if (f.pos == f.end && !f.refill()) {
      f.at_eof = true;
      break;
    }
    const char* newline =
        static_cast<const char*>(std::memchr(f.pos, '\n', static_cast<std::size_t>(f.end - f.pos)));
    if (newline) {
      line.append(f.pos, newline);
      f.pos = newline + 1;
      extracted = true;
      f.at_eof = false;
      break;
    }
    line.append(f.pos, f.end);
    f.pos = f.end;
    extracted = true;
    if (line.size() > max_line_bytes)
      throw f.error("line " + std::to_string(f.lines_read + 1) + " is longer than " +
                    std::to_string(max_line_bytes) + " bytes (not a text file?).");
  }
  // Files written on Windows end their lines with a carriage return too.
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (extracted) ++f.lines_read;
  return extracted;
}

bool InputFile::eof() const { return impl->at_eof; }
