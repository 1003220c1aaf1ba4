#!/bin/sh
# usage: check.sh BUILD_DIR SCRATCH_DIR PROGRAM_SOURCE EXTRA_FLAGS
set -e
build=$1
scratch=$2
source=$3
extra=$4
rm -rf "$scratch"
mkdir -p "$scratch"
cmake --install "$build" --prefix "$scratch/prefix" >"$scratch/install.log"
pc=$(find "$scratch/prefix" -name korvik-0.pc | head -n 1)
if [ -z "$pc" ]; then
  echo "korvik-0.pc was not installed" >&2
  exit 1
fi
export PKG_CONFIG_PATH="$(dirname "$pc")"
# the installed file names the configured prefix; point it at the scratch one
flags=$(pkg-config --define-prefix --cflags --libs korvik-0)
libdir=$(pkg-config --define-prefix --variable=libdir korvik-0)
# shellcheck disable=SC2086
c++ -std=c++17 -Wall -Wextra $extra -o "$scratch/program" "$source" $flags
LD_LIBRARY_PATH="$libdir" "$scratch/program"
