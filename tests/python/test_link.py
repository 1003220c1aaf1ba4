"""The link check and the virtual air's simulated time from Python."""

import math

import pytest

import korvik


@pytest.fixture
def air():
    if not korvik._native.lib.has("check_link_json"):
        pytest.skip("this library has no link check")
    korvik.set_virtual_air(True, seed=2, path_loss=60.0)
    try:
        yield
    finally:
        korvik.set_virtual_air_fast(False)
        korvik.set_virtual_air(False)


def tuned(chip):
    b = korvik.open_simulation(chip)
    b.tx.carrier = b.rx.carrier = 868.3e6
    b.set_tx(0, 38400, "FSK")
    b.set_rx(0, 38400, "FSK")
    b.commit()
    return b


def test_link_rules_margins_and_fix(air):
    with tuned("RC1200") as tx, tuned("RC1300") as rx:
        check = korvik.check_link(tx, rx)
        assert check and check.works and check.cause is None and check.crystal_errors_known
        assert [r.name for r in check.rules][:3] == ["transmitter", "receiver", "carrier"]
        assert check.rule("budget").unit == "dB"
        assert math.isclose(check.level, check.tx_power - 60.0)
        # 3 % off: the fix names both ways out
        tx.tx.bitrate = 38400 * 1.03
        tx.commit()
        check = korvik.check_link(tx, rx)
        assert not check and check.cause == "bitrate"
        assert check.rule("bitrate").margin < 0
        assert "rx_btr to Fast" in check.fix
        assert korvik.check_link(rx, tx, path_loss=300.0).cause == "budget"
    with tuned("RC1200") as tx, tuned("RC1200") as rx:
        assert korvik.check_link(tx, rx, path_loss=300.0).cause == "budget"
        with pytest.raises(TypeError):
            korvik.check_link(tx, rx, data="text")


def test_fast_air_delivers_without_waiting(air):
    korvik.set_virtual_air_fast(True)
    assert korvik.virtual_air_fast()
    with tuned("RC1200") as tx, tuned("RC1200") as rx:
        got = []
        rx.on("receive_packet", lambda pkt: got.append(pkt))
        start = korvik.air_time()
        for i in range(50):
            tx.send(bytes([i]) * 32)
        for _ in range(10000):
            korvik.periodic()
            if korvik.in_flight() == 0:
                break
        korvik.periodic()
        assert korvik.in_flight() == 0 and len(got) == 50
        # fifty packets' worth of simulated air time went by
        assert korvik.air_time() - start > 50 * 32 * 8 / 38400
