"""korvik link and korvik sweep on simulated boards and settings files."""
import csv

from conftest import korvik


def test_link_verdicts_and_status(tmp_path):
    ok = korvik("--virtual-air", "--json", "link", "sim:RC1200", "sim:RC1200", check=0).json()
    assert ok["works"] and ok["cause"] is None and ok["crystal_errors_known"]
    names = [r["name"] for r in ok["rules"]]
    assert names == ["transmitter", "receiver", "carrier", "modulation", "bitrate", "framing", "crc",
                     "encoding", "sync", "address", "budget"]
    carrier = ok["rules"][2]
    assert carrier["unit"] == "kHz" and carrier["margin"] > 0 and "ppm" in carrier["detail"]

    # each refusal names its rule and what to change, with status 1
    for tx, rx, cause, fix in [("sim:RC1200", "sim:RC1100", "receiver", "listen with a board that can receive"),
                               ("sim:RC1400", "sim:RC1200", "transmitter", "send from a board that can transmit")]:
        r = korvik("--json", "link", tx, rx, check=1).json()
        assert (r["works"], r["cause"]) == (False, cause) and fix in r["fix"]
    far = korvik("--virtual-air", "link", "sim:RC1200", "sim:RC1200", "--path-loss", "250dB", check=1)
    assert "verdict: no (budget): raise tx_power by" in far.out

    # settings files: judged with the worst case of both crystal tolerances
    a = tmp_path / "a.xml"
    korvik("save", "sim:RC1200", str(a), check=0)
    r = korvik("--json", "link", str(a), str(a)).json()
    assert not r["crystal_errors_known"] and r["crystal_allowance"] > 0

    bad = korvik("link", "sim:RC1200", "sim:RC1200", "--data", "xyz")
    assert bad.status == 2 and "--data" in bad.err


def test_sweep_rows_and_search(tmp_path):
    out = tmp_path / "sweep.csv"
    r = korvik("--json", "sweep", "--tx", "sim:RC1200", "--rx", "sim:RC1200", "--fast", "--seed", "3",
               "--path-loss", "60:200:70", "--count", "30", "--csv", str(out), check=0).json()
    assert r["variable"] == "path_loss" and r["virtual_air"] and r["fast"]
    points = r["points"]
    assert [p["value"] for p in points] == [60, 130, 200]
    assert points[0]["per"] == 0 and points[-1]["per"] == 1 and points[0]["sent"] == 30
    assert points[0]["per_low"] == 0 and points[0]["per_high"] < 0.15
    rows = list(csv.DictReader(out.open()))
    assert [float(row["value"]) for row in rows] == [60, 130, 200] and rows[0]["bits"] == str(30 * 24 * 8)

    found = korvik("--json", "sweep", "--tx", "sim:RC1200", "--rx", "sim:RC1200", "--fast",
                   "--path-loss", "60dB:200dB:0.5dB", "--find-per", "1%", "--count", "200", check=0).json()
    f = found["found"]
    assert f is not None and f["low"] <= f["value"] <= f["high"] and f["high"] - f["low"] <= 0.5 + 1e-9
    # the power sweep in words
    text = korvik("sweep", "--tx", "sim:RC1200", "--rx", "sim:RC1200", "--fast", "--power", "0dBm:10dBm:5dB",
                  "--count", "10", check=0).out
    assert text.count("dBm") >= 3

    for args, message in [(["--power", "0:10:-1"], "away from STOP"), (["--power", "0:10"], "START:STOP:STEP"),
                          (["--offset", "0:1:1", "--bitrate", "1:2:1"], "")]:
        bad = korvik("sweep", "--tx", "sim:RC1200", "--rx", "sim:RC1200", *args)
        assert bad.status == 2 and message in bad.err
