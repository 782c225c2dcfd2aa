#!/usr/bin/env bash
# cmake --install into a temporary prefix gives a tarvik that runs, a manual
# page that man renders without warnings, a bash completion that completes
# flags and file names, the validation tool and the workflow.
#   tests/test_install.sh <build dir> <version>
set -euo pipefail
build="$(cd "$1" && pwd)" version="$2"
command -v man >/dev/null || { echo "FAIL: man not found (scripts/setup.sh installs man-db)"; exit 1; }
prefix=$(mktemp -d /tmp/tarvik_install_XXXXXX)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
cmake --install "$build" --prefix "$prefix" >"$prefix/install.log" 2>&1 || { cat "$prefix/install.log"; fail "install"; }
cd "$prefix"

# The binary names its version, and --version is a success.
out=$(bin/tarvik --version 2>&1) || fail "bin/tarvik --version exits with status $?: $out"
[ "$out" = "tarvik v$version" ] || fail "bin/tarvik --version prints '$out', not 'tarvik v$version'"

page=share/man/man1/tarvik.1
[ -f $page ] || fail "no $page"
text=$(MANPAGER=cat MANWIDTH=100 man --warnings -l $page 2>man.err) || fail "man -l $page"
[ ! -s man.err ] || { cat man.err; fail "man warns"; }
for want in NAME SYNOPSIS OPTIONS FILES "EXIT STATUS" EXAMPLES "-output_plink" "-gz_level <l>" \
            "Default: 1 1" "Default: off" "tarvik $version"; do
  grep -qF -- "$want" <<<"$text" || fail "the manual page lacks '$want'"
done

completion=share/bash-completion/completions/tarvik
[ -f $completion ] || fail "no $completion"
complete_words() {  # the completions of the words given, the last being completed
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _tarvik; printf "%s\n" "${COMPREPLY[@]}" | grep . | sort | tr "\n" " "' \
    _ "$prefix/$completion" "$@"
}
got=$(complete_words tarvik -n 10 10 -output_)
[ "$got" = "-output_bcf -output_plink -output_snp_summary -output_vcf " ] || fail "-output_ completes to '$got'"
mkdir -p panels && touch panels/chr20.hap.gz
got=$(complete_words tarvik -h panels/chr)
[ "$got" = "panels/chr20.hap.gz " ] || fail "-h completes to '$got', not the file"
got=$(complete_words tarvik -combine panels/chr)
[ "$got" = "panels/chr20.hap.gz " ] || fail "-combine completes to '$got', not the file"
got=$(complete_words tarvik -n pan)
[ -z "$got" ] || fail "a number after -n completes to '$got'"

[ -x bin/tarvik-validate ] || fail "no bin/tarvik-validate"
bin/tarvik-validate --help >validate.out 2>&1 || { cat validate.out; fail "tarvik-validate --help"; }
grep -q -- "--format" validate.out || fail "tarvik-validate --help describes no --format"

for f in Snakefile config.yaml profiles/slurm/config.yaml profiles/slurm-executor/config.yaml; do
  [ -f share/tarvik/workflow/$f ] || fail "no share/tarvik/workflow/$f"
done
# The installed workflow's default configuration finds the installed binary
# and example panel wherever it is started.
mkdir elsewhere && cd elsewhere
snakemake -s "$prefix/share/tarvik/workflow/Snakefile" --cores 2 --config controls=20 cases=10 -q >snake.log 2>&1 ||
  { cat snake.log; fail "the installed workflow"; }
grep -q "$prefix/bin/tarvik" genome/chr20.log || fail "the installed workflow ran another tarvik: $(head -1 genome/chr20.log)"
[ "$(wc -l <genome/merged.fam)" -eq 30 ] || fail "the installed workflow's merged individuals"
echo "1 passed, 0 failed"
