"""An MQTT client that records every Sparkplug message under spBv1.0/# and
sends node and device commands."""

import ssl
import threading
import time
from typing import Callable, List, NamedTuple, Optional

import paho.mqtt.client as mqtt

import spb


class Message(NamedTuple):
    topic: str
    kind: str  # NBIRTH, DDATA, ...
    device: Optional[str]
    payload: object  # the decoded Payload
    time: float  # time.time() on receipt
    raw: bytes


def parse_topic(topic: str):
    """(group, kind, node, device) of a Sparkplug topic; device None for the node's."""
    parts = topic.split("/")
    if len(parts) not in (4, 5) or parts[0] != "spBv1.0":
        return None
    return parts[1], parts[2], parts[3], parts[4] if len(parts) == 5 else None


def kind(name: str, device: Optional[str] = None) -> Callable[[Message], bool]:
    """A predicate: messages of type @p name (and of @p device when given)."""
    return lambda m: m.kind == name and (device is None or m.device == device)


class Subscriber:
    """Records (topic, payload, time) of every message; its session survives
    a broker restart, so what arrives while it reconnects is kept for it."""

    def __init__(self, broker, pb, tls=False, group="Plant1", node="Line1Bridge") -> None:
        self.pb, self.group, self.node = pb, group, node
        self.messages: List[Message] = []
        self.undecodable: List[tuple] = []
        self.redelivered = 0  # copies the broker sent again after its restart
        self._cond = threading.Condition()
        self._subscribed = threading.Event()
        client = mqtt.Client(client_id="qxsym-e2e-subscriber", clean_session=False)
        client.username_pw_set(broker.user, broker.password)
        if tls:
            client.tls_set_context(ssl.create_default_context(cafile=str(broker.certs.ca)))
        client.reconnect_delay_set(min_delay=0.05, max_delay=0.5)
        client.on_connect = self._on_connect
        client.on_subscribe = lambda *a: self._subscribed.set()
        client.on_message = self._on_message
        client.connect("127.0.0.1", broker.tls_port if tls else broker.port, keepalive=10)
        client.loop_start()
        self.client = client
        if not self._subscribed.wait(10):
            self.close()
            raise RuntimeError("the subscriber did not get its subscription acknowledged")

    def _on_connect(self, client, userdata, flags, rc) -> None:
        if rc == 0:
            client.subscribe("spBv1.0/#", qos=1)

    def _on_message(self, client, userdata, msg) -> None:
        now = time.time()
        parts = parse_topic(msg.topic)
        try:
            payload = self.pb.Payload.FromString(msg.payload)
        except Exception as e:  # the bridge sent bytes that are not a payload
            with self._cond:
                self.undecodable.append((msg.topic, msg.payload, str(e)))
            return
        kind_name, device = (parts[1], parts[3]) if parts else ("?", None)
        with self._cond:
            # The broker sends again what this client may not have
            # acknowledged before the broker stopped (at least once, flagged
            # dup): a copy of what arrived already is not news from the bridge.
            if msg.dup and any(
                m.raw == msg.payload and m.topic == msg.topic for m in self.messages
            ):
                self.redelivered += 1
                return
            self.messages.append(Message(msg.topic, kind_name, device, payload, now, msg.payload))
            self._cond.notify_all()

    def close(self) -> None:
        self.client.disconnect()
        self.client.loop_stop()

    def mark(self) -> int:
        """The number of messages so far: pass it as `since` to look only later."""
        with self._cond:
            return len(self.messages)

    def select(self, pred=None, since: int = 0) -> List[Message]:
        with self._cond:
            return [m for m in self.messages[since:] if pred is None or pred(m)]

    def wait_for(self, pred, timeout: float = 10.0, since: int = 0) -> Message:
        """The first message from index @p since on that matches @p pred."""
        return self.wait_count(pred, 1, timeout, since)[0]

    def wait_count(self, pred, count: int, timeout: float = 10.0, since: int = 0):
        """The first @p count messages from @p since on that match @p pred."""
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                found = [m for m in self.messages[since:] if pred(m)]
                if len(found) >= count:
                    return found[:count]
                left = deadline - time.monotonic()
                if left <= 0:
                    seen = ", ".join(f"{m.kind}/{m.device}" for m in self.messages[since:][-20:])
                    raise AssertionError(
                        f"{count} matching message(s) not seen in {timeout} s "
                        f"(got {len(found)}; last ones: {seen or 'none'})"
                    )
                self._cond.wait(left)

    def command(self, name: str, metrics, device: Optional[str] = None) -> None:
        """Publishes an NCMD (or a DCMD to @p device) of (key, datatype, value) metrics."""
        topic = f"spBv1.0/{self.group}/{name}/{self.node}" + (f"/{device}" if device else "")
        info = self.client.publish(topic, spb.build_payload(self.pb, metrics), qos=0)
        info.wait_for_publish(5)

    def rebirth(self) -> None:
        self.command("NCMD", [("Node Control/Rebirth", spb.BOOLEAN, True)])
