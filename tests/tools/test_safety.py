"""korvik in a hostile environment, as a fault review tried it: devices and
FIFOs as file names, failing and closed output, signals, hostile values."""
import os
import signal
import stat
import subprocess
import time

import pytest

from conftest import KORVIK, korvik


def test_save_writes_devices_and_stdout_without_replacing_them(tmp_path):
    if os.geteuid() == 0:
        # device nodes of our own: a fault here must not cost the machine its /dev/null
        null, full = tmp_path / "null", tmp_path / "full"
        os.mknod(null, stat.S_IFCHR | 0o666, os.makedev(1, 3))
        os.mknod(full, stat.S_IFCHR | 0o666, os.makedev(1, 7))
    else:
        null, full = "/dev/null", "/dev/full"
    korvik("save", "sim:RC1200", str(null), check=0)
    r = korvik("save", "sim:RC1200", str(full), check=1)
    assert "No space left on device" in r.err
    for node in (null, full):
        assert stat.S_ISCHR(os.stat(node).st_mode)

    for name in ("-", "/dev/stdout"):
        r = korvik("save", "sim:RC1300", name, check=0)
        assert r.out.startswith("<?xml") or r.out.startswith("<!DOCTYPE"), r.out[:80]


def test_fifos_are_refused_as_input_without_blocking(tmp_path):
    fifo = tmp_path / "settings.xml"
    os.mkfifo(fifo)
    for args in (["load", "sim:RC1200", str(fifo)], ["get", f"sim:RC1200:{fifo}"], ["diff", str(fifo), str(fifo)]):
        start = time.monotonic()
        r = korvik(*args, timeout=20)
        # diff says trouble with 2, as diff(1) does
        assert r.status in (1, 2) and "not a regular file" in r.err, (args, r.err)
        assert time.monotonic() - start < 10


@pytest.mark.parametrize("args", [["get", "sim:RC1200"], ["regs", "sim:RC1100"], ["params"]])
def test_output_that_cannot_be_written_fails(args):
    with open("/dev/full", "w") as full:
        proc = subprocess.run([KORVIK, *args], stdout=full, stderr=subprocess.PIPE, text=True, timeout=60)
    assert proc.returncode == 1 and "cannot write the output" in proc.stderr, proc.stderr
    closed = subprocess.run(f"exec {KORVIK} {' '.join(args)} >&-", shell=True, stderr=subprocess.PIPE,
                            text=True, timeout=60)
    assert closed.returncode == 1 and "cannot write the output" in closed.stderr, closed.stderr


def test_interrupted_per_reports_what_was_sent_and_exits_with_the_signal():
    proc = subprocess.Popen([KORVIK, "--virtual-air", "per", "--tx", "sim:RC1200", "--rx", "sim:RC1200",
                             "--count", "100000"],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    time.sleep(2)
    proc.send_signal(signal.SIGINT)
    out, err = proc.communicate(timeout=60)
    assert proc.returncode == 128 + signal.SIGINT, err
    assert "sent" in out and "interrupted by SIGINT" in err


@pytest.mark.parametrize("args, said", [
    (["set", "sim:RC1200", "tx_modulation=" + "9" * 26], "is not one of"),
    (["per", "--tx", "sim:RC1200", "--rx", "sim:RC1200", "--count", "4294967295"], "1 to 1000000"),
    (["per", "--tx", "sim:RC1200", "--rx", "sim:RC1200", "--count", "-5"], "1 to 1000000"),
    (["send", "sim:RC1200", "0102", "--count", "0"], "1 to 1000000"),
    (["watch", "sim:RC1200", "--seconds", "1e10"], "longer than the longest duration"),
    (["per", "--tx", "sim:RC1200", "--rx", "sim:RC1200", "--interval", "1e13"], "longer than the longest duration"),
    (["watch", "sim:RC1200", "--seconds", "nan"], "is not a duration"),
    (["watch", "sim:RC1200", "--seconds", "inf"], "is not a duration"),
    (["get", "kb\x1b[31mred\x07"], "\\x1b[31mred\\x07"),
    (["no\x1b]0;title\x07such"], "\\x1b]0;title\\x07"),
])
def test_hostile_values_get_a_clear_message(args, said):
    r = korvik(*args, timeout=30)
    assert r.status in (1, 2), r.err
    assert said in r.err, r.err
    assert len(r.err) < 400 and "\x1b" not in r.err and "\x07" not in r.err
    assert "stoul" not in r.err and "bad_alloc" not in r.err


def test_host_held_settings_need_store():
    r = korvik("set", "sim:RC1200", "xtal_frequency=26MHz", "tx_carrierfrequency=868.3MHz", check=2)
    assert "--store" in r.err and "xtal_frequency" in r.err
    r = korvik("set", "sim:RC1200", "nv_serial=7777777", check=2)
    assert "--store" in r.err
    # a dry run writes nothing, so nothing is lost either
    korvik("set", "--dry-run", "sim:RC1200", "xtal_frequency=26MHz", check=0)
    got = korvik("--json", "set", "--store", "sim:RC1200", "xtal_frequency=26MHz", check=0).json()
    assert got["stored"] is True and got["parameters"][0]["value"] == pytest.approx(26e6)


def test_simulated_boards_say_they_are():
    info = korvik("--json", "info", "sim:RC1200", check=0).json()
    assert info["simulated"] is True and info["nv_interrupted"] is False
