#pragma once
// The trait phase of a run: causal SNPs, genetic values and phenotypes
// (-causal, -causal_random, -h2 ...), and the genome-wide step (-combine)
// that sums the genetic values of the chromosomes' runs.
#include <ostream>
#include <vector>

#include "data/trait_inputs.hpp"
#include "output/trait_files.hpp"
#include "params/tarvik_parameters.hpp"
#include "sim/ascertain.hpp"
#include "store/haplotype_source.hpp"

class RunLog;
class TarvikGenerator;

// What a trait run knows before it simulates: the -causal file, read and
// matched to the panel so that a fault stops the run before the simulation.
struct TraitPlan {
  std::vector<CausalEffect> listed;
};
TraitPlan plan_trait(const TarvikParameters& params, const TarvikGenerator& engine);

// -ascertain: once the engine is seeded, scores its population until the
// sample is complete, logs what the population yielded, and has the engine
// simulate only the sample (params.ncontrols the population, params.keep the
// sample).
AscertainedSample ascertain_sample(const TraitPlan& plan, const TarvikParameters& params, TarvikGenerator& engine,
                                   RunLog& log);

// The causal SNPs and each individual's genetic value: from the haplotypes
// of `source` (the individuals as written), or, when it is null, from the
// engine's population scored one by one without storing anyone (a population
// run that writes no genotypes): the same numbers either way.
struct TraitScores {
  CausalSet causal;
  std::vector<double> value, sample_frequency;
};
TraitScores score_trait(const TraitPlan& plan, const TarvikParameters& params, const TarvikGenerator& engine,
                        const HaplotypeSource* source);

// Writes <stem>.causal.tsv, <stem>.gv and, with -h2, <stem>.pheno, logging
// the realized heritability (and case fraction) of each replicate; an
// ascertained sample's .pheno holds its status instead. `ids` are the
// individuals' identities (empty: the run's own "0 id1_<i>").
void write_trait_files(const TarvikParameters& params, const TarvikGenerator& engine, const TraitScores& scores,
                       const TraitIdentities& ids, RunLog& log, const AscertainedSample* ascertained = nullptr);

// -combine: reads the .gv files of the list and their .causal.tsv
// companions, checks that the individuals agree, and writes <stem>.pheno and
// <stem>.causal.tsv (and <stem>.gv, the sum).
void combine_genetic_values(const TarvikParameters& params, RunLog& log);
