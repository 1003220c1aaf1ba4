"""korvik against emulated boards on veth pairs, inside the private network
namespace that tests/transport/run_ns_tests.sh sets up."""
import json
import os
import subprocess
import time

import pytest

from conftest import KORVIK, korvik

EMULATOR = os.environ.get("KORVIK_BOARD_EMU", "korvik-board-emu")
BOARDS = {"kc0": ("1000001", "RC1200"), "kc1": ("1000002", "RC1300")}


def sh(command):
    subprocess.run(command, shell=True, check=True)


@pytest.fixture(scope="module", autouse=True)
def boards():
    # frames must never leave the test's own namespace
    assert os.environ.get("KORVIK_TEST_NETNS") == "1", "run through run_ns_tests.sh"
    assert sorted(os.listdir("/sys/class/net")) == ["lo"]
    emulators = []
    for iface, (serial, chip) in BOARDS.items():
        sh(f"ip link add name {iface} type veth peer name {iface}p")
        sh(f"ip link set {iface}p up")
        # status reports every 50 ms advance retuning after a commit
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


def test_list_finds_every_board():
    got = {b["serial"]: b for b in korvik("--json", "list", check=0).json()["boards"]}
    for iface, (serial, chip) in BOARDS.items():
        assert got[serial]["interface"] == iface
        assert got[serial]["chip"] == chip
        assert got[serial]["alive"] and not got[serial]["simulated"]
    text = korvik("list", check=0).out
    assert "1000001" in text and "kc0" in text and "live" in text


def test_board_by_serial_or_interface():
    by_serial = korvik("--json", "get", "1000002", check=0).json()
    by_iface = korvik("--json", "get", "kc1", check=0).json()
    assert by_serial == by_iface and by_serial["chip"] == "RC1300"


def test_set_reaches_the_board_and_bad_input_changes_nothing(tmp_path):
    korvik("set", "1000001", "tx_carrierfrequency=868.3MHz", "tx_power=3dBm", check=0)
    got = korvik("--json", "get", "1000001", "tx_carrierfrequency", "tx_power", check=0).json()["parameters"]
    assert got["tx_carrierfrequency"] == pytest.approx(868.3e6, abs=10)
    assert got["tx_power"] == 3

    r = korvik("set", "1000001", "tx_power=7dBm", "tx_bitrate=fast")
    assert r.status == 1 and "bad value for tx_bitrate" in r.err
    wrong = tmp_path / "rc1300.xml"
    korvik("save", "1000002", str(wrong), check=0)
    r = korvik("load", "1000001", str(wrong))
    assert r.status == 1 and "expected RC1200, got RC1300" in r.err
    assert korvik("--json", "set", "--dry-run", "1000001", "tx_power=10dBm", check=0).json()["dry_run"]
    after = korvik("--json", "get", "1000001", "tx_carrierfrequency", "tx_power", check=0).json()["parameters"]
    assert after == got


def test_save_and_load_round_trip(tmp_path):
    first, second = tmp_path / "first.xml", tmp_path / "second.xml"
    korvik("set", "1000002", "rx_bitrate=19k2", "chacc_slottime=7ms", check=0)
    korvik("save", "1000002", str(first), check=0)
    korvik("defaults", "1000002", "chip", check=0)
    assert korvik("diff", str(first), str(first), check=0).out == ""
    korvik("load", "1000002", str(first), check=0)
    korvik("save", "1000002", str(second), check=0)
    assert second.read_bytes() == first.read_bytes()


def test_watch_prints_status_reports_on_the_board_clock():
    r = korvik("--json", "watch", "1000001", "--status", "--seconds", "0.6", check=0)
    lines = [json.loads(line) for line in r.out.splitlines()]
    assert len(lines) >= 3
    assert all(line["type"] == "status" for line in lines)
    times = [line["time"] for line in lines]
    assert times == sorted(times)
    text = korvik("watch", "1000001", "--seconds", "0.3", check=0).out
    assert " status ticks " in text


def test_send_packets():
    r = korvik("send", "1000001", "01:02:0a:0b", "--count", "3", "--interval", "5", check=0)
    assert r.out.strip() == "sent 3 packets of 4 bytes"


def test_list_without_privileges_says_why():
    # as an unprivileged user the raw frames are refused: without -v the
    # reason still shows, and finding adapters but no usable board fails
    runtime = "/run/korvik-nobody"
    os.makedirs(runtime, exist_ok=True)
    os.chown(runtime, 65534, 65534)
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime, HOME=runtime)
    for args in (["list"], ["--json", "list"]):
        r = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", KORVIK, *args],
                           capture_output=True, text=True, env=env, timeout=60)
        assert r.returncode == 1, r.stdout + r.stderr
        for iface in BOARDS:
            assert f"unable to open adapter {iface}" in r.stderr
        assert "raw frames need root or the capabilities cap_net_raw and cap_net_admin" in r.stderr
    assert "no boards found" in r.stdout or json.loads(r.stdout)["boards"] == []
    # with root the same list works and says nothing on standard error
    ok = korvik("list", check=0)
    assert ok.err == ""
