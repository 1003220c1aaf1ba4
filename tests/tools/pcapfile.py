"""Reads and writes classic pcap files of Ethernet frames (for the capture
tests), independently of the library."""
import struct

MAGIC_US, MAGIC_NS = 0xA1B2C3D4, 0xA1B23C4D


def write(path, frames, link=1, start=1000.0, step=0.001):
    with open(path, "wb") as f:
        f.write(struct.pack("<IHHiIII", MAGIC_US, 2, 4, 0, 0, 65535, link))
        for i, frame in enumerate(frames):
            t = start + i * step
            sec = int(t)
            f.write(struct.pack("<IIII", sec, int(round((t - sec) * 1e6)), len(frame), len(frame)))
            f.write(frame)


def read(path):
    """[(time, frame bytes)] of a pcap file written in this machine's byte order."""
    with open(path, "rb") as f:
        data = f.read()
    magic, _, _, _, _, _, link = struct.unpack_from("<IHHiIII", data, 0)
    assert magic in (MAGIC_US, MAGIC_NS) and link == 1
    scale = 1e9 if magic == MAGIC_NS else 1e6
    out, at = [], 24
    while at + 16 <= len(data):
        sec, frac, caplen, _ = struct.unpack_from("<IIII", data, at)
        at += 16
        out.append((sec + frac / scale, data[at:at + caplen]))
        at += caplen
    return out


def ethertype(frame):
    return struct.unpack_from(">H", frame, 12)[0] if len(frame) >= 14 else None
