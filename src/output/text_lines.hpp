#pragma once
// The text lines of the haplotype and genotype files, formatted from
// SNP-major tiles: one line per SNP, one column per haplotype or individual.
#include <map>
#include <string>

#include "data/data.hpp"
#include "io/text_buffer.hpp"
#include "store/haplotype_source.hpp"

using SnpIterator = std::map<int, snp>::const_iterator;

// "0 1 1 0 \n": the alleles of haplotypes [hap0, hap1) at tile row `row`,
// each followed by a blank.
void append_haplotype_line(const Tile& tile, std::size_t row, std::size_t hap0, std::size_t hap1,
                           TextBuffer& out);

// "snp_<index> rsid position allele0 allele1" and, per individual of
// haplotypes [hap0, hap1) (pairs), the probabilities of 0, 1 and 2 copies of
// allele1 at tile row `row`: " 1 0 0", " 0 1 0" or " 0 0 1".
void append_genotype_line(const Tile& tile, std::size_t row, std::size_t hap0, std::size_t hap1,
                          int index, const SnpIterator& snp_it, TextBuffer& out);

// The same lines from SNP row `row` of a bit tile, eight haplotypes (four
// individuals) per table copy.
void append_haplotype_line(const BitTile& tile, std::size_t row, std::size_t hap0, std::size_t hap1,
                           TextBuffer& out);
void append_genotype_line(const BitTile& tile, std::size_t row, std::size_t hap0, std::size_t hap1,
                          int index, const SnpIterator& snp_it, TextBuffer& out);

// "rsid position allele0 allele1\n".
void append_legend_line(const SnpIterator& snp_it, TextBuffer& out);

// Decimal digits of `value`.
void append_int(TextBuffer& out, long value);
