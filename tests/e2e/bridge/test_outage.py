"""Store and forward: what changes while the broker is away (even across a
restart of the bridge) arrives once it is back, once, in order, flagged
historical, after the new births and before live data. The bridge's
/metrics tells when it has seen a change, since MQTT cannot meanwhile."""

import pytest

from subscriber import kind

pytestmark = pytest.mark.bridge

OVEN = '{device="Oven1"}'
CHANGES = "qxsym_bridge_controller_changes_total" + OVEN


def change_while_away(bridge, sim, value: int) -> None:
    """Writes CntDint and waits until the bridge has counted the change."""
    before = bridge.metrics()[CHANGES]
    sim.write("CntDint", str(value))
    bridge.wait_metric(CHANGES, lambda n: n > before)


def wait_bridge_ready(bridge) -> None:
    bridge.wait_metric("qxsym_bridge_controller_connected" + OVEN, lambda v: v == 1)
    polls = bridge.metrics()["qxsym_bridge_controller_polls_total" + OVEN]
    bridge.wait_metric("qxsym_bridge_controller_polls_total" + OVEN, lambda n: n > polls)


def test_changes_while_the_broker_is_away_arrive_once_in_order(line, broker, subscriber):
    ln = line(["CntDint"], store=True, metrics=True)
    ln.sim.write("CntDint", "1")
    subscriber.wait_for(lambda m: kind("DDATA")(m) and ln.birth.values(m) == {"CntDint": 1})
    assert ln.bridge.health() == (200, "ok")

    since = subscriber.mark()
    broker.stop()
    ln.bridge.wait_metric("qxsym_bridge_broker_connected", lambda v: v == 0)
    assert ln.bridge.health()[0] == 503
    change_while_away(ln.bridge, ln.sim, 2)
    change_while_away(ln.bridge, ln.sim, 3)
    assert ln.bridge.metrics()["qxsym_bridge_store_messages"] >= 2
    assert ln.bridge.restart() == 0  # the store outlives the process
    wait_bridge_ready(ln.bridge)
    change_while_away(ln.bridge, ln.sim, 4)

    broker.start()
    nbirth = subscriber.wait_for(kind("NBIRTH"), timeout=20, since=since)
    ln.sim.write("CntDint", "5")
    subscriber.wait_for(
        lambda m: kind("DDATA")(m) and not m.payload.metrics[0].is_historical, 20, since
    )
    after = subscriber.select(lambda m: m.kind != "NDEATH", since)
    assert after[0] is nbirth and after[1].kind == "DBIRTH", [m.kind for m in after]
    assert not any(x.is_historical for x in after[1].payload.metrics)
    seqs = [m.payload.seq for m in after]
    assert seqs == [i % 256 for i in range(len(seqs))]

    ddata = [
        (ln.birth.values(m)["CntDint"], m.payload.metrics[0].is_historical)
        for m in after
        if m.kind == "DDATA"
    ]
    assert ddata == [(2, True), (3, True), (4, True), (5, False)]
    for m in after[2:-1]:
        assert all(x.is_historical for x in m.payload.metrics), m.kind
        assert all(x.timestamp < nbirth.time * 1000 for x in m.payload.metrics)
    ln.bridge.wait_metric("qxsym_bridge_store_messages", lambda n: n == 0)
    assert ln.bridge.health() == (200, "ok")
