"""Python habits: the library's diagnostic lines in logging, and sends that
return once the packet has been on the air."""

import asyncio
import os
import subprocess
import sys
import time

import pytest

import korvik


def test_diagnostic_lines_go_to_logging_not_to_stderr():
    code = ("import logging, sys, korvik\n"
            "logging.basicConfig(level=logging.DEBUG, stream=sys.stdout, format='%(name)s %(levelname)s %(message)s')\n"
            "with korvik.open_simulation('RC1200') as b:\n"
            "    b.tx.carrier = 915e6\n"
            "    b.commit()\n")
    r = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=os.environ)
    assert r.returncode == 0, r.stderr
    assert r.stderr == ""
    lines = r.stdout.splitlines()
    assert any(line.startswith("korvik DEBUG FREQ") for line in lines), r.stdout
    # without logging set up, nothing is printed at all
    quiet = subprocess.run([sys.executable, "-c", code.replace("logging.basicConfig", "(lambda **k: 0)")],
                           capture_output=True, text=True, env=os.environ)
    assert quiet.returncode == 0 and quiet.stdout == quiet.stderr == ""


def test_a_sink_and_back_to_logging(caplog):
    lines = []
    korvik.set_diagnostic_sink(lines.append)
    with korvik.open_simulation("RC1300") as b:
        b.tx.carrier = 915e6
        b.commit()
    korvik.set_diagnostic_sink(None)
    assert any(line.startswith("FREQ") for line in lines)
    with caplog.at_level("DEBUG", logger="korvik"), korvik.open_simulation("RC1300") as b:
        b.tx.carrier = 868e6
        b.commit()
    assert any(r.name == "korvik" and r.getMessage().startswith("FREQ") for r in caplog.records)


@pytest.fixture
def link():
    if not korvik._native.lib.has("set_virtual_air"):
        pytest.skip("this library has no virtual air")
    korvik.set_virtual_air(True, seed=1, path_loss=40.0)
    try:
        with korvik.open_simulation("RC1200") as tx, korvik.open_simulation("RC1200") as rx:
            for board in (tx, rx):
                board.tx.carrier = board.rx.carrier = 868.3e6
                board.set_tx(0, 38400, "FSK")
                board.set_rx(0, 38400, "FSK")
                board.commit()
            yield tx, rx
    finally:
        korvik.set_virtual_air(False)


def test_air_time_follows_the_transmit_settings(link):
    tx, _ = link
    c = tx.currents
    assert tx.air_time(32) == pytest.approx(c[8] + c[9] + 256 * c[6])
    assert tx.air_time(32) > 256 / 38400
    before = tx.air_time(32)
    tx.set_tx(0, 9600, "FSK")
    tx.commit()
    assert tx.air_time(32) == pytest.approx(before * 4, rel=0.1)


def test_a_waiting_send_returns_once_the_packet_was_on_the_air(link):
    tx, rx = link
    count = 40
    start = time.monotonic()
    for i in range(count):
        tx.send(bytes([i]) * 32, wait=True)
    elapsed = time.monotonic() - start
    # every packet was received by the time the last send returned, no sleep needed
    assert rx.rx_packet_count == count and tx.tx_packet_count == count
    assert elapsed >= count * tx.air_time(32) * 0.99


def test_an_awaited_send_does_the_same_without_blocking_the_loop(link):
    tx, rx = link

    async def main():
        ticks = 0

        async def ticker():
            nonlocal ticks
            while True:
                ticks += 1
                await asyncio.sleep(0.001)

        t = asyncio.ensure_future(ticker())
        for i in range(20):
            await tx.send_async(bytes([i]) * 64)
        t.cancel()
        return ticks

    ticks = asyncio.run(main())
    assert rx.rx_packet_count == 20
    assert ticks > 10  # the loop kept running while the packets were on the air


def test_a_send_without_wait_returns_before_the_air_time():
    if not korvik._native.lib.has("set_virtual_air"):
        pytest.skip("this library has no virtual air")
    korvik.set_virtual_air(True)
    try:
        with korvik.open_simulation("RC1200") as tx, korvik.open_simulation("RC1200") as rx:
            for board in (tx, rx):
                board.set_tx(0, 1200, "FSK")
                board.set_rx(0, 1200, "FSK")
                board.commit()
            start = time.monotonic()
            tx.send(b"x" * 100)
            assert time.monotonic() - start < tx.air_time(100) / 2
            assert rx.rx_packet_count == 0
    finally:
        korvik.set_virtual_air(False)


def test_settings_files_through_the_command_line_implementation(tmp_path):
    first, second, copy = tmp_path / "first.xml", tmp_path / "second.xml", tmp_path / "copy.xml"
    subprocess.run([korvik.files.program(), "save", "sim:RC1200", str(first)], check=True, capture_output=True)
    subprocess.run([korvik.files.program(), "set", f"sim:RC1200:{first}", "crcinit=0x1234", "-o", str(second)],
                   check=True, capture_output=True)
    shown = korvik.files.show(first)
    assert shown["chip"] == "RC1200" and shown["parameters"]["crcinit"] == 0xFFFFFFFF
    assert korvik.files.diff(first, first)["equal"]
    d = korvik.files.diff(first, second)
    assert not d["equal"] and [p["name"] for p in d["parameters"]] == ["crcinit"]
    korvik.files.convert(second, copy)
    assert korvik.files.diff(second, copy)["equal"]
    code = korvik.files.snippet(first, "spi", "table")
    assert "0x" in code and code == korvik.files.snippet(first, "spi", "table")
    with pytest.raises(korvik.KorvikError, match="not-there.xml"):
        korvik.files.show(tmp_path / "not-there.xml")


@pytest.mark.parametrize("chip", ["RC1200", "RC1400"])
def test_a_live_board_saves_and_loads_settings_files(tmp_path, chip):
    """Board.save and Board.load go through the program's code: a board's file
    is the one the program writes for the same settings, and loading it puts
    every register and board setting on another board."""
    saved, again = tmp_path / "board.xml", tmp_path / "again.xml"
    with korvik.open_simulation(chip) as a, korvik.open_simulation(chip) as b:
        a.chacc_slottime = 0.007
        a.chacc_addr1 = "40:00:12:34:56:99"
        a.xtal_tolerance = 25
        a.registers[3].value ^= 0x01
        a.commit()
        a.save(saved)
        program = korvik.files.program()
        subprocess.run([program, "save", f"sim:{chip}:{saved}", str(again)], check=True, capture_output=True)
        assert korvik.files.diff(saved, again)["equal"]
        assert b.load(saved) == []
        assert [r.value for r in b.registers] == [r.value for r in a.registers]
        for name in ("chacc_slottime", "chacc_addr1", "xtal_tolerance", "xtal_frequency"):
            assert getattr(b, name) == getattr(a, name), name
        # a refused file changes nothing and names the file
        wrong = tmp_path / "other.xml"
        other = "RC1300" if chip != "RC1300" else "RC1200"
        subprocess.run([program, "save", f"sim:{other}", str(wrong)], check=True, capture_output=True)
        before = [r.value for r in b.registers]
        with pytest.raises(korvik.KorvikError, match="other.xml"):
            b.load(wrong)
        assert [r.value for r in b.registers] == before
        with pytest.raises(korvik.KorvikError):
            a.save(tmp_path / "no" / "such" / "dir.xml")
