#!/bin/sh
# Runs the namespace tests inside a private network and mount namespace with
# a fresh sysfs, so they only ever see (and send on) their own veth pairs.
# As root (and in CI) a namespace that cannot be made is a failure; without
# root the tests are skipped (exit 77).
prog="$1"
shift
if [ "$(id -u)" != 0 ]; then
    if [ -n "$CI" ]; then
        echo "transport_ns: not root, but CI is set: cannot create a network namespace" >&2
        exit 1
    fi
    echo "transport_ns: SKIPPED: needs root to create a network namespace (unshare --net --mount)" >&2
    exit 77
fi
exec unshare --net --mount sh -c '
    set -e
    mount --make-rprivate / 2>/dev/null || true
    mount -t sysfs sysfs /sys
    # a runtime directory of its own, for the adapter lock files
    mount -t tmpfs -o size=1m,mode=0755 tmpfs /run
    mkdir -m 0700 /run/korvik-runtime
    # the host-wide board locks live here, as on the host
    mkdir -m 1777 /run/lock
    export XDG_RUNTIME_DIR=/run/korvik-runtime
    ip link set lo up
    KORVIK_TEST_NETNS=1 exec "$0" "$@"
' "$prog" "$@"
