#include "driver/trait_phase.hpp"

#include <cassert>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <iomanip>
#include <sstream>

#include <boost/filesystem/path.hpp>

#include "core/errors.hpp"
#include "core/log.hpp"
#include "output/names.hpp"
#include "output/trait_files.hpp"
#include "sim/generator.hpp"
#include "sim/random.hpp"
#include "sim/trait.hpp"

namespace fs = boost::filesystem;

namespace {

// The phenotypes of a genetic value per individual, and what they realized.
void write_phenotypes(const TarvikParameters& params, const std::vector<double>& value, std::uint32_t seed_word,
                      const TraitIdentities& ids, RunLog& log) {
  const Phenotypes phenotypes = draw_phenotypes(value, params.trait, seed_word);
  write_pheno_columns(gwas_file_name(params, pheno_suffix), phenotypes.columns, params.trait.binary(),
                      params.trait.pheno01, ids, log);
  std::ostringstream text;
  text << std::setprecision(6) << "Trait: genetic variance " << phenotypes.genetic_variance << " over "
       << value.size() << " individuals, noise standard deviation " << phenotypes.noise_sd << "\n";
  for (std::size_t r = 0; r < phenotypes.columns.size(); ++r) {
    text << "  replicate " << r + 1 << ": realized h2 " << phenotypes.realized_h2[r];
    if (params.trait.binary()) text << ", case fraction " << phenotypes.case_fraction[r];
    text << "\n";
  }
  log.report(text);
}

// -combine -ascertain: the chromosomes scored one population; its
// genome-wide liabilities (standardized over the population, as every
// -combine does) pick the first cases and controls. The .pheno lists the
// sample alone, so that it is also the -keep file of the runs that write
// their genotypes.
void write_ascertained_phenotypes(const TarvikParameters& params, const std::vector<double>& value,
                                  std::uint32_t seed_word, const TraitIdentities& ids, RunLog& log) {
  const Phenotypes phenotypes = draw_phenotypes(value, params.trait, seed_word);
  const std::vector<double>& status = phenotypes.columns.front();
  const std::size_t cases_wanted = static_cast<std::size_t>(params.trait.ascertain_cases);
  const std::size_t controls_wanted = static_cast<std::size_t>(params.trait.ascertain_controls);
  std::size_t cases = 0, controls = 0;
  TraitIdentities kept;
  std::vector<double> kept_status;
  for (std::size_t i = 0; i < status.size() && (cases < cases_wanted || controls < controls_wanted); ++i) {
    const bool is_case = status[i] > 0.0;
    if (is_case ? cases >= cases_wanted : controls >= controls_wanted) continue;
    (is_case ? cases : controls) += 1;
    kept.family.push_back(ids.family[i]);
    kept.individual.push_back(ids.individual[i]);
    kept_status.push_back(status[i]);
  }
  std::ostringstream text;
  text << std::setprecision(6) << "Ascertainment: " << value.size() << " individuals in the population, case "
       << "fraction " << phenotypes.case_fraction.front() << " (prevalence " << params.trait.prevalence << ")\n";
  if (cases < cases_wanted || controls < controls_wanted)
    throw RunError(text.str() + "-ascertain: the population of " + std::to_string(value.size()) +
                   " individuals holds " + std::to_string(cases) + " of the " + std::to_string(cases_wanted) +
                   " cases and " + std::to_string(controls) + " of the " + std::to_string(controls_wanted) +
                   " controls asked for; score a larger population.\n");
  text << "  kept the first " << cases << " cases and the first " << controls << " controls\n";
  log.report(text);
  write_pheno_columns(gwas_file_name(params, pheno_suffix), {kept_status}, true, params.trait.pheno01, kept, log);
}

std::vector<CausalSnp> causal_rows(const TarvikParameters& params, const TarvikGenerator& engine,
                                   const CausalSet& causal, const std::vector<double>& sample_frequency) {
  using SnpIterator = std::map<int, snp>::const_iterator;
  std::vector<SnpIterator> snp_at;
  for (auto it = engine.panel_data.snps_data.begin(); it != engine.panel_data.snps_data.end(); ++it)
    snp_at.push_back(it);
  std::vector<CausalSnp> rows;
  for (std::size_t k = 0; k < causal.indices.size(); ++k) {
    const SnpIterator snp = snp_at[static_cast<std::size_t>(causal.indices[k])];
    CausalSnp row;
    row.chromosome = params.chromosome_given ? params.chromosome : "NA";
    row.rsid = snp->second.rsid;
    row.position = snp->first;
    row.allele0 = snp->second.allele0;
    row.allele1 = snp->second.allele1;
    row.panel_frequency = snp->second.frequency;
    row.sample_frequency = sample_frequency[k];
    row.effect = causal.effects[k];
    const double q = sample_frequency[k];
    row.variance = 2.0 * q * (1.0 - q) * row.effect * row.effect;
    rows.push_back(row);
  }
  return rows;
}

// The seed word of a -combine run, which simulates nothing else.
std::uint32_t combine_seed_word(const TarvikParameters& params, RunLog& log) {
  if (params.seed == SeedSource::word) return params.seed_word;
  double seed = 0.12345;
  if (params.seed == SeedSource::clock) {
    std::srand(static_cast<unsigned int>(std::time(nullptr)));
    seed = std::rand() / 2147483647.0;
  }
  const std::uint32_t word = MT::seed_word_of(seed);
  log.report("Random seed word " + std::to_string(word) + " (-seed " + std::to_string(word) +
             " repeats this run)\n");
  return word;
}

std::string companion(const std::string& gv_file, const char* suffix) {
  const std::string ending = genetic_value_suffix;
  if (gv_file.size() <= ending.size() || gv_file.compare(gv_file.size() - ending.size(), ending.size(), ending) != 0)
    throw RunError("-combine: " + gv_file + " is not a genetic-value file (its name must end in " + ending + ").\n");
  return gv_file.substr(0, gv_file.size() - ending.size()) + suffix;
}

void check_same_individuals(const GeneticValues& first, const std::string& first_name, const GeneticValues& next,
                            const std::string& next_name) {
  if (next.value.size() != first.value.size())
    throw RunError("-combine: " + next_name + " holds " + std::to_string(next.value.size()) + " individuals but " +
                   first_name + " holds " + std::to_string(first.value.size()) + ".\n");
  for (std::size_t i = 0; i < first.value.size(); ++i)
    if (next.family[i] != first.family[i] || next.individual[i] != first.individual[i])
      throw RunError("-combine: individual " + std::to_string(i + 1) + " is " + next.family[i] + " " +
                     next.individual[i] + " in " + next_name + " but " + first.family[i] + " " +
                     first.individual[i] + " in " + first_name + ".\n");
}

}  // namespace

TraitPlan plan_trait(const TarvikParameters& params, const TarvikGenerator& engine) {
  TraitPlan plan;
  if (!params.trait.causal_file.empty()) plan.listed = read_causal_file(params.trait.causal_file.string());
  // Only a check (no seed word yet): a listed SNP off the panel, or too few
  // SNPs to draw from, stops the run before it simulates.
  choose_causal_snps(params.trait, plan.listed, engine.panel_data, 0);
  return plan;
}

AscertainedSample ascertain_sample(const TraitPlan& plan, const TarvikParameters& params, TarvikGenerator& engine,
                                   RunLog& log) {
  const CausalSet causal = choose_causal_snps(params.trait, plan.listed, engine.panel_data, engine.seed_word);
  AscertainedSample sample = ascertain(engine.population_model(), engine.panel_data.panel, causal, params.trait,
                                       engine.budget);
  const double n = static_cast<double>(sample.population), k = params.trait.prevalence;
  const double fraction = static_cast<double>(sample.population_cases) / n;
  std::ostringstream text;
  text << std::setprecision(6) << "\nAscertainment: liability sqrt(h2) (G - mean) / sd + sqrt(1 - h2) e over the "
       << "population's genetic value G (expected mean " << sample.moments.mean << ", variance "
       << sample.moments.variance << "), threshold " << sample.threshold << "\n"
       << "  scored " << sample.population << " individuals of the population; " << sample.population_cases
       << " above the threshold: case fraction " << fraction << " (prevalence " << k << ", standard error "
       << std::sqrt(k * (1.0 - k) / n) << ")\n"
       << "  kept the first " << params.trait.ascertain_cases << " cases and the first "
       << params.trait.ascertain_controls << " controls\n";
  log.report(text);
  engine.params.ncontrols = static_cast<std::int32_t>(sample.population);
  engine.params.ncases = 0;
  engine.params.keep = sample.kept;
  return sample;
}

TraitScores score_trait(const TraitPlan& plan, const TarvikParameters& params, const TarvikGenerator& engine,
                        const HaplotypeSource* source) {
  TraitScores scores;
  scores.causal = choose_causal_snps(params.trait, plan.listed, engine.panel_data, engine.seed_word);
  scores.value = source != nullptr
                     ? genetic_values(*source, scores.causal, scores.sample_frequency)
                     : score_population(engine.population_model(), engine.panel_data.panel, scores.causal,
                                        static_cast<std::uint64_t>(engine.params.ncontrols), engine.budget,
                                        scores.sample_frequency);
  return scores;
}

void write_trait_files(const TarvikParameters& params, const TarvikGenerator& engine, const TraitScores& scores,
                       const TraitIdentities& ids, RunLog& log, const AscertainedSample* ascertained) {
  log.report("\nTrait: " + std::to_string(scores.causal.indices.size()) + " causal SNPs\n");
  write_causal_file(gwas_file_name(params, causal_suffix),
                    causal_rows(params, engine, scores.causal, scores.sample_frequency), log);
  write_genetic_value_file(gwas_file_name(params, genetic_value_suffix), scores.value, ids, log);
  if (ascertained != nullptr) {
    // The written genotypes give every kept individual the value it was
    // scored with, or the sample is not the one ascertained.
    assert(scores.value == ascertained->value);
    const std::vector<std::vector<double>> status{{ascertained->status.begin(), ascertained->status.end()}};
    write_pheno_columns(gwas_file_name(params, pheno_suffix), status, true, params.trait.pheno01, ids, log);
  } else if (params.trait.phenotypes()) {
    write_phenotypes(params, scores.value, engine.seed_word, ids, log);
  }
}

void combine_genetic_values(const TarvikParameters& params, RunLog& log) {
  const std::uint32_t seed_word = combine_seed_word(params, log);
  const std::vector<std::string> files = read_name_list(params.trait.combine_list.string());
  GeneticValues total;
  std::vector<std::string> causal;
  for (const std::string& file : files) {
    const std::string causal_file = companion(file, causal_suffix);
    GeneticValues next = read_genetic_values(file);
    const std::vector<std::string> rows = read_table_rows(causal_file, causal_header);
    causal.insert(causal.end(), rows.begin(), rows.end());
    if (total.value.empty()) {
      total = std::move(next);
      continue;
    }
    check_same_individuals(total, files.front(), next, file);
    for (std::size_t i = 0; i < total.value.size(); ++i) total.value[i] += next.value[i];
  }
  log.report("Combined the genetic values of " + std::to_string(files.size()) + " runs (" +
             std::to_string(causal.size()) + " causal SNPs)\n");
  const TraitIdentities ids{total.family, total.individual};
  write_causal_rows(gwas_file_name(params, causal_suffix), causal, log);
  write_genetic_value_file(gwas_file_name(params, genetic_value_suffix), total.value, ids, log);
  if (params.trait.ascertained())
    write_ascertained_phenotypes(params, total.value, seed_word, ids, log);
  else
    write_phenotypes(params, total.value, seed_word, ids, log);
}
