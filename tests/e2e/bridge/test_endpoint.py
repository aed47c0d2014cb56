"""The bridge's own numbers on GET /metrics and its /health, as a scraper
and a load balancer see them."""

import pytest

from subscriber import kind

pytestmark = pytest.mark.bridge

OVEN = '{device="Oven1"}'


def test_metrics_count_what_happened(line, subscriber):
    ln = line(["CntDint"], store=True, metrics=True)
    polls = "qxsym_bridge_controller_polls_total" + OVEN
    first = ln.bridge.metrics()
    ln.sim.write("CntDint", "11")
    subscriber.wait_for(lambda m: kind("DDATA")(m) and ln.birth.values(m) == {"CntDint": 11})
    ln.bridge.wait_metric(polls, lambda n: n > first[polls])
    now = ln.bridge.metrics()
    assert now["qxsym_bridge_controller_connected" + OVEN] == 1
    assert now["qxsym_bridge_broker_connected"] == 1
    assert now["qxsym_bridge_controller_changes_total" + OVEN] >= 1
    assert now["qxsym_bridge_controller_overruns_total" + OVEN] >= 0
    # NBIRTH, DBIRTH and the DDATA at least; data counts once acknowledged,
    # which may come after the subscriber has it.
    ln.bridge.wait_metric("qxsym_bridge_messages_published_total", lambda n: n >= 3)
    assert now["qxsym_bridge_store_messages"] == 0
    assert now["qxsym_bridge_store_dropped_total"] == 0
    assert ln.bridge.health() == (200, "ok")


def test_a_lost_controller_shows_on_metrics(line):
    ln = line(["CntDint"], metrics=True)
    ln.sim.stop()
    ln.bridge.wait_metric("qxsym_bridge_controller_connected" + OVEN, lambda v: v == 0)
    ln.sim.start()
    ln.bridge.wait_metric("qxsym_bridge_controller_connected" + OVEN, lambda v: v == 1)


def test_polls_slower_than_the_interval_count_as_overruns(line):
    ln = line(
        ["CntDint"], sim_args=("--delay", "40"), controller={"interval": "10ms"}, metrics=True
    )
    ln.bridge.wait_metric("qxsym_bridge_controller_overruns_total" + OVEN, lambda n: n >= 3)
