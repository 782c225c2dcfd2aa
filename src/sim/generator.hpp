#pragma once
// The simulation engine: the reference data, the run's configuration and
// everything simulated from them.
#include <cstdint>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/log.hpp"
#include "data/data.hpp"
#include "params/run_config.hpp"
#include "sim/population.hpp"
#include "store/mosaic.hpp"

class ThreadBudget;

class TarvikGenerator {
 public:
  Data panel_data;
  MosaicStore simulated;  // the run's haplotypes, controls first, in simulation order
  std::vector<int> simulated_phenotypes;
  RunConfig params;  // the run's one configuration (process_dl drops unusable loci)
  RunLog log;
  ThreadBudget* budget;  // threads to draw ahead on; none when null
  int num_simulated_haps;
  std::uint32_t seed_word = 0;  // the generator's seed word, once simulate_haplotypes has seeded it
  // Pedigree runs store founders, then children generation by generation;
  // haplotype i of the output (the pedigree's order) is stored haplotype
  // output_order[i]. Empty when the two orders agree.
  std::vector<std::uint32_t> output_order;
  std::vector<int> dl_indices;
  std::map<std::string, std::map<double, std::vector<std::vector<int>>>> case_hap_freq_cache;
  std::map<std::vector<int>, std::map<std::vector<int>, double>> control_hap_freq_cache;

  // Working data of simulate_disease_alleles, not part of the result. For
  // each disease locus, the allele of every candidate source at its SNP
  // (panel haplotypes, then finished haplotypes), so that weighting the
  // sources of a case reads one contiguous column. Finished haplotypes never
  // change, so during a run the columns only grow; they are rebuilt when the
  // loci change or a call comes with an h no larger than the previous one.
  std::vector<std::vector<short>> disease_snp_columns;
  std::vector<int> disease_snp_columns_indices;  // dl_indices the columns belong to
  int disease_snp_columns_last_h = -1;           // h of the last case served
  std::vector<double> disease_source_weights;    // reused weight buffer

  // An engine over reference data read earlier; it reads and writes no file
  // but the log.
  TarvikGenerator(const RunConfig& config, Data data, RunLog run_log = RunLog::silent(),
                  ThreadBudget* threads = nullptr);

  // Seeds the generator, settles theta and the disease loci, and simulates
  // every individual. `choose`, when given, is called once the seed word and
  // theta are settled, before any individual is made: a run that ascertains
  // its sample learns only then whom to make, and sets params.ncontrols (the
  // population) and params.keep.
  using Chooser = std::function<void(TarvikGenerator&)>;
  void simulate_haplotypes(const Chooser& choose = nullptr);
  // All of simulate_haplotypes but the simulation (and the memory check of
  // what it would store): for a run that scores its individuals one by one
  // without storing them.
  void settle();
  // The simulated haplotypes as a source of SNP-major tiles (valid while the
  // engine lives and simulates nothing more).
  MosaicSource source() const { return MosaicSource(simulated, panel_data.panel); }

  // Disease loci (matching to panel SNPs; throws RunTerminated if none is usable).
  void process_dl();

  // Copying model.
  void set_theta();
  void simulate_all_alleles();
  // -copy_panel_only: the population engine (sim/population.hpp), every
  // individual from its own stream, on the threads of the budget; only the
  // individuals of params.keep when it lists any.
  void simulate_population();
  // What the population engine draws every individual from (theta and the
  // seed word settled): with draw_individual, any individual of the run
  // alone, as scoring a population before choosing whom to write needs.
  PopulationModel population_model() const;
  // The copying model SNP by SNP from the one generator (the default model;
  // with copy_panel_only, the same distribution as the population engine,
  // kept for comparing the two). Call on a store made afresh.
  void simulate_per_snp();
  // Families: each child's two haplotypes, meioses of its parents' (after
  // the founders are simulated).
  void simulate_children();

  // Case and control haplotype frequencies at the disease loci.
  void calculate_control_hap_freq(const std::vector<int>& snp_indices,
                                  std::map<std::vector<int>, double>& table) const;
  void calculate_case_hap_freq(const std::vector<std::vector<int>>* groups,
                               std::map<double, std::vector<std::vector<int>>>& distribution);

  // The case distribution for a grouping key, computed once and cached.
  const std::map<double, std::vector<std::vector<int>>>& case_distribution(
      const std::string& key, const std::vector<std::vector<int>>* groups);
  // Brings the candidate columns up to the finished haplotypes.
  void update_disease_snp_columns();
  // Disease alleles and disease-segment sources of one case. locus_states[k][d]
  // is the label of the segment of side k that holds disease locus d (-2 -
  // the segment's ordinal); each label is replaced by the source drawn for
  // its segment. The draws (one for the alleles, then one per segment with
  // loci, side 0 first) are `uniforms` when given, drawn from the generator
  // otherwise.
  void simulate_disease_alleles(std::vector<std::vector<int>>& locus_states,
                                std::vector<std::vector<int>>& disease_haplotypes,
                                const double* mutation_probabilities,
                                const std::vector<double>* uniforms = nullptr);

 private:
  void seeded(bool simulate, const Chooser& choose);
  // The control haplotype frequencies over a group of disease loci (indices
  // into dl_indices), computed once per group.
  const std::map<std::vector<int>, double>& cached_control_hap_freq(const std::vector<int>& group);
};
