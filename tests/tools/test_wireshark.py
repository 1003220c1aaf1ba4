"""The Wireshark dissector on hostile input, and replay refusing hostile
captures (needs no privileges and no boards)."""
import os
import pathlib
import shutil
import subprocess

import pytest

import pcapfile
from conftest import korvik

SOURCE = pathlib.Path(__file__).resolve().parents[2]
DISSECTOR = SOURCE / "tools" / "wireshark" / "korvik.lua"
CORPUS = SOURCE / "fuzz" / "corpus" / "frames"


def tshark(*args):
    if not shutil.which("tshark"):
        pytest.skip("tshark is not installed (scripts/deps installs it)")
    # a fresh configuration, so no user's preferences or plugins take part
    env = dict(os.environ, WIRESHARK_CONFIG_DIR="/nonexistent-korvik", LC_ALL="C")
    return subprocess.run(["tshark", "-n", "-2", "-X", f"lua_script:{DISSECTOR}", *args],
                          capture_output=True, text=True, timeout=300, env=env)


def corpus_frames():
    """The frame fuzzer's corpus: chunks of operation, length and frame bytes."""
    frames = []
    for unit in sorted(CORPUS.iterdir()):
        data = unit.read_bytes()
        at = 0
        while at + 2 <= len(data):
            n = data[at + 1]
            frames.append(data[at + 2:at + 2 + n])
            at += 2 + n
    return frames


def test_fuzz_corpus_dissects_without_lua_errors(tmp_path):
    frames = corpus_frames()
    # every frame also as each of the three board ethertypes
    for et in (b"\x09\x00", b"\x09\x01", b"\x08\xff"):
        frames += [f[:12] + et + f[14:] for f in corpus_frames() if len(f) >= 14]
    # and every length a frame of the board protocol can have, cut anywhere
    header = b"\xff" * 6 + b"\x02\x00\x00\x00\x00\x01" + b"\x09\x00"
    frames += [(header + bytes(range(256)) * 7)[:n] for n in range(0, 1601, 7)]
    cap = tmp_path / "corpus.pcap"
    pcapfile.write(cap, frames)
    r = tshark("-r", str(cap), "-V")
    assert r.returncode == 0, r.stderr
    assert "Lua Error" not in r.stdout and "Lua Error" not in r.stderr
    ours = sum(1 for f in frames if pcapfile.ethertype(f) in (0x0900, 0x0901, 0x08FF))
    assert r.stdout.count("korvik evaluation board") == ours > 10000


@pytest.mark.parametrize("name,content,message", [
    ("text.pcap", b"not a capture at all\n", "not a capture file"),
    ("empty.pcap", b"", "not a capture file"),
    ("missing.pcap", None, "No such file"),
])
def test_replay_refuses_what_is_no_capture(tmp_path, name, content, message):
    path = tmp_path / name
    if content is not None:
        path.write_bytes(content)
    r = korvik("get", f"sim:replay:{path}")
    assert r.status == 1 and message in r.err and str(path) in r.err


def test_replay_refuses_other_link_types_and_captures_without_a_board(tmp_path):
    raw = tmp_path / "raw.pcap"
    pcapfile.write(raw, [b"\x45" + bytes(40)], link=101)
    r = korvik("get", f"sim:replay:{raw}")
    assert r.status == 1 and "link type" in r.err
    other = tmp_path / "other.pcap"
    pcapfile.write(other, [bytes(14) + b"hello", b"\xff" * 12 + b"\x08\x00" + bytes(30)])
    r = korvik("regs", f"sim:replay:{other}")
    assert r.status == 1 and "no frames of a board" in r.err
    r = korvik("get", "sim:replay:")
    assert r.status == 2
