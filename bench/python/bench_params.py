"""A Board property made from the parameter table, read from Python, against
the ctypes call of the typed C getter it wraps and an empty call (the floor),
interleaved over RUNS rounds; prints median and range of each and the
property's overhead over the C call (target under 1 us).

    python3 bench/python/bench_params.py BUILD_DIR [RUNS]

With a sanitized BUILD_DIR run it under the sanitizer runtime
(LD_PRELOAD=$(gcc -print-file-name=libasan.so)); its figures are then
those of the sanitized library.
"""

import os
import statistics
import sys
import timeit
from pathlib import Path

build = Path(sys.argv[1] if len(sys.argv) > 1 else "build").resolve()
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 7
os.environ.setdefault("KORVIK_LIBRARY", str(build / "lib" / "libkorvik-0.so"))
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "python" / "src"))

import korvik  # noqa: E402
from korvik._native import lib  # noqa: E402

N = 100_000


def main():
    board = korvik.open_simulation("RC1200")
    board.tx_carrierfrequency = 868.3e6
    board.commit()
    h = board._h
    get = lib.get_tx_carrierfrequency
    rows = {"property board.tx_carrierfrequency": lambda: board.tx_carrierfrequency,
            "ctypes libkorvik_get_tx_carrierfrequency": lambda: get(h),
            "floor (empty call)": lambda: None}
    figures = {k: [] for k in rows}
    for _ in range(runs):
        for name, fn in rows.items():
            figures[name].append(timeit.timeit(fn, number=N) / N * 1e9)
    for name, v in figures.items():
        print(f"{name:42} median {statistics.median(v):7.1f} ns (range {min(v):.1f} .. {max(v):.1f})")
    over = [p - c for p, c in zip(figures["property board.tx_carrierfrequency"],
                                  figures["ctypes libkorvik_get_tx_carrierfrequency"])]
    m = statistics.median(over)
    print(f"property over the C call: median {m / 1000:.3f} us (range {min(over) / 1000:.3f} .. "
          f"{max(over) / 1000:.3f}), {runs} interleaved rounds, not pinned; "
          f"{'below' if m < 1000 else 'NOT below'} the 1 us target")
    board.close()


if __name__ == "__main__":
    main()
