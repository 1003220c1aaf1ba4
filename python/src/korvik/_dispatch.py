"""Calling Python functions from the library's callbacks.

The library keeps one C callback per kind; each kind gets one ctypes
trampoline here that fans out to any number of Python subscribers. An
exception in a subscriber goes to sys.unraisablehook and the remaining
subscribers still run: nothing may unwind into the library's C++ frames.
"""

from __future__ import annotations

import sys
import types
import weakref
from typing import Any, Callable, Dict, List, Optional

__all__ = ["Connection", "Fanout", "report", "retire", "reap", "depth"]

_depth = 0
# trampolines whose C callback was removed while some callback was running:
# the running one may be among them, so they are released later, at the top
_graveyard: List[Any] = []
_hook_args_type: Optional[type] = None


def depth() -> int:
    return _depth


def _unraisable_args_type() -> Optional[type]:
    """sys.UnraisableHookArgs is not importable; catch one instance to learn it."""
    global _hook_args_type
    if _hook_args_type is None:
        caught: List[Any] = []
        saved = sys.unraisablehook
        sys.unraisablehook = caught.append

        class _Probe:
            def __del__(self) -> None:
                raise RuntimeError("probe")

        try:
            _Probe()
        finally:
            sys.unraisablehook = saved
        if caught:
            _hook_args_type = type(caught[0])
        # the record is invisible to the cycle collector, and its traceback
        # reaches this frame and every caller's (a Board among them)
        caught.clear()
    return _hook_args_type


def report(exc: BaseException, obj: object, kind: str) -> None:
    """Hands an exception raised by a callback to sys.unraisablehook."""
    msg = f"Exception ignored in korvik callback {kind!r}"
    try:
        t = _unraisable_args_type()
        if t is not None:
            args = t((type(exc), exc, exc.__traceback__, msg, obj))
        else:
            args = types.SimpleNamespace(exc_type=type(exc), exc_value=exc,
                                         exc_traceback=exc.__traceback__, err_msg=msg, object=obj)
        sys.unraisablehook(args)
    except BaseException:  # a failing hook must not unwind into C either
        pass


def retire(objects: List[Any]) -> None:
    if _depth > 0:
        _graveyard.extend(objects)


def reap() -> None:
    if _depth == 0 and _graveyard:
        _graveyard.clear()


class Connection:
    """One subscription; ``disconnect()`` ends it (also as a context manager).
    Disconnecting twice, or after the board was closed, does nothing."""

    __slots__ = ("_fanout", "_fn", "__weakref__")

    def __init__(self, fanout: "Fanout", fn: Callable[..., Any]) -> None:
        self._fanout: Optional[Fanout] = fanout
        self._fn = fn

    @property
    def connected(self) -> bool:
        """True until disconnected (or the board is closed)."""
        f = self._fanout
        return f is not None and not f.closed and self._fn in f.fns

    def disconnect(self) -> None:
        f, self._fanout = self._fanout, None
        if f is not None:
            f.remove(self._fn)

    def __enter__(self) -> "Connection":
        return self

    def __exit__(self, *exc: object) -> None:
        self.disconnect()

    def __repr__(self) -> str:
        kind = self._fanout.kind if self._fanout else "?"
        return f"<korvik.Connection {kind} {'connected' if self.connected else 'disconnected'}>"


class Fanout:
    """The subscribers of one callback kind, and the trampoline given to the
    library while there are any. ``install(trampoline_or_None)`` sets or
    removes the library's callback; ``convert`` turns the C arguments into
    the Python ones (or None to drop the call)."""

    def __init__(self, kind: str, ctype: Any, install: Callable[[Any], None],
                 convert: Callable[..., Optional[tuple]], keep: Dict[str, Any]) -> None:
        self.kind = kind
        self.fns: List[Callable[..., Any]] = []
        self.closed = False
        self._ctype = ctype
        self._install = install
        self._convert = convert
        # the trampolines live here, apart from the subscribers: whoever keeps
        # them alive until the handle is closed must not keep the Board alive
        self._keep = keep

    def _call(self, *c_args: Any) -> None:
        global _depth
        _depth += 1
        try:
            try:
                args = self._convert(*c_args)
            except BaseException as e:
                report(e, self._convert, self.kind)
                return
            if args is None:
                return
            for fn in list(self.fns):
                try:
                    fn(*args)
                except BaseException as e:
                    report(e, fn, self.kind)
        finally:
            _depth -= 1

    def add(self, fn: Callable[..., Any]) -> Connection:
        if not callable(fn):
            raise TypeError(f"callback must be callable, not {type(fn).__name__}")
        self.fns.append(fn)
        if self.kind not in self._keep:
            ref = weakref.ref(self)

            def entry(*c_args: Any) -> None:
                f = ref()
                if f is not None:
                    f._call(*c_args)

            t = self._keep[self.kind] = self._ctype(entry)
            try:
                self._install(t)
            except BaseException:
                self.fns.remove(fn)
                del self._keep[self.kind]
                raise
        return Connection(self, fn)

    def remove(self, fn: Callable[..., Any]) -> None:
        try:
            self.fns.remove(fn)
        except ValueError:
            return
        if not self.fns and self.kind in self._keep and not self.closed:
            self._install(None)
            retire([self._keep.pop(self.kind)])

    def close(self) -> None:
        """Forgets the subscribers; the library already dropped the callback."""
        self.closed = True
        self.fns.clear()
