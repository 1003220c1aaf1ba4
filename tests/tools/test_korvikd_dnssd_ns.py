"""DNS-SD: korvikd announces its TLS port as _korvik._tcp and `korvik list
--servers` finds it within its bound. A private D-Bus and Avahi daemon run
inside the test's own network namespace (run_ns_tests.sh), on a veth pair,
so nothing is announced on the host's networks."""
import os
import shutil
import socket
import subprocess
import time

import pytest

from conftest import korvik

KORVIKD = os.environ.get("KORVIKD", "korvikd")

BUS_CONF = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=/run/dbus/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
"""

AVAHI_CONF = """[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=dn0,dn0p
[publish]
publish-workstation=no
"""


def sh(command):
    subprocess.run(command, shell=True, check=True)


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def servers(*extra):
    start = time.monotonic()
    r = korvik("--json", "list", "--servers", *extra)
    return r, time.monotonic() - start


@pytest.fixture(scope="module", autouse=True)
def namespace():
    # mDNS must never leave the test's own namespace
    assert os.environ.get("KORVIK_TEST_NETNS") == "1", "run through run_ns_tests.sh"
    assert sorted(os.listdir("/sys/class/net")) == ["lo"]
    sh("ip link add name dn0 type veth peer name dn0p")
    sh("ip addr add 10.77.0.1/24 dev dn0 && ip addr add 10.77.0.2/24 dev dn0p")
    sh("ip link set dn0 up multicast on && ip link set dn0p up multicast on")
    yield
    sh("ip link del dn0")


def test_without_an_avahi_daemon_the_search_fails_at_once():
    r, took = servers()
    assert r.status != 0 and "DNS-SD" in r.err, r.err
    assert took < 2.0


@pytest.fixture(scope="module")
def avahi(tmp_path_factory):
    missing = [p for p in ("dbus-daemon", "avahi-daemon") if not shutil.which(p)]
    if missing:
        pytest.skip("needs " + " and ".join(missing) + " (Debian packages dbus and avahi-daemon)")
    conf = tmp_path_factory.mktemp("avahi")
    (conf / "bus.conf").write_text(BUS_CONF)
    (conf / "avahi.conf").write_text(AVAHI_CONF)
    # /run is the namespace's own tmpfs: the system bus socket here is ours
    os.makedirs("/run/dbus", exist_ok=True)
    bus = subprocess.Popen(["dbus-daemon", "--config-file", str(conf / "bus.conf"), "--nofork", "--nopidfile"])
    deadline = time.time() + 10
    while not os.path.exists("/run/dbus/system_bus_socket"):
        assert time.time() < deadline, "dbus-daemon did not start"
        time.sleep(0.05)
    daemon = subprocess.Popen(["avahi-daemon", "--no-drop-root", "--no-chroot", "--no-rlimits", "-f",
                               str(conf / "avahi.conf")], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.time() + 10
    while servers()[0].status != 0:
        assert time.time() < deadline, "avahi-daemon did not start"
        time.sleep(0.1)
    yield
    for p in (daemon, bus):
        p.terminate()
        p.wait(timeout=10)


def start_korvikd(tls_dir, port, *extra):
    return subprocess.Popen([KORVIKD, "--socket", "", "--listen", f"0.0.0.0:{port}",
                             "--cert", str(tls_dir / "server.crt"), "--key", str(tls_dir / "server.key"),
                             "--tokens", str(tls_dir / "tokens"), "--admin-token-file",
                             str(tls_dir / f"admin-{port}"), "--sim", "RC1200", *extra],
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)


def test_announced_daemons_are_found_within_the_bound(avahi, tmp_path):
    subprocess.run([KORVIKD, "init", str(tmp_path / "tls")], check=True, capture_output=True)
    tls = tmp_path / "tls"
    # two daemons under one host name (the second takes "NAME #2"), one quiet
    ports = [free_port(), free_port(), free_port()]
    daemons = [start_korvikd(tls, ports[0]), start_korvikd(tls, ports[1]),
               start_korvikd(tls, ports[2], "--no-announce")]
    try:
        deadline = time.time() + 15
        while True:
            r, took = servers()
            assert r.status == 0, r.err
            assert took < 2.5  # one second of search, plus starting korvik
            found = {s["uri"].rsplit(":", 1)[1]: s for s in r.json()["servers"]}
            if str(ports[0]) in found and str(ports[1]) in found or time.time() > deadline:
                break
            time.sleep(0.2)
        for p in ports[:2]:
            s = found[str(p)]
            assert s["tls"] and s["uri"].startswith("tls://")
            assert s["address"].startswith("10.77.0.")
        assert len({found[str(p)]["name"] for p in ports[:2]}) == 2
        assert str(ports[2]) not in found
        # a shorter search is bounded by what was asked; a longer one refused
        r, took = servers("--timeout", "200")
        assert r.status == 0 and took < 1.5
        assert korvik("list", "--servers", "--timeout", "5000").status != 0

        # a daemon that stops is no longer announced
        daemons[0].terminate()
        daemons[0].wait(timeout=10)
        deadline = time.time() + 10
        while str(ports[0]) in {s["uri"].rsplit(":", 1)[1] for s in servers()[0].json()["servers"]}:
            assert time.time() < deadline, "a stopped daemon stays announced"
            time.sleep(0.2)
    finally:
        for d in daemons:
            if d.poll() is None:
                d.terminate()
                d.wait(timeout=10)
