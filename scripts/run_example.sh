#!/usr/bin/env bash
# Installs what is missing, builds, and simulates 1,000 controls and 1,000
# cases on the bundled example panel (chr20, 1-4 Mb) with two disease loci.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh -DTARVIK_BUILD_TESTS=OFF
out=example_output/run
build/tarvik \
  -h example/chr20.hap.gz -l example/chr20.legend.gz -m example/chr20.map.gz \
  -o "$out" -n 1000 1000 \
  -dl 1945626 1 1.5 2.25 2751091 1 2.0 4.0 \
  -nrs -output_snp_summary
echo
echo "Output files written to $(pwd)/$(dirname "$out"):"
ls -l "$(dirname "$out")"
