"""The node's and the devices' lives: NDEATH when the bridge dies or stops,
DDEATH and DBIRTH when a controller goes and comes back or changes its
program, and births again on a rebirth command."""

import json
import signal

import pytest

import spb
from broker import free_port
from procs import DEMO
from subscriber import kind

pytestmark = pytest.mark.bridge


def bd_seq(msg) -> int:
    (metric,) = [m for m in msg.payload.metrics if m.name == "bdSeq"]
    assert metric.datatype == spb.INT64
    return spb.value_of(metric)


class TestNodeDeath:
    def test_sigkill_leaves_the_will_with_the_births_bdseq(self, line, subscriber):
        ln = line(["CntDint"])
        since = subscriber.mark()
        ln.bridge.kill(signal.SIGKILL)
        ndeath = subscriber.wait_for(kind("NDEATH"), since=since)
        assert ndeath.topic == "spBv1.0/Plant1/NDEATH/Line1Bridge"
        assert bd_seq(ndeath) == bd_seq(ln.nbirth)

        # Started again, it is a new session that begins with seq 0.
        since = subscriber.mark()
        ln.bridge.start()
        nbirth = subscriber.wait_for(kind("NBIRTH"), since=since)
        dbirth = subscriber.wait_for(kind("DBIRTH", "Oven1"), since=since)
        assert (nbirth.payload.seq, dbirth.payload.seq) == (0, 1)

    @pytest.mark.parametrize("sig", [signal.SIGTERM, signal.SIGINT], ids=["TERM", "INT"])
    def test_stop_signal_publishes_ndeath_and_exits_0(self, line, subscriber, sig):
        ln = line(["CntDint"])
        since = subscriber.mark()
        ln.bridge.kill(sig)
        assert ln.bridge.proc.returncode == 0
        ndeath = subscriber.wait_for(kind("NDEATH"), since=since)
        assert bd_seq(ndeath) == bd_seq(ln.nbirth)


class TestDevices:
    def test_a_lost_controller_dies_alone_and_is_born_again(self, sim, bridge, subscriber):
        oven1, oven2 = sim(), sim()
        bridge(
            [
                {"device": "Oven1", "port": oven1.port, "tags": ["Recipe"]},
                {"device": "Oven2", "port": oven2.port, "tags": ["CntDint"]},
            ]
        )
        first = subscriber.wait_for(kind("DBIRTH", "Oven1"))
        subscriber.wait_for(kind("DBIRTH", "Oven2"))
        since = subscriber.mark()
        oven1.stop()
        ddeath = subscriber.wait_for(kind("DDEATH", "Oven1"), since=since)
        assert ddeath.topic == "spBv1.0/Plant1/DDEATH/Line1Bridge/Oven1"

        oven2.write("CntDint", "5")  # Oven2 goes on meanwhile
        ddata = subscriber.wait_for(kind("DDATA", "Oven2"), since=since)
        assert spb.value_of(ddata.payload.metrics[0], spb.INT32) == 5

        oven1.start()
        again = subscriber.wait_for(kind("DBIRTH", "Oven1"), since=since)
        assert [m.name for m in again.payload.metrics] == [m.name for m in first.payload.metrics]
        node = subscriber.select(lambda m: m.kind in ("NBIRTH", "DBIRTH", "DDATA", "DDEATH"))
        seqs = [m.payload.seq for m in node]
        assert all(b == (a + 1) % 256 for a, b in zip(seqs, seqs[1:])), seqs
        assert not subscriber.select(kind("NBIRTH"), since), "a device must not rebirth the node"
        assert not subscriber.select(kind("DDEATH", "Oven2"))

    def test_a_changed_program_gives_a_new_metric_list(self, sim, bridge, subscriber, tmp_path):
        model = json.loads(open(DEMO).read())
        path = tmp_path / "model.json"
        path.write_text(json.dumps(model))
        s = sim(model=str(path))
        bridge([{"device": "Oven1", "port": s.port, "tags": ["Cnt*"]}])
        first = subscriber.wait_for(kind("DBIRTH", "Oven1"))
        names = [m.name for m in first.payload.metrics]

        # An online change: CntNew appears between CntSint and CntUsint.
        at = next(i for i, t in enumerate(model["tags"]) if t["name"] == "CntUsint")
        model["tags"].insert(at, {"name": "CntNew", "type": "DINT", "value": 7})
        path.write_text(json.dumps(model))
        since = subscriber.mark()
        s.proc.send_signal(signal.SIGHUP)
        again = subscriber.wait_for(kind("DBIRTH", "Oven1"), since=since)
        metrics = {m.name: m for m in again.payload.metrics}
        assert sorted(metrics) == sorted(names + ["CntNew"])
        assert spb.value_of(metrics["CntNew"]) == 7
        # Made anew, the list is what a bridge started now would send: in
        # listing order with aliases 1..N, so that data stored before a
        # restart and the births after it agree on the aliases.
        assert [(m.name, m.alias) for m in again.payload.metrics] == [
            (name, alias) for alias, name in enumerate(names[:1] + ["CntNew"] + names[1:], 1)
        ]


class TestRebirth:
    def test_ncmd_rebirth_sends_both_births_in_the_same_session(self, line, subscriber):
        ln = line(["Recipe"])
        since = subscriber.mark()
        subscriber.command("NCMD", [("Node Control/Rebirth", spb.BOOLEAN, False)])
        subscriber.rebirth()
        nbirth = subscriber.wait_for(kind("NBIRTH"), since=since)
        dbirth = subscriber.wait_for(kind("DBIRTH", "Oven1"), since=since)
        assert (nbirth.payload.seq, dbirth.payload.seq) == (0, 1)
        assert subscriber.messages.index(nbirth) < subscriber.messages.index(dbirth)
        assert len(subscriber.select(kind("NBIRTH"), since)) == 1, "Rebirth false rebirthed"
        assert spb.Birth(dbirth).names == ln.birth.names
        assert spb.Birth(dbirth).values(dbirth) == ln.birth.values(ln.dbirth)
        # The will registered at connect still holds: bdSeq is unchanged.
        assert bd_seq(nbirth) == bd_seq(ln.nbirth)
        ln.bridge.kill(signal.SIGKILL)
        assert bd_seq(subscriber.wait_for(kind("NDEATH"), since=since)) == bd_seq(nbirth)


def test_rebirth_covers_the_devices_that_are_online(sim, bridge, subscriber):
    oven1, oven2 = sim(), sim()
    bridge(
        [
            {"device": "Oven1", "port": oven1.port, "tags": ["CntDint"]},
            {"device": "Oven2", "port": oven2.port, "tags": ["CntDint"]},
        ]
    )
    subscriber.wait_for(kind("DBIRTH", "Oven1"))
    subscriber.wait_for(kind("DBIRTH", "Oven2"))
    oven1.stop()
    subscriber.wait_for(kind("DDEATH", "Oven1"))
    since = subscriber.mark()
    subscriber.rebirth()
    nbirth = subscriber.wait_for(kind("NBIRTH"), since=since)
    dbirth = subscriber.wait_for(kind("DBIRTH", "Oven2"), since=since)
    assert (nbirth.payload.seq, dbirth.payload.seq) == (0, 1)
    oven2.write("CntDint", "4")
    ddata = subscriber.wait_for(kind("DDATA", "Oven2"), since=since)
    assert ddata.payload.seq == 2, "a device that is offline was born again"
    assert not subscriber.select(kind("DBIRTH", "Oven1"), since)


def test_a_device_is_born_once_its_controller_answers(sim, bridge, subscriber):
    port = free_port()
    bridge([{"device": "Oven1", "port": port, "tags": ["CntDint"]}])
    nbirth = subscriber.wait_for(kind("NBIRTH"))  # the node does not wait for it
    sim(port=port)
    dbirth = subscriber.wait_for(kind("DBIRTH", "Oven1"), timeout=15)
    assert dbirth.payload.seq == 1
    before = subscriber.messages[
        subscriber.messages.index(nbirth) : subscriber.messages.index(dbirth)
    ]
    assert not [m for m in before if m.kind == "DDEATH"], "a device never born was declared dead"
