"""The link check between two boards and the virtual air's simulated time."""

import json
import math
from dataclasses import dataclass, field
from typing import Any, List, Optional

from . import _values
from ._native import lib
from .board import Board, take_string
from .errors import BoardClosed, KorvikError


@dataclass(frozen=True)
class LinkRule:
    """One delivery rule: whether it holds, its margin in ``unit`` (None for
    rules that only compare), what was compared and what to change."""
    name: str
    applies: bool
    ok: bool
    margin: Optional[float]
    unit: str
    detail: str
    fix: Optional[str]


@dataclass(frozen=True)
class LinkCheck:
    """Whether the receiver hears the transmitter (``works``); when not, the
    deciding rule (``cause``) and what to change (``fix``)."""
    works: bool
    cause: Optional[str]
    fix: Optional[str]
    crystal_errors_known: bool
    carrier_difference: float
    carrier_window: float
    crystal_allowance: float
    tx_power: float
    path_loss: float
    level: float
    sensitivity: Optional[float]
    budget_margin: Optional[float]
    rules: List[LinkRule] = field(default_factory=list)

    def rule(self, name: str) -> LinkRule:
        """The rule of that name; KeyError when there is none."""
        for r in self.rules:
            if r.name == name:
                return r
        raise KeyError(name)

    def __bool__(self) -> bool:
        return self.works


def _require(name: str) -> Any:
    if not lib.has(name):
        raise KorvikError(f"this libkorvik-0 has no {name}")
    return getattr(lib, name)


def _h(board: Board) -> int:
    if not isinstance(board, Board):
        raise TypeError(f"expected a Board, not {type(board).__name__}")
    h = board._h
    if h is None:
        raise BoardClosed("the board was closed")
    return h


def check_link(tx: Board, rx: Board, *, data: Optional[bytes] = None,
               path_loss: Optional[float] = None) -> LinkCheck:
    """Whether ``rx`` hears ``tx``: every delivery rule of the virtual air
    with its margin, the link budget and a verdict. ``data`` is the packet's
    first bytes for the receiver's address filter; ``path_loss`` (dB)
    replaces the virtual air's value for the budget."""
    fn = _require("check_link_json")
    if data is not None and not isinstance(data, (bytes, bytearray)):
        raise TypeError("data must be bytes")
    loss = math.nan if path_loss is None else _values.real(path_loss, "path_loss")
    raw = bytes(data) if data is not None else None
    text = take_string(fn(_h(tx), _h(rx), raw, len(raw) if raw else 0, loss))
    if text is None:
        raise KorvikError("the link check failed (see the library's diagnostic lines)")
    d = json.loads(text)
    rules = [LinkRule(**r) for r in d.pop("rules")]
    return LinkCheck(rules=rules, **d)


def set_virtual_air_fast(on: bool) -> None:
    """Simulated time on the virtual air: packets arrive as fast as the loop
    is pumped, in the order and with the seeded values real time would give."""
    _require("set_virtual_air_fast")(1 if _values.flag(on, "on") else 0)


def virtual_air_fast() -> bool:
    """True while the virtual air runs in simulated time."""
    return bool(_require("is_virtual_air_fast")())


def in_flight() -> int:
    """Packets still on the virtual air."""
    return int(_require("get_virtual_air_in_flight")())


def air_time() -> float:
    """The virtual air's clock in seconds (simulated in fast mode)."""
    return float(_require("get_virtual_air_time")())
