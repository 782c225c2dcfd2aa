#!/bin/sh
# Writes a haplotype/legend panel as a phased VCF on standard output:
#
#   tests/hap_legend_to_vcf.sh <haplotype file> <legend file> <chromosome> >panel.vcf
#
# Either file may be gzip-compressed. Haplotypes 2j and 2j + 1 become the
# genotype "a|b" of sample s<j>; the legend gives ID, POS, REF (allele0) and
# ALT (allele1) in its order, so a sorted legend gives a VCF that bcftools
# can compress and index.
set -eu
haps=$1 legend=$2 chromosome=$3
gzip -cdf "$legend" | awk -v chr="$chromosome" -v haps="gzip -cdf '$haps'" '
  NR == 1 { next }
  {
    if ((haps | getline line) <= 0) exit 1
    n = split(line, code, " ")
    if (NR == 2) {
      printf "##fileformat=VCFv4.2\n##contig=<ID=%s>\n", chr
      printf "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Phased genotype\">\n"
      printf "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT"
      for (j = 0; 2 * j < n; j++) printf "\ts%d", j
      printf "\n"
    }
    printf "%s\t%s\t%s\t%s\t%s\t.\t.\t.\tGT", chr, $2, $1, $3, $4
    for (i = 1; i < n; i += 2) printf "\t%s|%s", code[i], code[i + 1]
    printf "\n"
  }'
