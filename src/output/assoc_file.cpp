#include "output/assoc_file.hpp"

#include <charconv>
#include <cmath>
#include <sstream>

#include "io/block_writer.hpp"
#include "output/text_lines.hpp"

void write_assoc_file(const boost::filesystem::path& file, const std::vector<AssocRow>& rows) {
  std::ostringstream unannounced;
  BlockWriter out(file, unannounced, 6);
  out.append("test\tpos\trsid\tallele0\tallele1\tbeta\tse\tp\n");
  for (const AssocRow& row : rows) {
    for (const std::string* text : {&row.test}) out.append(*text);
    out.append('\t');
    append_int(out, row.position);
    for (const std::string* text : {&row.rsid, &row.allele0, &row.allele1}) {
      out.append('\t');
      out.append(*text);
    }
    for (double value : {row.beta, row.se, row.p}) {
      out.append('\t');
      if (std::isnan(value)) {
        out.append("nan");
        continue;
      }
      char digits[32];
      const std::to_chars_result result = std::to_chars(digits, digits + sizeof digits, value);
      out.append(digits, static_cast<std::size_t>(result.ptr - digits));
    }
    out.append('\n');
    out.line_done();
  }
  out.close();
}
