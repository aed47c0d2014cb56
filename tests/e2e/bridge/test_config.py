"""The broker connection (TLS, password) and the configuration file: a bad
file is refused with its line at start and kept out on a reload."""

import re
import signal

import pytest

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
