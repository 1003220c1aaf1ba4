"""The library's parameter table against every front end that lists it: the
korvik tool (`params --json`), the Python properties and their typed stub,
the flat interface by name and by its typed functions, and paramcalc's
field rows (as its test program prints them). One row missing or
disagreeing on unit or kind anywhere fails here."""

from __future__ import annotations

import builtins
import ctypes
import json
import math
import os
import subprocess
import tempfile
from pathlib import Path

import pytest

import korvik
from korvik import _params
from korvik._native import _dll

TABLE = korvik.params()
CHIPS = ["RC1200", "RC1400", "RC1100", "RC1300"]
CLI = os.environ.get("KORVIK_CLI")
# a program printing paramcalc's field rows (absent in builds without the GUI)
FIELDS = os.environ.get("KORVIK_FIELD_ROWS")

# paramcalc's shown unit: the table's unit and the factor the field applies
DISPLAY_UNITS = {"MHz": ("Hz", 1e-6), "kHz": ("Hz", 1e-3), "kbit/s": ("bit/s", 1e-3), "ms": ("s", 1e3),
                 "dBm": ("dBm", 1), "ppm": ("ppm", 1), "bits": ("bit", 1), "bytes": ("byte", 1)}
# fields that show their parameter in other units on purpose: the
# transmitter's half deviation, the channel-access preamble in bits, the
# background threshold labelled in dB though the table keeps a plain number
FIELD_UNITS = {"tx_deviation": ("kHz", 5e-4), "chacc_preamble": ("bits", 8), "chacc_bgndthreshold": ("dB", 1)}
# what paramcalc leaves to the register view: the VCO ranges
NOT_ON_A_PAGE = {"rx_range", "tx_range"}
# the numeric parameters with typed flat functions of their own
# (libkorvik_get_<name>); those added later are reached by name alone
TYPED = {"rx_carrierfrequency", "tx_carrierfrequency", "rx_modulation", "tx_modulation", "rx_bandwidth",
         "tx_deviation", "rx_bitrate", "tx_bitrate", "rx_btr", "rx_btr_preamble", "tx_power", "iffrequency",
         "rx_maxfrequencyoffset", "rx_range", "tx_range", "xtal_frequency", "xtal_tolerance", "framingmode",
         "enc_invert", "enc_diff", "enc_scrambler", "enc_manchester", "crcmode", "crcinit", "crclength", "preamble",
         "preamble_length", "txkeyup", "txkeyup_length", "postamble_length", "chacc_channelaccessmode",
         "chacc_ppersistence", "chacc_slottime", "chacc_rssithreshold", "chacc_bgndthreshold", "chacc_preamble",
         "chacc_addrlength", "chacc_addrmatch1", "chacc_addrmatch2"}
EDITORS = {"quantity": {"spin"}, "choice": {"combo"}, "flag": {"check"}, "address": {"line"}, "text": {"line"}}


@pytest.fixture(params=CHIPS)
def board(request):
    with korvik.open_simulation(request.param) as b:
        yield b


def cli_rows(chip):
    env = dict(os.environ)
    env.pop("LD_PRELOAD", None)  # the tool is a program of its own
    out = subprocess.run([CLI, "--json", "params", f"sim:{chip}"], capture_output=True, text=True, env=env,
                         timeout=60)
    assert out.returncode == 0, out.stderr
    return {r["name"]: r for r in json.loads(out.stdout)["parameters"]}


_fields = None


def field_rows():
    global _fields
    if _fields is None:
        env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
        env["QT_QPA_PLATFORM"] = "offscreen"
        with tempfile.TemporaryDirectory() as home:  # the program's settings stay out of the user's
            env["XDG_CONFIG_HOME"] = env["XDG_RUNTIME_DIR"] = home
            out = subprocess.run([FIELDS, "--dump-fields"], capture_output=True, text=True, env=env, timeout=120)
        assert out.returncode == 0, out.stderr
        _fields = [f for f in json.loads(out.stdout) if f["param"] is not None]
    return _fields


def field_agrees(f, p):
    if p.name in FIELD_UNITS:
        unit_ok = (f["unit"], f["scale"]) == pytest.approx(FIELD_UNITS[p.name])
    elif not f["unit"]:
        unit_ok = f["scale"] == 1
    else:
        want = DISPLAY_UNITS.get(f["unit"])
        unit_ok = want is not None and want[0] == p.unit and f["scale"] == pytest.approx(want[1])
    editors = EDITORS[p.kind] | ({"line"} if p.kind == "quantity" and p.hex else set())
    return unit_ok, f["editor"] in editors


@pytest.mark.parametrize("chip", CHIPS)
def test_every_front_end_has_every_row_with_its_unit_and_kind(chip):
    stub = (Path(korvik.__file__).parent / "_params.pyi").read_text()
    # the typed functions stay for the rows that had them
    assert TYPED <= {p.name for p in TABLE if p.kind not in ("address", "text")}
    with korvik.open_simulation(chip) as b:
        rows = [p for p in TABLE if chip in p.chips]
        assert rows
        cli = cli_rows(chip) if CLI else None
        if cli is not None:
            assert set(cli) == {p.name for p in rows}
        fields = {f["param"]: f for f in field_rows()} if FIELDS else None
        for name, f in (fields or {}).items():
            p = _params.find(name)
            assert p is not None, f"paramcalc shows {name}, which the table lacks"
            unit_ok, editor_ok = field_agrees(f, p)
            assert unit_ok, f
            assert editor_ok, f
        for p in rows:
            # Python: a property, settable exactly when the table says so
            prop = getattr(korvik.Board, p.name)
            assert isinstance(prop, property), p.name
            assert (prop.fset is not None) == p.writable, p.name
            read, write = _params._python_type(p)
            assert f"    def {p.name}(self) -> {read}: ..." in stub, p.name
            if p.writable:
                assert f"    def {p.name}(self, value: {write}) -> None: ..." in stub, p.name
            value = getattr(b, p.name)
            # the flat interface by name gives the same value
            h = b._h
            if p.kind in ("address", "text"):
                out = ctypes.c_void_p()
                assert _params._get_param_text(h, p.name.encode(), ctypes.byref(out)) == 0, p.name
                assert _params._take(out.value) == value
                assert isinstance(value, str)
            else:
                out = ctypes.c_double()
                assert _params._get_param(h, p.name.encode(), ctypes.byref(out)) == 0, p.name
                assert out.value == pytest.approx(float(value)), p.name
                # and the typed flat functions, where it has them, carry the same name
                if p.name in TYPED:
                    assert hasattr(_dll, "libkorvik_get_" + p.name), p.name
                    if p.writable:
                        assert hasattr(_dll, "libkorvik_set_" + p.name), p.name
                expected = {"flag": bool, "choice": korvik.Choice}.get(p.kind, int if p.whole else float)
                assert isinstance(value, expected), (p.name, type(value))
            if p.notification:
                assert hasattr(_dll, "libkorvik_set_callback_changed_" + p.notification), p.name
            if fields is not None and p.writable and p.name not in NOT_ON_A_PAGE:
                assert p.name in fields, f"paramcalc has no field for {p.name}"
            if cli is not None:
                c = cli[p.name]
                assert (c["unit"], c["kind"], c["scope"]) == (p.unit, p.kind, p.scope), p.name
                assert c["read_only"] == (not p.writable), p.name
                assert c["chips"] == list(p.chips), p.name


def test_the_stub_is_the_tables():
    stub = (Path(korvik.__file__).parent / "_params.pyi").read_text()
    assert stub == _params.stub_text(), "regenerate with: python3 -m korvik._params --stub > _params.pyi"


def test_aliases_name_rows_and_read_the_same_value(board):
    for alias, name in korvik.ALIASES.items():
        assert _params.find(name) is not None, alias
        if name not in {p.name for p in TABLE if board.chip in p.chips}:
            continue
        obj = board
        for part in alias.split("."):
            obj = getattr(obj, part)
        assert obj == getattr(board, name), alias


def test_strict_setters_refuse_with_range_and_nearest_and_set_nothing():
    with korvik.open_simulation("RC1200") as b:
        before = b.tx_carrierfrequency
        for setter in (lambda v: setattr(b, "tx_carrierfrequency", v), lambda v: setattr(b.tx, "carrier", v)):
            with pytest.raises(korvik.ParamError) as e:
                setter(868.3)  # MHz meant, Hz given
            assert isinstance(e.value, ValueError)
            assert "tx_carrierfrequency" in str(e.value) and "nearest" in str(e.value)
            assert b.tx_carrierfrequency == before
        with pytest.raises(korvik.ParamError, match="levels"):
            b.tx_power = 13
        b.tx_carrierfrequency = 868.3e6
        assert b.tx_carrierfrequency == pytest.approx(868.3e6, abs=1)
        with pytest.raises(TypeError):
            b.tx_carrierfrequency = "868.3 MHz"
        r = b.set_params({"tx_carrierfrequency": 5e9}, clamp=True)
        assert r[0].clamped and r[0].achieved < 5e9


def test_set_params_reports_side_effects():
    with korvik.open_simulation("RC1200") as b:
        results = b.set_params([("tx_power", b.param_limits("tx_power")["levels"][-1]),
                                ("tx_modulation", "FSK")])
        assert [r.name for r in results] == ["tx_power", "tx_modulation"]
        assert results[1].achieved == "FSK"
        for r in results:
            for name in r.side_effects:
                assert _params.find(name) is not None
        assert b.tx_modulation == "fsk" and b.tx_modulation == int(b.tx_modulation)


def test_board_takes_no_new_attributes_and_star_import_keeps_builtins():
    with korvik.open_simulation("RC1200") as b:
        with pytest.raises(AttributeError):
            b.tx_carierfrequency = 868.3e6
    ns: dict = {}
    exec("from korvik import *", ns)
    shadowed = [n for n in ns if n != "__builtins__" and hasattr(builtins, n)]
    assert shadowed == []


def test_registers_by_name_and_address():
    with korvik.open_simulation("RC1200") as b:
        names = [r.name for r in b.registers]
        twins = {n for n in names if names.count(n) > 1}
        assert twins
        for n in twins:
            with pytest.raises(KeyError, match=f"{n}@0x"):
                b.registers[n]
        for r in b.registers:
            label = korvik._native.lib.get_register_label(b._h, r.index)
            text = korvik.board.take_string(label)
            assert b.registers[text].index == r.index


def test_read_only_answers_write_nothing():
    with korvik.open_simulation("RC1200") as b:
        regs = [r.value for r in b.registers]
        slot = b.chacc_slottime
        for p in TABLE:
            if "RC1200" in p.chips and p.writable:
                b.param_limits(p.name)
                if p.kind == "quantity":
                    b.param_achieved(p.name, 1e12)
        assert [r.value for r in b.registers] == regs
        assert b.chacc_slottime == slot
        assert not math.isnan(b.param_achieved("tx_carrierfrequency", 868.3e6))
