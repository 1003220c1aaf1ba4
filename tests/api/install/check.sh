#!/bin/sh
# usage: check.sh BUILD_DIR SCRATCH_DIR PROGRAM_SOURCE EXTRA_FLAGS
# Installs the build into a scratch prefix and builds PROGRAM_SOURCE against
# that install twice, as consumers do: through pkg-config and through
# find_package(korvik CONFIG); both programs must run.
set -e
build=$1
scratch=$2
source=$3
extra=$4
rm -rf "$scratch"
mkdir -p "$scratch"
prefix="$scratch/prefix"
cmake --install "$build" --prefix "$prefix" >"$scratch/install.log"
pc=$(find "$prefix" -name korvik-0.pc | head -n 1)
if [ -z "$pc" ]; then
  echo "korvik-0.pc was not installed" >&2
  exit 1
fi
# the installed .pc finds its prefix relative to itself, so it is used as installed
export PKG_CONFIG_PATH="$(dirname "$pc")"
flags=$(pkg-config --cflags --libs korvik-0)
libdir=$(pkg-config --variable=libdir korvik-0)
case "$libdir" in
  */lib/*-linux-gnu) ;;
  *) echo "libdir $libdir is not the multiarch directory" >&2; exit 1 ;;
esac
# shellcheck disable=SC2086
c++ -std=c++17 -Wall -Wextra $extra -o "$scratch/program" "$source" $flags
LD_LIBRARY_PATH="$libdir" "$scratch/program"

# a CMake project that knows only the prefix
mkdir -p "$scratch/consumer"
cp "$source" "$scratch/consumer/program.cpp"
cat >"$scratch/consumer/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.18)
project(consumer CXX)
find_package(korvik 0.1 CONFIG REQUIRED)
add_executable(program program.cpp)
target_link_libraries(program PRIVATE korvik::korvik-0)
CMAKE
unset PKG_CONFIG_PATH
cmake -S "$scratch/consumer" -B "$scratch/consumer/build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_FLAGS="$extra" -DCMAKE_EXE_LINKER_FLAGS="$extra" >"$scratch/consumer.log"
cmake --build "$scratch/consumer/build" >>"$scratch/consumer.log"
LD_LIBRARY_PATH="$libdir" "$scratch/consumer/build/program"
