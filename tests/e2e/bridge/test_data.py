"""DDATA: only values that changed beyond the deadband, by alias, one message
per poll, and the seq over all of the node's messages."""

import time

import pytest

import spb
from subscriber import kind

pytestmark = pytest.mark.bridge

DDATA = kind("DDATA", "Oven1")


def near(a, b, tol=1e-4):
    return a is not None and abs(a - b) <= tol


class TestChanges:
    def test_one_ddata_per_poll_by_alias_with_the_replys_time(self, line, subscriber):
        ln = line(["Recipe", "MachineState"])
        since, before_ms = subscriber.mark(), int(time.time() * 1000)
        ln.sim.write("Recipe.Id", "43", "MachineState", "-3")  # one exchange
        msg = subscriber.wait_for(DDATA, since=since)
        assert msg.topic == "spBv1.0/Plant1/DDATA/Line1Bridge/Oven1"
        assert msg.payload.seq == (ln.dbirth.payload.seq + 1) % 256
        assert ln.birth.values(msg) == {"Recipe.Id": 43, "MachineState": -3}
        for m in msg.payload.metrics:
            assert not m.name, "DDATA names metrics by alias only"
            assert before_ms - 5 <= m.timestamp <= msg.time * 1000 + 5

        since = subscriber.mark()
        ln.sim.write("Recipe.Name", "Crackers")
        msg = subscriber.wait_for(DDATA, since=since)
        assert ln.birth.values(msg) == {"Recipe.Name": "Crackers"}
        assert msg.payload.seq == (ln.dbirth.payload.seq + 2) % 256

    def test_deadband_against_the_last_published_value(self, line, subscriber):
        ln = line(["Temps", "CntDint"], controller={"deadband": 0.5})
        temps1 = ln.birth.alias["Temps[1]"]  # 180.5 in the birth
        since = subscriber.mark()
        # Each step writes Temps[1], then CntDint as a marker whose DDATA
        # shows the poll after the Temps[1] write has been made.
        steps = [
            ("180.7", None),  # 0.2 from the published 180.5
            ("180.9", None),  # 0.4 from it, though only 0.2 from the last read
            ("181.2", 181.2),  # 0.7: published
            ("180.9", None),  # 0.3 below the new published value
            ("180.5", 180.5),  # 0.7 below it
        ]
        for marker, (temp, published) in enumerate(steps, start=1):
            ln.sim.write("Temps[1]", temp)
            ln.sim.write("CntDint", str(marker))
            subscriber.wait_for(lambda m: DDATA(m) and ln.birth.values(m).get("CntDint") == marker)
            seen = [
                spb.value_of(x)
                for m in subscriber.select(DDATA, since)
                for x in m.payload.metrics
                if x.alias == temps1
            ]
            assert seen == ([] if published is None else [pytest.approx(published, abs=1e-4)])
            since = subscriber.mark()


def test_seq_counts_every_message_and_wraps(line, subscriber):
    # The simulator counts CntDint up every 5 ms: every poll has a change.
    ln = line(["CntDint"], sim_args=("--scan", "5"), controller={"interval": "20ms"})
    start = subscriber.messages.index(ln.nbirth)
    node = {"NBIRTH", "DBIRTH", "DDATA", "DDEATH"}
    msgs = subscriber.wait_count(lambda m: m.kind in node, 300, timeout=25, since=start)
    seqs = [m.payload.seq for m in msgs]
    assert seqs[0] == 0
    assert all(b == (a + 1) % 256 for a, b in zip(seqs, seqs[1:])), seqs
    values = [ln.birth.values(m)["CntDint"] for m in msgs if DDATA(m)]
    assert all(b > a for a, b in zip(values, values[1:])), "a DDATA repeated or went back"


def test_heartbeat_repeats_every_value_without_changes(line, subscriber):
    ln = line(["CntDint", "MachineState"], controller={"heartbeat": "200ms"})
    beats = subscriber.wait_count(DDATA, 2, timeout=10)
    for msg in beats:
        assert ln.birth.values(msg) == {"CntDint": -2000000000, "MachineState": 2}
