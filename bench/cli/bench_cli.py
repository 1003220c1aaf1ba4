#!/usr/bin/env python3
"""korvik start-to-exit times: `korvik get sim:RC1200` (target under 50 ms) and
`korvik list` with 8 emulated boards on veth pairs (target under 300 ms).

usage: python3 bench/cli/bench_cli.py BUILD_DIR [RUNS]

The list figure needs root: the script runs that part again inside a private
network and mount namespace, so the emulated boards never meet a real network.
Take the figures from a build without sanitizers."""
import os
import statistics
import subprocess
import sys
import time

BOARDS = 8


def timed(cmd, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append((time.perf_counter() - start) * 1000)
    times.sort()
    return statistics.median(times), times[int(len(times) * 0.9) - 1], times[0]


def report(what, figures, target):
    median, p90, best = figures
    verdict = "ok" if median < target else "OVER TARGET"
    print(f"{what:<44} median {median:6.1f} ms  p90 {p90:6.1f} ms  best {best:6.1f} ms  "
          f"(target < {target} ms: {verdict})")


def list_in_namespace(build, runs):
    korvik = os.path.join(build, "tools/korvik/korvik")
    emulator = os.path.join(build, "tests/transport/korvik-board-emu")
    emulators = []
    try:
        for i in range(BOARDS):
            n = f"kb{i}"
            subprocess.run(f"ip link add name {n} type veth peer name {n}p && ip link set {n}p up",
                           shell=True, check=True)
            emulators.append(subprocess.Popen([emulator, n + "p", f"{2000000 + i}"]))
            chip = ["RC1200", "RC1300", "RC1400", "RC1100"][i % 4]
            subprocess.run(f"ip link set {n} alias 'Zelvane Inc. {chip} Evaluation Board' && ip link set {n} up",
                           shell=True, check=True)
        time.sleep(0.5)
        found = subprocess.run([korvik, "list"], capture_output=True, text=True).stdout.count(" live ")
        if found != BOARDS:
            sys.exit(f"korvik list found {found} of {BOARDS} boards")
        report(f"korvik list ({BOARDS} emulated boards)", timed([korvik, "list"], runs), 300)
    finally:
        for e in emulators:
            e.terminate()
            e.wait()


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 30
    if os.environ.get("KORVIK_BENCH_NETNS") == "1":
        list_in_namespace(build, runs)
        return
    korvik = os.path.join(build, "tools/korvik/korvik")
    report("korvik get sim:RC1200", timed([korvik, "get", "sim:RC1200"], runs), 50)
    if os.geteuid() != 0:
        print("korvik list with emulated boards: skipped (needs root for a network namespace)")
        return
    subprocess.run(["unshare", "--net", "--mount", "sh", "-c",
                    'set -e; mount --make-rprivate / 2>/dev/null || true; mount -t sysfs sysfs /sys; '
                    'ip link set lo up; KORVIK_BENCH_NETNS=1 exec "$0" "$@"',
                    sys.executable, os.path.abspath(__file__), build, str(runs)], check=True)


if __name__ == "__main__":
    main()
