"""The Debian packages `cpack -G DEB` makes: contents, dependencies, and the
programs run from the unpacked packages alone."""
import glob
import os
import subprocess

import pytest

BUILD = os.environ.get("KORVIK_BUILD_DIR", "build")
PACKAGES = ["libkorvik0", "libkorvik-dev", "paramcalc", "korvik"]


@pytest.fixture(scope="module")
def debs(tmp_path_factory):
    out = tmp_path_factory.mktemp("debs")
    subprocess.run(["cpack", "-G", "DEB", "-B", str(out), "--config", os.path.join(BUILD, "CPackConfig.cmake")],
                   check=True, capture_output=True)
    found = {}
    for path in glob.glob(str(out / "*.deb")):
        name = subprocess.run(["dpkg-deb", "-f", path, "Package"], capture_output=True, text=True,
                              check=True).stdout.strip()
        found[name] = path
    assert sorted(found) == sorted(PACKAGES)
    return found


def field(deb, name):
    return subprocess.run(["dpkg-deb", "-f", deb, name], capture_output=True, text=True).stdout.strip()


def contents(deb):
    listing = subprocess.run(["dpkg-deb", "-c", deb], capture_output=True, text=True, check=True).stdout
    return [line.split()[-1] if " -> " not in line else line.split()[-3] for line in listing.splitlines()]


@pytest.mark.parametrize("package, files, depends", [
    ("libkorvik0", ["./usr/lib/libkorvik-0.so.0"], ["libglibmm-2.4", "libpcap0.8"]),
    ("libkorvik-dev", ["./usr/lib/libkorvik-0.so", "./usr/include/korvik-0/korvik/korvik.h",
                       "./usr/lib/pkgconfig/korvik-0.pc", "./usr/lib/cmake/korvik/korvikTargets.cmake"],
     ["libkorvik0 (= ", "libglibmm-2.4-dev"]),
    ("paramcalc", ["./usr/bin/paramcalc", "./usr/share/applications/paramcalc.desktop"],
     ["libkorvik0 (= ", "libqt6widgets6"]),
    ("korvik", ["./usr/bin/korvik", "./usr/share/man/man1/korvik.1.gz",
                "./usr/share/bash-completion/completions/korvik"],
     ["libkorvik0 (= ", "libqt6xml6"]),
])
def test_package_contents_and_dependencies(debs, package, files, depends):
    listed = contents(debs[package])
    for f in files:
        assert any(entry.startswith(f) for entry in listed), f"{f} not in {package}: {listed}"
    deps = field(debs[package], "Depends")
    for d in depends:
        assert d in deps, f"{package} depends on: {deps}"


def test_unpacked_korvik_runs(debs, tmp_path):
    root = tmp_path / "root"
    for p in ["libkorvik0", "korvik"]:
        subprocess.run(["dpkg-deb", "-x", debs[p], str(root)], check=True)
    env = dict(os.environ, LD_LIBRARY_PATH=str(root / "usr/lib"))
    korvik = str(root / "usr/bin/korvik")
    # nothing may come from the build tree
    libs = subprocess.run(["ldd", korvik], capture_output=True, text=True, env=env).stdout
    assert str(root / "usr/lib/libkorvik-0.so.0") in libs and BUILD not in libs
    r = subprocess.run([korvik, "list"], capture_output=True, text=True, env=env)
    assert r.returncode == 0, r.stderr
    r = subprocess.run([korvik, "get", "sim:RC1200", "tx_power"], capture_output=True, text=True, env=env)
    assert r.returncode == 0 and "tx_power" in r.stdout, r.stderr
