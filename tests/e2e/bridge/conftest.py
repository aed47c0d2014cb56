"""Fixtures of the bridge's end-to-end tests: a private broker, the
simulator, the bridge and a subscriber that decodes what it publishes.

CTest sets QXSYM_SIM, QXSYM_BRIDGE, QXSYM_CLI and QXSYM_SPARKPLUG_PROTO;
without them the build tree's programs and the source tree's .proto are used.
Tests marked `bridge` need a qxsym-bridge that runs (not only --check).
"""

import functools
import os
import subprocess
import sys
import tempfile
from pathlib import Path

import pytest

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import spb  # noqa: E402
from broker import MOSQUITTO, Broker, Certs, free_port  # noqa: E402
from procs import BRIDGE, Bridge, Sim, write_config  # noqa: E402
from subscriber import Subscriber, kind  # noqa: E402

GROUP, NODE, DEVICE = "Plant1", "Line1Bridge", "Oven1"


def pytest_configure(config):
    config.addinivalue_line("markers", "bridge: needs a qxsym-bridge that runs the bridge")


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    # Kept on the item so that fixtures can show their logs when a test failed.
    outcome = yield
    rep = outcome.get_result()
    setattr(item, "rep_" + rep.when, rep)


def _failed(request) -> bool:
    rep = getattr(request.node, "rep_call", None)
    return rep is None or rep.failed


@functools.lru_cache(maxsize=None)
def bridge_unavailable():
    """Why the bridge tests cannot run, or None. A program that only checks
    its configuration says so and stops at once; one that runs stays up
    (here without a broker or controller to reach)."""
    if not os.path.exists(BRIDGE):
        return f"no qxsym-bridge at {BRIDGE} (QXSYM_BRIDGE)"
    with tempfile.TemporaryDirectory() as folder:
        return _probe(Path(folder) / "probe.yaml")


def _probe(config: Path):
    config.write_text(
        f"broker: {{host: 127.0.0.1, port: {free_port()}}}\n"
        f"sparkplug: {{group: {GROUP}, node: {NODE}}}\n"
        f"controllers:\n  - {{device: {DEVICE}, host: 127.0.0.1, port: {free_port()}, "
        'tags: ["CntDint"]}\n'
    )
    proc = subprocess.Popen(
        [BRIDGE, "--config", str(config), "--log-level", "debug"],
        stdout=subprocess.DEVNULL,
        stderr=subprocess.PIPE,
        text=True,
    )
    try:
        _, err = proc.communicate(timeout=1.5)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.communicate()
        return None
    if "not available yet" in err or (proc.returncode == 2 and "log-level" in err):
        return f"qxsym-bridge does not run the bridge yet: {err.strip()}"
    return None


def pytest_runtest_setup(item):
    if item.get_closest_marker("bridge"):
        reason = bridge_unavailable()
        if reason:
            pytest.skip(reason)


@pytest.fixture(scope="session")
def pb(tmp_path_factory):
    """The Python module protoc generates from the bridge's .proto."""
    proto = spb.proto_path()
    if not proto.exists():
        pytest.skip(f"{proto} is not there yet: no payloads to decode")
    try:
        return spb.generate_module(proto, tmp_path_factory.mktemp("pb"))
    except subprocess.CalledProcessError as e:
        pytest.fail(f"protoc refused {proto}: {e.stderr}")


@pytest.fixture(scope="session")
def certs(tmp_path_factory):
    return Certs(tmp_path_factory.mktemp("certs"))


@pytest.fixture
def broker(tmp_path, certs, request):
    """A broker of this test alone; stop() and start() keep its ports."""
    if not os.path.exists(MOSQUITTO):
        pytest.skip(f"no {MOSQUITTO} (Debian: mosquitto)")
    folder = tmp_path / "broker"
    folder.mkdir()
    b = Broker(folder, certs)
    b.start()
    yield b
    b.stop()
    if _failed(request):
        print(f"--- mosquitto log ---\n{b.log()[-4000:]}")


@pytest.fixture
def sim():
    """sim(*args, model=, port=) -> Sim; every one is stopped afterwards.
    Values are frozen (--scan 0) unless the test passes --scan."""
    sims = []

    def start(*args, model=None, port=0):
        if "--scan" not in args:
            args = ("--scan", "0") + args
        sims.append(Sim(*args, port=port, **({"model": model} if model else {})))
        return sims[-1]

    yield start
    for s in sims:
        s.stop()


@pytest.fixture
def subscriber(broker, pb):
    s = Subscriber(broker, pb, group=GROUP, node=NODE)
    yield s
    s.close()


@pytest.fixture
def bridge(tmp_path, broker, request):
    """bridge(controllers, start=True, **options) -> Bridge over a written
    configuration (see procs.write_config); stopped with SIGTERM afterwards."""
    started = []

    def make(controllers, start=True, **options):
        b = Bridge(write_config(tmp_path, broker, controllers, **options))
        started.append(b)
        if start:
            b.start()
        return b

    yield make
    for b in started:
        if b.running:
            try:
                b.terminate()
            except subprocess.TimeoutExpired:
                b.kill()
    if _failed(request):
        for b in started:
            print(f"--- qxsym-bridge log ---\n{b.log_text(all_runs=True)[-6000:]}")
            print(f"--- {b.config_path.name} ---\n{b.config_path.read_text()}")


class Line:
    """A simulator, a bridge over it as device Oven1, and the births seen."""

    def __init__(self, sim, bridge, nbirth, dbirth) -> None:
        self.sim, self.bridge, self.nbirth, self.dbirth = sim, bridge, nbirth, dbirth
        self.birth = spb.Birth(dbirth)


@pytest.fixture
def line(sim, bridge, subscriber):
    """line(tags, sim_args=(), controller={...}, **bridge options) -> Line,
    once the NBIRTH and Oven1's DBIRTH have arrived."""

    def start(tags, sim_args=(), controller=None, **options):
        s = sim(*sim_args)
        c = dict(controller or {}, port=s.port, tags=tags, device=DEVICE)
        b = bridge([c], **options)
        nbirth = subscriber.wait_for(kind("NBIRTH"), 15)
        dbirth = subscriber.wait_for(kind("DBIRTH", DEVICE), 15)
        return Line(s, b, nbirth, dbirth)

    return start
