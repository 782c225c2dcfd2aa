// The GWAS-ready files read back by independent tools, and a VCF panel gives the same run, byte for byte, as
// its haplotype/legend form. The tools are dependencies of the project: a missing one fails the tests.
#include <algorithm>
#include <sstream>

#include <htslib/bgzf.h>

#include "test_support.hpp"

using namespace testing_support;

namespace {

const std::string kMap = " -m " + example_file("chr20.map.gz");
const std::string kRun = " -int 1900000 2000000 -dl 1945626 1 3 9 -nrs -chr 20 ";
const std::string kAll = kRun + "-output_plink -output_vcf -output_bcf ";

// The example's lines of [1880000, 2020000]: all.{hap,legend} with every variant, snp.{hap,legend} its SNPs,
// and all.vcf converted from all.*, also as BGZF with a .tbi index and as BCF with a .csi index; two.vcf(.gz)
// adds its records on contig 21 with unphased genotypes. Made once.
const std::string& panel() {
  static TempDir dir;
  static const int status = run_command(
      "gzip -cd " + example_file("chr20.legend.gz") + " | awk -v h='gzip -cd " + example_file("chr20.hap.gz") +
          "' 'NR == 1 { print > \"all.legend\"; print > \"snp.legend\"; next } { h | getline line }"
          " $2 >= 1880000 && $2 <= 2020000 { print > \"all.legend\"; print line > \"all.hap\";"
          " if (length($3) == 1 && length($4) == 1) { print > \"snp.legend\"; print line > \"snp.hap\" } }' &&"
          " sh " + source_dir() + "/tests/hap_legend_to_vcf.sh all.hap all.legend 20 >all.vcf &&"
          " bcftools view -Oz -o all.vcf.gz all.vcf && bcftools index -t all.vcf.gz &&"
          " bcftools view -Ob -o all.bcf all.vcf && bcftools index all.bcf &&"
          " { grep '^##' all.vcf; echo '##contig=<ID=21>'; grep -v '^##' all.vcf;"
          " grep -v '^#' all.vcf | sed 's/^20/21/; s/|/\\//g'; } >two.vcf &&"
          " bcftools view -Oz -o two.vcf.gz two.vcf && bcftools index -t two.vcf.gz",
      dir.path()).status;
  static const std::string path = status == 0 ? dir.path() + "/" : "";
  return path;
}

std::string hap_legend() { return " -h " + panel() + "snp.hap -l " + panel() + "snp.legend"; }

// Every file of run directory `a` but the summary has a twin in `b`.
void expect_same_files(const std::string& a, const std::string& b) {
  const auto files = snapshot(a, false);
  EXPECT_EQ(files.size(), 15u);
  EXPECT_TRUE(files == snapshot(b, false));
}

// Per SNP, the allele-1 copies of every individual (controls, then cases) as digits.
std::vector<std::string> gen_dosages(const std::string& stem, const std::string& gz) {
  std::vector<std::string> dosages;
  for (const char* group : {".controls.gen", ".cases.gen"}) {
    const Table gen = table_of(read_text(stem + group + gz));
    dosages.resize(gen.size());
    for (std::size_t k = 0; k < gen.size(); ++k)
      for (std::size_t f = 5; f + 2 < gen[k].size(); f += 3)
        dosages[k] += gen[k][f + 1] == "1" ? '1' : gen[k][f + 2] == "1" ? '2' : '0';
  }
  return dosages;
}

// The same from a PLINK .raw file, whose columns are "<rsid>_<counted allele>", after its phenotype column (1
// control, 2 case).
std::vector<std::string> raw_dosages(const std::string& raw, const Table& legend) {
  const Table rows = table_of(read_file(raw));
  std::vector<std::string> dosages(legend.size());
  for (std::size_t i = 1; i < rows.size(); ++i) dosages[0] += rows[i][5];
  for (std::size_t k = 0; k + 1 < dosages.size(); ++k) {
    const std::vector<std::string>& snp = legend[k + 1];
    const std::string& column = rows[0].at(6 + k);
    const bool counts_allele1 = column == snp[0] + "_" + snp[3];
    EXPECT_TRUE(counts_allele1 || column == snp[0] + "_" + snp[2]) << column;
    for (std::size_t i = 1; i < rows.size(); ++i)
      dosages[k + 1] += static_cast<char>(counts_allele1 ? rows[i][6 + k][0] : '0' + '2' - rows[i][6 + k][0]);
  }
  return dosages;
}

// What `bcftools query -f '[%GT ]\n'` prints for the haplotypes of the .haps files.
std::string haps_genotypes(const std::string& stem, const std::string& gz) {
  const Table controls = table_of(read_text(stem + ".controls.haps" + gz));
  const Table cases = table_of(read_text(stem + ".cases.haps" + gz));
  std::string text;
  for (std::size_t k = 0; k < controls.size(); ++k) {
    for (const Table* group : {&controls, &cases})
      for (std::size_t h = 0; h + 1 < (*group)[k].size(); h += 2)
        text += (*group)[k][h] + "|" + (*group)[k][h + 1] + " ";
    text += "\n";
  }
  return text;
}

// Runs a tool that must succeed, without a warning unless `warnings_allowed`.
CommandResult run_in(const std::string& command, const std::string& dir, bool warnings_allowed = false) {
  CommandResult r = run_command(command, dir);
  EXPECT_EQ(r.status, 0) << command << "\n" << r.output << r.error;
  if (!warnings_allowed) {
    EXPECT_EQ((r.output + r.error).find("Warning"), std::string::npos) << command << "\n" << r.output << r.error;
  }
  return r;
}

// plink1.9 and plink2 read the genotypes and phenotypes of the .bed set, plink2 also those of the VCF file
// with the .pheno file; bcftools reads the VCF and BCF files and their indexes.
void expect_tools_read_the_set(const std::string& dir, const std::string& stem, const std::string& gz,
                               const std::string& phenotypes) {
  const Table legend = table_of(read_file(dir + "/" + stem + ".legend"));
  std::vector<std::string> expected = gen_dosages(dir + "/" + stem, gz);
  expected.insert(expected.begin(), phenotypes);
  run_in("plink1.9 --bfile " + stem + " --keep-allele-order --allow-no-sex --recode A --out p1", dir);
  EXPECT_EQ(raw_dosages(dir + "/p1.raw", legend), expected) << "plink1.9";
  run_in("plink2 --bfile " + stem + " --allow-no-sex --export A --out p2", dir);
  EXPECT_EQ(raw_dosages(dir + "/p2.raw", legend), expected) << "plink2";
  run_in("plink2 --vcf " + stem + ".vcf.gz --pheno " + stem + ".pheno --export A --out p3", dir);
  EXPECT_EQ(raw_dosages(dir + "/p3.raw", legend), expected) << "plink2, VCF";

  EXPECT_EQ(read_file(dir + "/" + stem + ".bed").size(), 3 + (legend.size() - 1) * ((expected[0].size() + 3) / 4));
  const std::string genotypes = haps_genotypes(dir + "/" + stem, gz);
  for (const char* file : {".vcf.gz", ".bcf"}) {
    EXPECT_EQ(run_in("bcftools query -f '[%GT ]\\n' " + stem + file, dir).output, genotypes) << file;
    // bcftools warns that a .csi alone names no contigs, which counting does not need.
    EXPECT_EQ(run_in("bcftools index -n " + stem + file, dir, true).output, std::to_string(legend.size() - 1) + "\n");
  }
}

}  // namespace

TEST(Formats, ToolsReadTheFilesAndAVcfPanelGivesTheSameRun) {
  ASSERT_FALSE(panel().empty()) << "bcftools is needed";
  struct Config { const char* what; int controls, cases; std::string gz; };
  const Config configs[] = {{"3 + 2: the last .bed byte holds one individual", 3, 2, ""},
                            {"no cases", 6, 0, ""},
                            {"gzip mode: the new files are named after the stem without .gz", 3, 2, ".gz"}};
  const std::size_t other_variants = table_of(read_file(panel() + "all.legend")).size() -
                                     table_of(read_file(panel() + "snp.legend")).size();
  TempDir dir;
  for (const Config& c : configs) {
    SCOPED_TRACE(c.what);
    const std::string run = dir.file(std::to_string(c.cases) + c.gz), n = " -n " + std::to_string(c.controls) +
                                                                          " " + std::to_string(c.cases);
    ASSERT_EQ(run_tarvik(hap_legend() + kMap + kAll + n + " -o " + run + "/a/run" + c.gz).status, 0);
    // Through its index, a BGZF or BCF panel is read only within -int; of several contigs, only -chr's.
    const std::string in_interval = std::to_string(table_of(read_file(run + "/a/run.legend")).size() - 1);
    for (const std::string file : {"all.vcf", "all.vcf.gz", "all.bcf", "two.vcf.gz", "two.vcf"}) {
      if (file != "all.vcf" && (c.cases != 2 || !c.gz.empty())) break;
      const CommandResult r =
          run_tarvik("-vcf " + panel() + file + kMap + kAll + n + " -o " + run + "/" + file + "/run" + c.gz);
      ASSERT_EQ(r.status, 0) << r.output;
      EXPECT_TRUE(file != "all.vcf" ||
                  contains(r.output, "records skipped (not biallelic SNPs): " + std::to_string(other_variants) + "\n"));
      const bool indexed = contains(file, ".gz") || contains(file, ".bcf");
      EXPECT_TRUE(!indexed || contains(r.output, "number of SNPs in total: " + in_interval + "\n")) << file;
      expect_same_files(run + "/a", run + "/" + file);
    }
    expect_tools_read_the_set(run + "/a", "run", c.gz, std::string(c.controls, '1') + std::string(c.cases, '2'));
  }
  for (const char* file : {"run.bed", "run.bim", "run.fam", "run.vcf.gz", "run.bcf", "run.pheno"})
    EXPECT_EQ(read_file(dir.file("2.gz/a/") + file), read_file(dir.file("2/a/") + file)) << file;
  // Records much smaller than a BGZF block: the BCF file and its index are htslib's own bytes.
  rewrite_bcf_with_htslib(dir.file("2/a/run.bcf"), dir.file("htslib.bcf"));
  EXPECT_TRUE(read_file(dir.file("htslib.bcf")) == read_file(dir.file("2/a/run.bcf")));
  EXPECT_TRUE(read_file(dir.file("htslib.bcf.csi")) == read_file(dir.file("2/a/run.bcf.csi")));
}

TEST(Formats, BadPanelsAndFlagsStopBeforeAnyOutput) {
  const std::string header = "##fileformat=VCFv4.2\n##contig=<ID=20>\n##FORMAT=<ID=GT,Number=1,Type=String,"
                             "Description=\"Genotype\">\n#CHROM POS ID REF ALT QUAL FILTER INFO";
  const std::string good = header + " FORMAT s0 s1\n20 1000 rs1 A G . . . GT 0|1 1|0\n20 2000 rs2 C T . . . GT 1|1 0|1\n";
  const std::string bgzf = "bcftools view -Oz -o p.vcf.gz p.vcf && ";
  struct Row { std::string vcf, prepare, args, message; };
  const Row rows[] = {
      {header + " FORMAT s0 s1\n20 1000 rs1 A G . . . GT 0|1 0/1\n", "", "",
       "p.vcf: unphased genotype at 20:1000 for sample s1; the panel needs a phased pair of alleles"},
      {header + " FORMAT s0 s1\n20 1000 rs1 A G . . . GT 0|1 1|1\n20 2000 rs2 C T . . . GT .|0 0|0\n", "", "",
       "p.vcf: missing genotype at 20:2000 for sample s0;"},
      {header + " FORMAT s0\n20 1000 rs1 A G,T . . . GT 0|1\n20 2000 rs2 AT A . . . GT 1|1\n", "", "",
       "p.vcf: No SNPs in the interval in VCF file (2 records that are not biallelic SNPs skipped)!"},
      {header + "\n20 1000 rs1 A G . . .\n", "", "", "p.vcf: no samples: a panel needs the phased genotypes"},
      {good, bgzf + "head -c -40 p.vcf.gz >p.vcf", "", "p.vcf: truncated BGZF data (the end-of-file block is missing)."},
      {good, "", "-chr 21", "p.vcf: contig 21 (-chr) is not in the file."},
      {good, bgzf + "bcftools index -t p.vcf.gz && mv p.vcf.gz.tbi p.vcf.tbi && mv p.vcf.gz p.vcf", "-int 1 5000 -chr 21",
       "p.vcf: contig 21 (-chr) is not in the file, which holds contigs 20."},
      {good + "21 1000 rs3 A G . . . GT 0|1 1|0\n", "", "", "the file holds several contigs (20, 21); choose one with -chr."},
      {"ID_1 ID_2\n", "", "", "p.vcf: not a VCF or BCF file."},
      {good + "20 x3000 rs3 A G . . . GT 0|1 1|0\n", "", "", "p.vcf: bad position 0 of rs3 (positions start at 1)."},
      {good + "20 3000 rs3 A G . . . GT 0|x 1|0\n", "", "", "p.vcf: bad or truncated data in record 3."},
      {header + " FORMAT s0 s1\n20 1000 rs1 A G . . . GT 0|1 1|0 1|1\n", "", "",
       "p.vcf: record 1 (20:1000) has 12 columns where the header's 2 samples need 11."},
      {header + " FORMAT s0 s1 s0\n20 1000 rs1 A G . . . GT 0|1 1|0 1|1\n", "", "",
       "p.vcf: sample s0 is named twice in the header (the second time in column 12)"},
      {header + " FORMAT s0 s1\n20 1000 rs1 A G . . . GT 0|1 1|0|1\n", "", "",
       "p.vcf: more than two alleles in the genotype at 20:1000 for sample s1;"},
      // An index built for another file (here one with a longer header) points into the middle of records.
      {good, "(head -3 p.vcf; for i in $(seq 50); do echo '##x=yyyyyyyyyyyyyyyyyyyyyyyyyyyyy'; done; tail -n +4 p.vcf)"
             " >l.vcf && bcftools view -Oz -o l.vcf.gz l.vcf && bcftools index -t l.vcf.gz && " + bgzf +
             "mv l.vcf.gz.tbi p.vcf.tbi && mv p.vcf.gz p.vcf && touch p.vcf.tbi", "-int 1 5000 -chr 20",
       "p.vcf: record 1 read through the index of the file is not valid: the index does not match the file."},
      {good, bgzf + "bcftools index -t p.vcf.gz && mv p.vcf.gz.tbi p.vcf.tbi && mv p.vcf.gz p.vcf", "-int 5000 1",
       "flag -int: the interval's first position must not be above its last but got 5000 and 1."},
      {good, "", "-output_bcf", "ERROR!!! Must specify a value for flag: -chr\n"},
      {good, "", "-chr 'chr 1'", "flag -chr expects a chromosome name without blanks, quotes, commas or brackets"},
      {good, "", "-h p.hap", "flag -vcf: the panel is read either from a VCF or BCF file or from haplotype and legend"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    TempDir dir;
    std::string vcf = row.vcf;
    std::replace(vcf.begin(), vcf.end(), ' ', '\t');
    write_file(dir.file("p.vcf"), vcf);
    write_file(dir.file("p.map"), "position rate cM\n0 1.0 0.0\n10000 1.0 0.01\n");
    if (!row.prepare.empty()) {
      ASSERT_EQ(run_command(row.prepare, dir.path()).status, 0);
    }
    const CommandResult r = run_tarvik("-vcf p.vcf -m p.map -o out/run -n 2 2 -nrs " + row.args, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find(row.message), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("writing output file"), std::string::npos);
    EXPECT_EQ(run_command("ls out 2>/dev/null | grep -v '^run.summary$'", dir.path()).output, "");
  }
}

// An index older than its file was built when the file held other records: the whole file is read instead, and
// the run says so.
TEST(Formats, AVcfIndexOlderThanItsFileIsNotUsed) {
  TempDir dir;
  std::string records;
  for (int k = 1; k <= 30; ++k) records += "20\t" + std::to_string(k * 100) + "\trs" + std::to_string(k) +
                                           "\tA\tG\t.\t.\t.\tGT\t0|1\t1|0\n";
  const std::string header = "##fileformat=VCFv4.2\n##contig=<ID=20>\n##FORMAT=<ID=GT,Number=1,Type=String,"
                             "Description=\"Genotype\">\n#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\ts0\ts1\n";
  write_file(dir.file("short.vcf"), header + records.substr(0, records.find("20\t1100\t")));
  write_file(dir.file("p.vcf"), header + records);
  write_file(dir.file("p.map"), "position rate cM\n0 1.0 0.0\n10000 1.0 0.01\n");
  ASSERT_EQ(run_command("bcftools view -Oz -o p.vcf.gz short.vcf && bcftools index -t p.vcf.gz && "
                        "touch -d '2020-01-01' p.vcf.gz.tbi && bcftools view -Oz -o p.vcf.gz p.vcf",
                        dir.path()).status, 0);
  const CommandResult r = run_tarvik("-vcf p.vcf.gz -m p.map -o out/run -n 2 0 -nrs -int 1 5000", dir.path());
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(contains(r.output, "... done\nWarning: the index p.vcf.gz.tbi is older than the file, so the whole "
                                 "file was read instead.\n")) << r.output;
  EXPECT_TRUE(contains(r.output, "number of SNPs in interval: 30\n")) << r.output;
  // An index built when the file held its first ten records, newer than the file: the records added after them
  // (another BGZF member) are not in it.
  ASSERT_EQ(run_command("bcftools view -Oz -o a.vcf.gz short.vcf && bcftools index -t a.vcf.gz", dir.path()).status,
            0);
  const std::string added = records.substr(records.find("20\t1100\t"));
  BGZF* rest = bgzf_open(dir.file("rest.gz").c_str(), "w");
  ASSERT_TRUE(rest != nullptr && bgzf_write(rest, added.data(), added.size()) == static_cast<ssize_t>(added.size()));
  ASSERT_EQ(bgzf_close(rest), 0);
  ASSERT_EQ(run_command("cat a.vcf.gz rest.gz >p.vcf.gz && cp a.vcf.gz.tbi p.vcf.gz.tbi", dir.path()).status, 0);
  const CommandResult newer = run_tarvik("-vcf p.vcf.gz -m p.map -o out/run -n 2 0 -nrs -int 1 5000", dir.path());
  EXPECT_EQ(newer.status, 0) << newer.output;
  EXPECT_TRUE(contains(newer.output, "Warning: the index of p.vcf.gz ends before the file's last records (it was "
                                     "built before they were added), so the whole file was read instead.\n"))
      << newer.output;
  EXPECT_TRUE(contains(newer.output, "number of SNPs in interval: 30\n")) << newer.output;
}

// One identity per individual: plink2 matches the .pheno to the .bed set and to the VCF, and principal components
// of the .bed to the VCF; PLINK 1.9 reads the VCF with the README's --const-fid 0 as the individuals of the .fam.
TEST(Formats, OneIdentityServesTheBedSetTheVcfAndTheirCovariates) {
  TempDir dir;
  ASSERT_EQ(run_tarvik(example_panel() + "-int 1900000 2000000 -n 60 60 -dl 1945626 1 3 9 -nrs -chr 20 "
                       "-no_haps_output -no_gens_output -output_plink -output_vcf -o run", dir.path()).status, 0);
  run_in("plink2 --bfile run --pheno run.pheno --glm allow-no-covars --out bed", dir.path());
  run_in("plink2 --bfile run --pca 3 --out pcs", dir.path(), true);  // warns that few samples make a poor PCA
  run_in("plink2 --vcf run.vcf.gz --pheno run.pheno --covar pcs.eigenvec --glm --out vcf", dir.path(), true);
  // Every individual kept its phenotype and its covariates: 120 observations on each SNP's line.
  for (const char* file : {"bed.PHENO.glm.logistic.hybrid", "vcf.PHENO.glm.logistic.hybrid"}) {
    const Table glm = table_of(read_file(dir.file(file)));
    ASSERT_GT(glm.size(), 1u) << file;
    const std::size_t obs = std::find(glm[0].begin(), glm[0].end(), "OBS_CT") - glm[0].begin();
    ASSERT_LT(obs, glm[0].size()) << file;
    EXPECT_EQ(glm[1][obs], "120") << file;
  }
  run_in("plink1.9 --vcf run.vcf.gz --const-fid 0 --pheno run.pheno --allow-no-sex --make-bed --out p1", dir.path());
  const Table fam = table_of(read_file(dir.file("run.fam"))), p1 = table_of(read_file(dir.file("p1.fam")));
  ASSERT_EQ(p1.size(), fam.size());
  for (std::size_t i = 0; i < fam.size(); ++i) {
    EXPECT_EQ(p1[i][0] + " " + p1[i][1] + " " + p1[i][5], fam[i][0] + " " + fam[i][1] + " " + fam[i][5]) << i;
  }
  // A contig PLINK does not know: the same commands with the README's --allow-extra-chr.
  ASSERT_EQ(run_tarvik(example_panel() + "-int 1900000 2000000 -n 60 60 -dl 1945626 1 3 9 -nrs -chr scaffold_7 "
                       "-no_haps_output -no_gens_output -output_plink -output_vcf -o scaffold", dir.path()).status, 0);
  run_in("plink2 --bfile scaffold --allow-extra-chr --pheno scaffold.pheno --glm allow-no-covars --out sb",
         dir.path());
  run_in("plink2 --vcf scaffold.vcf.gz --allow-extra-chr --pheno scaffold.pheno --glm allow-no-covars --out sv",
         dir.path(), true);
  EXPECT_EQ(table_of(read_file(dir.file("sb.PHENO.glm.logistic.hybrid")))[1][0], "scaffold_7");
  EXPECT_EQ(table_of(read_file(dir.file("sv.PHENO.glm.logistic.hybrid")))[1][0], "scaffold_7");
}
