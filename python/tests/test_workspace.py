"""Opening, tag lists, errors of each family, and finding the library."""

import gc
import os
import pickle
import signal
import time
import socket
import subprocess
import sys
import threading
from pathlib import Path

import pytest

import qxsymbols
from qxsymbols._lib import library
from qxsymbols import (
    ConnectionLostError,
    InvalidValueError,
    NotFoundError,
    QXSymError,
    QXSymTimeoutError,
    ReadOnlyError,
)


def test_version_and_filtered_tags(ws):
    assert ws.version == (3, 0, 1, 0) and str(ws.version) == "3.0.1.0" and ws.full_support
    assert ws.tags("Cnt*") == [
        "CntSint",
        "CntUsint",
        "CntInt",
        "CntUint",
        "CntDint",
        "CntUdint",
        "CntLint",
        "CntUlint",
    ]
    assert ws.tags("status????") == ["StatusByte", "StatusWord"]
    assert len(ws.tags()) == 32 and ws.tags("NoSuch*") == []


def test_old_service_is_flagged(start_sim):
    with start_sim("--version", "3.0.0.7").connect() as ws:
        assert not ws.full_support and ws.version == (3, 0, 0, 7)


def test_tag_list_is_complete_beyond_what_one_reply_holds(start_sim, write_model):
    # 1300 tags; the service lists at most 500 at once.
    names = [f"T{i:04d}" for i in range(1200)] + [f"Flag_{i}" for i in range(100)]
    model = {"tags": [{"name": n, "type": "BOOL"} for n in names]}
    with start_sim(model=write_model(model)).connect() as ws:
        all_tags = ws.tags()
        assert len(all_tags) == 1300 and sorted(all_tags) == sorted(names)
        assert sorted(ws.tags("T0*")) == names[:1000]
        assert sorted(ws.tags("Flag_?")) == [f"Flag_{i}" for i in range(10)]
        assert len(ws.tags("T1???")) == 200


def test_error_families(start_sim, ws):
    with pytest.raises(NotFoundError) as e:
        ws.read("NoSuchTag")
    assert (e.value.code, e.value.name) == (6, "symResSymbolNotFound")
    assert isinstance(e.value, LookupError) and "NoSuchTag" in str(e.value)
    copy = pickle.loads(pickle.dumps(e.value))
    assert (type(copy), copy.code, str(copy)) == (NotFoundError, 6, str(e.value))
    with pytest.raises(NotFoundError):
        ws.read("Line.NoSuchMember")
    with pytest.raises(ReadOnlyError) as e:
        ws.write("SerialNumber", "forged")
    assert e.value.name == "symResReadOnlyTag" and ws.read("SerialNumber") == "QX-2024-000815"

    slow = start_sim("--delay", "1500")
    with pytest.raises(QXSymTimeoutError) as e:
        slow.connect(timeout=0.2)
    assert e.value.code == 13 and isinstance(e.value, TimeoutError)

    lost = start_sim()
    lw = lost.connect(timeout=2)
    lw.read("CntInt")
    lost.stop()
    with pytest.raises(ConnectionLostError) as e:
        lw.read("CntInt")
    assert isinstance(e.value, ConnectionError)
    lw.close()

    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()  # nothing listens there now
    with pytest.raises(ConnectionLostError):
        qxsymbols.connect("127.0.0.1", port, timeout=1)


def test_silent_controller_is_reported_as_not_answering():
    # The system completes the connections of a listener that nobody
    # accepts: a controller that takes the connection and stays silent.
    with socket.socket() as silent:
        silent.bind(("127.0.0.1", 0))
        silent.listen(4)
        with pytest.raises(ConnectionLostError) as e:
            qxsymbols.connect("127.0.0.1", silent.getsockname()[1], timeout=0.2)
    assert e.value.name == "symResSocketError"
    assert "the controller does not answer" in str(e.value)

    # One that closes the connection at once is not silent.
    with socket.socket() as closing:
        closing.bind(("127.0.0.1", 0))
        closing.listen(4)
        accepter = threading.Thread(target=lambda: closing.accept()[0].close())
        accepter.start()
        with pytest.raises(QXSymError) as e:
            qxsymbols.connect("127.0.0.1", closing.getsockname()[1], timeout=5)
        accepter.join()
    assert "does not answer" not in str(e.value)


@pytest.mark.parametrize(
    "kw",
    [
        dict(host="127.0.0.1", port=0),
        dict(host="127.0.0.1", port=70000),
        dict(host="127.0.0.1", port=1, timeout=66),
        dict(host="127.0.0.1", port=1, timeout=0),
        dict(host="h" * 60, port=1),
        dict(host="127.0.0.1", port=1, timeout=float("nan")),
    ],
)
def test_bad_connect_arguments_are_refused(kw):
    with pytest.raises(InvalidValueError):
        qxsymbols.connect(**kw)


def test_closed_workspace_answers_invalid_handle(frozen_sim):
    ws = frozen_sim.connect()
    ws.read("CntInt")
    ws.close()
    ws.close()
    with pytest.raises(QXSymError) as e:
        ws.read("CntInt")
    assert e.value.name == "symResInvalidHandle"


def test_dropped_workspace_gives_its_connection_back(frozen_sim):
    ws = frozen_sim.connect()
    ws.group(["CntInt"])  # left open as well
    handle = ws._handle
    del ws
    gc.collect()
    assert library().QXSymCore_Close(handle) == 4  # already closed


@pytest.mark.parametrize("name", ["", "x" * 260, "a\0b", 5, "\ud800"])
def test_unsendable_names_are_refused(ws, name):
    with pytest.raises(InvalidValueError):
        ws.read(name)


def test_sets_too_large_for_one_call_are_refused_whole(ws):
    with pytest.raises(InvalidValueError):
        ws.read_set(["CntInt"] * 65537)
    with pytest.raises(InvalidValueError):
        ws.write_set({f"Temps[{i}]": 1.0 for i in range(65537)})
    assert ws.read("CntInt") == ws.read_set(["CntInt"])["CntInt"]


def test_names_the_encoding_cannot_spell_name_no_tag(ws):
    with pytest.raises(NotFoundError):
        ws.read("Caf\u00e9\u20ac")


def test_missing_library_is_reported_clearly(tmp_path):
    env = dict(os.environ, QXSYMBOLS_LIBRARY=str(tmp_path / "nowhere.so"), LD_LIBRARY_PATH="")
    code = (
        "import qxsymbols\n"
        "try:\n    qxsymbols.connect('127.0.0.1', 1)\n"
        "except qxsymbols.LibraryNotFoundError as e:\n    print(e)\n"
    )
    out = subprocess.run(
        [sys.executable, "-c", code],
        env=env,
        cwd=Path(qxsymbols.__file__).parent.parent,
        capture_output=True,
        text=True,
        timeout=30,
    )
    assert "QXSYMBOLS_LIBRARY" in out.stdout and "nowhere.so: no such file" in out.stdout


def test_repeated_reads_and_writes_cost_one_exchange_each(ws):
    # Described once in the session: afterwards one exchange per call.
    recipe = ws.read("Recipe")
    ws.write("Recipe", recipe)
    ws.write("Recipe", {"id": recipe["Id"]})
    temps = ws.read("Temps")
    before = ws.exchanges
    assert ws.read("Recipe") == recipe and ws.read("Temps") == temps
    ws.write("Recipe", recipe)
    ws.write("Recipe", {"id": recipe["Id"]})
    assert ws.exchanges - before == 4
    with ws.group(["CntInt", "Recipe", "Temps"]) as g:
        g.read()
        before = ws.exchanges
        g.read()
        assert ws.exchanges - before == 1


def test_close_does_not_wait_on_a_silent_controller_for_every_tag(start_sim):
    sim = start_sim("--scan", "0")
    ws = sim.connect(timeout=0.3)
    for i in range(1, 9):
        ws.read(f"Temps[{i}]")
    with ws.group(["CntInt", "CntUint"]):
        sim.proc.send_signal(signal.SIGSTOP)  # the controller stops answering
        try:
            started = time.monotonic()
            ws.close()  # the group, eight tags and the workspace: 11 releases
            elapsed = time.monotonic() - started
        finally:
            sim.proc.send_signal(signal.SIGCONT)
    assert ws.closed
    assert elapsed < 1.5, f"close took {elapsed:.1f} s with a 0.3 s time-out"


def test_tags_carry_type_size_flags_and_on_request_texts(ws):
    door, line, serial = ws.tags("DoorClosed") + ws.tags("Line") + ws.tags("SerialNumber")
    assert (door.type, door.size, door.read_only, door.bit_address, door.description) == (
        "BOOL",
        1,
        False,
        True,
        None,
    )
    assert (line.name, line.type, serial.read_only) == ("Line", "LINE", True)
    [line] = ws.tags("Line", descriptions=True, attributes=["plc", "unit"])
    assert line.description == "Packaging conveyor line" and line.attributes == {"plc": "PLC01"}
    assert ws.tag_names("Door*") == ["DoorClosed"] and type(ws.tag_names("Door*")[0]) is str
    names = ws.tag_names()
    assert sorted(ws.tags()) == sorted(names) and len(names) == len(set(names))
