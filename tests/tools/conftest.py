"""Shared helpers: run the built korvik the way a user or a script does."""
import json
import os
import subprocess

import pytest

KORVIK = os.environ.get("KORVIK", "korvik")


class Run:
    def __init__(self, proc):
        self.status = proc.returncode
        self.out = proc.stdout
        self.err = proc.stderr

    def json(self):
        return json.loads(self.out)


def korvik(*args, check=None, timeout=60, env=None):
    proc = subprocess.run([KORVIK, *args], capture_output=True, text=True, timeout=timeout, env=env)
    run = Run(proc)
    if check is not None:
        assert run.status == check, f"korvik {' '.join(args)}: status {run.status}\n{run.out}\n{run.err}"
    return run


@pytest.fixture
def run():
    return korvik
