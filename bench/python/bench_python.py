"""Python wrapper figures: the cost of a property read through the package
against the same read in C, and the idle CPU of an asyncio loop attached to
one board.

    python3 bench/python/bench_python.py BUILD_DIR

BUILD_DIR is a build without sanitizers (scripts/run makes build/) that
holds lib/libkorvik-0.so and bench/python/bench_python_read.
"""

import asyncio
import os
import subprocess
import sys
import time
import timeit
from pathlib import Path

build = Path(sys.argv[1] if len(sys.argv) > 1 else "build").resolve()
os.environ["KORVIK_LIBRARY"] = str(build / "lib" / "libkorvik-0.so")
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "python" / "src"))

import korvik  # noqa: E402
from korvik._native import lib  # noqa: E402

N = 200_000


def best_ns(stmt, number=N):
    return min(timeit.repeat(stmt, number=number, repeat=5)) / number * 1e9


def main():
    board = korvik.open_simulation("RC1200")
    board.rx.carrier = 868.3e6
    board.commit()
    rx, h = board.rx, board._h
    python_ns = best_ns(lambda: rx.carrier)
    ctypes_ns = best_ns(lambda: lib.get_rx_carrierfrequency(h))
    empty_ns = best_ns(lambda: None)
    c_out = subprocess.run([str(build / "bench" / "python" / "bench_python_read")], check=True,
                           capture_output=True, text=True).stdout
    c_ns = float(c_out.split()[-1])
    print(f"C read libkorvik_get_rx_carrierfrequency:  {c_ns:8.1f} ns")
    print(f"raw ctypes call (no wrapper):              {ctypes_ns - empty_ns:8.1f} ns")
    print(f"board.rx.carrier:                          {python_ns - empty_ns:8.1f} ns")
    overhead = python_ns - empty_ns - c_ns
    print(f"wrapper overhead per read: {overhead / 1000:.3f} us "
          f"({'below' if overhead < 2000 else 'NOT below'} the 2 us target)")

    async def idle(seconds):
        await korvik.attach()
        await asyncio.sleep(0.5)  # let start-up work settle
        cpu0, t0 = time.process_time(), time.monotonic()
        await asyncio.sleep(seconds)
        return (time.process_time() - cpu0) / (time.monotonic() - t0) * 100.0

    share = asyncio.run(idle(5.0))
    print(f"idle CPU, asyncio loop attached to one board, 5 s: {share:.4f} % "
          f"({'below' if share < 0.1 else 'NOT below'} the 0.1 % target)")
    board.close()


if __name__ == "__main__":
    main()
