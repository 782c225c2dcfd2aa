#include "output/trait_files.hpp"

#include <charconv>
#include <sstream>

#include "core/log.hpp"
#include "io/block_writer.hpp"
#include "output/names.hpp"
#include "output/text_lines.hpp"

const char* const causal_header =
    "chr\trsid\tpos\tallele0\tallele1\teffect_allele\tpanel_freq\tsample_freq\teffect\tvar_explained";

namespace {

// The shortest text that reads back as the same double.
void append_real(TextBuffer& out, double value) {
  char digits[32];
  const std::to_chars_result result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, static_cast<std::size_t>(result.ptr - digits));
}

void append_ids(TextBuffer& out, const TraitIdentities& ids, std::size_t i, char separator) {
  if (ids.individual.empty()) {
    append_family_ids(out, i, separator);
    return;
  }
  out.append(ids.family[i]);
  out.append(separator);
  out.append(ids.individual[i]);
}

struct TraitFile : BlockWriter {
  TraitFile(const boost::filesystem::path& file, RunLog& log, std::ostringstream announced = {})
      : BlockWriter(file, announced, 6) {
    log.report(announced);
  }
};

void append_causal_row(TextBuffer& out, const CausalSnp& s) {
  for (const std::string* text : {&s.chromosome, &s.rsid}) {
    out.append(*text);
    out.append('\t');
  }
  append_int(out, s.position);
  for (const std::string* text : {&s.allele0, &s.allele1, &s.allele1}) {
    out.append('\t');
    out.append(*text);
  }
  for (double value : {s.panel_frequency, s.sample_frequency, s.effect, s.variance}) {
    out.append('\t');
    append_real(out, value);
  }
  out.append('\n');
}

}  // namespace

void write_genetic_value_file(const boost::filesystem::path& file, const std::vector<double>& value,
                              const TraitIdentities& ids, RunLog& log) {
  TraitFile out(file, log);
  out.append("FID\tIID\tGV\n");
  for (std::size_t i = 0; i < value.size(); ++i) {
    append_ids(out, ids, i, '\t');
    out.append('\t');
    append_real(out, value[i]);
    out.append('\n');
    out.line_done();
  }
  out.close();
}

void write_causal_file(const boost::filesystem::path& file, const std::vector<CausalSnp>& snps, RunLog& log) {
  TraitFile out(file, log);
  out.append(causal_header);
  out.append('\n');
  for (const CausalSnp& s : snps) {
    append_causal_row(out, s);
    out.line_done();
  }
  out.close();
}

void write_causal_rows(const boost::filesystem::path& file, const std::vector<std::string>& rows, RunLog& log) {
  TraitFile out(file, log);
  out.append(causal_header);
  out.append('\n');
  for (const std::string& row : rows) {
    out.append(row);
    out.append('\n');
    out.line_done();
  }
  out.close();
}

void write_pheno_columns(const boost::filesystem::path& file, const std::vector<std::vector<double>>& columns,
                         bool binary, bool zero_one, const TraitIdentities& ids, RunLog& log) {
  TraitFile out(file, log);
  out.append("FID IID");
  for (std::size_t r = 0; r < columns.size(); ++r) {
    out.append(" PHENO");
    append_int(out, static_cast<long>(r + 1));
  }
  out.append('\n');
  const std::size_t individuals = columns.empty() ? 0 : columns[0].size();
  for (std::size_t i = 0; i < individuals; ++i) {
    append_ids(out, ids, i, ' ');
    for (const std::vector<double>& column : columns) {
      out.append(' ');
      if (!binary)
        append_real(out, column[i]);
      else
        out.append(static_cast<char>('0' + (column[i] > 0.0) + (zero_one ? 0 : 1)));
    }
    out.append('\n');
    out.line_done();
  }
  out.close();
}
