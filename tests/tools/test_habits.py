"""What users of command-line tools expect: typing mistakes met with the
nearest name, units on option values, help that shows the board syntax,
reasons for refused sends, settings files changed offline and shown one
parameter per line, and completions for bash (with and without the
bash-completion package) and zsh."""
import json
import os
import shutil
import subprocess
import time

import pytest

from conftest import KORVIK, korvik

HERE = os.path.dirname(os.path.abspath(__file__))
COMPLETION = os.path.join(HERE, "..", "..", "tools", "korvik", "completion")


@pytest.mark.parametrize("args, status, message", [
    (["gte", "sim:RC1200"], 2, "unknown command 'gte' (did you mean 'get'?)"),
    (["get", "sim:RC1200", "tx_carierfrequency"], 2, "(did you mean 'tx_carrierfrequency'?)"),
    (["set", "sim:RC1200", "tx_carrier=1MHz"], 2, "(did you mean 'tx_carrierfrequency'?)"),
    (["set", "sim:RC1200", "tx_modulation=gfks"], 1, "'gfks' (did you mean 'GFSK'?) is not one of"),
    (["poke", "sim:RC1200", "TXPWE=1"], 2, "no register or bitfield 'TXPWE' (did you mean 'TXPWR'?)"),
    (["get", "sim:RC120"], 1, "unknown chip 'RC120' (did you mean 'RC1200'?)"),
    # nothing near enough: no guess
    (["get", "sim:RC1200", "volume"], 2, "unknown parameter 'volume'; `korvik params` lists them"),
])
def test_typing_mistakes_name_the_nearest(args, status, message):
    r = korvik(*args)
    assert r.status == status, r.err
    assert message in r.err


def test_chip_names_in_any_case():
    assert korvik("--json", "get", "sim:rc1300", "rx_bitrate", check=0).json()["chip"] == "RC1300"
    assert korvik("--json", "get", "SIM:Rc1100", "tx_power", check=0).json()["chip"] == "RC1100"


@pytest.mark.parametrize("args, status, message", [
    (["watch", "sim:RC1200", "--seconds", "200ms"], 0, ""),
    (["watch", "sim:RC1200", "--seconds", "0.2"], 0, ""),
    (["watch", "sim:RC1200", "--seconds", "2 fortnights"], 2, "is not a duration such as 500us, 5ms, 2s, 2m or 1h"),
    (["--virtual-air", "send", "sim:RC1200", "0102", "--count", "2", "--interval", "5ms"], 0, ""),
    (["send", "sim:RC1200", "0102", "--interval", "-5ms"], 2, "(a plain number is in milliseconds)"),
])
def test_durations_take_units(args, status, message):
    start = time.monotonic()
    r = korvik(*args)
    assert r.status == status, r.err
    assert message in r.err
    if args[0] == "watch" and status == 0:
        assert time.monotonic() - start < 5


def test_command_help_shows_board_syntax_and_global_options():
    for command in ["get", "set", "per"]:
        text = korvik(command, "--help", check=0).out
        assert "BOARD is a serial number or an interface name" in text and "sim:CHIP:FILE" in text
        assert "--virtual-air" in text and "--json" in text
    assert "BOARD is" not in korvik("diff", "--help", check=0).out
    # the completions' helper stays out of the help
    assert "complete" not in korvik("--help", check=0).out


@pytest.mark.parametrize("args, message", [
    (["send", "sim:RC1200", "01"], "board 'sim:RC1200' cannot send: the virtual air is off"),
    (["--virtual-air", "send", "sim:RC1400", "01"], "board 'sim:RC1400' cannot send: this chip cannot send"),
    (["per", "--tx", "sim:RC1200", "--rx", "sim:RC1200"], "cannot send: the virtual air is off"),
    (["--virtual-air", "per", "--tx", "sim:RC1400", "--rx", "sim:RC1200"], "cannot send: this chip cannot send"),
    (["--virtual-air", "per", "--tx", "sim:RC1200", "--rx", "sim:RC1100"], "cannot receive: this chip cannot receive"),
])
def test_sends_say_why_they_cannot(args, message):
    r = korvik(*args)
    assert r.status == 1 and message in r.err, r.err


def test_per_seed_and_path_loss():
    def run(*extra):
        return korvik("--virtual-air", "--json", "per", "--tx", "sim:RC1200", "--rx", "sim:RC1200", "--count", "20",
                      "--interval", "1ms", *extra, check=0).json()
    a, b, c = run("--seed", "7"), run("--seed", "7"), run("--seed", "8")
    assert a["rssi"] == b["rssi"] and a["rssi"] != c["rssi"]
    # 10 dBm less 100 dB is about -90 dBm; less 230 dB nothing is heard
    assert run("--path-loss", "100")["rssi"]["mean"] == pytest.approx(-90, abs=3)
    assert run("--path-loss", "230")["received"] == 0
    r = korvik("per", "--tx", "sim:RC1200", "--rx", "sim:RC1200", "--path-loss", "300")
    assert r.status == 2


def test_diff_names_a_file_that_is_not_xml(tmp_path):
    good, bad = tmp_path / "good.xml", tmp_path / "notes.txt"
    korvik("save", "sim:RC1200", str(good), check=0)
    bad.write_text("just some notes\n")
    for args in ([str(good), str(bad)], [str(bad), str(good)]):
        r = korvik("diff", *args)
        assert r.status == 2 and str(bad) in r.err, r.err


def show(path):
    return korvik("show", str(path), check=0).out.splitlines()


def test_settings_files_change_offline(tmp_path):
    f = tmp_path / "radio.xml"
    korvik("save", "sim:RC1200", str(f), check=0)
    before = show(f)
    r = korvik("set", f"sim:RC1200:{f}", "crcinit=0x1234", "--save", str(f), check=0)
    assert "(settings saved to" in r.out
    after = show(f)
    changed = [(a, b) for a, b in zip(before, after) if a != b]
    assert len(before) == len(after) and [b.split() for _, b in changed] == [["crcinit", "0x1234"]]

    # poke and load write files too; without --save nothing changes and the output says so
    korvik("poke", f"sim:RC1200:{f}", "TXPWR=3", "-o", str(tmp_path / "poked.xml"), check=0)
    assert korvik("--json", "diff", str(f), str(tmp_path / "poked.xml")).json()["equal"] is False
    korvik("load", "-o", str(tmp_path / "loaded.xml"), "sim:RC1200", str(f), check=0)
    assert korvik("diff", str(f), str(tmp_path / "loaded.xml")).status == 0
    r = korvik("set", f"sim:RC1200:{f}", "crcinit=0x4321", check=0)
    assert "--save FILE keeps them" in r.out and show(f) == after
    r = korvik("set", "--dry-run", f"sim:RC1200:{f}", "crcinit=0x4321", "-o", str(f))
    assert r.status == 2 and show(f) == after
    assert korvik("--json", "poke", "sim:RC1200", "TXPWR=3", "-o", str(tmp_path / "p.xml"),
                  check=0).json()["saved"] == str(tmp_path / "p.xml")


def test_show_is_stable_and_serves_git_textconv(tmp_path):
    f = tmp_path / "radio.xml"
    korvik("save", "sim:RC1400", str(f), check=0)
    lines = show(f)
    assert lines[0].split() == ["chip", "RC1400"] and lines == show(f)
    assert all(len(line.split(None, 1)) == 2 for line in lines)
    assert "rx_bandwidth" in korvik("--json", "show", str(f), check=0).json()["parameters"]
    assert any(line.startswith("FREQ") for line in korvik("show", "--registers", str(f), check=0).out.splitlines())

    if not shutil.which("git"):
        pytest.skip("git is not installed")
    env = dict(os.environ, GIT_CONFIG_NOSYSTEM="1", HOME=str(tmp_path), GIT_AUTHOR_NAME="t", GIT_AUTHOR_EMAIL="t@e",
               GIT_COMMITTER_NAME="t", GIT_COMMITTER_EMAIL="t@e")

    def git(*args):
        return subprocess.run(["git", *args], cwd=tmp_path, env=env, capture_output=True, text=True, check=True).stdout
    git("init", "-q")
    (tmp_path / ".gitattributes").write_text("*.xml diff=korvik\n")
    git("config", "diff.korvik.textconv", f"{KORVIK} show")
    git("add", ".")
    git("commit", "-qm", "first")
    korvik("save", "sim:RC1200", str(f), check=0)
    git("commit", "-qam", "an RC1200")
    korvik("set", f"sim:RC1200:{f}", "crcinit=0x1234", "--save", str(f), check=0)
    changed = [line for line in git("diff", "-U0").splitlines()
               if line[:1] in "+-" and not line.startswith(("+++", "---"))]
    assert len(changed) == 2 and changed[0].startswith("-crcinit") and changed[1].startswith("+crcinit")


# ---- completion ----

def complete(line, with_package, shell_words=True):
    """COMPREPLY of the bash completion for the command line `line` (the
    cursor at its end); bash splits COMP_WORDS at its word breaks, as it does
    when Tab is pressed."""
    script = os.path.join(COMPLETION, "korvik.bash")
    setup = "source /usr/share/bash-completion/bash_completion\n" if with_package else ""
    program = f"""{setup}source {script}
COMP_LINE={json.dumps(line)}
COMP_POINT=${{#COMP_LINE}}
_korvik
printf '%s\\n' "${{COMPREPLY[@]}}"
"""
    r = subprocess.run(["bash", "--norc", "--noprofile", "-c", program], capture_output=True, text=True, timeout=60)
    assert r.returncode == 0, r.stderr
    return [w for w in r.stdout.splitlines() if w]


PACKAGE = os.path.exists("/usr/share/bash-completion/bash_completion")


@pytest.mark.parametrize("with_package", [False, pytest.param(True, marks=pytest.mark.skipif(
    not PACKAGE, reason="bash-completion is not installed"))])
@pytest.mark.parametrize("line, expected", [
    ("korvik ge", ["get"]),
    ("korvik --json ge", ["get"]),
    # bash replaces only what follows the colon
    ("korvik get sim:RC12", ["RC1200"]),
    ("korvik get sim:", ["RC1200", "RC1300", "RC1400", "RC1100", "replay:"]),
    ("korvik per --tx sim:RC1200 --rx sim:RC13", ["RC1300"]),
    ("korvik set sim:RC1200 tx_carrierf", ["tx_carrierfrequency="]),
    ("korvik set sim:RC1200 tx_modulation=gf", ["GFSK"]),
    ("korvik set sim:RC1400 rx_modulation=4", ["4-FSK"]),
    ("korvik set sim:RC1200 tx_modulation=ask\\ sh", ["ASK\\ Shaped", "ASK\\ Shaped\\ Coherent"]),
    ("korvik set sim:RC1200 enc_diff=o", ["on", "off"]),
    ("korvik poke sim:RC1200 TXPW", ["TXPWR="]),
    ("korvik snippet sim:RC1200 --target r", ["rc800"]),
    ("korvik cw sim:RC1100 o", ["on", "off"]),
])
def test_bash_completion(line, expected, with_package):
    got = complete(line.replace("korvik", KORVIK, 1), with_package)
    assert sorted(got) == sorted(expected)


def test_bash_completion_of_settings_files_after_sim_chip(tmp_path):
    (tmp_path / "radio.xml").write_text("")
    got = complete(f"{KORVIK} get sim:RC1200:{tmp_path}/rad", False)
    # after the last colon: the path
    assert got == [f"{tmp_path}/radio.xml"]


@pytest.mark.skipif(not shutil.which("zsh"), reason="zsh is not installed")
def test_zsh_completion_loads():
    script = os.path.join(COMPLETION, "_korvik")
    r = subprocess.run(["zsh", "-f", "-c", f"autoload -Uz compinit && compinit -u && source {script} "
                        "&& whence -w _korvik _korvik_boards _korvik_assignments"],
                       capture_output=True, text=True, timeout=60)
    assert r.returncode == 0 and r.stdout.count("function") == 3, r.stdout + r.stderr
