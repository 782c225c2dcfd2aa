#include "io/block_writer.hpp"

#include "core/errors.hpp"
#include "io/output_file.hpp"
#include "core/system_errors.hpp"

BlockWriter::BlockWriter(const boost::filesystem::path& file_name, std::ostream& log, int gz_level)
    : file(file_name) {
  stream = open_output_file(file, log, std::ios::out, gz_level);
}

void BlockWriter::write_buffer() {
  if (empty()) return;
  write_output_block(*stream, data(), size());
  clear();
  if (!*stream || output_file_failed(*stream))
    throw FileError::writing(file.string(), incomplete_write_detail(output_file_error(*stream)));
}

void BlockWriter::close() {
  write_buffer();
  close_output_file(stream, file);
}
