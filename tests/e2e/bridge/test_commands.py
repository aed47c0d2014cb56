"""DCMD: a metric whose leaf matches `writable` is written to the controller
(and shows in a later DDATA); every other one is refused and logged. What
the controller holds is read with the qxsym CLI, not through the bridge."""

import pytest

import spb
from spb import INT16, INT32, STRING
from subscriber import kind

pytestmark = pytest.mark.bridge

DDATA = kind("DDATA", "Oven1")


@pytest.fixture
def oven(line):
    return line(["Recipe", "MachineState"], controller={"writable": ["Recipe.Id", "Machine*"]})


def wait_value(subscriber, ln, name, value, since):
    return subscriber.wait_for(
        lambda m: DDATA(m) and ln.birth.values(m).get(name) == value, since=since
    )


class TestAllowed:
    def test_by_name_and_by_alias(self, oven, subscriber):
        since = subscriber.mark()
        subscriber.command("DCMD", [("Recipe.Id", INT32, 77)], device="Oven1")
        wait_value(subscriber, oven, "Recipe.Id", 77, since)
        assert oven.sim.read("Recipe.Id") == 77

        alias = oven.birth.alias["MachineState"]
        subscriber.command("DCMD", [(alias, INT16, -2)], device="Oven1")
        wait_value(subscriber, oven, "MachineState", -2, since)
        assert oven.sim.read("MachineState") == -2


class TestRefused:
    def test_not_writable_is_logged_and_left_alone(self, oven, subscriber):
        since = subscriber.mark()
        subscriber.command("DCMD", [("Recipe.Name", STRING, "Hacked")], device="Oven1")
        oven.bridge.wait_log(r" warn Oven1: DCMD refused: Recipe\.Name is not writable$")
        assert oven.sim.read("Recipe.Name") == "Shortbread 250g"

        # In one command the writable metric is written and the other is not.
        subscriber.command(
            "DCMD", [("Recipe.DwellTime", INT32, 1), ("Recipe.Id", INT32, 55)], device="Oven1"
        )
        wait_value(subscriber, oven, "Recipe.Id", 55, since)
        oven.bridge.wait_log(r" warn Oven1: DCMD refused: Recipe\.DwellTime is not writable$")
        assert oven.sim.read("Recipe.DwellTime") == 90000
        for m in subscriber.select(DDATA, since):
            assert "Recipe.Name" not in oven.birth.values(m)
            assert "Recipe.DwellTime" not in oven.birth.values(m)

    def test_bad_commands_leave_the_bridge_working(self, oven, subscriber):
        topic = "spBv1.0/Plant1/DCMD/Line1Bridge/Oven1"
        subscriber.client.publish(topic, b"\x0a\xff\xff\xff\xff\x0f not protobuf").wait_for_publish(
            5
        )
        subscriber.command("DCMD", [("Recipe.Id", INT32, 1)], device="NoSuchOven")
        subscriber.command("DCMD", [("No.Such.Leaf", INT32, 1)], device="Oven1")
        subscriber.command("DCMD", [(9999, INT32, 1)], device="Oven1")
        # A value of the wrong type for the leaf is not written either.
        subscriber.command("DCMD", [("Recipe.Id", STRING, "forty")], device="Oven1")
        subscriber.client.publish(
            "spBv1.0/Plant1/NCMD/Line1Bridge", b"\xff garbage"
        ).wait_for_publish(5)
        since = subscriber.mark()
        subscriber.command("DCMD", [("MachineState", INT16, 3)], device="Oven1")
        wait_value(subscriber, oven, "MachineState", 3, since)
        assert oven.bridge.running
        assert oven.sim.read("Recipe.Id") == 42
        assert spb.value_of(oven.birth.metric["Recipe.Id"]) == 42


def test_a_read_only_tag_stays_unwritten_whatever_writable_says(line, subscriber):
    ln = line(["SerialNumber", "Operator"], controller={"writable": ["*"]})
    props = spb.properties(ln.birth.metric["SerialNumber"])
    assert props.get("readOnly") is True and not props.get("writable")
    assert spb.properties(ln.birth.metric["Operator"]).get("writable") is True
    since = subscriber.mark()
    subscriber.command(
        "DCMD", [("SerialNumber", STRING, "forged"), ("Operator", STRING, "Jones")], "Oven1"
    )
    wait_value(subscriber, ln, "Operator", "Jones", since)
    assert ln.sim.read("SerialNumber") == "QX-2024-000815"
    assert all("SerialNumber" not in ln.birth.values(m) for m in subscriber.select(DDATA, since))
