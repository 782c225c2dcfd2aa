#pragma once
// The panel of a bench program's first three arguments (haplotype, legend
// and map files), read as a run reads it, on one thread, logging nothing.
#include "core/log.hpp"
#include "core/thread_budget.hpp"
#include "data/data.hpp"
#include "params/run_config.hpp"

inline Data read_bench_panel(char** argv) {
  RunConfig config;
  config.haplotype_file = argv[1];
  config.legend_file = argv[2];
  config.genetic_map_file = argv[3];
  ThreadBudget one(1);
  RunLog log = RunLog::silent();
  return read_reference(config, log, one);
}
