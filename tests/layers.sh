#!/usr/bin/env bash
# Each library of the build compiles against its own view of src/, which holds only its folder and the folders
# below it: a downward include compiles, an upward or sideways one fails.
#   layers.sh <c++ compiler> <build>/layers <source>/src
set -u
cxx=$1 layers=$2 src=$3
fail=0

# A refusal counts only when the compiler could not find the header: an include that fails for another reason
# (a broken header, a missing system library) proves nothing about the layers.
check() {  # check <layer> <header> <expect: ok|refused>
  local got errors
  if errors=$(echo "#include \"$2\"" |
              LC_ALL=C "$cxx" -std=c++17 -fsyntax-only -I"$layers/$1" -x c++ - 2>&1); then
    got=ok
  elif grep -qF -e "$2: No such file or directory" -e "'$2' file not found" <<<"$errors"; then
    got=refused
  else
    got="failed for another reason: $errors"
  fi
  if [ "$got" != "$3" ]; then
    echo "layer $1 including $2: $got, expected $3"
    fail=1
  fi
}

# A quoted include is looked up beside its source first, in src/ itself, and a view's folders are links into
# src/: a path with "../" in it ("../sim/random.hpp", "data/../sim/random.hpp") reaches any folder from any
# layer. No source or header may write one.
relative_includes() {  # relative_includes <dir>: prints file:line of each such include
  grep -rnE --include='*.cpp' --include='*.hpp' --include='*.h' '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<][^">]*\.\./' "$1"
}

check core core/errors.hpp ok
check core params/run_config.hpp refused
check io core/log.hpp ok
check io data/data.hpp refused
check data io/input_file.hpp ok
check data store/mosaic.hpp refused
check sim store/mosaic.hpp ok
check sim output/names.hpp refused
check output sim/generator.hpp refused
check driver sim/generator.hpp ok

if found=$(relative_includes "$src"); then
  echo "includes with \"../\" in src/, which pass around the layers:"
  echo "$found"
  fail=1
fi
# The scan itself finds each way of writing one, and leaves a plain include alone.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/data"
printf '#include "../sim/random.hpp"\n' >"$scratch/data/up.cpp"
printf '  #  include <data/../sim/random.hpp>\n' >"$scratch/data/through.hpp"
printf '#include "data/data.hpp"\n#include <vector>\n' >"$scratch/data/plain.cpp"
found=$(relative_includes "$scratch" | sed "s|$scratch/||" | sort)
expected=$'data/through.hpp:1:  #  include <data/../sim/random.hpp>\ndata/up.cpp:1:#include "../sim/random.hpp"'
if [ "$found" != "$expected" ]; then
  echo "the scan for \"../\" includes found:"
  echo "$found"
  echo "expected:"
  echo "$expected"
  fail=1
fi
exit $fail
