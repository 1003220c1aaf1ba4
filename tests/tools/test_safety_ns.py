"""korvik beside emulated boards on veth pairs (in the private namespace of
tests/transport/run_ns_tests.sh): simulations that must not touch them,
settings that must persist, output and disks that fail."""
import os
import subprocess
import time

import pytest

from conftest import KORVIK, korvik

EMULATOR = os.environ.get("KORVIK_BOARD_EMU", "korvik-board-emu")
# the first serial a command-line simulation would take, and a second board
BOARDS = {"kz0": ("0123456", "RC1200"), "kz1": ("1234567", "RC1200")}


def sh(command):
    subprocess.run(command, shell=True, check=True)


@pytest.fixture(scope="module", autouse=True)
def boards():
    assert os.environ.get("KORVIK_TEST_NETNS") == "1", "run through run_ns_tests.sh"
    assert sorted(os.listdir("/sys/class/net")) == ["lo"]
    emulators = []
    for iface, (serial, chip) in BOARDS.items():
        sh(f"ip link add name {iface} type veth peer name {iface}p")
        sh(f"ip link set {iface}p up")
        emulators.append(subprocess.Popen([EMULATOR, iface + "p", serial, "50"]))
        sh(f"ip link set {iface} alias 'Zelvane Inc. {chip} Evaluation Board'")
        sh(f"ip link set {iface} up")
    time.sleep(0.3)
    yield
    for e in emulators:
        e.terminate()
        e.wait()
    for iface in BOARDS:
        sh(f"ip link del {iface}")


def values(board, *names):
    return korvik("--json", "get", board, *names, check=0).json()["parameters"]


def test_sim_boards_never_touch_a_real_board_of_their_serial(tmp_path):
    before = values("0123456", "nv_ethmac", "nv_serial", "tx_power")
    r = korvik("--json", "info", "sim:RC1200", check=0)
    info = r.json()
    assert info["simulated"] is True and info["serial"] != "0123456"
    assert "0123456" in r.err and info["serial"] in r.err
    korvik("set", "sim:RC1200", "tx_power=-5dBm", check=0)
    assert values("0123456", "nv_ethmac", "nv_serial", "tx_power") == before

    # a file saved from a real board simulates a board of its own
    saved = tmp_path / "mine.xml"
    korvik("set", "1234567", "tx_power=3dBm", check=0)
    korvik("save", "1234567", str(saved), check=0)
    korvik("set", "1234567", "tx_power=7dBm", check=0)
    r = korvik("--json", "info", f"sim:RC1200:{saved}", check=0)
    assert r.json()["simulated"] is True and r.json()["serial"] != "1234567"
    assert "1234567" in r.err
    assert values("1234567", "tx_power")["tx_power"] == 7


def test_crystal_set_with_store_persists():
    r = korvik("set", "1234567", "xtal_frequency=26MHz", "tx_carrierfrequency=868.3MHz", check=2)
    assert "--store" in r.err
    korvik("set", "--store", "1234567", "xtal_frequency=26MHz", "tx_carrierfrequency=868.3MHz", check=0)
    got = values("1234567", "xtal_frequency", "tx_carrierfrequency")
    assert got["xtal_frequency"] == pytest.approx(26e6)
    assert got["tx_carrierfrequency"] == pytest.approx(868.3e6, abs=100)


def test_watch_ends_when_its_output_fails_and_frees_the_board():
    with open("/dev/full", "w") as full:
        proc = subprocess.run([KORVIK, "watch", "1234567"], stdout=full, stderr=subprocess.PIPE, text=True,
                              timeout=30)
    assert proc.returncode == 1 and "cannot write the output" in proc.stderr, proc.stderr
    # a reader that closes the pipe with SIGPIPE ignored (as under systemd)
    proc = subprocess.Popen(f"trap '' PIPE; {KORVIK} watch 1234567 | head -c 1 >/dev/null", shell=True,
                            stderr=subprocess.PIPE, text=True)
    _, err = proc.communicate(timeout=30)
    korvik("get", "1234567", "tx_power", check=0)


def test_full_disk_leaves_the_old_file(tmp_path):
    small = tmp_path / "small"
    small.mkdir()
    sh(f"mount -t tmpfs -o size=64k tmpfs {small}")
    try:
        old = small / "board.xml"
        korvik("save", "1234567", str(old), check=0)
        kept = old.read_bytes()
        # fill the disk to the last block
        subprocess.run(f"dd if=/dev/zero of={small}/filler bs=4k 2>/dev/null", shell=True)
        r = korvik("save", "0123456", str(old), check=1)
        assert "No space left on device" in r.err
        assert old.read_bytes() == kept
        assert sorted(os.listdir(small)) == ["board.xml", "filler"]
    finally:
        sh(f"umount {small}")


def test_load_keeps_the_boards_identity_and_needs_store_for_a_crystal(tmp_path):
    import re
    other = tmp_path / "other.xml"
    korvik("save", "0123456", str(other), check=0)
    before = values("1234567", "nv_serial", "nv_ethmac", "xtal_frequency", "tx_carrierfrequency")
    # the other board's file with this board's crystal
    other.write_text(re.sub(r'xtal="\d+"', f'xtal="{round(before["xtal_frequency"])}"', other.read_text()))
    r = korvik("load", "1234567", str(other), check=0)
    assert "were not taken: board 1234567 keeps its own" in r.err, r.err
    korvik("load", "--store", "1234567", str(other), check=0)
    kept = values("1234567", "nv_serial", "nv_ethmac")
    assert kept == {k: before[k] for k in kept}

    # a crystal of the file's own is refused before anything is written
    crystal = 26000000 if before["xtal_frequency"] != pytest.approx(26e6) else 16000000
    text = re.sub(r'xtal="\d+"', f'xtal="{crystal}"', other.read_text())
    assert f'xtal="{crystal}"' in text
    other.write_text(text)
    korvik("set", "1234567", "tx_power=1dBm", check=0)
    kept = values("1234567", "xtal_frequency", "tx_power")
    r = korvik("load", "1234567", str(other), check=1)
    assert "xtal_frequency" in r.err and "--store" in r.err and "Nothing was changed" in r.err, r.err
    assert values("1234567", "xtal_frequency", "tx_power") == kept
    korvik("load", "--store", "1234567", str(other), check=0)
    assert values("1234567", "xtal_frequency")["xtal_frequency"] == pytest.approx(crystal)
