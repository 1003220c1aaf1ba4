"""korvik per over real frames: two emulated boards on veth pairs sharing the
emulator's air, with a set RSSI and loss."""
import csv
import math
import os
import subprocess
import time

import pytest

from conftest import korvik

EMULATOR = os.environ.get("KORVIK_BOARD_EMU", "korvik-board-emu")
BOARDS = {"kq0": "2000001", "kq1": "2000002"}
LOSS = 0.2


def sh(command):
    subprocess.run(command, shell=True, check=True)


@pytest.fixture(scope="module", autouse=True)
def boards():
    # frames must never leave the test's own namespace
    assert os.environ.get("KORVIK_TEST_NETNS") == "1", "run through run_ns_tests.sh"
    args = []
    for iface, serial in BOARDS.items():
        sh(f"ip link add name {iface} type veth peer name {iface}p")
        sh(f"ip link set {iface}p up")
        args += [iface + "p", serial]
    emulator = subprocess.Popen([EMULATOR, "--rssi", "-77", "--offset", "-40", "--loss", str(LOSS),
                                 "--seed", "5", *args, "50"])
    for iface in BOARDS:
        sh(f"ip link set {iface} alias 'Zelvane Inc. RC1200 Evaluation Board'")
        sh(f"ip link set {iface} up")
    time.sleep(0.3)
    yield
    emulator.terminate()
    emulator.wait()
    for iface in BOARDS:
        sh(f"ip link del {iface}")


def test_per_over_emulated_boards(tmp_path):
    out = tmp_path / "per.csv"
    n = 200
    r = korvik("--json", "per", "--tx", "2000001", "--rx", "kq1", "--count", str(n), "--length", "16",
               "--interval", "3", "--csv", str(out), check=0, timeout=120).json()
    assert r["sent"] == n
    # a binomial count: within four standard deviations of the set loss
    assert abs(r["per"] - LOSS) <= 4 * math.sqrt(LOSS * (1 - LOSS) / n)
    assert r["rssi"]["min"] == r["rssi"]["max"] == -77 and r["rssi"]["stddev"] == 0
    rows = list(csv.DictReader(out.open()))
    assert len(rows) == n
    lost = {int(row["sequence"]) for row in rows if row["received"] == "0"}
    assert len(lost) == n - r["received"]
    covered = set()
    for first, last in r["lost"]:
        covered |= set(range(first, last + 1))
    assert covered == lost
    assert all(row["rssi"] == "-77" for row in rows if row["received"] == "1")


def test_per_needs_two_boards():
    r = korvik("per", "--tx", "2000001", "--rx", "kq0")
    assert r.status == 2 and "same board" in r.err
