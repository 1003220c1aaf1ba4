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


@pytest.fixture
def emulated_board():
    # frames must never leave the namespace: it holds nothing but loopback
    assert sorted(os.listdir("/sys/class/net")) == ["lo"]
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    sh("ip", "link", "add", "name", "kpy0", "type", "veth", "peer", "name", "kpy0p")
    sh("ip", "link", "set", "kpy0p", "up")
    emu = subprocess.Popen([os.environ["KORVIK_ECHO_BOARD"], "kpy0p", "3200001"], env=env,
                           stdout=subprocess.PIPE, text=True)
    try:
        assert emu.stdout.readline() == "ready\n"
        sh("ip", "link", "set", "kpy0", "alias", ALIAS)
        sh("ip", "link", "set", "kpy0", "up")
        yield "kpy0"
    finally:
        emu.terminate()
        emu.wait(10)
        subprocess.run(["ip", "link", "del", "kpy0"])


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
