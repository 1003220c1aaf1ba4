"""korvik: radio evaluation boards from Python.

A thin layer over libkorvik-0 (its flat C interface, through ctypes) that
makes boards feel native::

    import korvik
    with korvik.open_simulation("RC1200") as board:
        board.tx.carrier = 868.3e6        # Hz
        board.commit()
        print(board.tx.carrier, [r.name for r in board.registers if r.nv_value != r.value])

Module functions find and open boards and drive the library's event loop;
``Board`` is one open board. Everything happens on the thread that calls
the library: either call ``periodic()`` when a descriptor of
``poll_handles()`` is readable or its timeout has passed, or let an asyncio
loop do it with ``await korvik.attach()``.

Library lookup: ``KORVIK_LIBRARY`` (a path), else the dynamic linker's
search path, else the build directories of the checkout this package runs
from. The library's diagnostic lines go to the ``logging`` module (logger
"korvik", level DEBUG); ``set_diagnostic_sink`` routes them elsewhere.
"""

from __future__ import annotations

import asyncio
import atexit
import ctypes
import hashlib
import itertools
import logging
import os
import warnings
from typing import Any, Callable, Dict, List, NamedTuple, Optional, Tuple

from . import _dispatch, _loop, _native, _values, files
from ._native import CALLBACK_TYPES, lib, library_path
from ._values import Choice, MacLike, mac_bytes
from .board import (CALLBACK_KINDS, Bitfield, Bitfields, Board, ChannelAccess, Encoding, Packet,
                    Receiver, Register, Registers, Status, Transmitter, take_list)
from ._params import ALIASES, ParamInfo, ParamResult
from ._params import table as _param_table
from .errors import BoardClosed, BoardDead, BoardNotFound, KorvikError, NotSent, ParamError
from ._dispatch import Connection
from ._loop import Attachment
from .link import LinkCheck, LinkRule, air_time, check_link, in_flight, set_virtual_air_fast, virtual_air_fast

__version__ = "0.1.0"

# korvik.open stays out of the star import, which would replace the built-in open()
__all__ = [
    "version", "supported_chips", "boards", "busy_boards", "open_interface", "open_simulation", "rescan",
    "periodic", "poll_handles", "on", "attach", "detach", "library_path", "set_virtual_air",
    "virtual_air", "set_path_loss", "set_diagnostic_sink", "open_replay", "start_capture", "stop_capture",
    "connect", "disconnect",
    "files",
    "Board", "BoardInfo", "Receiver", "Transmitter", "Encoding", "ChannelAccess", "Register",
    "Registers", "Bitfield", "Bitfields", "Packet", "Status", "Choice", "Connection", "Attachment",
    "CALLBACK_KINDS", "DEVICE_CALLBACK_KINDS",
    "KorvikError", "BoardNotFound", "BoardDead", "BoardClosed", "NotSent", "ParamError",
    "params", "ParamInfo", "ParamResult", "ALIASES",
    "check_link", "LinkCheck", "LinkRule", "set_virtual_air_fast", "virtual_air_fast", "in_flight", "air_time",
]

#: Kinds that the module-level ``on()`` accepts.
DEVICE_CALLBACK_KINDS: Tuple[str, ...] = ("device_connect", "device_disconnect")


class BoardInfo(NamedTuple):
    """A connected board: its interface name and serial."""
    interface: str
    serial: str


def version() -> str:
    """The library's version text, such as "V1.4"."""
    return lib.get_version().decode()


def params() -> Tuple[ParamInfo, ...]:
    """The library's parameter table: every parameter Board has as a
    property, with unit, kind, scope, chips and whether it can be set."""
    return _param_table()


def supported_chips() -> List[str]:
    """Names of the chips the library models: "RC1200", "RC1400", "RC1100", "RC1300"."""
    return take_list(lib.get_supported_chips())


# ---- board arrival and removal ----
# The library keeps one subscriber per kind and replays present boards to a
# new one; one permanent subscription here serves any number of Python ones.

_present: Dict[str, str] = {}
_tracker: List[Any] = []
_device_entries: Dict[str, Any] = {}
_device_fanouts = {k: _dispatch.Fanout(k, lambda f: f, lambda t: None, lambda i, s: (i, s), _device_entries)
                   for k in DEVICE_CALLBACK_KINDS}


def _track() -> None:
    if _tracker:
        return

    def arrived(iface: bytes, serial: bytes, _u: Any) -> None:
        i, s = iface.decode("utf-8", "replace"), serial.decode("utf-8", "replace")
        _present[i] = s
        _device_fanouts["device_connect"]._call(i, s)

    def left(iface: bytes, serial: bytes, _u: Any) -> None:
        i, s = iface.decode("utf-8", "replace"), serial.decode("utf-8", "replace")
        _present.pop(i, None)
        _device_fanouts["device_disconnect"]._call(i, s)

    t = CALLBACK_TYPES["iface"]
    _tracker.extend([t(arrived), t(left)])  # kept for the life of the process
    lib.set_callback_device_iface_disconnect(_tracker[1], None)
    lib.set_callback_device_iface_connect(_tracker[0], None)


def boards() -> List[BoardInfo]:
    """The boards connected now (simulated ones included), by interface name."""
    _track()
    return [BoardInfo(i, _present[i]) for i in sorted(_present)]


def on(kind: str, fn: Callable[[str, str], Any]) -> Connection:
    """Calls ``fn(interface, serial)`` when a board arrives ("device_connect")
    or leaves ("device_disconnect"). A new "device_connect" subscriber is
    called at once for every board already present. Exceptions raised by
    ``fn`` go to sys.unraisablehook."""
    if kind not in _device_fanouts:
        raise ValueError(f"unknown kind {kind!r}; expected one of {', '.join(DEVICE_CALLBACK_KINDS)}"
                         " (board events: Board.on)")
    _track()
    conn = _device_fanouts[kind].add(fn)
    if kind == "device_connect":
        for i in sorted(_present):
            try:
                fn(i, _present[i])
            except BaseException as e:
                _dispatch.report(e, fn, kind)
    return conn


# ---- opening boards ----

def _text(value: object, what: str) -> bytes:
    if not isinstance(value, str):
        raise TypeError(f"{what} must be a str, not {type(value).__name__}")
    if "\0" in value:
        raise ValueError(f"{what} must not contain NUL")
    return value.encode("utf-8")


def busy_boards() -> Dict[str, str]:
    """Boards another program holds, by interface name, with who holds them
    ("in use by PID 123 (korvik)"); they arrive once they are let go."""
    if not lib.has("get_busy_boards"):
        return {}
    flat = take_list(lib.get_busy_boards())
    return dict(zip(flat[0::2], flat[1::2]))


def _opened(h: int, what: str, key: Optional[str] = None) -> Board:
    _loop.kick()
    if not h:
        held = busy_boards()
        if key in held:
            why = f"; it is {held[key]}"
        else:
            # a serial does not say which interface: name every board another program holds
            why = "".join(f"; {i} is {h}" for i, h in sorted(held.items()))
        raise BoardNotFound(f"no board {what}{why}")
    board = _checked(Board(h))
    # the program uses this board: the real boards it did not open go to whoever wants them
    if not board.is_simulated:
        _loop.hold_only_opened()
    return board


def _open_again(opener: Callable[[], int]) -> int:
    h = opener()
    # a board let go of after an earlier open (or by another program) comes back with a scan
    if not h and _loop.holds_only_opened():
        lib.rescan_devices()
        h = opener()
    return h


def open(serial: str) -> Board:  # noqa: A001 - the natural name, as with io.open
    """Opens the connected board with this serial (the first by interface
    name if several share it). Raises BoardNotFound when there is none.
    Once a real board is open, the real boards the program has not opened
    are let go for other programs to use; opening one finds it again."""
    key = _text(serial, "serial")
    return _opened(_open_again(lambda: lib.open(key)), f"with serial {serial!r}")


def open_interface(name: str) -> Board:
    """Opens the board on this network interface ("usb0", "sim0", ...).
    Raises BoardNotFound when no board is registered there (saying so when
    another program holds it). Real boards not opened are let go as with open()."""
    key = _text(name, "interface name")
    return _opened(_open_again(lambda: lib.open_iface(key)), f"on interface {name!r}", name)


def _checked(board: Board) -> Board:
    if board.nv_interrupted:
        warnings.warn(f"board {board.serial}: its stored defaults are a store that did not finish and were "
                      "not taken; store_board_defaults() writes them whole", stacklevel=3)
    return board


_sim_numbers = itertools.count(1)


def open_simulation(chip: str, serial: Optional[str] = None, name: Optional[str] = None,
                    mac: Optional[MacLike] = None) -> Board:
    """Creates a simulated board with this chip ("RC1200", "RC1300", "RC1400",
    "RC1100"; "EV..." names are taken as "RC...") and opens it.

    ``serial`` defaults to one no connected board has; ``name`` (the display
    name) to "Simulated <chip>"; ``mac`` (MAC text or 6 bytes) to a locally
    administered address derived from the serial. When a simulated board
    with ``serial`` exists already, that board is opened instead and the
    other arguments are ignored, as the library does. A real board's serial
    is never taken: the simulation gets a free serial instead, and a
    UserWarning says which."""
    chip_b = _text(chip, "chip")
    wanted: Optional[str] = None
    chips = supported_chips()
    if chip not in chips and not (chip.startswith("EV") and "RC" + chip[2:] in chips):
        raise ValueError(f"unknown chip {chip!r}; supported: {', '.join(chips)}")
    taken = {b.serial for b in boards()}
    if serial is not None and serial in taken:
        existing = open(serial)
        if existing.is_simulated:
            return existing
        # the library would hand out the real board, whose settings and
        # stored defaults the caller means to play with
        existing.close()
        wanted, serial = serial, None
    if serial is None:
        serial = next(s for s in (f"SIM{n:05d}" for n in _sim_numbers) if s not in taken)
        if wanted is not None:
            warnings.warn(f"serial {wanted} is a real board's; the simulated {chip} is serial {serial}",
                          stacklevel=2)
    serial_b = _text(serial, "serial")
    name_b = _text(f"Simulated {chip}" if name is None else name, "name")
    if mac is None:
        raw = b"\x02" + hashlib.sha256(serial_b).digest()[:5]
    else:
        raw = mac_bytes(mac)
    h = lib.open_simulation(serial_b, name_b, chip_b, raw.hex().upper().encode())
    _loop.kick()
    if not h:
        raise KorvikError(f"the library could not create a simulated {chip} board")
    made = Board(h)
    if not made.is_simulated:
        # a real board with this serial arrived in between
        made.close()
        raise KorvikError(f"serial {serial} is a real board's; no simulated {chip} was made")
    return made


def open_replay(path: "str | os.PathLike[str]") -> Board:
    """Opens a capture file of one board (``korvik capture`` or
    KORVIK_CAPTURE) as a simulated board that answers as the recorded one
    did and plays its status reports and received packets again at their
    recorded times. Raises KorvikError with the reason when the capture is
    refused."""
    path_b = _text(os.fspath(path), "path")
    error = ctypes.create_string_buffer(512)
    h = _require("open_replay", "replay")(path_b, error, len(error))
    _loop.kick()
    if not h:
        raise KorvikError(error.value.decode("utf-8", "replace") or f"cannot replay {os.fspath(path)!r}")
    return Board(h)


def start_capture(path: "str | os.PathLike[str]", append: bool = False) -> None:
    """Writes every frame the library sends to or receives from a board, with
    its time, to a pcap file (tcpdump and Wireshark read it); "%i" in the
    name gives one file per board interface. Raises KorvikError when the
    file cannot be written."""
    flag_value = 1 if _values.flag(append, "append") else 0
    if _require("start_capture", "capture")(_text(os.fspath(path), "path"), flag_value) != 0:
        raise KorvikError(f"cannot write the capture file {os.fspath(path)!r}")


def stop_capture() -> None:
    """Ends the capture and closes its file."""
    _require("stop_capture", "capture")()


def rescan() -> None:
    """Looks for boards now (boards also arrive on their own while the library runs)."""
    lib.rescan_devices()
    _loop.kick()


# ---- boards of korvikd servers ----

def connect(uri: str) -> None:
    """Connects to a korvikd: ``unix:/run/korvik/korvikd.sock``,
    ``tls://host:port`` (token and CA from ``?token=...&ca=FILE`` or
    KORVIK_TOKEN and KORVIK_CA) or ``tcp://127.0.0.1:port``. Its boards then
    arrive like plugged-in ones (``boards()``, ``on("device_connect")``) and
    open with ``open``/``open_interface``. Raises KorvikError with the
    server's reason ("permission denied", cannot connect)."""
    fn = _require("connect_server", "korvikd client")
    error = ctypes.c_void_p()
    if fn(_text(uri, "uri"), ctypes.byref(error)) != 0:
        reason = f"cannot connect to korvikd at {uri}"
        if error.value:
            reason = ctypes.string_at(error.value).decode(errors="replace")
            _native.libc.free(error)
        raise KorvikError(reason)
    _loop.kick()


def disconnect(uri: str) -> bool:
    """Ends the connection to a korvikd; its boards leave. False when it was not connected."""
    ok = _require("disconnect_server", "korvikd client")(_text(uri, "uri")) == 0
    _loop.kick()
    return ok


# ---- library-wide switches ----

def _require(name: str, what: str) -> Any:
    if not lib.has(name):
        raise KorvikError(f"this libkorvik-0 ({library_path}) has no {what}")
    return getattr(lib, name)


def set_virtual_air(on: bool, *, seed: Optional[int] = None, path_loss: Optional[float] = None) -> None:
    """Turns the virtual air between simulated boards on or off. While it is
    on, a packet one simulated board sends reaches every other simulated
    board whose receiver would hear it (carrier, modulation, bitrate,
    framing, CRC and addresses), after its air time, with a signal strength
    from the link model. ``seed`` restarts the link model's random stream;
    ``path_loss`` (dB) applies between every pair of boards. Raises
    KorvikError when the loaded library has no virtual air."""
    flag_value = 1 if _values.flag(on, "on") else 0
    setter = _require("set_virtual_air", "virtual air")
    if seed is not None:
        lib.set_virtual_air_seed(_values.unsigned(seed, "seed"))
    if path_loss is not None:
        lib.set_virtual_air_path_loss(_values.real(path_loss, "path_loss"))
    setter(flag_value)
    _loop.kick()


def virtual_air() -> bool:
    """True while the virtual air between simulated boards is on."""
    return bool(_require("is_virtual_air", "virtual air")())


def set_path_loss(a: "Board | str", b: "Board | str", db: float) -> None:
    """Path loss in dB between two simulated boards (Boards or interface names) on the virtual air."""
    names = [x.interface if isinstance(x, Board) else x for x in (a, b)]
    _require("set_virtual_air_pair_path_loss", "virtual air")(
        _text(names[0], "board"), _text(names[1], "board"), _values.real(db, "db"))


_sink: List[Any] = []

#: The logger that receives the library's diagnostic lines by default.
logger = logging.getLogger("korvik")


def _log_line(line: str) -> None:
    logger.debug("%s", line)


def set_diagnostic_sink(fn: Optional[Callable[[str], Any]]) -> None:
    """Sends the library's diagnostic lines (one str each, without the
    newline) to ``fn``; None restores the default, the logger "korvik" at
    level DEBUG (``set_diagnostic_sink(sys.stderr.write)`` would print
    them, without their newlines). ``fn`` may be called from a thread of
    the library (direct SPI boards) and must not call set_diagnostic_sink. Exceptions it
    raises go to sys.unraisablehook. Raises KorvikError when the loaded
    library cannot route its lines."""
    setter = _require("set_diagnostic_sink", "diagnostic sink")
    if fn is None:
        fn = _log_line
    if not callable(fn):
        raise TypeError(f"sink must be callable or None, not {type(fn).__name__}")
    sink: Callable[[str], Any] = fn

    def line(text: bytes, _u: Any) -> None:
        try:
            sink(text.decode("utf-8", "replace"))
        except BaseException as e:
            _dispatch.report(e, sink, "diagnostic")

    t = CALLBACK_TYPES["diagnostic"](line)
    setter(t, None)
    # the previous trampoline may be running on another thread: keep them all
    _sink.append(t)


def _to_logging() -> None:
    if not lib.has("set_diagnostic_sink"):
        return
    set_diagnostic_sink(None)
    # lines written while the interpreter shuts down must not call into it
    atexit.register(lambda: lib.set_diagnostic_sink(CALLBACK_TYPES["diagnostic"](), None))


_to_logging()


# ---- driving the library ----

def periodic() -> None:
    """Runs everything that is ready in the library's event loop and
    returns; never blocks. Callbacks fire from here."""
    _loop.periodic()


def poll_handles() -> Tuple[List[int], Optional[int]]:
    """The file descriptors to wait on (for reading) and the longest time
    to wait in milliseconds (None: no limit) before calling periodic()."""
    return _loop.poll_handles()


async def attach(loop: Optional[asyncio.AbstractEventLoop] = None) -> Attachment:
    """Drives the library from an asyncio loop (the running one by default)
    with add_reader on its descriptors and one timer for its timeout, so
    callbacks, ``Board.packets()`` and ``Board.wait_status()`` work without
    a thread and without polling. Attaching again to the same loop returns
    the same Attachment; ``detach()`` undoes it. packets() and
    wait_status() attach by themselves."""
    return _loop.attach_to(loop if loop is not None else asyncio.get_running_loop())


def detach() -> None:
    """Stops driving the library from the asyncio loop, if it was attached."""
    a = _loop.current()
    if a is not None:
        a.detach()
