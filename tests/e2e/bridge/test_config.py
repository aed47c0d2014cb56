"""The broker connection (TLS, password) and the configuration file: a bad
file is refused with its line at start and kept out on a reload."""

import re
import signal

import pytest

import spb
from procs import Bridge, write_config
from subscriber import kind

pytestmark = pytest.mark.bridge


def test_tls_with_a_password(line, broker, subscriber):
    ln = line(["CntDint"], tls=True)
    assert ln.nbirth.topic == "spBv1.0/Plant1/NBIRTH/Line1Bridge"
    ln.sim.write("CntDint", "3")
    subscriber.wait_for(lambda m: kind("DDATA")(m) and ln.birth.values(m) == {"CntDint": 3})


@pytest.mark.parametrize("refusal", ["wrong-password", "foreign-ca"])
def test_a_broker_that_refuses_gets_nothing_and_is_told(sim, bridge, broker, subscriber, refusal):
    if refusal == "wrong-password":
        options = {"password": "not the password"}
    else:  # the bridge must not trust a server its CA did not sign
        options = {"tls": True, "ca": str(broker.certs.other_ca)}
    s = sim()
    b = bridge([{"port": s.port, "tags": ["CntDint"]}], **options)
    b.wait_log(r"^\S+ (warn|error) .*(broker|MQTT|mqtt|TLS|tls|certificate)")
    assert b.running, "a refusing broker is retried, not fatal"
    assert not subscriber.select(lambda m: m.kind in ("NBIRTH", "DBIRTH"))


def bad_config(tmp_path, broker, sim, good: str, bad: str):
    """bridge.yaml with the line @p good replaced by @p bad; (path, line number)."""
    path = write_config(tmp_path, broker, [{"port": sim.port, "tags": ["CntDint"]}])
    lines = path.read_text().splitlines()
    at = next(i for i, text in enumerate(lines) if text.strip() == good)
    lines[at] = lines[at].replace(good, bad)
    path.write_text("\n".join(lines) + "\n")
    return path, at + 1


@pytest.mark.parametrize(
    "good, bad",
    [("interval: 50ms", "interval: fast"), ("group: Plant1", "group: Plant/1")],
    ids=["interval", "group"],
)
def test_bad_configuration_is_refused_with_its_line(tmp_path, broker, sim, good, bad):
    path, lineno = bad_config(tmp_path, broker, sim(), good, bad)
    b = Bridge(path)
    for extra in ((), ("--check",)):
        b.start(*extra)
        assert b.proc.wait(10) == 2
        assert f"{path}:{lineno}:" in b.log_text(), b.log_text()


def test_reload_keeps_the_old_configuration_when_the_new_is_bad(line, broker, subscriber):
    ln = line(["CntDint"])
    path = ln.bridge.config_path
    text = path.read_text()
    lines = text.splitlines()
    at = next(i for i, t in enumerate(lines) if t.strip().startswith("interval:"))
    lines[at] = "    interval: -5ms"
    path.write_text("\n".join(lines) + "\n")
    ln.bridge.kill(signal.SIGHUP)
    ln.bridge.wait_log(re.escape(f"{path}:{at + 1}:"))
    assert ln.bridge.running
    since = subscriber.mark()
    ln.sim.write("CntDint", "9")
    subscriber.wait_for(
        lambda m: kind("DDATA")(m) and ln.birth.values(m) == {"CntDint": 9}, since=since
    )


def test_reload_takes_a_new_controller_in(sim, bridge, broker, subscriber, tmp_path):
    oven1, oven2 = sim(), sim()
    b = bridge([{"device": "Oven1", "port": oven1.port, "tags": ["CntDint"]}])
    subscriber.wait_for(kind("DBIRTH", "Oven1"))
    since = subscriber.mark()
    controllers = [
        {"device": "Oven1", "port": oven1.port, "tags": ["CntDint"]},
        {"device": "Oven2", "port": oven2.port, "tags": ["MachineState"]},
    ]
    write_config(tmp_path, broker, controllers)
    b.kill(signal.SIGHUP)
    birth = subscriber.wait_for(kind("DBIRTH", "Oven2"), since=since)
    assert [m.name for m in birth.payload.metrics] == ["MachineState"]
    oven2.write("MachineState", "1")
    subscriber.wait_for(kind("DDATA", "Oven2"), since=since)
    assert b.running


LOG_LINE = re.compile(
    r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?Z (error|warn|info|debug) [^ :][^:]*: \S.*$"
)


def test_log_lines_have_one_form(line, subscriber):
    ln = line(["Recipe"], controller={"writable": ["Recipe.Id"]})
    subscriber.command("DCMD", [("Recipe.Name", spb.STRING, "x")], device="Oven1")
    ln.bridge.wait_log("DCMD refused")
    ln.sim.stop()
    subscriber.wait_for(kind("DDEATH", "Oven1"))
    assert ln.bridge.terminate() == 0
    lines = ln.bridge.log_text().splitlines()
    assert lines
    assert [t for t in lines if not LOG_LINE.match(t)] == []
