"""The package against an emulated board on a veth pair, in the private
test namespace that tests/transport/run_ns_tests.sh makes."""

import asyncio
import os
import subprocess

import pytest

import korvik

ALIAS = "Zelvane Inc. RC1200 Evaluation Board"
pytestmark = pytest.mark.skipif(os.environ.get("KORVIK_TEST_NETNS") != "1",
                                reason="needs the private test namespace (run_ns_tests.sh)")


def sh(*args):
    subprocess.run(args, check=True)


def _emulate(iface, serial):
    # frames must never leave the namespace: it holds nothing but loopback and ours
    assert all(n == "lo" or n.startswith("kpy") for n in os.listdir("/sys/class/net"))
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    sh("ip", "link", "add", "name", iface, "type", "veth", "peer", "name", iface + "p")
    sh("ip", "link", "set", iface + "p", "up")
    emu = subprocess.Popen([os.environ["KORVIK_ECHO_BOARD"], iface + "p", serial], env=env,
                           stdout=subprocess.PIPE, text=True)
    assert emu.stdout.readline() == "ready\n"
    sh("ip", "link", "set", iface, "alias", ALIAS)
    sh("ip", "link", "set", iface, "up")
    return emu


def _unemulate(iface, emu):
    emu.terminate()
    emu.wait(10)
    subprocess.run(["ip", "link", "del", iface])


@pytest.fixture
def emulated_board():
    assert sorted(os.listdir("/sys/class/net")) == ["lo"]
    emu = _emulate("kpy0", "3200001")
    try:
        yield "kpy0"
    finally:
        _unemulate("kpy0", emu)


def test_packets_both_ways_through_async_for(emulated_board):
    async def main():
        await korvik.attach()
        arrived = asyncio.get_running_loop().create_future()
        watch = korvik.on("device_connect",
                          lambda i, s: i == emulated_board and not arrived.done() and arrived.set_result(s))
        assert await asyncio.wait_for(arrived, 10) == "3200001"
        watch.disconnect()
        with korvik.open_interface(emulated_board) as board:
            assert not board.is_simulated
            status = await board.wait_status(timeout=5)
            assert isinstance(status, korvik.Status) and status.time > 0
            packets = board.packets("both")
            payload = bytes(range(16, 48))
            board.send(payload, dest="02:AA:BB:CC:DD:EE")
            sent = await asyncio.wait_for(packets.__anext__(), 5)
            echo = await asyncio.wait_for(packets.__anext__(), 5)
            assert (sent.direction, sent.data, sent.rssi) == ("tx", payload, None)
            assert echo.direction == "rx" and echo.data.endswith(payload)
            assert echo.rssi == -60 and isinstance(echo.frequency_offset, float)
            assert (board.tx_packet_count, board.rx_packet_count) == (1, 1)
        # closing ends the iteration
        with pytest.raises(StopAsyncIteration):
            await asyncio.wait_for(packets.__anext__(), 1)
    asyncio.run(main())


def test_a_simulation_never_takes_a_real_boards_serial(emulated_board):
    import time
    import warnings
    deadline = time.monotonic() + 10
    while "3200001" not in {b.serial for b in korvik.boards()}:
        assert time.monotonic() < deadline, "the emulated board never arrived"
        korvik.rescan()
        time.sleep(0.1)
    with warnings.catch_warnings(record=True) as said:
        warnings.simplefilter("always")
        sim = korvik.open_simulation("RC1200", serial="3200001")
    with sim, korvik.open("3200001") as real:
        assert sim.is_simulated and sim.serial != "3200001"
        assert any("3200001" in str(w.message) and sim.serial in str(w.message) for w in said)
        assert not real.is_simulated and not real.nv_interrupted
        assert sim.interface != real.interface


def test_a_program_holds_only_the_boards_it_opened(emulated_board):
    import sys
    import time
    second = _emulate("kpy1", "3200002")
    try:
        deadline = time.monotonic() + 10
        # the loop takes the news of links gone with earlier tests' boards
        korvik.periodic()
        while {("kpy0", "3200001"), ("kpy1", "3200002")} - set(korvik.boards()):
            assert time.monotonic() < deadline, "the emulated boards never arrived"
            time.sleep(0.1)
            korvik.periodic()
            korvik.rescan()
        # a board that streams status reports may miss a first identification on a busy machine
        child = ("import korvik, sys, time\n"
                 "end = time.monotonic() + 10\n"
                 "while True:\n"
                 "    try:\n"
                 "        b = korvik.open(sys.argv[1])\n"
                 "        break\n"
                 "    except korvik.BoardNotFound:\n"
                 "        if time.monotonic() > end or 'kpy0' in korvik.busy_boards() and sys.argv[1] == '3200001':\n"
                 "            raise\n"
                 "        time.sleep(0.2)\n"
                 "        korvik.periodic()\n"
                 "        korvik.rescan()\n"
                 "print(b.serial, korvik.busy_boards().get('kpy0', ''))\n"
                 "b.close()\n")
        with korvik.open("3200001") as mine:
            korvik.periodic()
            # another program opens the board this one found but did not open, and is told who holds the other
            r = subprocess.run([sys.executable, "-c", child, "3200002"], capture_output=True, text=True,
                               timeout=60)
            assert r.returncode == 0, r.stderr
            assert r.stdout.split()[0] == "3200002"
            assert f"in use by PID {os.getpid()}" in r.stdout, r.stdout
            r = subprocess.run([sys.executable, "-c", child, "3200001"], capture_output=True, text=True,
                               timeout=60)
            assert r.returncode != 0 and f"in use by PID {os.getpid()}" in r.stderr, r.stderr
            # and this one finds it again when it opens it
            with korvik.open("3200002") as other:
                assert not other.is_simulated and not mine.is_dead
    finally:
        _unemulate("kpy1", second)
