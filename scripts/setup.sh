#!/usr/bin/env bash
# Installs the Debian packages tarvik needs to build and test, when missing.
# Idempotent: packages already installed are left alone.
set -euo pipefail

PACKAGES=(
  g++ cmake make pkg-config
  libboost-filesystem-dev libboost-iostreams-dev libboost-math-dev
  zlib1g-dev libdeflate-dev libnewmat10-dev libgtest-dev
  # Philox, the counter-based generator of the population engine.
  librandom123-dev
  gzip plink1.9 plink2 bcftools libhts-dev snakemake
  # scripts/validate.py; OpenBLAS makes its matrix products fast enough for
  # large runs (numpy falls back to the reference BLAS without it).
  python3-numpy python3-scipy python3-matplotlib libopenblas0-pthread
  # scripts/validate.py -vcf reads a VCF or BCF panel through htslib with it.
  python3-cyvcf2
  # The install test renders the manual page (man -l); the workflow reads
  # its configuration with PyYAML.
  man-db groff-base python3-yaml
  # The README's trait example and its h2 check (command `bolt`).
  bolt-lmm
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all required packages are installed"
  exit 0
fi

echo "setup: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
