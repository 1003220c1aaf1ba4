#!/bin/sh
# Runs a transport benchmark inside a private network namespace (needs root).
# Usage: run_bench.sh BUILD_DIR [ROUNDS]          register reads (bench_transport)
#        run_bench.sh BUILD_DIR discovery [COUNTS] [RUNS]   scans and memory
build="${1:?build directory}"
shift
program="$build/bench/transport/bench_transport"
case "$1" in
discovery) shift; program="$build/bench/transport/bench_discovery" ;;
esac
exec unshare --net --mount sh -c '
    set -e
    mount --make-rprivate / 2>/dev/null || true
    mount -t sysfs sysfs /sys
    # a runtime directory of its own, for the adapter lock files
    mount -t tmpfs -o size=1m,mode=0755 tmpfs /run
    mkdir -m 0700 /run/korvik-runtime
    mkdir -m 1777 /run/lock
    export XDG_RUNTIME_DIR=/run/korvik-runtime
    ip link set lo up
    KORVIK_BENCH_NETNS=1 exec "$0" "$@"
' "$program" "$@"
