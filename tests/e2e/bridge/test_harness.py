"""The harness itself, without the bridge: the broker checks passwords and
certificates, the subscriber decodes payloads and outlives a broker restart,
the simulator comes back on its port. A bridge test that fails should never
be the harness's fault."""

import ssl
import threading

import paho.mqtt.client as mqtt
import pytest

import spb
from broker import accepts
from subscriber import kind

TOPIC = "spBv1.0/Plant1/DDATA/Line1Bridge/Oven1"


def connect_result(broker, user, password, tls=False, ca=None):
    """The CONNACK code a client gets (0 accepted, 4/5 refused)."""
    done, result = threading.Event(), []
    client = mqtt.Client(client_id="qxsym-e2e-probe")
    if user is not None:
        client.username_pw_set(user, password)
    if tls:
        client.tls_set_context(ssl.create_default_context(cafile=str(ca or broker.certs.ca)))

    def on_connect(c, userdata, flags, rc):
        result.append(rc)
        done.set()

    client.on_connect = on_connect
    client.connect("127.0.0.1", broker.tls_port if tls else broker.port, keepalive=10)
    client.loop_start()
    try:
        assert done.wait(10), "no CONNACK"
        return result[0]
    finally:
        client.disconnect()
        client.loop_stop()


def publisher(broker):
    client = mqtt.Client(client_id="qxsym-e2e-publisher")
    client.username_pw_set(broker.user, broker.password)
    client.connect("127.0.0.1", broker.port, keepalive=10)
    client.loop_start()
    return client


class TestBroker:
    def test_password_is_checked_on_both_listeners(self, broker):
        assert connect_result(broker, broker.user, broker.password) == 0
        assert connect_result(broker, broker.user, broker.password, tls=True) == 0
        assert connect_result(broker, broker.user, "wrong") != 0
        assert connect_result(broker, "nobody", broker.password, tls=True) != 0
        assert connect_result(broker, None, None) != 0

    def test_tls_client_checks_the_servers_certificate(self, broker):
        with pytest.raises(ssl.SSLError):
            connect_result(broker, broker.user, broker.password, tls=True, ca=broker.certs.other_ca)

    def test_restart_keeps_ports(self, broker):
        ports = broker.port, broker.tls_port
        broker.stop()
        assert not accepts(broker.port) and not accepts(broker.tls_port)
        broker.start()
        assert (broker.port, broker.tls_port) == ports
        assert connect_result(broker, broker.user, broker.password) == 0


class TestSubscriber:
    def test_decodes_values_by_datatype(self, broker, subscriber, pb):
        payload = pb.Payload(timestamp=1, seq=7)
        cases = [
            ("i8", spb.INT8, -1),
            ("i16", spb.INT16, -32768),
            ("i32", spb.INT32, -2000000000),
            ("i64", spb.INT64, -5),
            ("u8", spb.UINT8, 255),
            ("u32", spb.UINT32, 4000000000),
            ("u64", spb.UINT64, 2**64 - 1),
            ("f", spb.FLOAT, 1.5),
            ("d", spb.DOUBLE, 0.1),
            ("b", spb.BOOLEAN, True),
            ("s", spb.STRING, "Shortbread 250g"),
        ]
        for name, datatype, value in cases:
            m = payload.metrics.add(name=name)
            spb.set_value(m, datatype, value)
        m = payload.metrics.add(name="gone", datatype=spb.INT32, is_null=True)
        m.properties.keys.append("unit")
        m.properties.values.add(type=spb.STRING, string_value="degC")
        client = publisher(broker)
        client.publish(TOPIC, payload.SerializeToString()).wait_for_publish(5)
        client.publish(TOPIC, b"\xff\xff not a payload").wait_for_publish(5)
        client.publish(TOPIC, payload.SerializeToString()).wait_for_publish(5)
        client.disconnect()
        msgs = subscriber.wait_count(kind("DDATA", "Oven1"), 2)
        got = {m.name: spb.value_of(m) for m in msgs[0].payload.metrics}
        assert got == dict({n: v for n, _, v in cases}, gone=None)
        assert msgs[0].payload.seq == 7
        assert spb.properties(msgs[0].payload.metrics[-1]) == {"unit": "degC"}
        assert len(subscriber.undecodable) == 1

    def test_commands_are_payloads_of_the_named_metrics(self, subscriber):
        subscriber.rebirth()
        subscriber.command("DCMD", [("Recipe.Id", spb.INT32, -7), (3, spb.FLOAT, 2.5)], "Oven1")
        ncmd = subscriber.wait_for(kind("NCMD"))
        assert ncmd.topic == "spBv1.0/Plant1/NCMD/Line1Bridge"
        (rebirth,) = ncmd.payload.metrics
        assert (rebirth.name, rebirth.datatype, rebirth.boolean_value) == (
            "Node Control/Rebirth",
            spb.BOOLEAN,
            True,
        )
        dcmd = subscriber.wait_for(kind("DCMD", "Oven1"))
        by_name, by_alias = dcmd.payload.metrics
        assert (by_name.name, spb.value_of(by_name)) == ("Recipe.Id", -7)
        assert (by_alias.HasField("name"), by_alias.alias, spb.value_of(by_alias)) == (
            False,
            3,
            2.5,
        )

    def test_session_outlives_a_broker_restart(self, broker, subscriber, pb):
        broker.stop()
        broker.start()
        # Published at once, most likely before the subscriber is back:
        # the broker must keep it for the subscriber's session.
        client = publisher(broker)
        for seq in range(3):
            client.publish(TOPIC, pb.Payload(seq=seq).SerializeToString()).wait_for_publish(5)
        client.disconnect()
        msgs = subscriber.wait_count(kind("DDATA"), 3)
        assert [m.payload.seq for m in msgs] == [0, 1, 2]


def test_sim_comes_back_on_its_port(sim):
    s = sim()
    port = s.port
    s.write("Recipe.Id", "77")
    s.stop()
    s.start()
    assert s.port == port
    assert s.read("Recipe.Id") == 42  # a fresh program: the model's value
