"""Driving the library from an asyncio event loop.

The library's own GLib context hands out descriptors and a timeout; the
loop watches the descriptors with add_reader and keeps one timer for the
timeout, so nothing runs while nothing happens.
"""

from __future__ import annotations

import asyncio
from typing import Optional, Set

from . import _dispatch
from ._native import lib

__all__ = ["Attachment", "attach_to", "ensure_attached", "kick", "current", "periodic", "poll_handles"]


# Once the program opened a real board, the real boards it did not open are
# let go after every turn of the library's loop, so that other programs can
# have them (the board lock is per board and host-wide); open() and rescan()
# find them again.
_hold_only_opened = False


def hold_only_opened() -> None:
    global _hold_only_opened
    if lib.has("release_unopened_boards"):
        _hold_only_opened = True
        lib.release_unopened_boards()


def holds_only_opened() -> bool:
    return _hold_only_opened


def periodic() -> None:
    lib.periodic()
    if _hold_only_opened:
        lib.release_unopened_boards()
    _dispatch.reap()


def poll_handles():
    import ctypes
    from ._native import libc
    count = ctypes.c_uint(0)
    timeout = ctypes.c_int(-1)
    p = lib.get_poll_handles(ctypes.byref(count), ctypes.byref(timeout))
    fds = []
    if p:
        try:
            # a descriptor of 0 comes back from ctypes as None
            fds = [p[i] or 0 for i in range(count.value)]
        finally:
            libc.free(ctypes.cast(p, ctypes.c_void_p))
    return fds, (None if timeout.value < 0 else timeout.value)


class Attachment:
    """The library attached to one asyncio loop (see korvik.attach())."""

    def __init__(self, loop: asyncio.AbstractEventLoop) -> None:
        self.loop = loop
        self._fds: Set[int] = set()
        self._timer: Optional[asyncio.TimerHandle] = None
        self._pending = False
        self.active = True

    def _run(self) -> None:
        self._pending = False
        if not self.active:
            return
        periodic()
        self._watch()

    def _watch(self) -> None:
        fds, timeout = poll_handles()
        new = set(fds)
        for fd in self._fds - new:
            self.loop.remove_reader(fd)
        for fd in new - self._fds:
            self.loop.add_reader(fd, self._run)
        self._fds = new
        if self._timer is not None:
            self._timer.cancel()
            self._timer = None
        if timeout is not None:
            self._timer = self.loop.call_later(timeout / 1000.0, self._run)

    def kick(self) -> None:
        """Runs the library soon: a call made outside the loop may have
        added work (a reprogramming timeout, a new adapter) it must see."""
        if self._pending or not self.active:
            return
        self._pending = True
        self.loop.call_soon(self._run)

    def detach(self) -> None:
        """Stops driving the library from this loop."""
        global _current
        if not self.active:
            return
        self.active = False
        if not self.loop.is_closed():
            for fd in self._fds:
                self.loop.remove_reader(fd)
        if self._timer is not None:
            self._timer.cancel()
        self._fds.clear()
        if _current is self:
            _current = None

    def __enter__(self) -> "Attachment":
        return self

    def __exit__(self, *exc: object) -> None:
        self.detach()

    def __repr__(self) -> str:
        state = "active" if self.active else "detached"
        return f"<korvik.Attachment {state}, watching {len(self._fds)} descriptors>"


_current: Optional[Attachment] = None


def current() -> Optional[Attachment]:
    """The live attachment, forgetting one whose loop has been closed."""
    global _current
    a = _current
    if a is not None and a.loop.is_closed():
        a.active = False
        _current = a = None
    return a


def attach_to(loop: asyncio.AbstractEventLoop) -> Attachment:
    global _current
    a = current()
    if a is not None:
        if a.loop is loop:
            return a
        raise RuntimeError("the library is already attached to another event loop; detach it first")
    a = _current = Attachment(loop)
    a.kick()
    return a


def ensure_attached() -> Attachment:
    return attach_to(asyncio.get_running_loop())


def kick() -> None:
    a = current()
    if a is not None:
        a.kick()
