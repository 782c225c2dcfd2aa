# What the bench scripts share; source it after setting $work.

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
