"""Groups read and written in one exchange, and watching values change."""

import pytest

from qxsymbols import InvalidValueError, QXSymError


def test_group_read_and_write(ws):
    names = ["CntInt", "Line.Speed", "Operator", "Recipe", "Temps[2]"]
    with ws.group(names) as g:
        values = g.read()
        assert list(values) == names
        assert values["CntInt"] == ws.read("CntInt") and values["Recipe"] == ws.read("Recipe")
        values.update({"CntInt": -7, "Line.Speed": 0.5, "Operator": "Jones", "Temps[2]": 99.0})
        values["Recipe"]["Id"] = 5
        g.write(values)
        # Read back one by one, not through the group.
        assert [ws.read(n) for n in names] == [values[n] for n in names]


def test_group_write_before_any_read(ws):
    with ws.group(["CntUint", "StatusWord"]) as g:
        g.write({"CntUint": 1, "StatusWord": 2})
    assert (ws.read("CntUint"), ws.read("StatusWord")) == (1, 2)


def test_group_refuses_what_it_cannot_move_whole(ws):
    with ws.group(["CntInt", "CntUint"]) as g:
        before = g.read()
        for bad in (
            {"CntInt": 1},
            {"CntInt": 1, "CntUint": -1},
            {"CntInt": 1, "CntUint": 1, "X": 1},
        ):
            with pytest.raises(InvalidValueError):
                g.write(bad)
        assert g.read() == before
    with pytest.raises(QXSymError):
        g.read()  # closed
    with ws.group(["Temps", "Grid[2,1]"]) as g:  # a whole array travels with the rest
        values = g.read()
        assert values == {"Temps": ws.read("Temps"), "Grid[2,1]": ws.read("Grid[2,1]")}
        assert len(values["Temps"]) == 8
    with pytest.raises(InvalidValueError):
        ws.group(["CntInt", "CntInt"])


def test_watch_reports_simulated_changes(start_sim):
    sim = start_sim("--scan", "20")
    with sim.connect() as ws:
        changes = []
        for change in ws.watch(["CntDint", "Operator"], interval=0.02):
            changes.append(change)
            if len([c for c in changes if c.name == "CntDint"]) == 3:
                break
        first = [c for c in changes if c.previous is None]
        assert sorted(c.name for c in first) == ["CntDint", "Operator"]
        counts = [c for c in changes if c.name == "CntDint"]
        # The counter steps by 10 each scan; every report is a real change.
        for before, after in zip(counts, counts[1:]):
            assert after.previous == before.value and after.value != before.value
            assert (after.value - before.value) % 10 == 0
        assert all(c.name == "CntDint" for c in changes if c.previous is not None)
        assert not ws._groups  # the watch's group is gone once the loop is left
