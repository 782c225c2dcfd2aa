#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
# Exits non-zero if anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh -DTARVIK_BUILD_TESTS=ON
ctest --test-dir build --output-on-failure -j"$(nproc)"
