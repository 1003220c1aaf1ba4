"""The Board class: one open evaluation board (real, emulated or simulated)."""

from __future__ import annotations

import asyncio
import ctypes
import math
import os
import select
import time
import weakref
from dataclasses import dataclass
from typing import (Any, Callable, Dict, Iterator, List, Optional, Sequence,
                    Tuple, Union, overload)

from . import _dispatch, _params
from ._native import CALLBACK_TYPES, DEVICE_CALLBACK_KINDS, lib, libc
from ._values import Choice, MacLike, choose, flag, mac_bytes, mac_text, real, signed, unsigned
from ._params import ParamResult, _Parameters
from .errors import BoardClosed, BoardDead, KorvikError, NotSent, ParamError

__all__ = ["Board", "Receiver", "Transmitter", "ChannelAccess", "Encoding", "Register",
           "Bitfield", "Registers", "Bitfields", "Packet", "PacketStream", "Status", "CALLBACK_KINDS"]

#: Every kind that ``Board.on`` accepts.
CALLBACK_KINDS: Tuple[str, ...] = tuple(DEVICE_CALLBACK_KINDS)

# the largest payload one Ethernet frame carries; larger ones cannot be sent
MAX_PACKET = 1500
NO_RSSI = -32768


def take_string(ptr: Optional[int]) -> Optional[str]:
    """Copies and releases a string the library allocated."""
    if not ptr:
        return None
    try:
        return ctypes.string_at(ptr).decode("utf-8", "replace")
    finally:
        libc.free(ptr)


def take_list(ptr: Any) -> List[str]:
    """Copies and releases a string list the library allocated."""
    if not ptr:
        return []
    out: List[str] = []
    try:
        i = 0
        while ptr[i] is not None:
            out.append(ptr[i].decode("utf-8", "replace"))
            i += 1
    finally:
        lib.free_stringlist(ptr)
    return out


# ---- records passed to callbacks ----

@dataclass(frozen=True)
class Packet:
    """A packet the board received (``direction == "rx"``) or sent ("tx").

    ``address`` is the other end's 6-byte address as MAC text. ``rssi`` is
    the signal strength the board reported with a radio receive record and
    ``frequency_offset`` the carrier offset in Hz; both are None for packets
    sent and for packets that came without radio data."""
    data: bytes
    address: str
    direction: str
    rssi: Optional[int] = None
    frequency_offset: Optional[float] = None


@dataclass(frozen=True)
class Status:
    """One status report of a board. ``time`` is the host time of arrival
    (or the library's estimate of the board clock) in seconds since the
    epoch; the other fields are the report's own, uninterpreted."""
    time: float
    ticks: int
    values: Tuple[int, int, int]
    progstate: int
    progdetail: int
    aux: Tuple[int, int, int]
    flags: Tuple[bool, bool, bool, bool, bool, bool, bool, bool]


def _status_from(record: Any) -> Status:
    r = record.contents
    return Status(time=r.time_sec + r.time_usec / 1e6, ticks=r.ticks,
                  values=(r.value1, r.value2, r.value3), progstate=r.progstate,
                  progdetail=r.progdetail, aux=(r.aux1, r.aux2, r.aux3),
                  flags=tuple(bool(getattr(r, f"flag{i}")) for i in range(8)))  # type: ignore[arg-type]


# ---- property factories: one ctypes call per read, checks before each write ----

def _handle(part: Any) -> int:
    h = part._b._h
    if h is None:
        raise BoardClosed("the board was closed")
    return h


def _float_prop(get: str, set_: Optional[str], doc: str) -> property:
    g = getattr(lib, "get_" + get) if not get.startswith("is_") else getattr(lib, get)
    s = getattr(lib, "set_" + set_) if set_ else None
    label = doc.split(",")[0].split(";")[0]

    def fget(self: Any) -> float:
        v = g(_handle(self))
        if v != v:
            raise KorvikError(f"the library could not read the {label.lower()}")
        return v

    if s is None or set_ is None:
        return property(fget, doc=doc)
    name: str = set_

    def fset(self: Any, value: float) -> None:
        _params.set_strict(self, name, value)

    return property(fget, fset, doc=doc)


def _int_prop(get: str, set_: Optional[str], doc: str, bits: int = 32) -> property:
    g = getattr(lib, get if get.startswith("is_") else "get_" + get)
    s = getattr(lib, "set_" + set_) if set_ else None
    label = doc.split(",")[0].split(";")[0]

    def fget(self: Any) -> int:
        return g(_handle(self))

    if s is None or set_ is None:
        return property(fget, doc=doc)
    name: str = set_

    def fset(self: Any, value: int) -> None:
        if _params.find(name) is None:
            s(_handle(self), unsigned(value, label, bits))
        else:
            unsigned(value, label, bits)
            _params.set_strict(self, name, value)

    return property(fget, fset, doc=doc)


def _bool_prop(get: str, set_: Optional[str], doc: str) -> property:
    g = getattr(lib, get if get.startswith("is_") else "get_" + get)
    s = getattr(lib, "set_" + set_) if set_ else None

    def fget(self: Any) -> bool:
        return bool(g(_handle(self)))

    if s is None or set_ is None:
        return property(fget, doc=doc)
    name: str = set_

    def fset(self: Any, value: bool) -> None:
        flag(value, doc.split(";")[0].split(",")[0])
        _params.set_strict(self, name, value)

    return property(fget, fset, doc=doc)


def _str_prop(get: str, doc: str) -> property:
    g = getattr(lib, "get_" + get)

    def fget(self: Any) -> str:
        v = take_string(g(_handle(self)))
        if v is None:
            raise KorvikError(f"the library could not read the {get.replace('_', ' ')}")
        return v

    return property(fget, doc=doc)


def _mac_prop(get: str, set_: Optional[str], doc: str) -> property:
    g = getattr(lib, "get_" + get)
    s = getattr(lib, "set_" + set_) if set_ else None

    def fget(self: Any) -> str:
        p = g(_handle(self))
        if not p:
            raise KorvikError(f"the library could not read the {get.replace('_', ' ')}")
        return mac_text(ctypes.string_at(p, 6))

    if s is None or set_ is None:
        return property(fget, doc=doc)
    name: str = set_

    def fset(self: Any, value: MacLike) -> None:
        _params.set_strict(self, name, mac_text(mac_bytes(value)))

    return property(fget, fset, doc=doc)


def _choice_prop(get: str, set_: Optional[str], names_attr: str, doc: str) -> property:
    g = getattr(lib, "get_" + get)
    s = getattr(lib, "set_" + set_) if set_ else None
    label = doc.split(",")[0].split(";")[0]

    def fget(self: Any) -> Choice:
        v = g(_handle(self))
        names = getattr(self._b, names_attr)
        return Choice(v, names[v] if 0 <= v < len(names) else f"#{v}")

    if s is None or set_ is None:
        return property(fget, doc=doc)
    name: str = set_

    def fset(self: Any, value: Union[int, str]) -> None:
        _params.set_strict(self, name, choose(value, getattr(self._b, names_attr), label))

    return property(fget, fset, doc=doc)


def _checked(board: "Board", what: str) -> None:
    """After an operation that reaches the hardware: a failed exchange
    leaves the board dead, which is the only sign the library gives."""
    from . import _loop
    _loop.kick()
    # closed by one of its own callbacks meanwhile: nothing left to check
    if board._h is not None and lib.is_dead(board._h):
        raise BoardDead(f"{what}: board {board._serial} has failed or was removed")


class _Part:
    __slots__ = ("_b",)

    def __init__(self, board: "Board") -> None:
        self._b = board

    def __repr__(self) -> str:
        names = [n for n in dir(type(self)) if isinstance(getattr(type(self), n, None), property)]
        try:
            body = ", ".join(f"{n}={getattr(self, n)!r}" for n in names)
        except KorvikError:
            body = "closed"
        return f"<{type(self).__name__} {body}>"


class Receiver(_Part):
    """The receiver's air parameters (``board.rx``), in Hz and bit/s.

    Setters change the chip values held by the library; ``board.commit()``
    writes the changed registers to the chip. Values outside what the chip
    can do are clamped by the library without error: read them back to see
    what was set. NaN and infinities raise ValueError."""
    __slots__ = ()
    carrier = _float_prop("rx_carrierfrequency", "rx_carrierfrequency", "Carrier frequency, Hz.")
    bandwidth = _float_prop("rx_bandwidth", "rx_bandwidth", "Receiver bandwidth, Hz.")
    bitrate = _float_prop("rx_bitrate", "rx_bitrate", "Bitrate, bit/s.")
    modulation = _choice_prop("rx_modulation", "rx_modulation", "modulations",
                              "Modulation, as a Choice; set by id or by name (see modulations).")
    btr = _choice_prop("rx_btr", "rx_btr", "btr_settings",
                       "Bit-timing recovery setting (\"Normal\", \"Fast\"); set by id or name.")
    btr_preamble = _int_prop("rx_btr_preamble", None, "Bit-timing recovery setting during the preamble.")
    range = _int_prop("rx_range", "rx_range", "Receive VCO range.")
    max_frequency_offset = _float_prop("rx_maxfrequencyoffset", None,
                                       "Largest carrier offset the receiver still takes, Hz.")

    @property
    def modulations(self) -> List[str]:
        """Names of the modulations this chip offers, in id order."""
        return list(self._b.modulations)

    @property
    def btr_settings(self) -> List[str]:
        """Names of the bit-timing recovery settings, in id order (none on transmit-only chips)."""
        return list(self._b.btr_settings)


class Transmitter(_Part):
    """The transmitter's air parameters (``board.tx``), in Hz, bit/s and dBm.

    The same rules as for ``board.rx``: commit to write, the library clamps,
    NaN is refused."""
    __slots__ = ()
    carrier = _float_prop("tx_carrierfrequency", "tx_carrierfrequency", "Carrier frequency, Hz.")
    deviation = _float_prop("tx_deviation", "tx_deviation", "Frequency deviation, Hz.")
    bitrate = _float_prop("tx_bitrate", "tx_bitrate", "Bitrate, bit/s.")
    modulation = _choice_prop("tx_modulation", "tx_modulation", "modulations",
                              "Modulation, as a Choice; set by id or by name (see modulations).")
    power = _float_prop("tx_power", "tx_power", "Output power, dBm.")
    range = _int_prop("tx_range", "tx_range", "Transmit VCO range.")

    @property
    def modulations(self) -> List[str]:
        """Names of the modulations this chip offers, in id order."""
        return list(self._b.modulations)

    def step_power(self, steps: int) -> None:
        """Moves the output power by a number of the chip's power steps (negative: down)."""
        lib.step_tx_power(_handle(self), signed(steps, "steps"))


class Encoding(_Part):
    """Line coding options (``board.encoding``); each is True or False."""
    __slots__ = ()
    invert = _bool_prop("enc_invert", "enc_invert", "Inverted data.")
    differential = _bool_prop("enc_diff", "enc_diff", "Differential encoding.")
    scrambler = _bool_prop("enc_scrambler", "enc_scrambler", "Scrambler.")
    manchester = _bool_prop("enc_manchester", "enc_manchester", "Manchester encoding.")


class ChannelAccess(_Part):
    """Channel-access settings of the board (``board.channel_access``).

    These belong to the board, not the chip: a change is sent to the board
    at once (no commit) and kept in its NV memory by store_board_defaults()."""
    __slots__ = ()
    mode = _choice_prop("chacc_channelaccessmode", "chacc_channelaccessmode", "channel_access_modes",
                        "Channel-access mode (\"Immediate\", \"CSMA\"); set by id or name.")
    p_persistence = _float_prop("chacc_ppersistence", "chacc_ppersistence", "P-persistence, 0 to 1.")
    slot_time = _float_prop("chacc_slottime", "chacc_slottime", "Slot time, s.")
    rssi_threshold = _float_prop("chacc_rssithreshold", "chacc_rssithreshold", "RSSI threshold, dBm.")
    background_threshold = _float_prop("chacc_bgndthreshold", "chacc_bgndthreshold",
                                       "Background noise threshold.")
    preamble = _int_prop("chacc_preamble", "chacc_preamble", "Preamble, bytes (0..255).", bits=8)
    preamble_time = _float_prop("chacc_preamble_sec", None, "Preamble duration, s.")
    address_length = _int_prop("chacc_addrlength", "chacc_addrlength", "Address length, bytes (0..255).",
                               bits=8)
    address_match1 = _bool_prop("chacc_addrmatch1", "chacc_addrmatch1", "Match address 1 on receive.")
    address_match2 = _bool_prop("chacc_addrmatch2", "chacc_addrmatch2", "Match address 2 on receive.")

    def _addr(self, which: int) -> str:
        out = (ctypes.c_ubyte * 6)()
        getattr(lib, f"get_chacc_addr{which}")(_handle(self), out)
        return mac_text(bytes(out))

    @property
    def address1(self) -> str:
        """Match address 1 as MAC text; set from text or 6 bytes."""
        return self._addr(1)

    @address1.setter
    def address1(self, value: MacLike) -> None:
        _params.set_strict(self, "chacc_addr1", mac_text(mac_bytes(value, "address 1")))

    @property
    def address2(self) -> str:
        """Match address 2 as MAC text; set from text or 6 bytes."""
        return self._addr(2)

    @address2.setter
    def address2(self, value: MacLike) -> None:
        _params.set_strict(self, "chacc_addr2", mac_text(mac_bytes(value, "address 2")))

    @property
    def modes(self) -> List[str]:
        """Names of the channel-access modes, in id order."""
        return list(self._b.channel_access_modes)


# ---- registers and bitfields ----

class Register:
    """One chip register of an open board. Every attribute is read from the
    library when asked, so it is always current; ``value`` is settable
    (0..255) and takes effect on the chip at ``board.commit()``."""
    __slots__ = ("_b", "index")

    def __init__(self, board: "Board", index: int) -> None:
        self._b = board
        self.index = index

    name = property(lambda self: take_string(lib.get_register_name(_handle(self), self.index)) or "",
                    doc="Register name.")
    label = property(lambda self: take_string(lib.get_register_label(_handle(self), self.index)) or "",
                     doc="The name, followed by @0x and the operating address where the chip has "
                         "another register of that name; registers[label] finds it.")
    address = property(lambda self: lib.get_register_chipaddr(_handle(self), self.index),
                       doc="Chip address (16 bits).")
    operating_address = property(lambda self: lib.get_register_operatingaddr(_handle(self), self.index),
                                 doc="Address in the chip's operating map (16 bits).")
    mask = property(lambda self: lib.get_register_mask(_handle(self), self.index),
                    doc="Bits that can be written.")
    nv_value = property(lambda self: lib.get_register_nvvalue(_handle(self), self.index),
                        doc="Value kept in the board's NV memory.")
    default_value = property(lambda self: lib.get_register_defaultvalue(_handle(self), self.index),
                             doc="The chip's reset value.")
    change_mask = property(lambda self: lib.get_register_changemask(_handle(self), self.index),
                           doc="Writable bits that differ from what was last committed to the chip.")
    is_receive = property(lambda self: bool(lib.is_register_receive(_handle(self), self.index)),
                          doc="Belongs to the receiver.")
    is_transmit = property(lambda self: bool(lib.is_register_transmit(_handle(self), self.index)),
                           doc="Belongs to the transmitter.")
    is_shared = property(lambda self: bool(lib.is_register_shared(_handle(self), self.index)),
                         doc="Shared by receiver and transmitter.")

    @property
    def value(self) -> int:
        """The chip value the library holds (8 bits)."""
        return lib.get_register_chipvalue(_handle(self), self.index)

    @value.setter
    def value(self, v: int) -> None:
        lib.set_register_chipvalue(_handle(self), self.index, unsigned(v, self.name, 8))

    def frob(self, set_bits: int = 0, clear_bits: int = 0) -> None:
        """Sets the bits of ``set_bits`` and clears those of ``clear_bits`` in the chip value."""
        lib.frob_register_chipvalue(_handle(self), self.index, unsigned(set_bits, "set_bits", 8),
                                    unsigned(clear_bits, "clear_bits", 8))

    def __eq__(self, other: object) -> bool:
        return isinstance(other, Register) and other._b is self._b and other.index == self.index

    def __hash__(self) -> int:
        return hash((id(self._b), self.index))

    def __repr__(self) -> str:
        try:
            return f"<Register {self.index} {self.name} @0x{self.address:04X} = 0x{self.value:02X}>"
        except KorvikError:
            return f"<Register {self.index} (board closed)>"


class Bitfield:
    """One named bitfield (a group of register bits) of an open board.
    ``value`` is settable (0 .. 2**width - 1) and read live like a Register's."""
    __slots__ = ("_b", "index")

    def __init__(self, board: "Board", index: int) -> None:
        self._b = board
        self.index = index

    name = property(lambda self: take_string(lib.get_bitfield_name(_handle(self), self.index)) or "",
                    doc="Bitfield name.")
    description = property(lambda self: take_string(lib.get_bitfield_description(_handle(self), self.index))
                           or "", doc="One-line description.")
    tooltip = property(lambda self: take_string(lib.get_bitfield_tooltip(_handle(self), self.index)) or "",
                       doc="Longer help text.")
    width = property(lambda self: lib.get_bitfield_bitlength(_handle(self), self.index),
                     doc="Width in bits.")
    nv_value = property(lambda self: lib.get_bitfield_nvvalue(_handle(self), self.index),
                        doc="Value kept in the board's NV memory.")
    default_value = property(lambda self: lib.get_bitfield_defaultvalue(_handle(self), self.index),
                             doc="The chip's reset value.")
    change_mask = property(lambda self: lib.get_bitfield_changemask(_handle(self), self.index),
                           doc="Bits that differ from what was last committed to the chip.")

    @property
    def value(self) -> int:
        """The chip value the library holds."""
        return lib.get_bitfield_chipvalue(_handle(self), self.index)

    @value.setter
    def value(self, v: int) -> None:
        h = _handle(self)
        width = lib.get_bitfield_bitlength(h, self.index)
        # the library would keep only the low bits of a value too wide
        lib.set_bitfield_chipvalue(h, self.index, unsigned(v, self.name, min(width, 32)))

    def __eq__(self, other: object) -> bool:
        return isinstance(other, Bitfield) and other._b is self._b and other.index == self.index

    def __hash__(self) -> int:
        return hash((id(self._b), self.index))

    def __repr__(self) -> str:
        try:
            return f"<Bitfield {self.index} {self.name} ({self.width} bits) = {self.value}>"
        except KorvikError:
            return f"<Bitfield {self.index} (board closed)>"


class _Table(Sequence):
    """A live sequence: index by position (negative too), slice, or name."""
    _item: type
    _count: Callable[[int], int]

    def __init__(self, board: "Board") -> None:
        self._b = board

    def __len__(self) -> int:
        return type(self)._count(_handle(self))

    @overload
    def __getitem__(self, key: Union[int, str]) -> Any: ...
    @overload
    def __getitem__(self, key: slice) -> List[Any]: ...

    def __getitem__(self, key: Union[int, str, slice]) -> Any:
        n = len(self)
        if isinstance(key, slice):
            return [self._item(self._b, i) for i in range(*key.indices(n))]
        if isinstance(key, str):
            for i in range(n):
                item = self._item(self._b, i)
                if item.name == key:
                    return item
            raise KeyError(key)
        if isinstance(key, bool) or not isinstance(key, int):
            raise TypeError(f"index must be an int, a slice or a name, not {type(key).__name__}")
        i = key + n if key < 0 else key
        if not 0 <= i < n:
            raise IndexError(f"index {key} out of range for {n} entries")
        return self._item(self._b, i)

    def __iter__(self) -> Iterator[Any]:
        return (self._item(self._b, i) for i in range(len(self)))

    def __repr__(self) -> str:
        return f"<{type(self).__name__} of {len(self)}>"


class Registers(_Table):
    """``board.registers``: the chip's registers in table order. By name, a
    name the chip has twice (receive and transmit copies) needs its
    operating address, as other tools print it: ``registers["FREQ2@0x089"]``."""
    _item = Register
    _count = staticmethod(lib.get_registers)

    def __getitem__(self, key: Any) -> Any:
        if isinstance(key, str):
            index = _params.find_register(_handle(self), key)
            if index is None:
                raise KeyError(_params.last_error() or key)
            return Register(self._b, index)
        return super().__getitem__(key)


class Bitfields(_Table):
    """``board.bitfields``: the chip's bitfields in table order."""
    _item = Bitfield
    _count = staticmethod(lib.get_bitfields)


# ---- callbacks: C arguments to Python ones ----

def _converters(ref: "weakref.ReferenceType[Board]") -> Dict[str, Callable[..., Optional[tuple]]]:
    def packet_v2(data: int, length: int, address: int, rssi: int, offset: int, _u: Any) -> Optional[tuple]:
        b = ref()
        hz: Optional[float] = None
        if rssi == NO_RSSI:
            rssi_v: Optional[int] = None
        else:
            rssi_v = rssi
            if b is not None and b._h is not None:
                hz = lib.convert_frequencyoffset(b._h, offset)
        return (Packet(ctypes.string_at(data, length) if length else b"",
                       mac_text(ctypes.string_at(address, 6)) if address else "", "rx", rssi_v, hz),)

    def packet(data: int, length: int, address: int, _u: Any) -> tuple:
        return (Packet(ctypes.string_at(data, length) if length else b"",
                       mac_text(ctypes.string_at(address, 6)) if address else "", "tx"),)

    def register(index: int, _addr: int, value: int, _u: Any) -> Optional[tuple]:
        b = ref()
        return None if b is None else (Register(b, index), value)

    def bitfield(index: int, value: int, _u: Any) -> Optional[tuple]:
        b = ref()
        return None if b is None else (Bitfield(b, index), value)

    return {
        "status": lambda rec, _u: (_status_from(rec),),
        "packet_v2": packet_v2,
        "packet": packet,
        "register": register,
        "bitfield": bitfield,
        "autoranging": lambda rx, tx, _u: (rx, tx),
        "changed": lambda _u: (),
    }


def _release(handle: int, trampolines: Dict[str, Any]) -> None:
    """Closes a handle; also run when a Board is garbage-collected unclosed.
    The library drops its callbacks here, so their trampolines may go."""
    lib.close(handle)
    _dispatch.retire(list(trampolines.values()))
    trampolines.clear()


class Board(_Parameters):
    """One open evaluation board: real, emulated or simulated.

    Open one with ``korvik.open(serial)``, ``korvik.open_interface(name)`` or
    ``korvik.open_simulation(chip)``. A Board is a context manager that closes
    it; ``close()`` may be called any number of times, and a Board dropped
    without closing is closed when it is garbage-collected.

    Every parameter of the library's table is a property with the name the
    library and the ``korvik`` tool use (``board.tx_carrierfrequency``,
    ``board.chacc_slottime``; ``korvik.params()`` lists them), in SI units
    (Hz, bit/s, dBm, s, ppm). Setting one changes the chip values the
    library holds; ``commit()`` writes the changed registers to the chip.
    Setters are strict: a value the chip cannot hold (outside its range, or
    more than half a step from what it can hold) raises ``ParamError`` (a
    ValueError) naming the range and the nearest value, and nothing is
    set; ``set_params(..., clamp=True)`` takes the nearest value instead.
    Arguments of the wrong type raise TypeError. A name Board does not have
    raises AttributeError, also on assignment.

    The earlier short names stay as aliases of the same values and follow
    the same rules: ``board.rx`` (carrier, bandwidth, bitrate, modulation,
    btr, range), ``board.tx`` (carrier, deviation, bitrate, modulation,
    power, range), ``board.encoding``, ``board.channel_access``,
    ``if_frequency``, ``framing``, ``crc``, ``crc_init``; the full list is
    ``korvik.ALIASES``.

    Settings chosen from a list (modulation, framing, CRC mode, btr,
    channel-access mode) read as ``Choice``, an int id with a ``.name``,
    and are set by id or by name. The names each chip offers, in id order,
    are ``modulations``, ``framings``, ``crc_modes``, ``btr_settings`` and
    ``channel_access_modes``.

    Operations that reach the hardware (commit, the defaults, send,
    continuous wave) raise ``BoardDead`` when the board has failed or was
    unplugged; reading values still works then. Using a closed Board raises
    ``BoardClosed``.

    ``on(kind, fn)`` subscribes to the library's callbacks; ``packets()``
    and ``wait_status()`` serve asyncio programs. Everything runs on the
    thread that drives the library (``korvik.periodic()`` or an asyncio loop
    after ``korvik.attach()``); a Board is not thread-safe.
    """

    __slots__ = ("_h", "_b", "_serial", "_fanouts", "_finalizer", "_closers", "_choice_lists", "_air_free",
                 "modulations", "btr_settings", "framings", "crc_modes", "channel_access_modes",
                 "rx", "tx", "encoding", "channel_access", "registers", "bitfields", "__weakref__")

    def __init__(self, handle: int) -> None:
        """Boards come from korvik.open(), open_interface() and open_simulation()."""
        if not isinstance(handle, int) or not handle:
            raise TypeError("open boards with korvik.open(), open_interface() or open_simulation()")
        self._h: Optional[int] = handle
        self._b = self
        self._serial = take_string(lib.get_serial(handle)) or "?"
        # when the packets sent so far will have left the air (monotonic clock)
        self._air_free = 0.0
        ref = weakref.ref(self)
        conv = _converters(ref)
        trampolines: Dict[str, Any] = {}
        self._fanouts: Dict[str, _dispatch.Fanout] = {}
        for kind, (suffix, ctype_name) in DEVICE_CALLBACK_KINDS.items():
            setter = getattr(lib, "set_callback_" + suffix)
            null = CALLBACK_TYPES[ctype_name]()  # a null function removes the callback
            install = (lambda s, n: lambda t: s(handle, n if t is None else t, None))(setter, null)
            self._fanouts[kind] = _dispatch.Fanout(kind, CALLBACK_TYPES[ctype_name], install,
                                                   conv[ctype_name], trampolines)
        self._finalizer = weakref.finalize(self, _release, handle, trampolines)
        self._closers: List[Callable[[], None]] = []
        self._choice_lists: Dict[str, Tuple[str, ...]] = {}
        # these lists are fixed per chip: read once
        self.modulations: Tuple[str, ...] = tuple(take_list(lib.get_supported_modulations(handle)))
        self.btr_settings: Tuple[str, ...] = tuple(take_list(lib.get_supported_rx_btr_settings(handle)))
        self.framings: Tuple[str, ...] = tuple(take_list(lib.get_supported_framingmodes(handle)))
        self.crc_modes: Tuple[str, ...] = tuple(take_list(lib.get_supported_crcmodes(handle)))
        self.channel_access_modes: Tuple[str, ...] = tuple(
            take_list(lib.get_chacc_supported_channelaccessmodes(handle)))
        self.rx = Receiver(self)
        self.tx = Transmitter(self)
        self.encoding = Encoding(self)
        self.channel_access = ChannelAccess(self)
        self.registers = Registers(self)
        self.bitfields = Bitfields(self)

    # -- lifetime --

    def close(self) -> None:
        """Closes the handle: every callback of this Board is disconnected and
        pending ``packets()`` iterations end. Safe to call again, and from
        inside a callback."""
        if self._h is None:
            return
        self._h = None
        self._finalizer()
        for f in self._fanouts.values():
            f.close()
        from . import _loop
        _loop.kick()
        closers, self._closers = self._closers, []
        for c in closers:
            c()

    @property
    def closed(self) -> bool:
        """True after close()."""
        return self._h is None

    def __enter__(self) -> "Board":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __repr__(self) -> str:
        if self._h is None:
            return f"<korvik.Board {self._serial} (closed)>"
        return f"<korvik.Board {self._serial} {self.chip} on {self.interface}>"

    # -- identity and state --

    serial = _str_prop("serial", "Serial number.")
    interface = _str_prop("interface", "Network interface name (\"sim0\" ... for simulated boards).")
    display_name = _str_prop("display_name", "Name shown to users.")
    chip = _str_prop("chip_name", "Chip name (\"RC1200\", ...); empty when the chip is not modelled.")
    chip_flags = _int_prop("chipflags", None, "Chip capability flags: 1 can receive, 2 can transmit.")
    board_flags = _int_prop("boardflags", None, "Board flags (bit 0: simulated).")
    ethernet_mac = _mac_prop("ethernet_mac", None, "The board's Ethernet MAC, as MAC text.")
    radio_ethernet_mac = _mac_prop("radio_ethernet_mac", None, "The radio side's MAC, as MAC text.")
    nv_ethernet_mac = _mac_prop("nv_ethernet_mac", "nv_ethmac", "Ethernet MAC kept in NV memory; "
                                "set from MAC text or 6 bytes.")
    nv_radio_ethernet_mac = _mac_prop("nv_radio_ethernet_mac", "nv_radio_ethmac",
                                      "Radio MAC kept in NV memory; the default destination of send().")
    is_dead = _bool_prop("is_dead", None, "The board failed or was removed (also True on a library error).")
    nv_interrupted = _bool_prop("is_nv_interrupted", None,
                                "The stored defaults are a store that did not finish; they were not taken at open "
                                "and store_board_defaults() writes them whole again.")
    is_net_up = _bool_prop("is_net_up", None, "The board's network side is up.")
    rx_packet_count = _int_prop("rx_pkt_count", None, "Packets received.")
    tx_packet_count = _int_prop("tx_pkt_count", None, "Packets sent.")

    @property
    def can_receive(self) -> bool:
        """The chip has a receiver."""
        return bool(self.chip_flags & 1)

    @property
    def can_transmit(self) -> bool:
        """The chip has a transmitter."""
        return bool(self.chip_flags & 2)

    @property
    def is_simulated(self) -> bool:
        """A simulated board (no hardware)."""
        return bool(self.board_flags & 1)

    # -- chip-wide parameters --

    if_frequency = _float_prop("iffrequency", "iffrequency", "Intermediate frequency, Hz.")
    agc_reference = _int_prop("agcreference", None, "AGC reference.")
    framing = _choice_prop("framingmode", "framingmode", "framings",
                           "Framing mode, as a Choice (ids differ between chips); set by id or name.")
    crc_supported = _bool_prop("is_framingmode_crcsupported", None, "The current framing carries a CRC.")
    crc = _choice_prop("crcmode", "crcmode", "crc_modes", "CRC mode, as a Choice; set by id or name.")
    crc_init = _int_prop("crcinit", "crcinit", "CRC initial value.")
    crc_length = _int_prop("crclength", None, "CRC length in bytes (0 without CRC).")

    @property
    def encodings(self) -> int:
        """Mask of the encoding options the chip offers: 1 invert, 2 differential,
        4 scrambler, 8 Manchester."""
        return lib.get_supported_encodingmodes(_handle(self))

    @property
    def currents(self) -> Tuple[float, ...]:
        """The ten values of the chip's current and timing record (NaN: no value);
        5 and 6 are the receive and transmit bit times, 8 and 9 the head and tail
        times of a packet, in seconds."""
        out = (ctypes.c_double * 10)()
        lib.get_currents(_handle(self), out)
        return tuple(out)

    def convert_frequency_offset(self, offset: int) -> float:
        """A frequency offset as the board reports it, in Hz."""
        return lib.convert_frequencyoffset(_handle(self), signed(offset, "offset"))

    # -- parameters by name --

    def _choices(self, name: str) -> Tuple[str, ...]:
        """Names of a choice parameter on this chip (fixed per chip: read once)."""
        names = self._choice_lists.get(name)
        if names is None:
            names = self._choice_lists[name] = _params.choices_of(_handle(self), name)
        return names

    def set_params(self, values: Union[Dict[str, Any], Sequence[Tuple[str, Any]]], *, clamp: bool = False,
                   commit: bool = True) -> List[ParamResult]:
        """Sets several parameters by name, in the order given, and commits
        once (``commit=False`` leaves them for ``commit()``). Strict unless
        ``clamp``: one value the chip cannot hold raises ParamError and none
        is set. Returns what each came to: asked, achieved, difference (ppm
        for frequencies and rates), clamped or rounded, and the other
        parameters it changed."""
        items = list(values.items()) if isinstance(values, dict) else list(values)
        return _params.run(self, items, clamp=clamp, commit=commit)

    def param_limits(self, name: str) -> Dict[str, Any]:
        """Range (min, max), step next to the present value, levels and
        choices of a parameter at the present settings; writes nothing."""
        return _params.limits(self, name)

    def param_achieved(self, name: str, value: float) -> float:
        """The value the chip would hold if ``value`` were set now; writes nothing."""
        return _params.achieved(self, name, value)

    def set_rx(self, bandwidth: float, bitrate: float, modulation: Union[int, str],
               btr: Union[int, str] = 0) -> None:
        """Sets the receiver in one step. The library derives the bandwidth
        from bitrate and modulation, so ``bandwidth`` is passed on but has no
        effect; set ``rx.bandwidth`` afterwards to choose another."""
        h = _handle(self)
        lib.set_rx(h, real(bandwidth, "bandwidth"), real(bitrate, "bitrate"),
                   choose(modulation, self.modulations, "modulation"),
                   choose(btr, self.btr_settings, "btr"))

    def set_tx(self, deviation: float, bitrate: float, modulation: Union[int, str]) -> None:
        """Sets the transmitter in one step. The library derives the deviation
        from bitrate and modulation, so ``deviation`` has no effect; set
        ``tx.deviation`` afterwards to choose another."""
        h = _handle(self)
        lib.set_tx(h, real(deviation, "deviation"), real(bitrate, "bitrate"),
                   choose(modulation, self.modulations, "modulation"))

    # -- operations that reach the board --

    def commit(self) -> None:
        """Writes the changed registers to the chip (and reprograms it after
        frequency changes); change callbacks fire from here."""
        lib.commit_registers(_handle(self))
        _checked(self, "commit")

    def commit_all(self) -> None:
        """Writes every register to the chip."""
        lib.commit_all_registers(_handle(self))
        _checked(self, "commit_all")

    def load_chip_defaults(self) -> None:
        """Sets every register to the chip's reset value (commit to write them)."""
        lib.load_chipdefaults(_handle(self))
        _checked(self, "load_chip_defaults")

    def load_board_defaults(self) -> None:
        """Sets the registers and board settings to the board's stored defaults."""
        lib.load_boarddefaults(_handle(self))
        _checked(self, "load_board_defaults")

    def store_board_defaults(self) -> None:
        """Writes the current settings and NV values into the board's NV memory."""
        lib.store_boarddefaults(_handle(self))
        _checked(self, "store_board_defaults")

    def save(self, path: Union[str, "os.PathLike[str]"]) -> None:
        """Writes the board's settings file (paramcalc's format), with the
        code ``korvik save`` uses; an existing file is replaced whole or kept."""
        from . import files
        files.save_board(self, path)

    def load(self, path: Union[str, "os.PathLike[str]"]) -> List[str]:
        """Applies a settings file (or an older .set file) and commits, with
        the code ``korvik load`` uses; a refused file raises KorvikError and
        changes nothing. Returns notes on entries skipped or cut to range."""
        from . import files
        return files.load_board(self, path)

    def load_chip_operating(self) -> None:
        """Reads the chip's operating registers back from the board."""
        lib.load_chipoperating(_handle(self))
        _checked(self, "load_chip_operating")

    @property
    def continuous_wave(self) -> bool:
        """Continuous-wave transmission (an unmodulated carrier) on or off."""
        return bool(lib.is_transmit_cw(_handle(self)))

    @continuous_wave.setter
    def continuous_wave(self, on: bool) -> None:
        lib.set_transmit_cw(_handle(self), flag(on, "continuous_wave"))
        _checked(self, "continuous_wave")

    def send(self, data: Union[bytes, bytearray, memoryview], dest: Optional[MacLike] = None,
             bpq: bool = False, *, wait: bool = False) -> None:
        """Sends one packet over the air to ``dest`` (MAC text or 6 bytes;
        None: the board's NV radio MAC). ``bpq=True`` sends it length-framed.

        The board takes the packet at once and puts it on the air after the
        packets before it. With ``wait=True`` the call returns only once the
        packet has been on the air for its whole air time (preamble,
        framing and data at the transmit bitrate), driving the library's
        loop meanwhile, so that a receiver has it when the call returns;
        ``await send_async(...)`` does the same without blocking the loop.

        Raises NotSent when the board did not take the packet (simulated
        boards have no packet transport unless the library's virtual air is
        on), BoardDead when the board failed, ValueError for packets larger
        than one frame (1500 bytes)."""
        self._send(data, dest, bpq)
        if wait:
            _run_until(self._air_free)

    async def send_async(self, data: Union[bytes, bytearray, memoryview], dest: Optional[MacLike] = None,
                         bpq: bool = False) -> None:
        """send(), then waits without blocking the running asyncio loop until
        the packet has been on the air (see send's ``wait``). Attaches the
        library to the running loop if needed."""
        from . import _loop
        _loop.ensure_attached()
        self._send(data, dest, bpq)
        delay = self._air_free - time.monotonic()
        if delay > 0:
            await asyncio.sleep(delay)
        # what falls due at the end of the air time (the receivers' packets)
        await asyncio.sleep(_AIR_SLACK)

    def air_time(self, length: int) -> float:
        """Seconds a packet of ``length`` data bytes takes on the air with the
        present transmit settings: the head (preamble and sync) and tail
        times plus the data bits at the transmit bit time."""
        c = self.currents
        bit, head, tail = c[6], c[8], c[9]
        if not all(math.isfinite(v) for v in (bit, head, tail)) or bit <= 0:
            return 0.0
        return head + tail + 8 * unsigned(length, "length") * bit

    def _send(self, data: Union[bytes, bytearray, memoryview], dest: Optional[MacLike], bpq: bool) -> None:
        h = _handle(self)
        if isinstance(data, memoryview):
            data = data.tobytes()
        if not isinstance(data, (bytes, bytearray)):
            raise TypeError(f"data must be bytes, not {type(data).__name__}")
        if len(data) > MAX_PACKET:
            raise ValueError(f"a packet holds at most {MAX_PACKET} bytes, not {len(data)}")
        address = None if dest is None else mac_bytes(dest, "destination")
        before = lib.get_tx_pkt_count(h)
        (lib.send_bpq_packet if bpq else lib.send_packet)(h, bytes(data), len(data), address)
        _checked(self, "send")
        # the library counts every packet it took and reports refusals only on stderr
        if self._h is not None and lib.get_tx_pkt_count(self._h) == before:
            raise NotSent(f"board {self._serial} did not take the packet")
        # the board sends its packets one after the other
        if self._h is not None:
            self._air_free = max(self._air_free, time.monotonic()) + self.air_time(len(data))

    # -- callbacks --

    def on(self, kind: str, fn: Callable[..., Any]) -> _dispatch.Connection:
        """Calls ``fn`` for every event of ``kind`` until the returned
        Connection is disconnected or the board is closed. Any number of
        functions may follow one kind. The kinds and their arguments:

        - "status": fn(Status)
        - "receive_packet", "transmit_packet": fn(Packet)
        - "changed_register": fn(Register, value), at commit
        - "changed_bitfield": fn(Bitfield, value)
        - "terminate_autoranging": fn(rx_range, tx_range)
        - "changed_<value>": fn(), for each value of ``korvik.CALLBACK_KINDS``
          (changed_tx_carrierfrequency, changed_packetcounters, ...);
          read the new value from the board.

        Callbacks run on the thread that drives the library, from inside
        korvik.periodic(), the asyncio loop after korvik.attach(), or an
        operation such as commit(). An exception a callback raises is passed
        to sys.unraisablehook; the other callbacks still run."""
        if not isinstance(kind, str):
            raise TypeError(f"kind must be a str, not {type(kind).__name__}")
        fanout = self._fanouts.get(kind)
        if fanout is None:
            raise ValueError(f"unknown callback kind {kind!r}; see korvik.CALLBACK_KINDS")
        _handle(self)
        return fanout.add(fn)

    def packets(self, direction: str = "rx") -> "PacketStream":
        """Packets as they arrive: ``async for pkt in board.packets():``.

        ``direction`` is "rx" (received), "tx" (sent by this board) or
        "both". Call it from a coroutine: it attaches the library to the
        running event loop if needed, and collects packets from the moment
        it is called, so a packet sent right after is not missed. Packets
        that arrive while the loop body runs are queued; none is dropped.
        The iteration ends when the board is closed or the stream's
        ``aclose()`` is called (also as ``async with board.packets() as s``)."""
        if direction not in ("rx", "tx", "both"):
            raise ValueError(f"direction must be 'rx', 'tx' or 'both', not {direction!r}")
        return PacketStream(self, direction)

    async def wait_status(self, timeout: Optional[float] = None) -> Status:
        """Waits for the board's next status report and returns it. Raises
        TimeoutError after ``timeout`` seconds and BoardClosed when the board
        is closed meanwhile. Attaches the library to the running loop if needed."""
        if timeout is not None:
            timeout = real(timeout, "timeout")
        from . import _loop
        _loop.ensure_attached()
        fut: "asyncio.Future[Status]" = asyncio.get_running_loop().create_future()

        def done(s: Status) -> None:
            if not fut.done():
                fut.set_result(s)

        def closed() -> None:
            if not fut.done():
                fut.set_exception(BoardClosed("the board was closed"))

        conn = self.on("status", done)
        self._closers.append(closed)
        try:
            return await asyncio.wait_for(fut, timeout)
        except asyncio.TimeoutError:
            # the same class from Python 3.11 on; the builtin one before
            raise TimeoutError(f"no status report from board {self._serial} within {timeout} s") from None
        finally:
            conn.disconnect()
            if closed in self._closers:
                self._closers.remove(closed)


# the library's timers fire on whole milliseconds: a little past the end
_AIR_SLACK = 0.003


def _run_until(deadline: float) -> None:
    """Drives the library's loop until the monotonic clock passes
    ``deadline``, and then runs what fell due by then."""
    from . import _loop
    end = deadline + _AIR_SLACK
    while True:
        _loop.periodic()
        left = end - time.monotonic()
        if left <= 0:
            break
        fds, timeout = _loop.poll_handles()
        wait = left if timeout is None else min(left, timeout / 1000)
        if fds:
            select.select(fds, [], [], wait)
        else:
            time.sleep(wait)
    _loop.periodic()


class PacketStream:
    """The asynchronous iterator of Board.packets()."""

    def __init__(self, board: Board, direction: str) -> None:
        from . import _loop
        _loop.ensure_attached()
        self._queue: "asyncio.Queue[Optional[Packet]]" = asyncio.Queue()
        kinds = {"rx": ("receive_packet",), "tx": ("transmit_packet",),
                 "both": ("receive_packet", "transmit_packet")}[direction]
        self._conns = [board.on(k, self._queue.put_nowait) for k in kinds]
        self._board: Optional[Board] = board
        board._closers.append(self._end)

    def _end(self) -> None:
        self._queue.put_nowait(None)

    def __aiter__(self) -> "PacketStream":
        return self

    async def __anext__(self) -> Packet:
        if self._board is None and self._queue.empty():
            raise StopAsyncIteration
        pkt = await self._queue.get()
        if pkt is None:
            await self.aclose()
            raise StopAsyncIteration
        return pkt

    async def aclose(self) -> None:
        """Stops collecting packets; the iteration ends."""
        for c in self._conns:
            c.disconnect()
        b, self._board = self._board, None
        if b is not None:
            if self._end in b._closers:
                b._closers.remove(self._end)
            self._queue.put_nowait(None)

    async def __aenter__(self) -> "PacketStream":
        return self

    async def __aexit__(self, *exc: object) -> None:
        await self.aclose()


def _nv_serial(v: object) -> bytes:
    if not isinstance(v, str):
        raise TypeError(f"serial must be a str, not {type(v).__name__}")
    if "\0" in v:
        raise ValueError("serial must not contain NUL")
    return v.encode("utf-8")
