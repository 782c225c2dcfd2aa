# What the bench scripts share; source it after setting $root and $build (and
# $work for fresh_results).

# build_targets TARGET...: a Release build of the targets in $build.
build_targets() {
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTARVIK_BUILD_BENCH=ON \
    -DTARVIK_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" --target "$@" -j2 >/dev/null
}

# W1 of bench.sh without its output stem: the bundled panel, 2,000 + 2,000
# individuals, one disease locus at a common SNP.
ex="$root/example"
w1=(-h "$ex/chr20.hap.gz" -l "$ex/chr20.legend.gz" -m "$ex/chr20.map.gz" -n 2000 2000
  -dl 1945626 1 1.5 2.25 -nrs -output_snp_summary)

# An empty work directory with an empty results file ($results).
fresh_results() {
  rm -rf "$work"
  mkdir -p "$work"
  results="$work/results.txt"
  : >"$results"
}

# measure NAME COMMAND...: runs the command once after a sync and appends
# "NAME wall user sys maxrss_kib" to the results (wall from the clock, the
# rest from /usr/bin/time -v).
measure() {
  local name="$1" timing="$work/time.txt" start end
  shift
  sync
  start=$(date +%s%N)
  /usr/bin/time -v -o "$timing" "$@" >/dev/null
  end=$(date +%s%N)
  awk -v name="$name" -v ns=$((end - start)) '
    /User time/ {user = $NF} /System time/ {sys = $NF} /Maximum resident/ {rss = $NF}
    END {printf "%s %.3f %s %s %s\n", name, ns / 1e9, user, sys, rss}' "$timing" >>"$results"
}

# scale_panel: the scale panel of bench_scale.sh (4,800 haplotypes x 199,920
# SNPs, built from the example once) as $panel.hap and $panel.legend in $work.
scale_panel() {
  panel="$work/scale"
  if [[ ! -s "$panel.legend" ]]; then
    echo "building the scale panel in $work ..." >&2
    "$build/bench/make_scale_panel" "$root/example/chr20.hap.gz" "$root/example/chr20.legend.gz" 8 8 "$panel"
  fi
}

# kg_panel: the panel of 1000 Genomes density of bench_kg.sh (the example's
# 600 haplotypes widened to 4,800, its SNPs tiled 44 times over a tiled map,
# as BCF), built once, as $panel.bcf and $panel.map in $work.
kg_panel() {
  panel="$work/kg"
  if [[ ! -s "$panel.bcf" ]]; then
    echo "building the panel in $work ..." >&2
    mkdir -p "$work"
    "$build/bench/make_scale_panel" "$ex/chr20.hap.gz" "$ex/chr20.legend.gz" 8 44 "$panel" "$ex/chr20.map.gz" bcf
    rm -f "$panel.hap"
  fi
}
