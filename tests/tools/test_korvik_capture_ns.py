"""Captures of a session with emulated boards on veth pairs, replayed as a
board and read by Wireshark's dissector (inside the private network
namespace that tests/transport/run_ns_tests.sh sets up)."""
import json
import os
import pathlib
import shutil
import struct
import subprocess
import time

import pytest

import pcapfile
from conftest import korvik

EMULATOR = os.environ.get("KORVIK_BOARD_EMU", "korvik-board-emu")
DISSECTOR = pathlib.Path(__file__).resolve().parents[2] / "tools" / "wireshark" / "korvik.lua"
BOARDS = {"kr0": "3000001", "kr1": "3000002"}
RSSI, OFFSET = -77, -40


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
    emulator = subprocess.Popen([EMULATOR, "--rssi", str(RSSI), "--offset", str(OFFSET), *args, "50"])
    for iface in BOARDS:
        sh(f"ip link set {iface} alias 'Zelvane Inc. RC1200 Evaluation Board'")
        sh(f"ip link set {iface} up")
    time.sleep(0.3)
    yield
    emulator.terminate()
    emulator.wait()
    for iface in BOARDS:
        sh(f"ip link del {iface}")


@pytest.fixture(scope="module")
def session(tmp_path_factory):
    """open, set, store, status and packets, every process adding to one file per board"""
    folder = tmp_path_factory.mktemp("session")
    env = dict(os.environ, KORVIK_CAPTURE=str(folder / "s_%i.pcap"))
    korvik("set", "kr0", "tx_carrierfrequency=868.3MHz", "tx_power=3dBm", "chacc_slottime=7ms", check=0, env=env)
    korvik("defaults", "kr0", "store", check=0, env=env)
    korvik("set", "kr0", "tx_power=5dBm", check=0, env=env)
    korvik("per", "--tx", "kr1", "--rx", "kr0", "--count", "5", "--length", "8", "--interval", "20",
           check=0, env=env, timeout=120)
    return folder / "s_kr0.pcap"


def test_replayed_board_reads_as_the_live_one(session):
    replay = f"sim:replay:{session}"
    for command in (["get"], ["regs"], ["regs", "--bitfields"]):
        live = korvik("--json", *command, "kr0", check=0).out
        replayed = korvik("--json", *command, replay, check=0).out
        assert replayed == live, command


def test_replayed_board_plays_status_reports_and_packets_on_their_clock(session):
    frames = pcapfile.read(session)
    start = frames[0][0]
    radio = [t - start for t, f in frames if pcapfile.ethertype(f) == 0x0901]
    assert len(radio) == 5
    began = time.monotonic()
    length = frames[-1][0] - start
    lines = korvik("--json", "watch", f"sim:replay:{session}", "--seconds", str(length + 1.5), check=0,
                   timeout=120).out.splitlines()
    events = [json.loads(line) for line in lines]
    received = [e for e in events if e["type"] == "rx"]
    assert len(received) == 5
    assert all(e["rssi"] == RSSI for e in received)
    statuses = [e for e in events if e["type"] == "status"]
    recorded = [f for _, f in frames if pcapfile.ethertype(f) == 0x0900 and len(f) >= 32 and f[17] == 1]
    assert len(statuses) == len(recorded) > 5
    assert [s["ticks"] for s in statuses] == [struct.unpack_from("<H", f, 21)[0] for f in recorded]
    assert time.monotonic() - began >= radio[-1]


def tshark_fields(capture, display_filter, *fields, options=()):
    if not shutil.which("tshark"):
        pytest.skip("tshark is not installed (scripts/deps installs it)")
    env = dict(os.environ, WIRESHARK_CONFIG_DIR="/nonexistent-korvik", LC_ALL="C")
    args = ["tshark", "-n", "-2", "-X", f"lua_script:{DISSECTOR}", "-r", str(capture), "-Y", display_filter,
            "-T", "fields", "-E", "separator=,", *options]
    for f in fields:
        args += ["-e", f]
    r = subprocess.run(args, capture_output=True, text=True, timeout=300, env=env)
    assert r.returncode == 0, r.stderr
    return [line.split(",") for line in r.stdout.splitlines()]


def test_dissector_shows_writes_status_and_packets(session):
    # the last write of each register is the value the board holds now
    last = {}
    for address, value in tshark_fields(session, "korvik.reg.write == 1", "korvik.reg.address", "korvik.reg.value"):
        last[int(address, 16)] = int(value, 16)
    regs = korvik("--json", "regs", "kr0", check=0).json()["registers"]
    written = [r for r in regs if r["operatingaddr"] in last]
    assert len(written) >= 2
    for r in written:
        assert last[r["operatingaddr"]] == r["chip"], r["name"]
    # with the chip set, every register of its table has its name
    named = tshark_fields(session, "korvik.reg.write == 1", "korvik.reg.address", "korvik.reg.name",
                          options=("-o", "korvik.chip:RC1200"))
    names = {r["operatingaddr"]: r["name"] for r in regs}
    assert all(name == names[int(a, 16)] for a, name in named if int(a, 16) in names)
    assert any(name for _, name in named)

    # status reports: the fields as the bytes of the frame have them
    frames = [f for _, f in pcapfile.read(session)]
    status = tshark_fields(session, "korvik.kind == 4", "frame.number", "korvik.status.ticks",
                           "korvik.status.progstate", "korvik.status.flags", "korvik.status.value1")
    assert len(status) > 5
    for number, ticks, progstate, flags, value1 in status:
        f = frames[int(number) - 1]
        assert int(ticks) == struct.unpack_from("<H", f, 21)[0]
        assert int(progstate) == f[19]
        assert int(flags, 16) == f[18]
        assert int(value1) == struct.unpack_from("<H", f, 26)[0]

    packets = tshark_fields(session, "korvik.kind == 7", "korvik.radio.rssi", "korvik.radio.frequency_offset")
    assert packets == [[str(RSSI), str(OFFSET)]] * 5

    # replies link to their requests, with the time between them
    linked = tshark_fields(session, "korvik.kind == 3 && korvik.reg.address", "korvik.request_in", "korvik.time")
    assert linked and all(req and float(dt) >= 0 for req, dt in linked)
    assert tshark_fields(session, "_ws.malformed || korvik.malformed", "frame.number") == []
    env = dict(os.environ, WIRESHARK_CONFIG_DIR="/nonexistent-korvik", LC_ALL="C")
    text = subprocess.run(["tshark", "-n", "-2", "-V", "-X", f"lua_script:{DISSECTOR}", "-r", str(session)],
                          capture_output=True, text=True, timeout=300, env=env)
    assert "Lua Error" not in text.stdout + text.stderr and "Malformed" not in text.stdout
