"""The library's parameter table, and Board properties made from it.

Every row of the table in libkorvik-0 becomes a property of ``Board`` named
as in the library and the ``korvik`` tool (``board.tx_carrierfrequency``,
``board.chacc_slottime``), in SI units. Reading costs one call of the
library's typed getter. Setting is strict: a value the chip cannot hold
(outside the range, or between two steps or levels by more than half a
step) raises ``ParamError`` naming the range and the nearest value, and
nothing is set; otherwise the value waits for ``commit()`` as before.
``Board.set_params(..., clamp=True)`` takes the nearest value instead.

``python3 -m korvik._params --stub`` writes the typed stub of this module
(``_params.pyi``) from the table.
"""

from __future__ import annotations

import ctypes
import math
import numbers
import sys
from ctypes import POINTER, Structure, byref, c_char_p, c_double, c_int, c_uint, c_void_p
from typing import Any, Dict, List, NamedTuple, Optional, Sequence, Tuple

from ._native import _dll, lib, libc
from ._values import Choice, choose, flag, mac_bytes, mac_text, real
from .errors import BoardClosed, KorvikError, ParamError

__all__ = ["ParamInfo", "ParamResult", "table", "find", "ALIASES"]

KINDS = ("quantity", "choice", "flag", "address", "text")
SCOPES = ("rx", "tx", "chip", "board", "host")
CHIP_BITS = (("RC1200", 1), ("RC1400", 2), ("RC1100", 4), ("RC1300", 8))

OK, E_ARGUMENT, E_NAME, E_READ_ONLY, E_VALUE, E_FAILED = 0, -1, -2, -3, -4, -5
STRICT, CLAMP = 0, 1


class _Info(Structure):
    _fields_ = [("name", c_char_p), ("unit", c_char_p), ("kind", c_int), ("scope", c_int),
                ("chips", c_uint), ("writable", c_int), ("whole", c_int), ("hex", c_int),
                ("levels", c_int), ("notification", c_char_p), ("help", c_char_p)]


class _Result(Structure):
    _fields_ = [("asked", c_double), ("achieved", c_double), ("difference", c_double),
                ("ppm", c_double), ("has_ppm", c_int), ("clamped", c_int), ("rounded", c_int),
                ("achieved_text", c_void_p), ("side_effects", c_void_p)]


def _declare(name: str, restype: Any, argtypes: Sequence[Any]) -> Any:
    f = getattr(_dll, "libkorvik_" + name)
    f.restype = restype
    f.argtypes = list(argtypes)
    return f


_last_error = _declare("last_error", c_char_p, ())
_param_count = _declare("param_count", c_uint, ())
_param_info = _declare("param_info", c_int, (c_uint, POINTER(_Info)))
_get_param = _declare("get_param", c_int, (c_void_p, c_char_p, POINTER(c_double)))
_get_param_text = _declare("get_param_text", c_int, (c_void_p, c_char_p, POINTER(c_void_p)))
_get_param_limits = _declare("get_param_limits", c_int,
                             (c_void_p, c_char_p, POINTER(c_double), POINTER(c_double), POINTER(c_double)))
_get_param_levels = _declare("get_param_levels", c_int,
                             (c_void_p, c_char_p, POINTER(POINTER(c_double)), POINTER(c_uint)))
_get_param_choices = _declare("get_param_choices", POINTER(c_char_p), (c_void_p, c_char_p))
_get_param_achieved = _declare("get_param_achieved", c_int, (c_void_p, c_char_p, c_double, POINTER(c_double)))
_has_param = _declare("has_param", c_int, (c_void_p, c_char_p))
_set_params = _declare("set_params", c_int, (c_void_p, c_uint, POINTER(c_char_p), POINTER(c_char_p), c_int,
                                              POINTER(_Result)))
_apply_params = _declare("apply_params", c_int, (c_void_p, c_uint, POINTER(c_char_p), POINTER(c_char_p), c_int,
                                                  POINTER(_Result)))
_free_results = _declare("free_param_results", None, (POINTER(_Result), c_uint))
_find_register = _declare("find_register", c_int, (c_void_p, c_char_p, POINTER(c_uint)))


class ParamInfo(NamedTuple):
    """One row of the library's parameter table."""
    name: str
    unit: str
    kind: str            # "quantity", "choice", "flag", "address", "text"
    scope: str           # "rx", "tx", "chip", "board", "host"
    chips: Tuple[str, ...]
    writable: bool
    whole: bool
    hex: bool
    levels: bool
    notification: Optional[str]
    help: str


class ParamResult(NamedTuple):
    """What one value of ``Board.set_params`` came to."""
    name: str
    asked: Any
    achieved: Any
    difference: float
    ppm: Optional[float]
    clamped: bool
    rounded: bool
    side_effects: Tuple[str, ...]


def _read_table() -> Tuple[ParamInfo, ...]:
    rows = []
    for i in range(_param_count()):
        r = _Info()
        if _param_info(i, byref(r)) != OK:
            raise KorvikError("the library's parameter table could not be read")
        rows.append(ParamInfo(
            name=r.name.decode(), unit=r.unit.decode(), kind=KINDS[r.kind], scope=SCOPES[r.scope],
            chips=tuple(c for c, bit in CHIP_BITS if r.chips & bit), writable=bool(r.writable),
            whole=bool(r.whole), hex=bool(r.hex), levels=bool(r.levels),
            notification=r.notification.decode() if r.notification else None, help=r.help.decode()))
    return tuple(rows)


_TABLE = _read_table()
_BY_NAME = {r.name: r for r in _TABLE}

#: Earlier names of the Board's parameters, still working: "rx.carrier" is
#: board.rx.carrier, the same value as board.rx_carrierfrequency.
ALIASES: Dict[str, str] = {
    "rx.carrier": "rx_carrierfrequency", "rx.bandwidth": "rx_bandwidth", "rx.bitrate": "rx_bitrate",
    "rx.modulation": "rx_modulation", "rx.btr": "rx_btr", "rx.btr_preamble": "rx_btr_preamble",
    "rx.range": "rx_range", "rx.max_frequency_offset": "rx_maxfrequencyoffset",
    "tx.carrier": "tx_carrierfrequency", "tx.deviation": "tx_deviation", "tx.bitrate": "tx_bitrate",
    "tx.modulation": "tx_modulation", "tx.power": "tx_power", "tx.range": "tx_range",
    "encoding.invert": "enc_invert", "encoding.differential": "enc_diff",
    "encoding.scrambler": "enc_scrambler", "encoding.manchester": "enc_manchester",
    "channel_access.mode": "chacc_channelaccessmode", "channel_access.p_persistence": "chacc_ppersistence",
    "channel_access.slot_time": "chacc_slottime", "channel_access.rssi_threshold": "chacc_rssithreshold",
    "channel_access.background_threshold": "chacc_bgndthreshold",
    "channel_access.preamble": "chacc_preamble", "channel_access.address_length": "chacc_addrlength",
    "channel_access.address_match1": "chacc_addrmatch1", "channel_access.address_match2": "chacc_addrmatch2",
    "channel_access.address1": "chacc_addr1", "channel_access.address2": "chacc_addr2",
    "nv_ethernet_mac": "nv_ethmac", "nv_radio_ethernet_mac": "nv_radio_ethmac",
    "if_frequency": "iffrequency", "framing": "framingmode", "crc": "crcmode", "crc_init": "crcinit",
    "crc_length": "crclength",
}


def table() -> Tuple[ParamInfo, ...]:
    """Every parameter of the library, in the order the tools list them."""
    return _TABLE


def find(name: str) -> Optional[ParamInfo]:
    """The row of that name (or of an alias from ALIASES), or None."""
    return _BY_NAME.get(ALIASES.get(name, name))


def last_error() -> str:
    """Why the library's last failing parameter call on this thread failed."""
    e = _last_error()
    return e.decode("utf-8", "replace") if e else ""


def find_register(handle: int, name: str) -> Optional[int]:
    """The index of a register by name (NAME@0xADDR for one the chip has
    twice); None, with last_error() saying why, when there is none."""
    index = c_uint()
    if _find_register(handle, name.encode(), byref(index)) != 0:
        return None
    return index.value


def raw_value(handle: int, info: ParamInfo) -> Any:
    """A parameter as the library holds it: the number (choices by
    position) or, for addresses and texts, the text."""
    if info.kind in ("address", "text"):
        p = c_void_p()
        status = _get_param_text(handle, info.name.encode(), byref(p))
        if status != OK:
            _raise(status, f"{info.name} could not be read")
        return _take(p.value)
    v = c_double()
    status = _get_param(handle, info.name.encode(), byref(v))
    if status != OK:
        _raise(status, f"{info.name} could not be read")
    return v.value


def _handle(obj: Any) -> int:
    h = obj._b._h
    if h is None:
        raise BoardClosed("the board was closed")
    return h


def _raise(status: int, what: str) -> None:
    why = last_error() or what
    if status == E_ARGUMENT:
        raise BoardClosed(why)
    if status in (E_VALUE, E_NAME, E_READ_ONLY):
        raise ParamError(why)
    raise KorvikError(why)


def _take(ptr: int) -> str:
    try:
        return ctypes.string_at(ptr).decode("utf-8", "replace")
    finally:
        libc.free(ptr)


def _value_text(info: ParamInfo, value: object, names: Sequence[str]) -> str:
    """The value as the library's transaction takes it: SI numbers, choices by position."""
    what = info.name
    if info.kind == "quantity":
        if info.whole:
            if isinstance(value, bool) or not isinstance(value, numbers.Real):
                raise TypeError(f"{what} must be a number, not {type(value).__name__}")
            v = float(value)
            if not math.isfinite(v):
                raise ParamError(f"{what} must be finite, not {v}")
            return str(int(v)) if v == int(v) else repr(v)
        return repr(real(value, what))
    if info.kind == "choice":
        return str(choose(value, names, what)) if names or not isinstance(value, str) else value
    if info.kind == "flag":
        return str(flag(value, what))
    if info.kind == "address":
        return mac_text(mac_bytes(value, what))
    if not isinstance(value, str):
        raise TypeError(f"{what} must be text, not {type(value).__name__}")
    if "\0" in value:
        raise ParamError(f"{what} must not contain NUL")
    return value


def choices_of(handle: int, name: str) -> Tuple[str, ...]:
    ptr = _get_param_choices(handle, name.encode())
    if not ptr:
        return ()
    out: List[str] = []
    try:
        i = 0
        while ptr[i] is not None:
            out.append(ptr[i].decode("utf-8", "replace"))
            i += 1
    finally:
        lib.free_stringlist(ptr)
    return tuple(out)


def run(board: Any, values: Sequence[Tuple[str, object]], clamp: bool, commit: bool) -> List[ParamResult]:
    """Sets (and commits) named values as one transaction; see Board.set_params."""
    h = _handle(board)
    rows = []
    for name, value in values:
        info = find(name)
        if info is None:
            raise ParamError(f"unknown parameter {name!r}")
        if not _has_param(h, info.name.encode()):
            raise ParamError(f"{info.name} does not apply to the {board.chip} of this board")
        names = board._choices(info.name) if info.kind == "choice" else ()
        rows.append((info, _value_text(info, value, names)))
    n = len(rows)
    names_arr = (c_char_p * n)(*[r[0].name.encode() for r in rows])
    values_arr = (c_char_p * n)(*[r[1].encode() for r in rows])
    results = (_Result * n)()
    f = _apply_params if commit else _set_params
    status = f(h, n, names_arr, values_arr, CLAMP if clamp else STRICT, results)
    if status != OK:
        _raise(status, "the values were refused")
    out = []
    try:
        for (info, text), r in zip(rows, results):
            achieved_text = ctypes.string_at(r.achieved_text).decode() if r.achieved_text else ""
            effects = ctypes.string_at(r.side_effects).decode() if r.side_effects else ""
            if info.kind in ("address", "text"):
                asked: Any = text
                achieved: Any = achieved_text
            elif info.kind == "choice":
                asked = Choice(int(r.asked), board._choices(info.name)[int(r.asked)])
                achieved = Choice(int(r.achieved), achieved_text)
            elif info.kind == "flag":
                asked, achieved = bool(r.asked), bool(r.achieved)
            else:
                asked, achieved = r.asked, r.achieved
            out.append(ParamResult(info.name, asked, achieved, r.difference, r.ppm if r.has_ppm else None,
                                   bool(r.clamped), bool(r.rounded),
                                   tuple(e for e in effects.split(",") if e)))
    finally:
        _free_results(results, n)
    if commit:
        from .board import _checked
        _checked(board._b, "set_params")
    return out


def set_strict(obj: Any, name: str, value: object) -> None:
    """One strict setter call: refused values raise ParamError, nothing set."""
    run(obj._b, [(name, value)], clamp=False, commit=False)


def limits(board: Any, name: str) -> Dict[str, Any]:
    """Range, step, levels and choices of a parameter at the board's present settings."""
    h = _handle(board)
    info = find(name)
    if info is None:
        raise ParamError(f"unknown parameter {name!r}")
    lo, hi, step = c_double(), c_double(), c_double()
    status = _get_param_limits(h, info.name.encode(), byref(lo), byref(hi), byref(step))
    if status != OK:
        _raise(status, f"no limits for {name}")
    out: Dict[str, Any] = {"min": lo.value, "max": hi.value, "step": step.value, "unit": info.unit}
    if info.levels:
        arr, count = POINTER(c_double)(), c_uint()
        if _get_param_levels(h, info.name.encode(), byref(arr), byref(count)) == OK and arr:
            try:
                out["levels"] = [arr[i] for i in range(count.value)]
            finally:
                libc.free(ctypes.cast(arr, c_void_p))
    if info.kind == "choice":
        out["choices"] = list(board._choices(info.name))
    return out


def achieved(board: Any, name: str, value: float) -> float:
    """What the chip would hold for value now; writes nothing."""
    out = c_double()
    status = _get_param_achieved(_handle(board), name.encode(), float(value), byref(out))
    if status != OK:
        _raise(status, f"no answer for {name}")
    return out.value


# ---- properties ----

def _getter(info: ParamInfo) -> Any:
    name = info.name
    key = name.encode()
    typed = getattr(lib, "get_" + name, None) if lib.has("get_" + name) else None
    if info.kind in ("address", "text") or typed is None or len(typed.argtypes) != 1:
        def generic(self: Any) -> Any:
            h = _handle(self)
            if info.kind in ("address", "text"):
                p = c_void_p()
                status = _get_param_text(h, key, byref(p))
                if status != OK:
                    _raise(status, f"{name} could not be read")
                return _take(p.value)
            v = c_double()
            status = _get_param(h, key, byref(v))
            if status != OK:
                _raise(status, f"{name} could not be read")
            if info.kind == "flag":
                return bool(v.value)
            if info.kind == "choice":
                names = self._b._choices(name)
                i = int(v.value)
                return Choice(i, names[i] if 0 <= i < len(names) else f"#{i}")
            return int(v.value) if info.whole else v.value
        return generic

    # the typed function: one ctypes call per read
    if info.kind == "flag":
        def get_flag(self: Any) -> bool:
            h = self._b._h
            if h is None:
                raise BoardClosed("the board was closed")
            return bool(typed(h))
        return get_flag
    if info.kind == "choice":
        def get_choice(self: Any) -> Choice:
            h = self._b._h
            if h is None:
                raise BoardClosed("the board was closed")
            v = typed(h)
            names = self._b._choices(name)
            return Choice(v, names[v] if 0 <= v < len(names) else f"#{v}")
        return get_choice
    if info.whole:
        def get_int(self: Any) -> int:
            h = self._b._h
            if h is None:
                raise BoardClosed("the board was closed")
            return int(typed(h))
        return get_int

    def get_float(self: Any) -> float:
        h = self._b._h
        if h is None:
            raise BoardClosed("the board was closed")
        return typed(h)
    return get_float


def _python_type(info: ParamInfo) -> Tuple[str, str]:
    """(type read, type accepted) of a property, for the stub."""
    if info.kind == "quantity":
        return ("int", "float") if info.whole else ("float", "float")
    if info.kind == "choice":
        return "Choice", "Union[int, str]"
    if info.kind == "flag":
        return "bool", "bool"
    if info.kind == "address":
        return "str", "MacLike"
    return "str", "str"


def _doc(info: ParamInfo) -> str:
    unit = f", {info.unit}" if info.unit else ""
    access = "" if info.writable else " Read-only."
    return (f"{info.help[0].upper()}{info.help[1:]}{unit} ({info.kind}, {info.scope}; "
            f"{', '.join(info.chips)}).{access}")


def make_property(info: ParamInfo) -> property:
    fget = _getter(info)
    if not info.writable:
        return property(fget, doc=_doc(info))
    name = info.name

    def fset(self: Any, value: object) -> None:
        set_strict(self, name, value)

    return property(fget, fset, doc=_doc(info))


class _Parameters:
    """Board's properties from the library's parameter table (see the module's text)."""
    __slots__ = ()


for _info in _TABLE:
    setattr(_Parameters, _info.name, make_property(_info))


def stub_text() -> str:
    """The typed stub of this module (_params.pyi), from the table."""
    lines = [
        "# Generated from the library's parameter table by `python3 -m korvik._params --stub`;",
        "# do not edit. A test compares it with the table.",
        "from typing import Any, Dict, List, NamedTuple, Optional, Sequence, Tuple, Union",
        "",
        "from ._values import Choice, MacLike",
        "",
        "KINDS: Tuple[str, ...]",
        "SCOPES: Tuple[str, ...]",
        "ALIASES: Dict[str, str]",
        "",
        "class ParamInfo(NamedTuple):",
        "    name: str", "    unit: str", "    kind: str", "    scope: str", "    chips: Tuple[str, ...]",
        "    writable: bool", "    whole: bool", "    hex: bool", "    levels: bool",
        "    notification: Optional[str]", "    help: str",
        "",
        "class ParamResult(NamedTuple):",
        "    name: str", "    asked: Any", "    achieved: Any", "    difference: float",
        "    ppm: Optional[float]", "    clamped: bool", "    rounded: bool", "    side_effects: Tuple[str, ...]",
        "",
        "def table() -> Tuple[ParamInfo, ...]: ...",
        "def find(name: str) -> Optional[ParamInfo]: ...",
        "def last_error() -> str: ...",
        "def find_register(handle: int, name: str) -> Optional[int]: ...",
        "def raw_value(handle: int, info: ParamInfo) -> Any: ...",
        "def choices_of(handle: int, name: str) -> Tuple[str, ...]: ...",
        "def run(board: Any, values: Sequence[Tuple[str, object]], clamp: bool, commit: bool) -> List[ParamResult]: ...",
        "def _has_param(handle: int, name: bytes) -> int: ...",
        "def set_strict(obj: Any, name: str, value: object) -> None: ...",
        "def limits(board: Any, name: str) -> Dict[str, Any]: ...",
        "def achieved(board: Any, name: str, value: float) -> float: ...",
        "def make_property(info: ParamInfo) -> property: ...",
        "def stub_text() -> str: ...",
        "",
        "class _Parameters:",
    ]
    for info in _TABLE:
        read, write = _python_type(info)
        lines.append("    @property")
        lines.append(f"    def {info.name}(self) -> {read}: ...")
        if info.writable:
            lines.append(f"    @{info.name}.setter")
            lines.append(f"    def {info.name}(self, value: {write}) -> None: ...")
    return "\n".join(lines) + "\n"


if __name__ == "__main__":
    if sys.argv[1:] == ["--stub"]:
        sys.stdout.write(stub_text())
    else:
        for _r in _TABLE:
            print(f"{_r.name:26} {_r.unit or '-':6} {_r.kind:9} {_r.scope:6} {','.join(_r.chips)}")
