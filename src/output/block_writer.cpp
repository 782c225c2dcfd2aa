#include "output/block_writer.hpp"

#include <algorithm>

#include "params/errors.hpp"
#include "params/summary.hpp"
#include "params/system_errors.hpp"

BlockWriter::BlockWriter(const boost::filesystem::path& file_name, std::ostream& log)
    : file(file_name) {
  stream = open_output_file(file, log, std::ios::out);
}

void BlockWriter::grow(std::size_t bytes) {
  // new char[] leaves the bytes as they are: the text is written once, not
  // zero-filled first.
  const std::size_t size = std::max({bytes, 2 * capacity, flush_threshold + (flush_threshold >> 2)});
  std::unique_ptr<char[]> larger(new char[size]);
  if (used > 0) std::memcpy(larger.get(), buffer.get(), used);
  buffer = std::move(larger);
  capacity = size;
}

void BlockWriter::write_buffer() {
  if (used == 0) return;
  write_output_block(*stream, buffer.get(), used);
  used = 0;
  if (!*stream || output_file_failed(*stream))
    throw badfilename::writing(file.string(), incomplete_write_detail(output_file_error(*stream)));
}

void BlockWriter::close() {
  write_buffer();
  close_output_file(stream, file);
}
