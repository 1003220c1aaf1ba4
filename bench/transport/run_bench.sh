#!/bin/sh
# Runs bench_transport inside a private network namespace (needs root).
# Usage: run_bench.sh BUILD_DIR [ROUNDS]
build="${1:?build directory}"
shift
exec unshare --net --mount sh -c '
    set -e
    mount --make-rprivate / 2>/dev/null || true
    mount -t sysfs sysfs /sys
    ip link set lo up
    KORVIK_BENCH_NETNS=1 exec "$0" "$@"
' "$build/bench/transport/bench_transport" "$@"
