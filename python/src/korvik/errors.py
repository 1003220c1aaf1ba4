"""Exceptions of the korvik package."""

from __future__ import annotations

__all__ = ["KorvikError", "BoardNotFound", "BoardDead", "BoardClosed", "NotSent", "ParamError"]


class KorvikError(Exception):
    """Base of every error the library reports (wrong arguments give the
    usual TypeError and ValueError instead)."""


class BoardNotFound(KorvikError, LookupError):
    """No board with that serial or interface name is connected."""


class BoardDead(KorvikError):
    """The board failed or was unplugged; its handle still answers from the
    values it last knew, but nothing reaches the hardware any more."""


class BoardClosed(KorvikError, ValueError):
    """The Board object was closed; open the board again to use it."""


class NotSent(KorvikError):
    """The board refused a packet (no packet transport, or the library could
    not queue it); the library's diagnostic line on standard error says why."""


class ParamError(KorvikError, ValueError):
    """A parameter value the chip cannot hold, or a parameter the board's
    chip does not have. The text names the parameter, its range or levels
    and the nearest value the chip holds; nothing was set."""
