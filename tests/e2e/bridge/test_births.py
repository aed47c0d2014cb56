"""Births: the node's NBIRTH and a device's DBIRTH with one metric per leaf of
the configured tags, in order, typed, with the controller's current values
and the tags' texts as properties. Values are those of the demo model."""

import time

import pytest

import spb
from spb import BOOLEAN, DOUBLE, FLOAT, INT8, INT16, INT32, INT64, STRING
from spb import UINT8, UINT16, UINT32, UINT64
from subscriber import kind

pytestmark = pytest.mark.bridge

DEMO_TAGS = ["Line", "Temps", "Recipe", "MachineState", "Alarms", "CntDint"]
MOTOR = [
    ("Enable", BOOLEAN),
    ("Running", BOOLEAN),
    ("Fault", BOOLEAN),
    ("SetSpeed", FLOAT),
    ("Speed", FLOAT),
    ("Current", FLOAT),
    ("Starts", UINT32),
    ("Hours", UINT32),
    ("FaultCode", UINT16),
]


def demo_leaves():
    """(name, datatype) of every leaf of DEMO_TAGS, in layout order."""
    leaves = [("Line.Name", STRING), ("Line.Running", BOOLEAN), ("Line.Speed", FLOAT)]
    for drive in ("Infeed", "Main", "Outfeed"):
        leaves += [(f"Line.{drive}.{m}", t) for m, t in MOTOR]
    leaves.append(("Line.PartsToday", UINT32))
    leaves += [(f"Temps[{i}]", FLOAT) for i in range(1, 9)]
    leaves += [("Recipe.Name", STRING), ("Recipe.Id", INT32), ("Recipe.OvenTemp", FLOAT)]
    leaves += [("Recipe.BeltSpeed", FLOAT), ("Recipe.DwellTime", INT32)]
    leaves += [(f"Recipe.StepTemps[{i}]", INT16) for i in range(1, 6)]
    leaves.append(("MachineState", INT16))
    leaves += [(f"Alarms[{i}]", BOOLEAN) for i in range(16)]
    leaves.append(("CntDint", INT32))
    return leaves


@pytest.fixture
def demo_line(line):
    started_ms = int(time.time() * 1000)
    ln = line(
        DEMO_TAGS,
        controller={
            "writable": ["Recipe.Id", "MachineState"],
            "attributes": ["unit", "min", "max", "0", "3"],
        },
    )
    ln.started_ms = started_ms
    return ln


class TestNodeBirth:
    def test_nbirth_first_with_seq_0_then_dbirth(self, demo_line, subscriber):
        nbirth, dbirth = demo_line.nbirth, demo_line.dbirth
        assert nbirth.topic == "spBv1.0/Plant1/NBIRTH/Line1Bridge"
        assert dbirth.topic == "spBv1.0/Plant1/DBIRTH/Line1Bridge/Oven1"
        assert subscriber.messages.index(nbirth) < subscriber.messages.index(dbirth)
        assert (nbirth.payload.seq, dbirth.payload.seq) == (0, 1)
        assert nbirth.payload.HasField("timestamp") and dbirth.payload.HasField("timestamp")
        metrics = {m.name: m for m in nbirth.payload.metrics}
        assert metrics["bdSeq"].datatype == INT64
        rebirth = metrics["Node Control/Rebirth"]
        assert (rebirth.datatype, spb.value_of(rebirth)) == (BOOLEAN, False)


class TestDeviceBirth:
    def test_one_metric_per_leaf_in_order_with_aliases_and_types(self, demo_line):
        metrics = demo_line.dbirth.payload.metrics
        assert [(m.name, m.datatype) for m in metrics] == demo_leaves()
        assert [m.alias for m in metrics] == list(range(1, len(metrics) + 1))

    def test_current_values_and_timestamps(self, demo_line):
        m = demo_line.birth.metric
        expected = {
            "Line.Name": "Packaging line 1",
            "Line.Running": True,
            "Line.Speed": 1.25,
            "Line.Main.SetSpeed": 1500.0,
            "Line.Outfeed.Enable": False,
            "Line.Outfeed.FaultCode": 4660,
            "Line.PartsToday": 1234,
            "Temps[1]": 180.5,
            "Temps[3]": 185.25,
            "Temps[8]": 170.0,
            "Recipe.Name": "Shortbread 250g",
            "Recipe.Id": 42,
            "Recipe.DwellTime": 90000,
            "Recipe.StepTemps[2]": 150,
            "Recipe.StepTemps[5]": 185,
            "MachineState": 2,
            "Alarms[0]": False,
            "CntDint": -2000000000,
        }
        assert {name: spb.value_of(m[name]) for name in expected} == expected
        received_ms = demo_line.dbirth.time * 1000
        for metric in demo_line.dbirth.payload.metrics:
            assert demo_line.started_ms - 1000 <= metric.timestamp <= received_ms + 1000

    def test_properties_carry_texts_attributes_and_access(self, demo_line):
        props = {name: spb.properties(m) for name, m in demo_line.birth.metric.items()}
        speed = props["Line.Speed"]
        assert speed["description"] == "Belt speed"
        assert (speed["unit"], speed["min"], speed["max"]) == ("m/s", "0", "2.5")
        assert props["Line.Main.Current"]["description"] == "Motor current"
        assert props["Line.Main.Current"]["unit"] == "A"
        assert props["Recipe.Id"]["description"] == "Recipe number"
        state = props["MachineState"]
        assert state["description"] == "0 stopped, 1 starting, 2 running, 3 fault"
        # Attributes are asked for by the names configured: "1" was not.
        assert (state["0"], state["3"]) == ("Stopped", "Fault")
        assert "1" not in state and "unit" not in state
        assert props["Recipe.Id"].get("writable") is True
        assert state.get("writable") is True
        for name in ("Recipe.Name", "Recipe.OvenTemp", "Line.Speed", "Temps[1]"):
            assert not props[name].get("writable"), name
        assert not any(p.get("readOnly") for p in props.values())


def test_every_basic_type_by_filters_in_listing_order(line):
    ln = line(["Cnt*", "Status*", "TotalEnergy", "Operator", "SerialNumber", "FirmwareBuild"])
    expected = [
        ("CntSint", INT8, -100),
        ("CntUsint", UINT8, 200),
        ("CntInt", INT16, -12345),
        ("CntUint", UINT16, 54321),
        ("CntDint", INT32, -2000000000),
        ("CntUdint", UINT32, 4000000000),
        ("CntLint", INT64, -9000000000000000000),
        ("CntUlint", UINT64, 18000000000000000000),
        ("StatusByte", UINT8, 165),
        ("StatusWord", UINT16, 4660),
        ("StatusDword", UINT32, 305419896),
        ("StatusLword", UINT64, 1311768467463790320),
        ("TotalEnergy", DOUBLE, 123456.789),
        ("Operator", STRING, "Miller"),
        ("SerialNumber", STRING, "QX-2024-000815"),
        ("FirmwareBuild", UINT32, 30101),
    ]
    metrics = ln.dbirth.payload.metrics
    assert [(m.name, m.datatype, spb.value_of(m)) for m in metrics] == expected
    read_only = [m.name for m in metrics if spb.properties(m).get("readOnly") is True]
    assert read_only == ["SerialNumber", "FirmwareBuild"]


def test_births_of_two_controllers_are_apart(sim, bridge, subscriber):
    first, second = sim(), sim()
    bridge(
        [
            {"device": "Oven1", "port": first.port, "tags": ["Recipe"]},
            {"device": "Oven2", "port": second.port, "tags": ["CntDint", "MachineState"]},
        ]
    )
    births = {d: subscriber.wait_for(kind("DBIRTH", d)).payload for d in ("Oven1", "Oven2")}
    assert [m.name for m in births["Oven2"].metrics] == ["CntDint", "MachineState"]
    assert [m.alias for m in births["Oven2"].metrics] == [1, 2]
    assert len(births["Oven1"].metrics) == 10
    assert sorted(b.seq for b in births.values()) == [1, 2]
