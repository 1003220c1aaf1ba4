#!/usr/bin/env python3
"""korvik start-to-exit times: `korvik get sim:RC1200` (target under 50 ms) and
`korvik list` with 8 and 64 emulated boards on veth pairs (targets under 100
and 300 ms). Each list run alternates with `korvik --version`, the floor of
starting and ending the same program; figures are the median and range.

usage: python3 bench/cli/bench_cli.py BUILD_DIR [RUNS]

The list figure needs root: the script runs that part again inside a private
network and mount namespace, so the emulated boards never meet a real network.
Take the figures from a build without sanitizers."""
import os
import statistics
import subprocess
import sys
import time

BOARD_COUNTS = {8: 100, 64: 300}  # boards: target in ms


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
    for boards, target in BOARD_COUNTS.items():
        names = [f"kb{i}" for i in range(boards)]
        args = []
        for i, n in enumerate(names):
            chip = ["RC1200", "RC1300", "RC1400", "RC1100"][i % 4]
            subprocess.run(f"ip link add name {n} type veth peer name {n}p && ip link set {n}p up && "
                           f"ip link set {n} alias 'Zelvane Inc. {chip} Evaluation Board' && ip link set {n} up",
                           shell=True, check=True)
            args += [n + "p", f"{2000000 + i}"]
        # one process plays every board
        emu = subprocess.Popen([emulator] + args)
        try:
            time.sleep(max(0.5, 0.04 * boards))  # until every board listens
            found = subprocess.run([korvik, "list"], capture_output=True, text=True).stdout.count(" live ")
            if found != boards:
                sys.exit(f"korvik list found {found} of {boards} boards")
            floor, listing = [], []
            for _ in range(runs):
                floor.append(timed([korvik, "--version"], 1)[0])
                listing.append(timed([korvik, "list"], 1)[0])
            ratio = sorted(l - f for l, f in zip(listing, floor))
            floor.sort()
            listing.sort()
            verdict = "ok" if statistics.median(listing) < target else "OVER TARGET"
            print(f"korvik list ({boards} emulated boards, {runs} runs): median {statistics.median(listing):.1f} ms "
                  f"(range {listing[0]:.1f}-{listing[-1]:.1f}); floor korvik --version median "
                  f"{statistics.median(floor):.1f} ms (range {floor[0]:.1f}-{floor[-1]:.1f}); "
                  f"list minus floor median {statistics.median(ratio):.1f} ms (target < {target} ms: {verdict})")
        finally:
            emu.terminate()
            emu.wait()
            for n in names:
                subprocess.run(["ip", "link", "del", n], check=False)


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
                    'mount -t tmpfs -o size=1m,mode=0755 tmpfs /run; mkdir -m 0700 /run/korvik-runtime; mkdir -m 1777 /run/lock; '
                    'export XDG_RUNTIME_DIR=/run/korvik-runtime; '
                    'ip link set lo up; KORVIK_BENCH_NETNS=1 exec "$0" "$@"',
                    sys.executable, os.path.abspath(__file__), build, str(runs)], check=True)


if __name__ == "__main__":
    main()
