#!/bin/sh
# usage: check_exports.sh LIBRARY EXPECTED_FLAT_NAMES
# The shared library exports exactly the flat functions, the device class and
# its status records: every expected flat function is there, and nothing else
# is (no board, chip model or standard-library instantiation).
set -e
lib=$1
expected=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

nm -D --defined-only "$lib" | awk '{ print $3 }' | grep '^libkorvik_' | LC_ALL=C sort >"$tmp/flat"
if ! diff -u "$expected" "$tmp/flat"; then
  echo "flat function exports differ from the expected list" >&2
  exit 1
fi

nm -D --defined-only -C "$lib" | sed 's/^[0-9a-f]* [A-Za-z] //' >"$tmp/all"
grep -v '^libkorvik_' "$tmp/all" |
  grep -v -E '^KORVIK::(USBDevice|USBDeviceStatus|USBDeviceCurrents|LinkCheck|LinkRule|LinkCheckOptions|Servers)::' |
  grep -v -E '^KORVIK::(check_link|set_virtual_air_fast|is_virtual_air_fast|get_virtual_air_in_flight|get_virtual_air_time|get_virtual_air_path_loss|get_packet_arrival_time|get_busy_boards|release_unopened_boards|is_nv_interrupted)(\[abi:cxx11\])?\(' |
  grep -v -E '^(typeinfo|typeinfo name|vtable) for KORVIK::(USBDevice|USBDeviceStatus|USBDeviceCurrents|LinkCheck|LinkRule|LinkCheckOptions)$' \
    >"$tmp/leaks" || true
if [ -s "$tmp/leaks" ]; then
  echo "symbols exported beyond the documented interface:" >&2
  cat "$tmp/leaks" >&2
  exit 1
fi
echo "exports ok: $(wc -l <"$tmp/flat") flat functions"
