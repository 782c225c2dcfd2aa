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

// Writes <stem>.causal.tsv, <stem>.gv and, with -h2, <stem>.pheno of the
// simulated haplotypes, logging the realized heritability (and case
// fraction) of each replicate; an ascertained sample's .pheno holds its
// status instead.
// `source` holds the individuals as written, `ids` their identities (empty:
// the run's own "0 id1_<i>").
void write_trait_files(const TraitPlan& plan, const TarvikParameters& params, const TarvikGenerator& engine,
                       const HaplotypeSource& source, const TraitIdentities& ids, RunLog& log,
                       const AscertainedSample* ascertained = nullptr);

// -combine: reads the .gv files of the list and their .causal.tsv
// companions, checks that the individuals agree, and writes <stem>.pheno and
// <stem>.causal.tsv (and <stem>.gv, the sum).
void combine_genetic_values(const TarvikParameters& params, RunLog& log);
