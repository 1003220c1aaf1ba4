"""Four hosts in one: four korvikd, each in a network namespace of its own
with 16 emulated boards on veth pairs. One client sees all 64 boards through
their sockets; then 1,000 clients that hold a board's lease while they send
are killed with SIGKILL at random moments, and after the lease time no board
is left leased. Runs inside run_ns_tests.sh's namespace (root only)."""
import os
import random
import shutil
import signal
import subprocess
import tempfile
import time

import pytest

from conftest import korvik

KORVIKD = os.environ.get("KORVIKD", "korvikd")
EMULATOR = os.environ.get("KORVIK_BOARD_EMU", "korvik-board-emu")
DAEMONS = 4
BOARDS = 16
LEASE_SECONDS = 2
KILLS = int(os.environ.get("KORVIK_SCALE_KILLS", "1000"))

# one host: its own network, sysfs, /run and process tree, so that ending
# its first process ends the emulator and the daemon with it
HOST = r"""
set -e
mount --make-rprivate /
mount -t sysfs sysfs /sys
mount -t tmpfs -o size=1m,mode=0755 tmpfs /run
mkdir -m 1777 /run/lock
mkdir -m 0700 /run/korvik-runtime
export XDG_RUNTIME_DIR=/run/korvik-runtime
ip link set lo up
pairs=""
i=0
while [ $i -lt $BOARDS ]; do
    ip link add name kc$i type veth peer name kc${i}p
    ip link set kc${i}p up
    ip link set kc$i alias 'Zelvane Inc. RC1200 Evaluation Board'
    ip link set kc$i up
    pairs="$pairs kc${i}p $(( SERIAL_BASE + i ))"
    i=$(( i + 1 ))
done
"$EMULATOR" $pairs 200 &
# boards that answer from the start: a daemon probing a board whose
# emulator is not up yet would take it for another device
sleep 2
"$KORVIKD" --socket "$SOCKET" --admin-token-file "$SOCKET.admin" --lease-seconds "$LEASE" &
wait
"""


@pytest.fixture(scope="module")
def hosts():
    assert os.environ.get("KORVIK_TEST_NETNS") == "1", "run through run_ns_tests.sh"
    work = tempfile.mkdtemp(prefix="korvikd-scale-")
    procs, sockets = [], []
    for d in range(DAEMONS):
        sock = os.path.join(work, f"host{d}.sock")
        env = dict(os.environ, BOARDS=str(BOARDS), SERIAL_BASE=str(3000000 + 100 * d), SOCKET=sock,
                   LEASE=str(LEASE_SECONDS), EMULATOR=EMULATOR, KORVIKD=KORVIKD)
        procs.append(subprocess.Popen(["unshare", "--net", "--mount", "--pid", "--fork", "--kill-child=SIGKILL", "sh", "-c", HOST], env=env,
                                      stdout=subprocess.DEVNULL))
        sockets.append(sock)
    try:
        deadline = time.time() + 60
        for sock in sockets:
            while len(served(sock)) < BOARDS:
                assert time.time() < deadline, f"{sock}: only {len(served(sock))} boards"
                time.sleep(0.3)
        yield sockets
    finally:
        for p in procs:
            # its first process dies with it, and the kernel ends the rest
            p.send_signal(signal.SIGKILL)
            p.wait(timeout=10)
        shutil.rmtree(work, ignore_errors=True)


def served(sock, env=None):
    r = korvik("--server", "unix:" + sock, "--json", "list", env=env)
    if r.status != 0:
        return []
    return [b for b in r.json()["boards"] if b["interface"].startswith(sock + "/")]


def leased(sockets):
    env = dict(os.environ, KORVIK_SERVER=",".join("unix:" + s for s in sockets))
    boards = korvik("--json", "list", check=0, env=env).json()["boards"]
    return [b for b in boards if b.get("lease")]


def test_one_client_sees_all_64_boards(hosts):
    env = dict(os.environ, KORVIK_SERVER=",".join("unix:" + s for s in hosts))
    boards = korvik("--json", "list", check=0, env=env).json()["boards"]
    remote = [b for b in boards if any(b["interface"].startswith(s + "/") for s in hosts)]
    assert len(remote) == DAEMONS * BOARDS
    assert len({b["serial"] for b in remote}) == DAEMONS * BOARDS
    assert all(b["alive"] and b["chip"] == "RC1200" for b in remote)


def test_killed_clients_leave_no_stale_leases(hosts):
    rng = random.Random(20)
    targets = [(s, b["interface"]) for s in hosts for b in served(s)]
    running = []
    try:
        held_seen = kill_clients(hosts, rng, targets, running)
    finally:
        for p, _ in running:
            p.send_signal(signal.SIGKILL)
            p.wait()
    # the kills came while leases were held, not only before the first one
    assert held_seen > 0
    time.sleep(LEASE_SECONDS + 1.5)
    stale = leased(hosts)
    assert stale == [], stale


def kill_clients(hosts, rng, targets, running):
    held_seen = 0
    started = 0
    checkpoints = [KILLS // 4, KILLS // 2, 3 * KILLS // 4]
    while started < KILLS or running:
        while started < KILLS and len(running) < 16:
            sock, board = rng.choice(targets)
            p = subprocess.Popen([os.environ.get("KORVIK", "korvik"), "--server", "unix:" + sock, "send", board,
                                  "0102030405", "--count", "1000000", "--interval", "20ms"],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            running.append((p, time.monotonic() + rng.uniform(0.0, 2.5)))
            started += 1
        now = time.monotonic()
        for entry in [e for e in running if e[1] <= now]:
            entry[0].send_signal(signal.SIGKILL)
            entry[0].wait()
            running.remove(entry)
        if checkpoints and started >= checkpoints[0]:
            checkpoints.pop(0)
            held_seen = max(held_seen, len(leased(hosts)))
        time.sleep(0.01)
    return held_seen
