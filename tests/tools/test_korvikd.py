"""korvik and Python programs through a running korvikd, as separate processes:
an unprivileged user lists, sets, stores, watches and sends; two processes
share the daemon's air; a killed client's lease ends; revocation; refused
tokens."""
import json
import os
import pwd
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

import pytest

from conftest import KORVIK, korvik

KORVIKD = os.environ.get("KORVIKD", "korvikd")
LEASE_SECONDS = 2


class Daemon:
    def __init__(self, *extra):
        self.dir = tempfile.mkdtemp(prefix="korvikd-cli-")
        os.chmod(self.dir, 0o755)
        self.socket = os.path.join(self.dir, "korvikd.sock")
        self.uri = "unix:" + self.socket
        self.proc = subprocess.Popen(
            [KORVIKD, "--socket", self.socket, "--sim", "RC1200", "--sim", "RC1200",
             "--lease-seconds", str(LEASE_SECONDS), *extra],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        deadline = time.time() + 20
        while not os.path.exists(self.socket):
            assert self.proc.poll() is None, self.proc.stderr.read()
            assert time.time() < deadline, "korvikd did not start"
            time.sleep(0.05)

    def list(self):
        r = korvik("--server", self.uri, "--json", "list", check=0).json()
        return [b for b in r["boards"] if b["interface"].startswith(self.socket + "/")]

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(timeout=10)
        shutil.rmtree(self.dir, ignore_errors=True)


@pytest.fixture
def daemon():
    d = Daemon()
    yield d
    d.stop()


def serials(d):
    return sorted(b["serial"] for b in d.list())


def test_list_set_store_through_the_daemon(daemon):
    assert serials(daemon) == ["SIM-RC1200-1", "SIM-RC1200-2"]
    r = korvik("--server", daemon.uri, "set", "SIM-RC1200-1", "tx_power=7dBm", check=0)
    assert "tx_power" in r.out
    got = korvik("--server", daemon.uri, "--json", "get", "SIM-RC1200-1", "tx_power", check=0).json()
    assert json.dumps(got).find("7") >= 0
    korvik("--server", daemon.uri, "defaults", "SIM-RC1200-1", "store", check=0)
    # the lease went back when korvik ended
    assert all(not b.get("lease") for b in daemon.list())


def test_watch_hears_send_from_another_process(daemon):
    watch = subprocess.Popen([KORVIK, "--server", daemon.uri, "--json", "watch", "--packets", "--seconds", "8",
                              "SIM-RC1200-2"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    time.sleep(1.0)
    korvik("--server", daemon.uri, "send", "SIM-RC1200-1", "c0ffee", check=0)
    deadline = time.time() + 8
    heard = False
    while time.time() < deadline and not heard:
        line = watch.stdout.readline()
        if not line:
            break
        heard = "c0ffee" in line.lower()
    watch.kill()
    watch.wait()
    assert heard, watch.stderr.read()


PY_HOLDER = """
import sys, time, korvik
korvik.connect(sys.argv[1])
b = korvik.open(sys.argv[2])
b.tx.power = 5
b.commit()
print("held", flush=True)
time.sleep(60)
"""


def python_env():
    env = dict(os.environ)
    here = os.path.dirname(os.path.abspath(__file__))
    env["PYTHONPATH"] = os.path.join(here, "..", "..", "python", "src")
    lib = os.path.join(os.path.dirname(os.path.dirname(KORVIK)), "..", "lib", "libkorvik-0.so")
    if os.path.exists(lib):
        env["KORVIK_LIBRARY"] = os.path.abspath(lib)
        with open(lib, "rb") as f:
            sanitized = b"libasan.so" in f.read()
        if sanitized:
            # the sanitizer runtime first, and the C++ runtime for its exceptions
            runtimes = [subprocess.run(["c++", f"-print-file-name={name}"], capture_output=True, text=True).stdout.strip()
                        for name in ("libasan.so", "libstdc++.so")]
            env["LD_PRELOAD"] = ":".join(runtimes)
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
    return env


def test_a_killed_client_loses_its_lease(daemon):
    holder = subprocess.Popen([sys.executable, "-c", PY_HOLDER, daemon.uri, "SIM-RC1200-1"],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=python_env())
    line = holder.stdout.readline()
    if "held" not in line:
        holder.kill()
        pytest.skip("the Python package cannot load this build's library: " + holder.stderr.read()[-300:])
    leased = [b for b in daemon.list() if b["serial"] == "SIM-RC1200-1"][0]
    assert "python" in leased["lease"]
    # another writer is refused, and told who holds the board
    r = korvik("--server", daemon.uri, "set", "SIM-RC1200-1", "tx_power=3dBm")
    assert r.status == 1 and "leased by" in r.err
    holder.send_signal(signal.SIGKILL)
    holder.wait()
    time.sleep(LEASE_SECONDS + 0.5)
    assert all(not b.get("lease") for b in daemon.list())
    korvik("--server", daemon.uri, "set", "SIM-RC1200-1", "tx_power=3dBm", check=0)


def test_revocation_ends_the_holder(daemon):
    if os.access(os.path.join(daemon.dir, "admin-token"), os.R_OK) is False:
        pytest.skip("the administrator's token is not readable")
    holder = subprocess.Popen([sys.executable, "-c", PY_HOLDER, daemon.uri, "SIM-RC1200-2"],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=python_env())
    if "held" not in holder.stdout.readline():
        holder.kill()
        pytest.skip("the Python package cannot load this build's library")
    r = subprocess.run([KORVIKD, "revoke", "--socket", daemon.socket, "sim1"], capture_output=True, text=True)
    holder.kill()
    holder.wait()
    assert r.returncode == 0, r.stderr
    assert all(not b.get("lease") for b in daemon.list())
    # a revocation without the token is refused
    r = subprocess.run([KORVIKD, "revoke", "--socket", daemon.socket, "--admin-token-file", "/dev/null", "sim1"],
                       capture_output=True, text=True)
    assert r.returncode == 1


def test_unprivileged_user_through_the_socket(daemon):
    if os.geteuid() != 0 or not shutil.which("runuser"):
        pytest.skip("needs root to switch users")
    try:
        pwd.getpwnam("nobody")
    except KeyError:
        pytest.skip("no user nobody")
    # the socket's group is how local users get in
    shutil.chown(daemon.socket, group="nogroup")
    for d in (daemon.dir,):
        os.chmod(d, 0o755)
    path = os.path.abspath(KORVIK)
    probe = subprocess.run(["runuser", "-u", "nobody", "--", path, "--version"], capture_output=True, text=True)
    if probe.returncode != 0:
        pytest.skip("the build tree is not readable by nobody")

    def as_nobody(*args, group="nogroup"):
        return subprocess.run(["runuser", "-u", "nobody", "-g", group, "--", path, "--server", daemon.uri, *args],
                              capture_output=True, text=True, timeout=60)

    r = as_nobody("--json", "list")
    assert r.returncode == 0, r.stderr
    assert len(json.loads(r.stdout)["boards"]) >= 2
    assert as_nobody("set", "SIM-RC1200-1", "tx_power=7dBm").returncode == 0
    assert as_nobody("defaults", "SIM-RC1200-1", "store").returncode == 0
    assert as_nobody("send", "SIM-RC1200-1", "0102").returncode == 0
    assert as_nobody("--json", "watch", "--seconds", "1", "SIM-RC1200-2").returncode == 0
    # outside the group: the socket refuses
    r = as_nobody("list", group="nobody" if _group_exists("nobody") else "daemon")
    assert r.returncode == 1 and "korvikd" in r.stderr


def _group_exists(name):
    import grp
    try:
        grp.getgrnam(name)
        return True
    except KeyError:
        return False


def test_tcp_refuses_bad_tokens(tmp_path):
    token = "0123456789abcdef0123456789abcdef"
    (tmp_path / "tokens").write_text(f"ci {token} -\nold 0123456789abcdef0123456789abcdee 1000\n")
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    d = Daemon("--listen", f"127.0.0.1:{port}", "--insecure", "--tokens", str(tmp_path / "tokens"))
    try:
        time.sleep(0.3)
        for bad in ("", "?token=0123456789abcdef0123456789abcdee", "?token=nonsense-nonsense-nonsense"):
            r = korvik("--server", f"tcp://127.0.0.1:{port}{bad}", "list")
            assert r.status == 1 and "permission denied" in r.err, (bad, r.err)
        r = korvik("--server", f"tcp://127.0.0.1:{port}?token={token}", "--json", "list", check=0)
        assert len(r.json()["boards"]) >= 2
    finally:
        d.stop()


def test_listen_without_tls_is_refused():
    r = subprocess.run([KORVIKD, "--socket", "", "--listen", "0.0.0.0:7361"], capture_output=True, text=True)
    assert r.returncode == 1 and "TLS" in r.stderr
    r = subprocess.run([KORVIKD, "--socket", "", "--listen", "0.0.0.0:7361", "--insecure"], capture_output=True,
                       text=True)
    assert r.returncode == 1 and "loopback" in r.stderr


def test_client_certificates_over_tls(tmp_path):
    """korvikd init and korvikd client make what a certificate-only daemon
    needs; certificates of another CA, or none, are refused."""
    for d in ("lab", "elsewhere"):
        subprocess.run([KORVIKD, "init", str(tmp_path / d)], check=True, capture_output=True)
    made = subprocess.run([KORVIKD, "client", str(tmp_path / "lab"), "alice"], capture_output=True, text=True)
    assert made.returncode == 0, made.stderr
    assert oct(os.stat(tmp_path / "lab" / "alice.key").st_mode & 0o777) == "0o600"
    again = subprocess.run([KORVIKD, "client", str(tmp_path / "lab"), "alice"], capture_output=True, text=True)
    assert again.returncode == 1 and "already exists" in again.stderr
    bad_name = subprocess.run([KORVIKD, "client", str(tmp_path / "lab"), "../alice"], capture_output=True, text=True)
    assert bad_name.returncode == 1
    subprocess.run([KORVIKD, "client", str(tmp_path / "elsewhere"), "mallory"], check=True, capture_output=True)

    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    lab = tmp_path / "lab"
    d = Daemon("--listen", f"127.0.0.1:{port}", "--cert", str(lab / "server.crt"), "--key", str(lab / "server.key"),
               "--client-ca", str(lab / "ca.crt"))
    try:
        base = f"tls://localhost:{port}?ca={lab / 'ca.crt'}"
        mallory = tmp_path / "elsewhere" / "mallory"
        for bad in ("", f"&cert={mallory}.crt&key={mallory}.key"):
            deadline = time.time() + 10
            while True:
                r = korvik("--server", base + bad, "list")
                if "permission denied" in r.err or time.time() > deadline:
                    break
                time.sleep(0.2)  # the TLS port may come up after the socket
            assert r.status == 1 and "permission denied" in r.err, (bad, r.err)
        alice = lab / "alice"
        r = korvik("--server", f"{base}&cert={alice}.crt&key={alice}.key", "--json", "list", check=0)
        assert len(r.json()["boards"]) >= 2
        # the same from the environment
        env = dict(os.environ, KORVIK_CERT=f"{alice}.crt", KORVIK_KEY=f"{alice}.key")
        r = korvik("--server", base, "--json", "list", check=0, env=env)
        assert len(r.json()["boards"]) >= 2
    finally:
        d.stop()
