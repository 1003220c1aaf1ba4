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

from ._native import library_path
from .errors import KorvikError

__all__ = ["program", "show", "diff", "snippet", "convert"]

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
