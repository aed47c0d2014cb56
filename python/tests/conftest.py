"""Fixtures: qxsym-sim on loopback, started per test module or per test.

QXSYM_SIM names the simulator program (default: the build tree's), and
QXSYMBOLS_LIBRARY the shared library; CTest sets both.
"""

import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent.parent
sys.path.insert(0, str(HERE.parent))

import qxsymbols  # noqa: E402

SIM = os.environ.get("QXSYM_SIM", str(ROOT / "build" / "sim" / "server" / "qxsym-sim"))
DEMO = str(ROOT / "sim" / "models" / "demo.json")
os.environ.setdefault("QXSYMBOLS_LIBRARY", str(ROOT / "build" / "src"))
os.environ.setdefault("QXSYMCORE_LIBRARY", str(ROOT / "build" / "src" / "client"))


class Sim:
    """One qxsym-sim process on 127.0.0.1 with a port of the system's choice."""

    def __init__(self, *args: str, model: str = DEMO, port: int = 0) -> None:
        self.proc = subprocess.Popen(
            [SIM, "--model", model, "--host", "127.0.0.1", "--port", str(port), *args],
            stdout=subprocess.PIPE,
            text=True,
        )
        line = self.proc.stdout.readline()
        if not line.startswith("listening on "):
            self.proc.kill()
            raise RuntimeError(f"qxsym-sim did not start: {line!r}")
        self.port = int(line.rsplit(":", 1)[1])

    def connect(self, **kw):
        return qxsymbols.connect("127.0.0.1", self.port, **kw)

    def stop(self) -> None:
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stdout.close()


@pytest.fixture
def start_sim():
    """start_sim(*args, model=...) -> Sim; every one is stopped afterwards."""
    sims = []

    def start(*args, **kw):
        sims.append(Sim(*args, **kw))
        return sims[-1]

    yield start
    for s in sims:
        s.stop()


@pytest.fixture(scope="module")
def frozen_sim():
    """The demo model with live values frozen, shared by a module."""
    s = Sim("--scan", "0")
    yield s
    s.stop()


@pytest.fixture
def ws(frozen_sim):
    with frozen_sim.connect(timeout=5) as w:
        yield w


@pytest.fixture
def write_model(tmp_path):
    """write_model(dict) -> path of a model file."""

    def write(model):
        p = tmp_path / "model.json"
        p.write_text(json.dumps(model))
        return str(p)

    return write
