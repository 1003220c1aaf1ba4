"""korvik per and korvik sweep over real frames: two emulated boards on veth
pairs sharing the emulator's air, with a set RSSI and loss."""
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


def test_power_sweep_over_emulated_boards(tmp_path):
    # paced sends and late packets waited for, per point, on real frames
    before = korvik("get", "2000002", "tx_power", check=0).out
    out = tmp_path / "sweep.csv"
    n = 120
    r = korvik("--json", "sweep", "--tx", "2000002", "--rx", "kq0", "--power", "-10dBm:10dBm:10dB",
               "--count", str(n), "--length", "16", "--csv", str(out), check=0, timeout=120).json()
    assert not r["virtual_air"] and r["variable"] == "power" and r["error"] is None
    points = r["points"]
    assert [p["value"] for p in points] == [-10, 0, 10]
    for p in points:
        assert p["sent"] == n
        assert p["intact"] == p["received"] and p["bit_errors"] == 0
        assert abs(p["per"] - LOSS) <= 4 * math.sqrt(LOSS * (1 - LOSS) / n)
        assert p["per_low"] <= p["per"] <= p["per_high"]
        assert p["rssi_mean"] == -77
    # the chip's power steps are coarse; each row says what the board held
    actual = [p["actual"] for p in points]
    assert actual == sorted(actual) and actual[0] < actual[-1]
    rows = list(csv.DictReader(out.open()))
    assert [int(row["received"]) for row in rows] == [p["received"] for p in points]
    # the swept power is put back
    assert korvik("get", "2000002", "tx_power", check=0).out == before


def test_sweep_refuses_path_loss_off_the_virtual_air():
    r = korvik("sweep", "--tx", "2000002", "--rx", "kq0", "--path-loss", "60:100:10")
    assert r.status == 2 and "virtual air" in r.err
