"""korvik per: the packet test between two simulated boards on the virtual
air, and between two emulated boards on veth pairs (the second module runs
inside the private network namespace of tests/transport/run_ns_tests.sh)."""
import csv
import math

from conftest import korvik


def test_per_on_the_virtual_air(tmp_path):
    out = tmp_path / "per.csv"
    r = korvik("--virtual-air", "--json", "per", "--tx", "sim:RC1200", "--rx", "sim:RC1200",
               "--count", "40", "--length", "20", "--interval", "2", "--csv", str(out), check=0).json()
    assert (r["sent"], r["received"], r["per"], r["lost"]) == (40, 40, 0.0, [])
    # two boards 60 dB apart at their default 10 dBm: about -50 dBm
    assert -60 < r["rssi"]["min"] <= r["rssi"]["mean"] <= r["rssi"]["max"] < -40
    assert r["throughput"] > 0
    rows = list(csv.DictReader(out.open()))
    assert [int(row["sequence"]) for row in rows] == list(range(40))
    assert all(row["received"] == "1" and float(row["receive_time"]) >= float(row["send_time"]) for row in rows)

    # the same in words; without the air the first send fails and says why
    text = korvik("--virtual-air", "per", "--tx", "sim:RC1200", "--rx", "sim:RC1200",
                  "--count", "5", "--interval", "1", check=0).out
    assert "sent 5, received 5, PER 0.00 %" in text
    dry = korvik("per", "--tx", "sim:RC1200", "--rx", "sim:RC1200", "--count", "5")
    assert dry.status == 1 and "the virtual air is off" in dry.err
