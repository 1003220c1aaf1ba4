#!/bin/sh
# usage: check_exports.sh LIBRARY EXPECTED_FLAT_NAMES [CHANGE_LIST_HEADER C_COMPILER]
# The shared library exports exactly the flat functions, the device class and
# its status records: every expected flat function is there, and nothing else
# is (no board, chip model or standard-library instantiation). The change
# callbacks of the header's list are expected beside the named ones, so a
# notification added to the list needs no line here; the released ones stay
# in EXPECTED_FLAT_NAMES, so none can leave.
set -e
lib=$1
expected=$2
changes=$3
cc=${4:-cc}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cp "$expected" "$tmp/expected"
if [ -n "$changes" ]; then
  printf '#include "%s"\n#define X(name) libkorvik_set_callback_changed_##name\nKORVIK_CHANGES(X)\n' "$changes" |
    "$cc" -E -P -x c - | tr -s ' \t' '\n\n' | grep '^libkorvik_' >>"$tmp/expected"
fi
LC_ALL=C sort -u "$tmp/expected" -o "$tmp/expected"
expected=$tmp/expected

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
