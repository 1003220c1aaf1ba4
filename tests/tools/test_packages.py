"""The Debian packages `cpack -G DEB` makes: contents, dependencies, what
lintian, appstreamcli and desktop-file-validate say about them, and the
programs run from the unpacked packages alone."""
import glob
import os
import re
import shutil
import subprocess

import pytest

BUILD = os.environ.get("KORVIK_BUILD_DIR", "build")


def packaged_components():
    """The components CPack packages in this build, from its own configuration."""
    with open(os.path.join(BUILD, "CPackConfig.cmake")) as config:
        for line in config:
            m = re.match(r'set\(CPACK_COMPONENTS_ALL "([^"]*)"\)', line)
            if m:
                return set(m.group(1).split(";"))
    return set()


# the programs this build made (a build without Qt's widgets has no paramcalc)
PROGRAMS = {"paramcalc", "korvik"} & packaged_components()
PACKAGES = ["libkorvik-0-0", "libkorvik-dev", *sorted(PROGRAMS), "python3-korvik"]
needs_paramcalc = pytest.mark.skipif("paramcalc" not in PROGRAMS, reason="this build has no paramcalc")
needs_korvik = pytest.mark.skipif("korvik" not in PROGRAMS, reason="this build has no korvik tool")
MULTIARCH = subprocess.run(["dpkg-architecture", "-qDEB_HOST_MULTIARCH"], capture_output=True, text=True,
                           check=True).stdout.strip()
LIBDIR = f"./usr/lib/{MULTIARCH}"


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
    # other packages may join these, but none of a program this build left out
    assert set(PACKAGES) <= set(found), sorted(found)
    assert not {"paramcalc", "korvik"} - PROGRAMS & set(found), sorted(found)
    return found


@pytest.fixture(scope="module")
def unpacked(debs, tmp_path_factory):
    root = tmp_path_factory.mktemp("root")
    for deb in debs.values():
        subprocess.run(["dpkg-deb", "-x", deb, str(root)], check=True)
    return root


def field(deb, name):
    return subprocess.run(["dpkg-deb", "-f", deb, name], capture_output=True, text=True).stdout.strip()


def control(deb, member):
    r = subprocess.run(["dpkg-deb", "--ctrl-tarfile", deb], capture_output=True, check=True)
    listing = subprocess.run(["tar", "-t"], input=r.stdout, capture_output=True, check=True).stdout.decode()
    names = [n.lstrip("./") for n in listing.split()]
    if member not in names:
        return None
    return subprocess.run(["tar", "-xO", "./" + member], input=r.stdout, capture_output=True,
                          check=True).stdout.decode()


def contents(deb):
    listing = subprocess.run(["dpkg-deb", "-c", deb], capture_output=True, text=True, check=True).stdout
    return [line.split()[-1] if " -> " not in line else line.split()[-3] for line in listing.splitlines()]


@pytest.mark.parametrize("package, files, depends", [
    ("libkorvik-0-0", [f"{LIBDIR}/libkorvik-0.so.0", "./usr/share/doc/libkorvik-0-0/copyright"],
     ["libglibmm-2.4", "libpcap0.8"]),
    ("libkorvik-dev", [f"{LIBDIR}/libkorvik-0.so", "./usr/include/korvik-0/korvik/korvik.h",
                       f"{LIBDIR}/pkgconfig/korvik-0.pc", f"{LIBDIR}/cmake/korvik/korvikTargets.cmake"],
     ["libkorvik-0-0 (= ", "libglibmm-2.4-dev"]),
    pytest.param("paramcalc", ["./usr/bin/paramcalc", "./usr/share/applications/paramcalc.desktop",
                   "./usr/share/man/man1/paramcalc.1.gz", "./usr/share/metainfo/com.zelvane.paramcalc.metainfo.xml"],
     ["libkorvik-0-0 (= ", "libqt6widgets6"], marks=needs_paramcalc),
    pytest.param("korvik", ["./usr/bin/korvik", "./usr/share/man/man1/korvik.1.gz",
                "./usr/share/bash-completion/completions/korvik", "./usr/share/doc/korvik/changelog.gz"],
     ["libkorvik-0-0 (= ", "libqt6xml6"], marks=needs_korvik),
    ("python3-korvik", ["./usr/lib/python3/dist-packages/korvik/__init__.py",
                        "./usr/lib/python3/dist-packages/korvik/py.typed"],
     ["libkorvik-0-0 (= ", "python3"]),
])
def test_package_contents_and_dependencies(debs, package, files, depends):
    listed = contents(debs[package])
    for f in files:
        assert any(entry.startswith(f) for entry in listed), f"{f} not in {package}: {listed}"
    deps = field(debs[package], "Depends")
    for d in depends:
        assert d in deps, f"{package} depends on: {deps}"


def test_library_package_announces_its_soname(debs):
    deb = debs["libkorvik-0-0"]
    # other packages built against it get a versioned dependency from this
    assert control(deb, "shlibs").strip() == f"libkorvik-0 0 libkorvik-0-0 (>= {field(deb, 'Version')})"
    # the linker cache is refreshed by dpkg's trigger, not by scripts of our own
    assert control(deb, "triggers").strip() == "activate-noawait ldconfig"
    assert control(deb, "postinst") is None and control(deb, "postrm") is None
    if "korvik" in PROGRAMS:
        assert "bash-completion" in field(debs["korvik"], "Recommends")


@pytest.mark.skipif(not shutil.which("lintian"), reason="lintian is not installed")
def test_lintian_finds_no_error_and_no_warning(debs):
    r = subprocess.run(["lintian", "--no-tag-display-limit", *sorted(debs.values())],
                       capture_output=True, text=True, timeout=600)
    bad = [line for line in r.stdout.splitlines() if line[:2] in ("E:", "W:")]
    assert not bad and r.returncode == 0, r.stdout + r.stderr


@needs_paramcalc
@pytest.mark.skipif(not shutil.which("appstreamcli"), reason="appstreamcli is not installed")
def test_appstream_metainfo_is_valid(unpacked):
    (metainfo,) = glob.glob(str(unpacked / "usr/share/metainfo/*.xml"))
    r = subprocess.run(["appstreamcli", "validate", "--no-net", "--pedantic", metainfo], capture_output=True,
                       text=True)
    assert r.returncode == 0, r.stdout + r.stderr
    # it names the desktop file the package installs
    assert "<launchable type=\"desktop-id\">paramcalc.desktop</launchable>" in open(metainfo).read()


@pytest.mark.skipif(not shutil.which("desktop-file-validate"), reason="desktop-file-validate is not installed")
def test_desktop_file_is_valid(unpacked):
    for desktop in glob.glob(str(unpacked / "usr/share/applications/*.desktop")):
        r = subprocess.run(["desktop-file-validate", desktop], capture_output=True, text=True)
        assert r.returncode == 0 and not r.stdout.strip(), r.stdout + r.stderr


@needs_korvik
def test_unpacked_korvik_runs(unpacked):
    env = dict(os.environ, LD_LIBRARY_PATH=str(unpacked / LIBDIR))
    korvik = str(unpacked / "usr/bin/korvik")
    # nothing may come from the build tree
    libs = subprocess.run(["ldd", korvik], capture_output=True, text=True, env=env).stdout
    assert str(unpacked / LIBDIR / "libkorvik-0.so.0") in libs and BUILD not in libs
    r = subprocess.run([korvik, "get", "sim:RC1200", "tx_power"], capture_output=True, text=True, env=env)
    assert r.returncode == 0 and "tx_power" in r.stdout, r.stderr


def test_pkg_config_file_points_at_the_multiarch_directory(unpacked):
    (pc,) = glob.glob(str(unpacked / LIBDIR.lstrip("./") / "pkgconfig/korvik-0.pc"))
    env = dict(os.environ, PKG_CONFIG_PATH=os.path.dirname(pc))
    libdir = subprocess.run(["pkg-config", "--variable=libdir", "korvik-0"], capture_output=True, text=True,
                            env=env, check=True).stdout.strip()
    assert os.path.realpath(libdir) == os.path.realpath(unpacked / LIBDIR)


def test_python_package_finds_the_library_by_its_soname(unpacked, tmp_path):
    # the unpacked library directory stands in for the linker's own search path
    env = dict(os.environ, PYTHONPATH=str(unpacked / "usr/lib/python3/dist-packages"),
               LD_LIBRARY_PATH=str(unpacked / LIBDIR))
    env.pop("KORVIK_LIBRARY", None)
    if os.environ.get("KORVIK_PRELOAD"):
        # a sanitized build's library needs its runtime loaded first
        env["LD_PRELOAD"] = os.environ["KORVIK_PRELOAD"]
        env["ASAN_OPTIONS"] = "detect_leaks=0"
    code = ("import korvik\n"
            "b = korvik.open_simulation('RC1200')\n"
            "print(korvik.library_path, korvik.__file__, b.chip)\n")
    r = subprocess.run(["/usr/bin/python3", "-c", code], capture_output=True, text=True, env=env, cwd=tmp_path)
    assert r.returncode == 0, r.stderr
    path, module, chip = r.stdout.split()
    assert path == "libkorvik-0.so.0" and chip == "RC1200"
    assert module.startswith(str(unpacked))
