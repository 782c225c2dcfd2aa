#include "output/block_writer.hpp"

#include "params/errors.hpp"
#include "params/summary.hpp"
#include "params/system_errors.hpp"

BlockWriter::BlockWriter(const boost::filesystem::path& file_name, std::ostream& log,
                         std::string& text_buffer)
    : file(file_name), buffer(text_buffer) {
  buffer.clear();
  stream = open_output_file(file, log, std::ios::out);
}

void BlockWriter::write_buffer() {
  if (buffer.empty()) return;
  write_output_block(*stream, buffer.data(), buffer.size());
  buffer.clear();
  if (!*stream || output_file_failed(*stream))
    throw badfilename::writing(file.string(), incomplete_write_detail(output_file_error(*stream)));
}

void BlockWriter::close() {
  write_buffer();
  close_output_file(stream, file);
}
