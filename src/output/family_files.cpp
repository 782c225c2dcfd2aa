#include "output/family_files.hpp"

#include <sstream>
#include <vector>

#include "io/block_writer.hpp"
#include "output/names.hpp"
#include "output/text_lines.hpp"

void write_transmission_file(const MosaicStore& store, const Pedigree& pedigree, const std::map<int, snp>& snps,
                             const RunConfig& params, RunLog& log) {
  std::ostringstream announced;
  BlockWriter out(gwas_file_name(params, ".transmission.tsv"), announced, params.gz_level);
  log.report(announced);
  std::vector<int> position;
  position.reserve(snps.size());
  for (const auto& entry : snps) position.push_back(entry.first);
  const std::vector<int>& order = pedigree.simulation_order;
  std::vector<std::size_t> slot(order.size());
  for (std::size_t k = 0; k < order.size(); ++k) slot[static_cast<std::size_t>(order[k])] = k;
  const long n = static_cast<long>(store.panel_haplotypes());

  out.append("FID\tIID\thaplotype\tfirst_position\tlast_position\tparent\tparent_haplotype\n");
  for (std::size_t i = 0; i < pedigree.members.size(); ++i) {
    const PedigreeMember& child = pedigree.members[i];
    if (child.founder()) continue;
    for (std::size_t side = 0; side < 2; ++side) {
      std::size_t count = 0;
      const Segment* segments = store.segments_of(2 * slot[i] + side, count);
      for (std::size_t s = 0; s < count; ++s) {
        const long source = segments[s].source - n;
        const int last = s + 1 < count ? segments[s + 1].first_snp - 1 : static_cast<int>(position.size()) - 1;
        out.append(child.family + "\t" + child.id + "\t");
        append_int(out, static_cast<long>(side));
        out.append('\t');
        append_int(out, position[static_cast<std::size_t>(segments[s].first_snp)]);
        out.append('\t');
        append_int(out, position[static_cast<std::size_t>(last)]);
        out.append('\t');
        out.append(pedigree.members[static_cast<std::size_t>(order[static_cast<std::size_t>(source / 2)])].id);
        out.append('\t');
        append_int(out, source % 2);
        out.append('\n');
        out.line_done();
      }
    }
  }
  out.close();
}
