"""The Python package against simulated boards of every chip."""

import asyncio
import gc
import math
import os
import subprocess
import sys
import weakref

import pytest

import korvik

CHIPS = ["RC1200", "RC1300", "RC1400", "RC1100"]


@pytest.fixture(params=CHIPS)
def board(request):
    with korvik.open_simulation(request.param) as b:
        yield b


def test_module_functions_find_and_open_boards():
    assert korvik.version().startswith("V")
    assert sorted(korvik.supported_chips()) == sorted(CHIPS)
    with korvik.open_simulation("EV1200", serial="PY-MOD-1", name="bench", mac="02-00-00-00-00-07") as b:
        assert (b.chip, b.display_name, b.ethernet_mac) == ("RC1200", "bench", "02:00:00:00:00:07")
        assert b.is_simulated and b.can_receive and b.can_transmit
        assert korvik.BoardInfo(b.interface, "PY-MOD-1") in korvik.boards()
        with korvik.open("PY-MOD-1") as again, korvik.open_interface(b.interface) as by_name:
            assert again.interface == by_name.interface == b.interface
        # an existing serial opens that board whatever the other arguments say
        with korvik.open_simulation("RC1400", serial="PY-MOD-1") as same:
            assert same.chip == "RC1200"
    with pytest.raises(korvik.BoardNotFound):
        korvik.open("no-such-serial")
    with pytest.raises(korvik.BoardNotFound):
        korvik.open_interface("nope0")
    with pytest.raises(ValueError, match="XY1200"):
        korvik.open_simulation("XY1200")


def test_parameters_round_trip_in_si_units(board):
    cases = [  # group, name, value, relative tolerance
        (board, "xtal_tolerance", 20.0, 0),
        (board.channel_access, "slot_time", 0.05, 0),
        (board.channel_access, "rssi_threshold", -90.0, 0),
    ]
    if board.can_receive:
        cases += [(board.rx, "carrier", 868.3e6, 1e-6), (board.rx, "bitrate", 38400, 0.01),
                  (board.rx, "bandwidth", 100e3, 0.01)]
    if board.can_transmit:
        cases += [(board.tx, "carrier", 433.92e6, 1e-6), (board.tx, "bitrate", 38400, 0.01),
                  (board.tx, "deviation", 20e3, 0.01)]
    for group, name, value, tol in cases:
        setattr(group, name, value)
        assert getattr(group, name) == pytest.approx(value, rel=tol), name
    board.commit()
    for group, name, value, tol in cases:
        assert getattr(group, name) == pytest.approx(value, rel=tol), name
    if board.can_transmit:
        board.tx.power = 5.0
        assert abs(board.tx.power - 5.0) <= 3.0
    board.xtal_frequency = 26e6  # a whole number given as float is taken
    assert board.xtal_frequency == 26_000_000


def test_choices_by_id_and_name(board):
    fsk = board.modulations.index("FSK")
    if board.can_transmit:
        board.tx.modulation = "fsk"
        assert board.tx.modulation == fsk and str(board.tx.modulation) == "FSK"
        board.tx.modulation = fsk - 1
        assert board.tx.modulation.name == board.modulations[fsk - 1]
    else:
        # a receiver has no transmit modulation: refused, not ignored
        with pytest.raises(korvik.ParamError, match="does not apply"):
            board.tx.modulation = "fsk"
    last = len(board.framings) - 1
    board.framing = board.framings[last]
    assert board.framing == last
    for value in (len(board.modulations), -1, "QAM-64"):
        with pytest.raises(ValueError):
            board.tx.modulation = value
    board.channel_access.mode = "CSMA"
    assert str(board.channel_access.mode) == "CSMA"
    if not board.crc_modes:
        with pytest.raises(ValueError, match="does not apply|none on this chip"):
            board.crc = 0


def test_bad_arguments_stop_before_the_library():
    with korvik.open_simulation("RC1200") as b:
        carrier, register = b.tx.carrier, b.registers[0]
        cases = [
            (lambda: setattr(b.tx, "carrier", "868e6"), TypeError),
            (lambda: setattr(b.tx, "carrier", True), TypeError),
            (lambda: setattr(b.tx, "carrier", math.nan), ValueError),
            (lambda: setattr(b.tx, "carrier", math.inf), ValueError),
            (lambda: setattr(b, "xtal_frequency", -1), ValueError),
            (lambda: setattr(b, "xtal_frequency", 2**32), ValueError),
            (lambda: setattr(b, "xtal_frequency", 26e6 + 0.5), ValueError),
            (lambda: setattr(b.channel_access, "preamble", 256), ValueError),
            (lambda: setattr(b.encoding, "scrambler", 2), ValueError),
            (lambda: setattr(b.tx, "modulation", 8.0), TypeError),
            (lambda: setattr(register, "value", 256), ValueError),
            (lambda: setattr(b.bitfields[0], "value", 1 << b.bitfields[0].width), ValueError),
            (lambda: setattr(b, "nv_ethernet_mac", "00:11:22:33:44"), ValueError),
            (lambda: setattr(b.channel_access, "address1", b"\x01\x02"), ValueError),
            (lambda: setattr(b, "nv_serial", "a\0b"), ValueError),
            (lambda: b.send("text"), TypeError),
            (lambda: b.send(bytes(1501)), ValueError),
            (lambda: b.set_tx(20e3, math.nan, "FSK"), ValueError),
            (lambda: b.on("changed_nothing", print), ValueError),
            (lambda: b.on("status", 42), TypeError),
            (lambda: b.registers[len(b.registers)], IndexError),
            (lambda: b.registers["NO SUCH REGISTER"], KeyError),
        ]
        for call, error in cases:
            with pytest.raises(error):
                call()
        assert b.tx.carrier == carrier


def test_registers_and_bitfields_are_live_sequences(board):
    regs, fields = board.registers, board.bitfields
    assert len(regs) > 0 and len(fields) > 0
    assert regs[-1] == regs[len(regs) - 1] and regs[1:3] == [regs[1], regs[2]]
    # by label: a name the chip has twice needs its operating address
    assert regs[regs[2].label] == regs[2]
    seen = []
    board.on("changed_register", lambda r, v: seen.append((r, v)))
    target = next(r for r in regs if r.mask == 0xFF)
    target.value = target.value ^ 0x5A
    assert target.change_mask == 0x5A
    board.commit()
    assert seen == [(target, target.value)] and target.change_mask == 0
    field = next(f for f in fields if f.width >= 2)
    field.value = (1 << field.width) - 1
    assert field.value == (1 << field.width) - 1
    assert isinstance(field.description, str) and isinstance(regs[0].default_value, int)


def test_callbacks_fire_and_disconnect():
    with korvik.open_simulation("RC1200") as b:
        calls = []
        first = b.on("changed_tx_carrierfrequency", lambda: calls.append("first"))
        with b.on("changed_tx_carrierfrequency", lambda: calls.append("second")):
            b.tx.carrier = 868.3e6
            b.commit()
        assert calls == ["first", "second"]
        b.tx.carrier = 915e6
        b.commit()
        assert calls == ["first", "second", "first"]
        first.disconnect()
        first.disconnect()
        b.tx.carrier = 868e6
        b.commit()
        assert len(calls) == 3
        late = b.on("changed_tx_power", lambda: None)
    assert not late.connected
    with pytest.raises(korvik.BoardClosed):
        b.on("changed_tx_power", lambda: None)


def test_a_raising_callback_is_reported_and_leaks_nothing(monkeypatch):
    reported = []
    monkeypatch.setattr(sys, "unraisablehook", lambda u: reported.append((u.exc_type, u.err_msg)))
    b = korvik.open_simulation("RC1300")
    ran = []

    def bad():
        raise RuntimeError("callback fault")

    b.on("changed_tx_carrierfrequency", bad)
    b.on("changed_tx_carrierfrequency", lambda: ran.append(b.tx.carrier))
    b.tx.carrier = 868.3e6
    b.commit()
    assert reported == [(RuntimeError, "Exception ignored in korvik callback 'changed_tx_carrierfrequency'")]
    assert len(ran) == 1
    b.tx.carrier = 915e6  # still usable
    b.commit()
    assert len(reported) == 2 and len(ran) == 2
    finalizer, ref = b._finalizer, weakref.ref(b)
    ran.clear()
    del b
    gc.collect()
    assert ref() is None and not finalizer.alive


def test_close_is_final_and_idempotent():
    with korvik.open_simulation("RC1400") as b:
        regs = b.registers
    assert b.closed and "closed" in repr(b)
    b.close()
    for read in (lambda: b.rx.carrier, lambda: b.serial, lambda: len(regs), lambda: b.commit()):
        with pytest.raises(korvik.BoardClosed):
            read()


def test_board_arrivals_reach_every_subscriber(monkeypatch):
    with korvik.open_simulation("RC1100", serial="PY-ARRIVE-1"):
        events = []
        conn = korvik.on("device_connect", lambda i, s: events.append(s))
        assert "PY-ARRIVE-1" in events  # replayed at once
        with korvik.open_simulation("RC1100", serial="PY-ARRIVE-2"):
            assert events[-1] == "PY-ARRIVE-2"
        conn.disconnect()
        with korvik.open_simulation("RC1100", serial="PY-ARRIVE-3"):
            assert "PY-ARRIVE-3" not in events
    with pytest.raises(ValueError):
        korvik.on("status", print)


def test_send_reports_refusal():
    with korvik.open_simulation("RC1200") as b:
        with pytest.raises(korvik.NotSent):
            b.send(b"\x01\x02\x03", dest="02:AA:BB:CC:DD:EE")
        assert b.tx_packet_count == 0


def test_asyncio_waits_end_with_timeout_or_close():
    async def main():
        attachment = await korvik.attach()
        assert await korvik.attach() is attachment
        b = korvik.open_simulation("RC1200")
        with pytest.raises(TimeoutError):
            await b.wait_status(timeout=0.05)
        got = []

        async def consume():
            async for p in b.packets("both"):
                got.append(p)
        task = asyncio.ensure_future(consume())
        waiter = asyncio.ensure_future(b.wait_status())
        await asyncio.sleep(0.01)
        b.close()
        await asyncio.wait_for(task, 1)
        with pytest.raises(korvik.BoardClosed):
            await waiter
        korvik.detach()
        assert not attachment.active and got == []
        return attachment
    first = asyncio.run(main())
    # the next loop attaches anew: the closed one is forgotten
    assert asyncio.run(korvik.attach()) is not first


def test_missing_library_gives_import_error_naming_the_paths_tried():
    env = dict(os.environ, KORVIK_LIBRARY="/nonexistent/libkorvik-0.so")
    r = subprocess.run([sys.executable, "-c", "import korvik"], env=env, capture_output=True, text=True)
    assert r.returncode != 0
    assert "ImportError" in r.stderr and "/nonexistent/libkorvik-0.so (no such file)" in r.stderr


def test_nv_values_and_stored_defaults():
    with korvik.open_simulation("RC1200") as b:
        b.nv_serial = "PY-NV-7"
        b.nv_ethernet_mac = b"\x02\x11\x22\x33\x44\x55"
        b.nv_radio_ethernet_mac = "02:11:22:33:44:56"
        b.channel_access.address2 = "0A-0B-0C-0D-0E-0F"
        assert (b.nv_serial, b.nv_ethernet_mac, b.nv_radio_ethernet_mac, b.channel_access.address2) == (
            "PY-NV-7", "02:11:22:33:44:55", "02:11:22:33:44:56", "0A:0B:0C:0D:0E:0F")
        b.tx.carrier = 915e6
        b.commit()
        b.store_board_defaults()
        b.tx.carrier = 868e6
        b.load_board_defaults()
        assert b.tx.carrier == pytest.approx(915e6)


def test_callbacks_may_disconnect_themselves_and_close_the_board():
    with korvik.open_simulation("RC1200") as b:
        calls = []

        def once():
            calls.append("once")
            conn.disconnect()  # the last subscriber of its kind: the library callback goes

        conn = b.on("changed_tx_carrierfrequency", once)
        for f in (868e6, 915e6):
            b.tx.carrier = f
            b.commit()
        assert calls == ["once"]

        b.on("changed_register", lambda r, v: (calls.append(r.name), b.close()))
        b.tx.carrier = 868e6
        b.commit()  # several registers change; the first callback closes the board
        assert b.closed and len(calls) == 2
    korvik.periodic()  # the library releases the handle closed from inside its callback


def test_driving_the_library_by_hand():
    with korvik.open_simulation("RC1400"):
        fds, timeout = korvik.poll_handles()
        assert fds and all(isinstance(fd, int) and fd >= 0 for fd in fds)
        assert timeout is None or timeout >= 0
        korvik.rescan()
        korvik.periodic()


def test_diagnostic_lines_reach_a_python_sink():
    if not korvik._native.lib.has("set_diagnostic_sink"):
        pytest.skip("this library has no diagnostic sink")
    lines = []
    korvik.set_diagnostic_sink(lines.append)
    try:
        with korvik.open_simulation("RC1200") as b:
            b.tx.carrier = 915e6
            b.commit()
    finally:
        korvik.set_diagnostic_sink(None)
    assert any(line.startswith("FREQ") for line in lines) and not any("\n" in line for line in lines)


def test_packets_cross_the_virtual_air():
    if not korvik._native.lib.has("set_virtual_air"):
        pytest.skip("this library has no virtual air")

    async def main():
        korvik.set_virtual_air(True, seed=1, path_loss=40.0)
        try:
            with korvik.open_simulation("RC1200") as tx, korvik.open_simulation("RC1200") as rx:
                for board in (tx, rx):
                    board.tx.carrier = board.rx.carrier = 868.3e6
                    board.set_tx(0, 38400, "FSK")
                    board.set_rx(0, 38400, "FSK")
                    board.commit()
                async with rx.packets() as received, tx.packets("tx") as sent:
                    tx.send(b"over the air")
                    assert (await asyncio.wait_for(sent.__anext__(), 5)).data == b"over the air"
                    pkt = await asyncio.wait_for(received.__anext__(), 5)
                    assert pkt.data.endswith(b"over the air") and pkt.rssi is not None
        finally:
            korvik.set_virtual_air(False)
    asyncio.run(main())
