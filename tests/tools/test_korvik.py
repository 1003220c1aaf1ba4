"""korvik on simulated boards: every command, units, the explain view, bad
input and what goes to standard error."""
import os
import pty
import re
import subprocess

import pytest

from conftest import KORVIK, korvik

CHIPS = ["RC1200", "RC1300", "RC1400", "RC1100"]


@pytest.mark.parametrize("args, out", [
    (["list"], r"no boards found"),
    (["info", "sim:RC1300"], r"chip\s+RC1300 \(receive, transmit\)"),
    (["get", "sim:RC1200", "tx_power", "framingmode"], r"tx_power\s+10 dBm\nframingmode\s+Raw"),
    (["params", "sim:RC1400"], r"rx_modulation\s+-\s+choice\s+rx\s+receive modulation: ASK,"),
    (["params", "sim:RC1200"], r"xtal_frequency\s+Hz\s+.*MHz to .*MHz, step 1 Hz"),
    (["regs", "sim:RC1200"], r"FREQ3"),
    (["regs", "sim:RC1200", "--bitfields"], r"MODULATION \(Tx\)"),
    (["poke", "sim:RC1200", "TXPWR=3"], r"TXPWR\s+0x03"),
    (["defaults", "sim:RC1200", "chip"], r"chip defaults loaded"),
    (["defaults", "sim:RC1200", "load"], r"board defaults loaded"),
    (["defaults", "sim:RC1200", "store"], r"board defaults stored"),
    (["watch", "sim:RC1200", "--seconds", "0.1"], r"^$"),
    (["cw", "sim:RC1100", "on"], r"continuous wave on"),
])
def test_commands_on_simulated_boards(args, out):
    r = korvik(*args, check=0)
    assert re.search(out, r.out), r.out


def test_get_shows_what_the_chip_has():
    names = {p["name"] for p in korvik("--json", "params", check=0).json()["parameters"]}
    for chip in CHIPS:
        got = korvik("get", "sim:" + chip, "--json", check=0).json()
        assert got["chip"] == chip
        keys = set(got["parameters"])
        assert keys <= names
        # a receive-only chip has no transmitter settings and the other way round
        assert ("tx_power" in keys) == (chip != "RC1400")
        assert ("rx_bandwidth" in keys) == (chip != "RC1100")


def test_set_reads_units_and_explains_the_result():
    asked = [
        ("tx_carrierfrequency=868.3MHz", 868.3e6),
        ("rx_carrierfrequency=868300kHz", 868.3e6),
        ("tx_bitrate=9k6", 9600),
        ("rx_bitrate=9.6kbit/s", 9600),
        ("tx_deviation=4.8 kHz", 4800),
        ("xtal_tolerance=25ppm", 25),
        ("chacc_slottime=2ms", 0.002),
        ("crcinit=0xffff", 0xFFFF),
        ("tx_modulation=gfsk", "GFSK"),
        # after the modulation: shaped ones offer fewer power levels
        ("tx_power=7dBm", 7),
        ("framingmode=hdlc", "HDLC"),
        ("enc_diff=off", False),
        ("chacc_addr1=400012345601", "40:00:12:34:56:01"),
    ]
    r = korvik("--json", "set", "--dry-run", "sim:RC1200", *[a for a, _ in asked], check=0).json()
    assert r["dry_run"] is True
    rows = r["parameters"]
    assert [row["name"] for row in rows] == [a.split("=")[0] for a, _ in asked]
    for row, (text, value) in zip(rows, asked):
        if isinstance(value, bool) or isinstance(value, str):
            assert row["asked"] == value, text
        else:
            assert row["asked"] == pytest.approx(value), text
        if row["difference"] is not None:
            assert row["value"] - row["asked"] == pytest.approx(row["difference"])
            if row["ppm"] is not None:
                assert row["ppm"] == pytest.approx(row["difference"] / abs(row["asked"]) * 1e6)
                # quantisation, not a different value
                assert abs(row["ppm"]) < 1000, text
        else:
            assert row["equal"] == (row["value"] == row["asked"])


def test_set_text_view_shows_asked_now_and_difference():
    r = korvik("set", "sim:RC1200", "tx_bitrate=9k6", "tx_power=10dBm", check=0)
    assert re.search(r"tx_bitrate\s+9.6 kbit/s\s+9.59\d* kbit/s\s+-\S+ bit/s \(-\S+ ppm\)", r.out), r.out
    assert re.search(r"tx_power\s+10 dBm\s+10 dBm\s+0\n", r.out), r.out


@pytest.mark.parametrize("args, status, message", [
    (["frobnicate"], 2, "unknown command 'frobnicate'"),
    (["get"], 2, "BOARD is required"),
    (["get", "sim:RC1200", "nosuch"], 2, "unknown parameter 'nosuch'"),
    (["set", "sim:RC1200", "tx_power"], 2, "'tx_power' is not PARAM=VALUE"),
    (["set", "sim:RC1200", "crclength=2"], 2, "crclength is read-only"),
    (["set", "sim:RC1200", "tx_carrierfrequency=10dBm"], 1, "bad value for tx_carrierfrequency: '10dBm' is not a frequency"),
    (["set", "sim:RC1200", "tx_carrierfrequency=868.3mhz"], 1, "lower-case m means milli"),
    (["set", "sim:RC1200", "tx_bitrate=fast"], 1, "is not a bitrate such as 9k6"),
    (["set", "sim:RC1200", "tx_modulation=QAM"], 1, "'QAM' is not one of \"ASK\""),
    (["set", "sim:RC1200", "enc_diff=maybe"], 1, "is not on/off"),
    (["set", "sim:RC1200", "chacc_addr1=40::12:34:56:00"], 1, "is not a MAC address"),
    (["set", "sim:RC1400", "tx_power=3"], 1, "tx_power does not apply to the RC1400"),
    (["get", "sim:XY1200"], 1, "unknown chip 'XY1200' (did you mean 'RC1200'?); supported: RC1200, RC1400, RC1100, RC1300"),
    (["get", "nosuchboard"], 1, "board 'nosuchboard' not found"),
    (["poke", "sim:RC1200", "NOPE=1"], 2, "no register or bitfield 'NOPE'"),
    (["poke", "sim:RC1200", "FREQ3@0x081=0x100"], 1, "bad value for FREQ3@0x081: '0x100' is larger than 255"),
    (["poke", "sim:RC1200", "FREQ3=0x10"], 2, "register name 'FREQ3' is ambiguous: say FREQ3@0x081 or FREQ3@0x088"),
    (["set", "sim:RC1200", "tx_power=13dBm"], 1, "tx_power: 13 dBm lies outside the levels"),
    (["set", "sim:RC1200", "preamble_length=32"], 1, "preamble_length does not apply to the RC1200"),
    (["defaults", "sim:RC1200", "sideways"], 2, "sideways not in {chip,load,store}"),
    (["send", "sim:RC1200", "01x2"], 1, "'x', which is not a hexadecimal digit"),
    (["send", "sim:RC1200", "0102"], 1, "board 'sim:RC1200' cannot send: the virtual air is off"),
    (["cw", "sim:RC1400", "on"], 1, "cannot transmit"),
])
def test_bad_input(args, status, message):
    r = korvik(*args)
    assert r.status == status, r.err
    assert message in r.err
    assert r.out == ""


def test_help_and_version():
    r = korvik("--help", check=0)
    listed = re.findall(r"^  (\w+)\s{2,}\S", r.out.split("Subcommands:")[1], re.M)
    assert listed[:3] == ["list", "info", "get"] and "set" in listed and "cw" in listed
    assert "--dry-run" in korvik("set", "--help", check=0).out
    assert re.match(r"korvik \S+ \(libkorvik-0 V1.4\)", korvik("--version", check=0).out)


def test_diagnostics_only_with_verbose():
    quiet = korvik("get", "sim:RC1200", "tx_power", check=0)
    assert quiet.err == ""
    loud = korvik("-v", "get", "sim:RC1200", "tx_power", check=0)
    assert "USBDevice::USBDevice start" in loud.err
    assert loud.out == quiet.out


def run_on_terminal(*args):
    """Runs korvik with standard error on a pseudo terminal; returns what it showed there."""
    master, slave = pty.openpty()
    proc = subprocess.run([KORVIK, *args], stdout=subprocess.PIPE, stderr=slave, timeout=60)
    os.close(slave)
    shown = b""
    try:
        while True:
            chunk = os.read(master, 4096)
            if not chunk:
                break
            shown += chunk
    except OSError:
        pass
    os.close(master)
    return proc.returncode, shown.decode()


def test_progress_only_on_a_terminal_and_never_with_json():
    status, shown = run_on_terminal("list")
    assert status == 0 and "Scanning for boards..." in shown
    status, shown = run_on_terminal("--json", "list")
    assert status == 0 and shown == ""
    assert korvik("list", check=0).err == ""
