"""Subscriptions: deadbands, heartbeats, time stamps, stale values, leaf paths, and ending."""

import asyncio
import json
import os
import signal
import threading
import time
from datetime import datetime, timedelta, timezone

import pytest

from qxsymbols import InvalidValueError, QXSymError, aio


def told_until(sub, done, limit=5.0):
    """The changes a subscription tells until done(changes) holds, within limit seconds."""
    seen, deadline = [], time.monotonic() + limit
    while not done(seen):
        assert time.monotonic() < deadline, f"gave up waiting; told so far: {seen}"
        seen += sub.wait(0.05)
    return seen


def named(name):
    return lambda changes: any(c.name == name for c in changes)


def test_deadband_hides_small_moves_from_the_last_value_told(frozen_sim):
    with frozen_sim.connect(timeout=5) as ws, frozen_sim.connect(timeout=5) as writer:
        writer.write_set({"TotalEnergy": 100.0, "CntInt": 0})
        options = dict(interval=0.01, deadband={"TotalEnergy": 1.0})
        with ws.subscribe(["TotalEnergy", "CntInt"], **options) as sub:
            first = told_until(sub, lambda s: len(s) == 2)
            assert {(c.name, c.value, c.previous) for c in first} == {
                ("TotalEnergy", 100.0, None),
                ("CntInt", 0, None),
            }
            # CntInt has no deadband: once it is told, a poll has seen the small move too.
            writer.write("TotalEnergy", 100.5)
            writer.write("CntInt", 1)
            assert not named("TotalEnergy")(told_until(sub, named("CntInt")))
            # 1.5 from the value told, though only 1.0 from the one polled last.
            writer.write("TotalEnergy", 101.5)
            moved = [c for c in told_until(sub, named("TotalEnergy")) if c.name == "TotalEnergy"]
            assert [(c.value, c.previous, c.status) for c in moved] == [(101.5, 100.0, "good")]


@pytest.mark.parametrize(
    "deadband", [[1.0], {"Nope": 1.0}, "1", {"CntInt": "x"}, [1.0, None]], ids=repr
)
def test_deadbands_must_be_a_number_or_one_per_name(ws, deadband):
    with pytest.raises(InvalidValueError):
        ws.subscribe(["CntInt", "TotalEnergy"], deadband=deadband)


def test_bad_intervals_and_names_are_refused(ws):
    for kw in (dict(interval=0), dict(interval=-1), dict(heartbeat=10**6), dict(interval="x")):
        with pytest.raises(InvalidValueError):
            ws.subscribe(["CntInt"], **kw)
    for names in ("CntInt", [], ["CntInt", "CntInt"]):
        with pytest.raises(InvalidValueError):
            ws.subscribe(names)


def test_heartbeat_retells_still_values_with_rising_utc_stamps(ws):
    with ws.subscribe(["CntInt"], interval=0.01, heartbeat=0.05) as sub:
        told = told_until(sub, lambda s: len(s) >= 4)
    value = told[0].value
    assert [(c.value, c.previous) for c in told] == [(value, None)] + [(value, value)] * (
        len(told) - 1
    )
    stamps = [c.timestamp for c in told]
    assert all(t.utcoffset() == timedelta(0) for t in stamps)
    assert stamps == sorted(stamps) and len(set(stamps)) == len(stamps)
    assert abs(stamps[-1] - datetime.now(timezone.utc)) < timedelta(seconds=5)
    assert any(t.microsecond % 1000 for t in stamps)  # microseconds kept, not milliseconds
    # A heartbeat comes about every 50 ms, not every 10 ms poll.
    assert min(b - a for a, b in zip(stamps, stamps[1:])) >= timedelta(milliseconds=40)


def test_values_go_stale_while_the_controller_is_stopped_and_good_after(start_sim):
    sim = start_sim("--scan", "0")
    with sim.connect(timeout=0.2) as ws, ws.subscribe(["CntInt", "Operator"], 0.02) as sub:
        first = {c.name: c.value for c in told_until(sub, lambda s: len(s) == 2)}
        sim.proc.send_signal(signal.SIGSTOP)
        try:
            stale = told_until(sub, lambda s: len(s) >= 2)
        finally:
            sim.proc.send_signal(signal.SIGCONT)
        assert {c.name: (c.status, c.value) for c in stale} == {
            n: ("stale", v) for n, v in first.items()
        }
        assert all(isinstance(c.result, QXSymError) for c in stale)
        back = told_until(sub, lambda s: len(s) >= 2)
        assert {c.name: (c.status, c.value, c.result) for c in back} == {
            n: ("good", v, None) for n, v in first.items()
        }


def test_arrays_and_structures_expand_to_leaf_paths_by_declared_index(ws):
    with ws.subscribe(["Temps", "Grid", "RecipeBook[2]", "Nope"], interval=0.01) as sub:
        told = told_until(sub, lambda s: len(s) >= 8 + 12 + 3 + 1)
    got = {c.name: c.value for c in told}
    assert [n for n in got if n.startswith("Temps")] == [f"Temps[{i}]" for i in range(1, 9)]
    assert [got[f"Temps[{i}]"] for i in range(1, 9)] == ws.read("Temps")
    grid = [[got[f"Grid[{r},{c}]"] for c in range(4)] for r in range(3)]
    assert grid == ws.read("Grid")
    assert got["RecipeBook[2].Name"] == "Cookies 500g" and got["RecipeBook[2].Id"] == 43
    [nope] = [c for c in told if c.name == "Nope"]
    assert (nope.status, nope.value, nope.result.name) == ("bad", None, "symResSymbolNotFound")


def test_closing_ends_a_loop_on_another_thread_and_with_the_workspace(frozen_sim):
    ws = frozen_sim.connect(timeout=5)
    sub = ws.subscribe(["CntInt"], interval=0.01, heartbeat=0.02)
    seen = []
    loop = threading.Thread(target=lambda: seen.extend(sub))
    loop.start()
    deadline = time.monotonic() + 5
    while not seen and time.monotonic() < deadline:
        time.sleep(0.01)
    sub.close()
    loop.join(5)
    assert not loop.is_alive() and sub.closed and seen
    assert sub.wait(0.05) == [] and list(sub) == []
    other = ws.subscribe(["CntInt"], interval=0.01)
    ws.close()
    assert other.closed and list(other) == []


def test_async_subscription_unsubscribes_when_closed(frozen_sim):
    async def main():
        async with aio.connect("127.0.0.1", frozen_sim.port, timeout=5) as ws:
            changes = ws.subscribe(["CntInt", "Operator"], 0.01, heartbeat=0.03)
            told = [await changes.__anext__() for _ in range(4)]
            [sub] = ws.sync._subscriptions
            await changes.aclose()
            assert sub.closed and await ws.read("Operator") == "Miller"
            assert {c.name for c in told} == {"CntInt", "Operator"}
            assert any(c.previous is not None for c in told)  # heartbeats came

    asyncio.run(asyncio.wait_for(main(), 30))


def test_reconnect_carries_a_subscription_over_a_controller_restart(start_sim):
    sim = start_sim("--scan", "0")
    with sim.connect(timeout=0.3, reconnect=True) as ws, ws.subscribe(["CntInt"], 0.05) as sub:
        assert told_until(sub, named("CntInt"))[0].status == "good"
        sim.proc.kill()
        stale = told_until(sub, lambda s: any(c.status == "stale" for c in s))
        assert stale[-1].name == "CntInt" and stale[-1].result is not None
        with pytest.raises(QXSymError) as lost:
            ws.read("CntInt")
        assert lost.value.name == "symResConnectionLost"
        for _ in range(100):  # the port of a killed program may be refused for a moment
            try:
                start_sim("--scan", "0", port=sim.port)
                break
            except RuntimeError:
                time.sleep(0.05)
        back = told_until(sub, lambda s: any(c.status == "good" for c in s))
        assert back[-1].value == ws.read("CntInt")


def test_program_change_under_a_subscription(start_sim, write_model):
    """The controller loads another program: the changed tag is told with its new type, the
    vanished one bad, and the first write by the old layout is refused."""
    before = {"tags": [{"name": n, "type": "INT", "value": 7} for n in ("Kept", "Moved", "Gone")]}
    path = write_model(before)
    sim = start_sim("--scan", "0", model=path)
    with sim.connect(timeout=2) as ws, ws.subscribe(["Kept", "Moved", "Gone"], 0.02) as sub:
        assert len(told_until(sub, lambda s: len(s) == 3)) == 3
        after = {"tags": [{"name": "Kept", "type": "INT", "value": 1}]}
        after["tags"].append({"name": "Moved", "type": "LREAL", "value": 2.5})
        with open(path + ".new", "w") as f:
            f.write(json.dumps(after))
        os.replace(path + ".new", path)
        sim.proc.send_signal(signal.SIGHUP)
        seen = told_until(sub, lambda s: named("Gone")(s) and named("Moved")(s))
        last = {c.name: c for c in seen}
        assert last["Gone"].status == "bad" and last["Gone"].result is not None
        assert (last["Moved"].status, last["Moved"].value) == ("good", 2.5)
        assert "Kept" not in last  # survived with its value: nothing to tell
        with pytest.raises(InvalidValueError, match="program changed"):
            ws.write("Moved", 4.25)  # told once: it was an INT when last handed out
        ws.write("Moved", 4.25)
        assert ws.read("Moved") == 4.25
