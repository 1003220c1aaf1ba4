"""Argument checks and small value types shared by the modules."""

from __future__ import annotations

import math
import numbers
import re
from typing import Sequence, Union

__all__ = ["Choice", "real", "unsigned", "flag", "choose", "mac_bytes", "mac_text", "MacLike"]

MacLike = Union[str, bytes, bytearray]

_MAC_RE = re.compile(r"^[0-9A-Fa-f]{2}([:-]?)[0-9A-Fa-f]{2}(\1[0-9A-Fa-f]{2}){4}$")


class Choice(int):
    """A setting chosen from a list of names (modulation, framing, CRC mode,
    bit-timing recovery, channel-access mode): an int, the setting's id, that
    also carries its display name. ``str()`` gives the name, and it compares
    equal to its id and to its name (without regard to case). Its hash is the
    id's: a set or dict of Choices is keyed by id."""

    name: str

    def __new__(cls, value: int, name: str) -> "Choice":
        obj = int.__new__(cls, value)
        obj.name = name
        return obj

    def __str__(self) -> str:
        return self.name

    def __repr__(self) -> str:
        return f"Choice({int(self)}, {self.name!r})"

    def __reduce__(self):
        return (Choice, (int(self), self.name))

    # board.tx_modulation == "FSK" reads as one means it; names compare as
    # the setters take them, without regard to case
    def __eq__(self, other: object) -> bool:
        if isinstance(other, str):
            return self.name.casefold() == other.casefold()
        return int.__eq__(self, other)

    def __ne__(self, other: object) -> bool:
        result = self.__eq__(other)
        return result if result is NotImplemented else not result

    __hash__ = int.__hash__


def real(value: object, what: str) -> float:
    """A finite number as float. The library clamps out-of-range values
    silently but cannot clamp NaN, so NaN and infinities are refused here."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{what} must be a number, not {type(value).__name__}")
    v = float(value)
    if not math.isfinite(v):
        raise ValueError(f"{what} must be finite, not {v}")
    return v


def unsigned(value: object, what: str, bits: int = 32) -> int:
    """An integer in 0 .. 2**bits - 1 (ctypes would wrap anything else
    silently). Floats are taken when they hold a whole number (26e6)."""
    if isinstance(value, bool):
        raise TypeError(f"{what} must be an integer, not bool")
    if isinstance(value, numbers.Integral):
        v = int(value)
    elif isinstance(value, numbers.Real):
        f = float(value)
        if not math.isfinite(f) or f != math.floor(f):
            raise ValueError(f"{what} must be a whole number, not {value}")
        v = int(f)
    else:
        raise TypeError(f"{what} must be an integer, not {type(value).__name__}")
    if not 0 <= v < (1 << bits):
        raise ValueError(f"{what} must be in 0..{(1 << bits) - 1}, not {v}")
    return v


def signed(value: object, what: str) -> int:
    """A 32-bit signed integer."""
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{what} must be an integer, not {type(value).__name__}")
    v = int(value)
    if not -(1 << 31) <= v < (1 << 31):
        raise ValueError(f"{what} out of range: {v}")
    return v


def flag(value: object, what: str) -> int:
    """A switch: bools and the ints 0 and 1."""
    if isinstance(value, bool):
        return int(value)
    if isinstance(value, numbers.Integral) and int(value) in (0, 1):
        return int(value)
    if isinstance(value, numbers.Integral):
        raise ValueError(f"{what} must be True or False, not {value}")
    raise TypeError(f"{what} must be True or False, not {type(value).__name__}")


def choose(value: object, names: Sequence[str], what: str) -> int:
    """The id of a setting given by id or by name (names compare without
    regard to case). Ids outside the chip's list are refused: the library
    would store them without checking."""
    if isinstance(value, bool):
        raise TypeError(f"{what} must be a name or an id, not bool")
    if isinstance(value, numbers.Integral):
        v = int(value)
        if 0 <= v < len(names):
            return v
        raise ValueError(f"{what} {v} is not one of the ids 0..{len(names) - 1} "
                         f"({', '.join(names) or 'none on this chip'})")
    if isinstance(value, str):
        for i, n in enumerate(names):
            if n == value:
                return i
        folded = value.casefold()
        for i, n in enumerate(names):
            if n.casefold() == folded:
                return i
        raise ValueError(f"{what} {value!r} is not one of: {', '.join(names) or 'none on this chip'}")
    raise TypeError(f"{what} must be a name or an id, not {type(value).__name__}")


def mac_bytes(value: object, what: str = "MAC address") -> bytes:
    """Six bytes from bytes or from text: "00:12:34:0A:0B:0C", dashes or no
    separators. The library reads any malformed text as the broadcast
    address, so malformed text is refused here."""
    if isinstance(value, (bytes, bytearray)):
        if len(value) != 6:
            raise ValueError(f"{what} must be 6 bytes, not {len(value)}")
        return bytes(value)
    if isinstance(value, str):
        if not _MAC_RE.match(value):
            raise ValueError(f"{what} must be six hexadecimal byte pairs such as "
                             f"'00:12:34:0A:0B:0C', not {value!r}")
        return bytes.fromhex(value.replace(":", "").replace("-", ""))
    raise TypeError(f"{what} must be text or bytes, not {type(value).__name__}")


def mac_text(raw: bytes) -> str:
    """Six bytes as upper-case hexadecimal pairs joined by ':'."""
    return ":".join(f"{b:02X}" for b in raw)
