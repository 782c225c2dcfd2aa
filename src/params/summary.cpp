#include "params/summary.hpp"

#include <iostream>

#include <boost/iostreams/device/file.hpp>
#include <boost/iostreams/filter/gzip.hpp>
#include <boost/iostreams/filtering_stream.hpp>

namespace io = boost::iostreams;

namespace {

// Every output file is written through one filtering stream: a gzip
// compressor in front of the file sink for ".gz" names, the sink alone
// otherwise. The sink reports write and close failures as exceptions, which
// the stream turns into its bad state; close_output_file checks both.
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

}  // namespace

std::unique_ptr<std::ostream> open_output_file(boost::filesystem::path file, std::ostream& log,
                                               std::ios_base::openmode mode) {
  auto stream = std::make_unique<io::filtering_ostream>();
  if (file.extension() == ".gz") {
    log << "writing output file " << file.string() << " (in gzip mode) " << std::endl;
    stream->push(io::gzip_compressor(gzip_settings(), 4096));
  } else {
    log << "writing output file " << file.string() << std::endl;
  }
  mode = (mode & ~std::ios_base::in) | std::ios_base::out | std::ios_base::binary;
  io::file_sink sink(file.string(), mode);
  if (!sink.is_open()) throw badfilename::reading(file.string(), "can't open file.");
  stream->push(sink);
  return stream;
}

std::unique_ptr<std::ostream> open_output_file(boost::filesystem::path file,
                                               std::ios_base::openmode mode) {
  std::ostringstream discarded;
  return open_output_file(file, discarded, mode);
}

void close_output_file(std::unique_ptr<std::ostream>& stream, const boost::filesystem::path& file) {
  if (!stream) return;
  bool ok = static_cast<bool>(stream->flush());
  auto* chain = dynamic_cast<io::filtering_ostream*>(stream.get());
  try {
    // Popping the whole chain writes the gzip trailer and closes the file,
    // so that their failures are seen here rather than lost in a destructor.
    if (chain != nullptr) {
      chain->set_auto_close(true);
      chain->reset();
    }
  } catch (const std::exception&) {
    ok = false;
  }
  if (chain != nullptr && !chain->good()) ok = false;
  stream.reset();
  if (!ok) throw badfilename::writing(file.string(), "the file could not be written completely (disk full or I/O error).");
}

void update_summary_file(const Parameters& params, std::ostringstream& text,
                         std::ios_base::openmode mode) {
  boost::filesystem::path file(params.summary_file);
  std::unique_ptr<std::ostream> out = open_output_file(file, mode);
  const std::string content = text.str();
  std::cout << content << std::flush;
  *out << content;
  text.str("");
  close_output_file(out, file);
}
