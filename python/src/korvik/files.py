"""Settings files and code snippets through the korvik program, so that
Python reads, compares and converts them with the implementation the command
line and paramcalc use, rather than with a second one.

The program is ``KORVIK_PROGRAM`` (a path), else ``korvik`` on PATH, else
the one in the build tree of the library this package loaded."""

from __future__ import annotations

import json
import os
import shutil
import subprocess
from pathlib import Path
from typing import Any, Dict, List, Union

from ._native import lib, library_path
from .errors import KorvikError

__all__ = ["program", "show", "diff", "snippet", "convert", "save_board", "load_board"]

PathLike = Union[str, "os.PathLike[str]"]


def program() -> str:
    """The korvik program these functions run; raises KorvikError when there is none."""
    explicit = os.environ.get("KORVIK_PROGRAM")
    if explicit:
        return explicit
    found = shutil.which("korvik")
    if found:
        return found
    # a build tree: build/lib/libkorvik-0.so beside build/tools/korvik/korvik
    built = Path(library_path).resolve().parent.parent / "tools" / "korvik" / "korvik"
    if built.is_file():
        return str(built)
    raise KorvikError("the korvik program was not found: install it or set KORVIK_PROGRAM")


def _run(args: List[str], ok: tuple = (0,)) -> subprocess.CompletedProcess:
    r = subprocess.run([program(), *args], capture_output=True, text=True)
    if r.returncode not in ok:
        raise KorvikError(r.stderr.strip() or f"korvik {' '.join(args)}: exit status {r.returncode}")
    return r


def show(path: PathLike) -> Dict[str, Any]:
    """A settings file's chip and parameters in SI units, as ``korvik show``
    gives them: {"file", "chip", "parameters": {name: value}}."""
    result: Dict[str, Any] = json.loads(_run(["--json", "show", os.fspath(path)]).stdout)
    return result


def diff(a: PathLike, b: PathLike) -> Dict[str, Any]:
    """Compares two settings files as ``korvik diff`` does: {"equal", "chips",
    "parameters": [{name, a, b, difference}], "registers": [{name, a, b}]}."""
    result: Dict[str, Any] = json.loads(_run(["--json", "diff", os.fspath(a), os.fspath(b)], ok=(0, 1)).stdout)
    return result


def snippet(path: PathLike, target: str = "rc800", style: str = "straight") -> str:
    """The microcontroller code for a settings file, as the code windows
    show it; ``target`` "rc800", "spi" or "evalboard", ``style``
    "straight", "table" or "burst"."""
    chip = show(path)["chip"]
    return str(_run(["snippet", f"sim:{chip}:{os.fspath(path)}", "--target", target, "--style", style]).stdout)


def convert(source: PathLike, dest: PathLike) -> None:
    """Writes ``source`` (a settings file or an older ".set" file) as a
    settings file ``dest``, whole or not at all."""
    chip = show(source)["chip"]
    _run(["load", "-o", os.fspath(dest), f"sim:{chip}", os.fspath(source)])


# ---- a live board's settings file ----
# The program cannot open a board this process holds, so the board's state
# travels as JSON: the program puts it on a simulated board of the same chip
# and writes or applies the file there with the code of `korvik save` and
# `korvik load`; a load hands back the state that results.

def _numeric(kind: str) -> bool:
    return kind not in ("address", "text")


def _board_state(board: Any) -> Dict[str, Any]:
    from . import _params
    from .board import _handle
    h = _handle(board)
    params: Dict[str, Any] = {}
    for info in _params.table():
        if not info.writable or not info.name.startswith(("xtal_", "chacc_", "nv_")):
            continue
        if not _params._has_param(h, info.name.encode()):
            continue
        params[info.name] = _params.raw_value(h, info)
    registers = [lib.get_register_chipvalue(h, i) for i in range(lib.get_registers(h))]
    return {"chip": board.chip, "params": params, "registers": registers}


def _state_run(board: Any, action: str, path: PathLike) -> Dict[str, Any]:
    state = json.dumps(_board_state(board))
    r = subprocess.run([program(), "state", board.chip, action, os.fspath(path)], input=state,
                       capture_output=True, text=True)
    if r.returncode != 0:
        raise KorvikError(r.stderr.strip() or f"korvik state {action}: exit status {r.returncode}")
    result: Dict[str, Any] = json.loads(r.stdout)
    return result


def save_board(board: Any, path: PathLike) -> None:
    """Writes the board's settings file, as ``korvik save`` and paramcalc's
    Save File do; an existing file is replaced whole or left as it was."""
    _state_run(board, "save", path)


def load_board(board: Any, path: PathLike) -> List[str]:
    """Applies a settings file to the board, as ``korvik load`` and paramcalc's
    Load File do, and commits; a refused file changes nothing. Returns the
    notes about entries skipped or cut to range."""
    from . import _params
    from .board import _checked, _handle
    result = _state_run(board, "load", path)
    h = _handle(board)
    values: List[Any] = []
    for name, value in result["params"].items():
        info = _params.find(name)
        if info is None:
            continue
        if info.kind == "flag":
            value = bool(value)
        elif info.kind == "choice" or info.whole:
            value = int(value)
        values.append((name, value))
    # the program worked the values out on the same chip: nearest, never refused
    _params.run(board, values, clamp=True, commit=False)
    for i, v in enumerate(result["registers"]):
        if lib.get_register_chipvalue(h, i) != v:
            lib.set_register_chipvalue(h, i, v)
    lib.commit_registers(h)
    _checked(board, "load")
    notes: List[str] = result.get("notes", [])
    return notes
