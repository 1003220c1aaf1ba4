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
# the installed file names the prefix chosen at configure time; point it at
# the scratch prefix (the rest of the file is used as installed)
sed -i "s|^prefix=.*|prefix=$scratch/prefix|" "$pc"
export PKG_CONFIG_PATH="$(dirname "$pc")"
flags=$(pkg-config --cflags --libs korvik-0)
libdir=$(pkg-config --variable=libdir korvik-0)
# shellcheck disable=SC2086
c++ -std=c++17 -Wall -Wextra $extra -o "$scratch/program" "$source" $flags
LD_LIBRARY_PATH="$libdir" "$scratch/program"
