"""Settings files and code snippets: korvik against what the graphical
program's core writes, round trips, refused files, and snippets that compile."""
import os
import re
import shutil
import subprocess

import pytest

from conftest import korvik

CHIPS = ["RC1200", "RC1300", "RC1400", "RC1100"]
WRITER = os.environ.get("KORVIK_CORE_WRITER", "korvik_core_writer")


@pytest.fixture(scope="module", params=CHIPS)
def program_files(request, tmp_path_factory):
    """The program core's settings file and code window texts for one chip."""
    d = tmp_path_factory.mktemp(request.param)
    subprocess.run([WRITER, request.param, str(d)], check=True, capture_output=True)
    return request.param, d


def test_save_writes_the_program_file_byte_for_byte(program_files, tmp_path):
    chip, d = program_files
    out = tmp_path / "again.xml"
    korvik("save", f"sim:{chip}:{d / 'board.xml'}", str(out), check=0)
    assert out.read_bytes() == (d / "board.xml").read_bytes()
    # and the file says what was set
    got = korvik("--json", "get", f"sim:{chip}:{out}", check=0).json()["parameters"]
    assert got["chacc_slottime"] == pytest.approx(0.005)
    assert got["nv_serial"] == "7654321"
    if chip != "RC1400":
        assert got["tx_carrierfrequency"] == pytest.approx(869.525e6, abs=100)


def test_diff_equal_files_and_a_changed_one(program_files, tmp_path):
    chip, d = program_files
    same = tmp_path / "same.xml"
    shutil.copy(d / "board.xml", same)
    r = korvik("diff", str(d / "board.xml"), str(same), check=0)
    assert r.out == ""
    defaults = tmp_path / "defaults.xml"
    korvik("save", f"sim:{chip}", str(defaults), check=0)
    r = korvik("diff", str(defaults), str(d / "board.xml"), check=1)
    assert re.search(r"^chacc_slottime\s+100 ms\s+5 ms", r.out, re.M), r.out
    assert "registers:" in r.out
    j = korvik("--json", "diff", str(defaults), str(d / "board.xml"), check=1).json()
    assert j["equal"] is False and j["chips"] == [chip, chip]
    names = [p["name"] for p in j["parameters"]]
    assert "chacc_slottime" in names and "nv_serial" in names
    assert j["registers"] and all(r["a"] != r["b"] for r in j["registers"])


def test_load_applies_a_program_file(program_files):
    chip, d = program_files
    r = korvik("--json", "load", f"sim:{chip}", str(d / "board.xml"), check=0).json()
    # the file is another board's: this one keeps its own serial and MACs, and says so
    assert r["registers_written"] > 0 and len(r["notes"]) == 1, r["notes"]
    assert "serial and MACs (of board 7654321) were not taken" in r["notes"][0]


@pytest.mark.parametrize("target, styles, name", [
    ("rc800", [], "rc800-1.c"),
    ("rc800", ["table"], "rc800-2.c"),
    ("rc800", ["burst"], "rc800-4.c"),
    ("rc800", ["burst", "straight", "table"], "rc800-7.c"),
    ("spi", ["straight"], "spi-1.c"),
    ("spi", ["table"], "spi-2.c"),
    ("spi", ["burst"], "spi-4.c"),
    ("evalboard", [], "evalboard.c"),
])
def test_snippet_is_the_code_window_text(program_files, target, styles, name):
    chip, d = program_files
    args = ["snippet", f"sim:{chip}:{d / 'board.xml'}", "--target", target]
    for s in styles:
        args += ["--style", s]
    assert korvik(*args, check=0).out == (d / name).read_text()


# Statements that the code windows leave at file scope for the user to place.
STATEMENT = re.compile(r"^(\w+ = 0x[0-9a-f]{2};|(reg_write_\w*|spi_write\w*)\(.*\);)$")


def compilable(text, prelude):
    """The snippet with its statements moved into one function, after the declarations it expects."""
    top, body = [], []
    for line in text.splitlines():
        (body if STATEMENT.match(line) else top).append(line)
    return prelude + "\n".join(top) + "\nvoid korvik_init(void)\n{\n" + "\n".join(body) + "\n}\n"


@pytest.mark.skipif(not shutil.which("sdcc"), reason="sdcc is not installed")
@pytest.mark.parametrize("styles", [["straight"], ["table"], ["burst"], ["straight", "table", "burst"]])
def test_rc800_snippets_compile_with_sdcc(program_files, styles, tmp_path):
    chip, d = program_files
    args = ["snippet", f"sim:{chip}:{d / 'board.xml'}", "--target", "rc800"]
    for s in styles:
        args += ["--style", s]
    text = korvik(*args, check=0).out
    # the straight code writes the registers by name: variables in external data memory
    names = sorted(set(re.findall(r"^(\w+) = 0x", text, re.M)))
    prelude = "#include <stdint.h>\n#define RC800_RADIOBASE 0x4000\n" + \
        "".join(f"extern __xdata volatile uint8_t {n};\n" for n in names)
    src = tmp_path / "snippet.c"
    src.write_text(compilable(text, prelude))
    r = subprocess.run(["sdcc", "-mmcs51", "-Dcode=__code", "-c", str(src)], cwd=tmp_path,
                       capture_output=True, text=True)
    assert r.returncode == 0, r.stdout + r.stderr + src.read_text()


@pytest.mark.parametrize("target, styles", [
    ("spi", ["straight", "table", "burst"]),
    ("evalboard", []),
])
def test_spi_snippets_are_valid_c(program_files, target, styles, tmp_path):
    chip, d = program_files
    args = ["snippet", f"sim:{chip}:{d / 'board.xml'}", "--target", target]
    for s in styles:
        args += ["--style", s]
    text = korvik(*args, check=0).out
    prelude = ("#include <stdint.h>\n"
               "void spi_write(uint16_t address, uint8_t value);\n"
               "void spi_write_shadow(uint16_t address, uint16_t shadow);\n")
    src = tmp_path / "snippet.c"
    src.write_text(compilable(text, prelude))
    r = subprocess.run(["cc", "-std=c99", "-Wall", "-Werror", "-Wno-unused-const-variable", "-fsyntax-only",
                        "-Dcode=", str(src)], capture_output=True, text=True)
    assert r.returncode == 0, r.stderr + src.read_text()


def write(path, text):
    path.write_text(text)
    return str(path)


def test_older_set_files_load(tmp_path):
    good = write(tmp_path / "old.set", "-- settings of an RC1200\nrevision 00 01 01\nFREQ3 21 20 22\n")
    korvik("load", "sim:RC1200", good, check=0)
    # without the revision line the file names no chip
    bare = write(tmp_path / "bare.set", "-- settings\nFREQ3 21 20 22\n")
    r = korvik("load", "sim:RC1200", bare, check=1)
    assert "does not name its chip" in r.err


@pytest.mark.parametrize("content, message, diff_status", [
    (None, "Cannot open file", 2),
    ("<evusb><chip model='RC1200'>", "is not a chip settings file: the text stops before", 2),
    ("", "is empty: not a chip settings file", 2),
    ("<evusb/>", "chip element not found", 2),
    ("<!DOCTYPE evusb><evusb><chip model='RC1300'/></evusb>",
     "Invalid chip model name: expected RC1200, got RC1300", 0),
    ("<evusb ethmac='40::12:34:56:00'><chip model='RC1200'/></evusb>", "nothing was changed", 2),
])
def test_refused_files_say_why(content, message, diff_status, tmp_path):
    path = tmp_path / "file.xml"
    if content is not None:
        path.write_text(content)
    r = korvik("load", "sim:RC1200", str(path))
    assert r.status == 1 and message in r.err, r.err
    # a file that cannot be read is trouble for diff (2), not a difference (1)
    assert korvik("diff", str(path), str(path)).status == diff_status


def test_simulated_board_from_a_file_of_another_chip(tmp_path):
    f = tmp_path / "rc1300.xml"
    korvik("save", "sim:RC1300", str(f), check=0)
    r = korvik("get", f"sim:RC1200:{f}", check=1)
    assert "holds the settings of an RC1300, not of an RC1200" in r.err
