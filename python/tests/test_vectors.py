"""The shared value vectors (tests/vectors/values.json) through the package.

Tag-level cases run in file order on one qxsym-sim with the vectors' model;
the short-reply cases on one started with that fault. Leaf cases run as
round trips on tags of each leaf type in a model made here, their bytes put
in and taken out with the library's own value functions (an oracle beside
the package, not through it).
"""

import ctypes
import json
import math
import struct
from pathlib import Path

import pytest

import qxsymbols
from qxsymbols import QXSymError, _lib
from qxsymbols.types import from_python

VECTORS = Path(__file__).resolve().parents[2] / "tests" / "vectors"
TABLE = json.loads((VECTORS / "values.json").read_text(encoding="utf-8"))
MODEL = str(VECTORS / TABLE["model"])
ENCODINGS = {None: "latin-1", "latin1": "latin-1", "utf8": "utf-8", "windows1252": "windows-1252"}
TYVARS = dict(
    BOOL=1,
    SINT=2,
    USINT=3,
    BYTE=4,
    INT=5,
    UINT=6,
    WORD=7,
    DINT=9,
    UDINT=10,
    DWORD=11,
    LINT=12,
    ULINT=13,
    LWORD=14,
    REAL=15,
    LREAL=16,
    STRING=17,
)
WIDTHS = dict(
    BOOL=1,
    SINT=1,
    USINT=1,
    BYTE=1,
    INT=2,
    UINT=2,
    WORD=2,
    DINT=4,
    UDINT=4,
    DWORD=4,
    LINT=8,
    ULINT=8,
    LWORD=8,
    REAL=4,
    LREAL=8,
)
assert TABLE["format"] == 1


class Oracle:
    """Raw bytes of a tag through the library's value functions."""

    def __init__(self, port):
        self.lib = lib = _lib.library()  # the library's functions resolve through the core
        assert lib.QXSym_Init() == 0
        self.ws = ctypes.c_int()
        addr = _lib.ServerAddress(0, b"127.0.0.1", port, 5000)
        assert lib.QXSym_OpenWorkspace(0, ctypes.byref(addr), ctypes.byref(self.ws)) == 0

    def _tag(self, path, size_of="QXSym_GetTagDataSize"):
        h, size = ctypes.c_int(), ctypes.c_uint32()
        assert (
            self.lib.QXSym_GetGlobalTag(self.ws, path.encode("utf-8"), ctypes.byref(h)) == 0
        ), path
        assert getattr(self.lib, size_of)(h, ctypes.byref(size)) == 0
        return h, size.value

    def get(self, path):
        # The whole memory of the tag (an array's value calls give one element).
        h, size = self._tag(path, "QXSym_GetTagDataFullSize")
        buf = ctypes.create_string_buffer(size)
        assert self.lib.QXSym_GetTagRawValue_Ptr(h, buf, size) == 0
        self.lib.QXSym_CloseTag(h)
        return buf.raw

    def set(self, path, data):
        # Raw: the value call ends a text that fills the tag with a zero.
        h, size = self._tag(path, "QXSym_GetTagDataFullSize")
        assert size == len(data) and self.lib.QXSym_SetTagRawValue_Ptr(h, data, size) == 0
        self.lib.QXSym_CloseTag(h)

    def close(self):
        self.lib.QXSym_CloseWorkspace(self.ws)


class Sessions(dict):
    """One workspace per encoding on one simulator."""

    def __init__(self, sim):
        super().__init__()
        self.sim = sim

    def __missing__(self, encoding):
        self[encoding] = self.sim.connect(timeout=5, encoding=ENCODINGS[encoding])
        return self[encoding]

    def close(self):
        for ws in self.values():
            ws.close()


def typed(v):
    ((kind, x),) = v.items()
    if kind in ("signed", "unsigned"):
        return int(x)
    if kind == "float":
        return (
            float(x.replace("-0", "-0.0") if x == "-0" else x) if isinstance(x, str) else float(x)
        )
    if kind == "bytes":
        return bytes.fromhex(x)
    return x


def same(expected, got):
    ((kind, _),) = expected.items()
    want = typed(expected)
    kinds = dict(bool=bool, signed=int, unsigned=int, float=float, text=str, bytes=bytes)
    if type(got) is not kinds[kind]:
        return False
    if kind == "float":
        return (
            math.isnan(got)
            if math.isnan(want)
            else struct.pack("<d", got) == struct.pack("<d", want)
        )
    return got == want


def shown(value):
    v, keep, text = _lib.Value(), [], ctypes.c_char_p()
    from_python(value, v, keep, "shown")
    assert _lib.library().QXSymCore_FormatValue(ctypes.byref(v), ctypes.byref(text)) == 0
    return text.value.decode("utf-8")


def labels(dims, lower):
    out = [()]
    for d, lo in zip(dims, lower):
        out = [t + (lo + i,) for t in out for i in range(d)]
    return ["[" + ",".join(map(str, t)) + "]" for t in out]


def flat(value, depth):
    return [x for row in value for x in flat(row, depth - 1)] if depth else [value]


def leaves_of(t, value, path):
    """Leaf path -> value, from a read and the type the package describes."""
    if t.kind == "struct":
        for m in t.members:
            yield from leaves_of(m.type, value[m.name], f"{path}.{m.name}")
    elif t.kind == "array":
        for label, v in zip(labels(t.dims, t.lower), flat(value, len(t.dims))):
            yield from leaves_of(t.element, v, path + label)
    else:
        yield path, value


def expect_error(case, err):
    assert "error" in case, f"unexpected {err}"
    assert err.name == case["error"], (case, err)
    for piece in case.get("message", []):
        assert piece in str(err), (piece, str(err))


def read_leaves(ws, path):
    return dict(leaves_of(ws.type(path), ws.read(path), path))


def check_leaves(want, got, exact):
    if exact:
        assert list(got) == list(want)
    for p, v in want.items():
        assert same(v, got[p]), (p, v, got.get(p))


def as_write(path, value):
    """The case's leaf paths as the package takes them: sub-paths of path."""
    if list(value) == [path]:
        return typed(value[path])
    out = {}
    for key, v in value.items():
        rel = key[len(path) :] if key.lower().startswith(path.lower()) else "." + key
        out[rel.lstrip(".") if rel.startswith(".") else rel] = typed(v)
    return out


def run_tag_case(case, sessions, oracle):
    ws = sessions[case.get("encoding")]
    op = case["op"]
    if op == "read":
        try:
            got = read_leaves(ws, case["path"])
        except QXSymError as e:
            return expect_error(case, e)
        assert "error" not in case, case
        check_leaves(case["leaves"], got, True)
    elif op == "read_set":
        got = ws.read_set(case["paths"], return_errors=True)
        for path, want in zip(case["paths"], case["results"]):
            if "error" in want:
                expect_error(want, got[path])
            else:
                assert not isinstance(got[path], QXSymError), (path, got[path])
                check_leaves(want["leaves"], dict(leaves_of(ws.type(path), got[path], path)), True)
    elif op == "layout":
        layout = ws._describe(case["path"])
        leaves = []
        for n in range(layout.leaf_count):
            lf = layout.leaves[n]
            name = lf.path.decode("utf-8")
            if lf.num_dims:
                for k, label in enumerate(labels(lf.dims[: lf.num_dims], lf.lower[: lf.num_dims])):
                    leaves.append(
                        [name + label, lf.offset + k * lf.element_size, lf.element_size, lf.tyvar]
                    )
            else:
                leaves.append([name, lf.offset, lf.size, lf.tyvar])
        want = [[x["path"], x["offset"], x["size"], TYVARS[x["type"]]] for x in case["leaves"]]
        assert leaves == want
        if "bounds" in case:
            t = ws.type(case["path"])
            assert [[lo, lo + d - 1] for lo, d in zip(t.lower, t.dims)] == case["bounds"]
    else:
        assert op == "write", case
        path = case["path"]
        try:
            ws.write(path, as_write(path, case["value"]))
            assert "error" not in case, case
        except QXSymError as e:
            expect_error(case, e)
        if "raw" in case:
            assert oracle.get(path).hex().upper() == case["raw"]
        if "then" in case:
            check_leaves(case["then"], read_leaves(ws, case.get("read", path)), False)


TAG_CASES = [(g["group"], i, c) for g in TABLE["tag"] for i, c in enumerate(g["cases"])]


@pytest.fixture(scope="module")
def tag_runs():
    from conftest import Sim

    plain, faulty = Sim("--scan", "0", model=MODEL), Sim(
        "--scan", "0", "--short-reply", model=MODEL
    )
    runs = {False: (Sessions(plain), Oracle(plain.port)), True: (Sessions(faulty), None)}
    yield runs
    for sessions, oracle in runs.values():
        sessions.close()
        if oracle:
            oracle.close()
    plain.stop()
    faulty.stop()


@pytest.mark.parametrize("group,index,case", TAG_CASES, ids=[f"{g}#{i}" for g, i, _ in TAG_CASES])
def test_tag_case(tag_runs, group, index, case):
    sessions, oracle = tag_runs["fault" in case]
    run_tag_case(case, sessions, oracle)


# ---- leaf cases ---------------------------------------------------------------


def _leaf_size(case):
    if case["op"] == "decode":
        return len(bytes.fromhex(case["bytes"]))
    return case.get("size", WIDTHS.get(case["type"]))


def _leaf_skip(case):
    """Why a leaf case cannot run as a tag of the simulator, or None."""
    size = _leaf_size(case)
    if case["type"] not in TYVARS:
        return "no tag of this type can be declared"
    if case["type"] == "STRING":
        return None if size >= 2 else "a STRING tag holds a character and its terminator at least"
    return None if size == WIDTHS[case["type"]] else "a tag has its type's width"


LEAF_CASES = [(g["group"], i, c) for g in TABLE["leaf"] for i, c in enumerate(g["cases"])]
RUNNABLE = [t for t in LEAF_CASES if _leaf_skip(t[2]) is None]


def _leaf_tag(case):
    size = _leaf_size(case)
    return f"L_{case['type']}_{size}", (
        f"STRING[{size - 1}]" if case["type"] == "STRING" else case["type"]
    )


@pytest.fixture(scope="module")
def leaf_runs(tmp_path_factory):
    from conftest import Sim

    tags = dict(_leaf_tag(c) for _, _, c in RUNNABLE)
    path = tmp_path_factory.mktemp("leaf") / "model.json"
    path.write_text(json.dumps({"tags": [{"name": n, "type": t} for n, t in tags.items()]}))
    sim = Sim("--scan", "0", model=str(path))
    runs = (Sessions(sim), Oracle(sim.port))
    yield runs
    runs[0].close()
    runs[1].close()
    sim.stop()


def _parsed(case):
    v, message = _lib.Value(), ctypes.c_char_p()
    rc = _lib.library().QXSymCore_ParseLeafText(
        TYVARS[case["type"]], case["input"].encode("utf-8"), ctypes.byref(v), ctypes.byref(message)
    )
    if rc:
        raise qxsymbols.errors.error_for(rc, message.value.decode("utf-8"))
    from qxsymbols.types import to_python

    return to_python(v)


def test_leaf_cases_mostly_run():
    assert len(RUNNABLE) > 0.9 * len(LEAF_CASES) and len(LEAF_CASES) > 200


@pytest.mark.parametrize(
    "group,index,case",
    [pytest.param(*t) for t in RUNNABLE],
    ids=[f"{g}#{i}" for g, i, _ in RUNNABLE],
)
def test_leaf_case(leaf_runs, group, index, case):
    sessions, oracle = leaf_runs
    ws, (tag, _) = sessions[case.get("encoding")], _leaf_tag(case)
    op = case["op"]
    if op in ("decode", "both"):
        oracle.set(tag, bytes.fromhex(case["bytes"]))
        got = ws.read(tag)
        assert same(case["value"], got), (got, case["value"])
        if "shown" in case:
            assert shown(got) == case["shown"]
    if op in ("encode", "both", "parse"):
        oracle.set(tag, bytes(_leaf_size(case)))
        try:
            ws.write(tag, _parsed(case) if op == "parse" else typed(case["value"]))
        except QXSymError as e:
            expect_error(case, e)
            assert oracle.get(tag) == bytes(_leaf_size(case))  # nothing written
            return
        assert "error" not in case, case
        assert oracle.get(tag).hex().upper() == case["bytes"]
