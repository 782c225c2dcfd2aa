#!/usr/bin/env bash
# Each library of the build compiles against its own view of src/, which holds only its folder and the folders
# below it: a downward include compiles, an upward or sideways one fails.
#   layers.sh <c++ compiler> <build>/layers
set -u
cxx=$1 layers=$2
check() {  # check <layer> <header> <expect: ok|refused>
  local got=ok
  echo "#include \"$2\"" | "$cxx" -std=c++17 -fsyntax-only -I"$layers/$1" -x c++ - 2>/dev/null || got=refused
  if [ "$got" != "$3" ]; then
    echo "layer $1 including $2: $got, expected $3"
    fail=1
  fi
}
fail=0
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
exit $fail
