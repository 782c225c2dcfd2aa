#!/usr/bin/env bash
# Builds the libFuzzer target(s) with clang into build-fuzz/ and runs each for
# a given time. The growing corpora, crash inputs and logs stay in
# build-fuzz/ (out of version control); tests/fuzz/corpus/ holds the seeds.
#
#   tests/fuzz/run_fuzz.sh [seconds per target] [target ...]
#   tests/fuzz/run_fuzz.sh 600 fuzz_data
#
# Targets run one after another; a target's log ends with libFuzzer's final
# statistics (number of runs), and a finding stops it with the input saved in
# build-fuzz/artifacts/<target>/.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_data)

build=${TARVIK_FUZZ_BUILD:-$root/build-fuzz}
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARVIK_FUZZ=ON -DTARVIK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

status=0
for target in "${targets[@]}"; do
  name=${target#fuzz_}
  corpus=$build/corpus/$name
  artifacts=$build/artifacts/$name
  mkdir -p "$corpus" "$artifacts" "$build/logs"
  cp -n "$root"/tests/fuzz/corpus/"$name"/* "$corpus"/ 2>/dev/null || true
  extra=()
  [ -f "$root"/tests/fuzz/"$name".dict ] && extra+=(-dict="$root"/tests/fuzz/"$name".dict)
  echo "fuzzing $target for $seconds s (log: $build/logs/$name.log)"
  if ! "$build/tests/fuzz/$target" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len=4096 -print_final_stats=1 -artifact_prefix="$artifacts/" "${extra[@]}" \
      >"$build/logs/$name.log" 2>&1; then
    echo "  FINDING: see $build/logs/$name.log and $artifacts/"
    status=1
  fi
  grep -E '^stat::number_of_executed_units|^Done [0-9]+ runs' "$build/logs/$name.log" || true
done
exit $status
