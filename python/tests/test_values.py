"""Values of every basic type, structures, function blocks and arrays."""

import math

import pytest

import qxsymbols
from qxsymbols import InvalidValueError, NotFoundError

# Declared values of the demo model, each of a different width and sign.
MODEL_VALUES = {
    "EStopOk": True,
    "CntInt": -12345,
    "CntUint": 54321,
    "CntUdint": 4000000000,
    "CntLint": -9000000000000000000,
    "CntUlint": 18000000000000000000,
    "StatusByte": 165,
    "StatusWord": 4660,
    "StatusDword": 305419896,
    "StatusLword": 1311768467463790320,
    "TotalEnergy": 123456.789,
    "SerialNumber": "QX-2024-000815",
    "Operator": "Miller",
    "Grid": [[1, 2, 3, 4], [5, 6, 7, 8], [9, 10, 11, 12]],
    "Heatmap[2,3,4]": 24.5,
    "Line.Outfeed.FaultCode": 4660,
    "Recipe.StepTemps": [120, 150, 170, 185, 185],
}


def test_reads_decode_the_model_values(start_sim):
    with start_sim("--scan", "0").connect() as ws:
        got = {name: ws.read(name) for name in MODEL_VALUES}
        assert got == MODEL_VALUES
        assert ws.read("Heatmap")[1][2] == [21.5, 22.5, 23.5, 24.5]
        assert isinstance(got["EStopOk"], bool) and isinstance(got["CntUlint"], int)


# tag, extreme values of its type
ROUND_TRIPS = [
    ("DoorClosed", [False, True]),
    ("CntSint", [-128, 127]),
    ("CntUsint", [0, 255]),
    ("StatusByte", [0, 255]),
    ("CntInt", [-32768, 32767]),
    ("CntUint", [0, 65535]),
    ("StatusWord", [0, 65535]),
    ("CntDint", [-(2**31), 2**31 - 1]),
    ("CntUdint", [0, 2**32 - 1]),
    ("StatusDword", [0, 2**32 - 1]),
    ("CntLint", [-(2**63), 2**63 - 1]),
    ("CntUlint", [0, 2**64 - 1]),
    ("StatusLword", [0, 2**64 - 1]),
    ("Line.Speed", [-1.5, 3.4028235e38, 0.1]),  # a REAL reads as its shortest decimal
    ("TotalEnergy", [-1e300, 5e-324]),
    ("Operator", ["", "x" * 80, "Müller"]),
]


@pytest.mark.parametrize("name,values", ROUND_TRIPS, ids=[n for n, _ in ROUND_TRIPS])
def test_basic_round_trip(ws, name, values):
    for v in values:
        ws.write(name, v)
        assert ws.read(name) == v


def test_real_keeps_nan_and_infinity(ws):
    ws.write("Temps[8]", float("inf"))
    assert ws.read("Temps[8]") == float("inf")
    ws.write("Temps[8]", float("nan"))
    assert math.isnan(ws.read("Temps[8]"))


# tag, value that does not fit its type
OUT_OF_RANGE = [
    ("CntSint", -129),
    ("CntUsint", 256),
    ("CntUlint", -1),
    ("CntLint", 2**63),
    ("StatusWord", 65536),
    ("Line.Speed", 1e39),
    ("Operator", "x" * 81),
    ("Operator", "\u20ac"),
    ("Operator", "a\0b"),
    ("DoorClosed", 2),
    ("CntInt", "5"),
    ("CntInt", 1.5),
    ("Line.Speed", "fast"),
    ("Grid", [[1, 2, 3, 4], [5, 6, 7, 8]]),
    ("Grid", [[1, 2, 3, 4], [5, 6, 7, 8], [9, 10, 11, 70000]]),
    ("Recipe", [1, 2]),
]


@pytest.mark.parametrize(
    "call",
    [
        lambda ws: ws.write("CntInt", None),
        lambda ws: ws.write("CntInt", object()),
        lambda ws: ws.write("CntInt", 2**64),
        lambda ws: ws.write("Temps", {"[3]": "warm"}),
        lambda ws: ws.write("Recipe", {"StepTemps": [1, 2]}),
        lambda ws: ws.write_set(["CntInt", 1]),
        lambda ws: ws.read_set("CntInt"),
        lambda ws: ws.read_set([]),
        lambda ws: ws.group("CntInt"),
        lambda ws: ws.tags(5),
        lambda ws: ws.group(["CntInt"]).write([("CntInt", 1)]),
    ],
)
def test_wrong_argument_types_are_refused(ws, call):
    before = ws.read_set(["CntInt", "Temps", "Recipe"])
    with pytest.raises(InvalidValueError):
        call(ws)
    assert repr(ws.read_set(["CntInt", "Temps", "Recipe"])) == repr(before)


@pytest.mark.parametrize("name,value", OUT_OF_RANGE)
def test_values_that_do_not_fit_are_refused_before_sending(ws, name, value):
    before = ws.read(name)
    with pytest.raises(InvalidValueError) as err:
        ws.write(name, value)
    assert err.value.code == 5 and isinstance(err.value, ValueError)
    assert ws.read(name) == before


def test_unknown_members_name_no_tag_and_nothing_is_written(ws):
    before = ws.read("Recipe")
    with pytest.raises(NotFoundError) as err:
        ws.write("Recipe", {"Id": before["Id"] + 1, "NoSuchMember": 2})
    assert "NoSuchMember" in str(err.value) and ws.read("Recipe") == before


def _leaves(value, path):
    if isinstance(value, dict):
        for k, v in value.items():
            yield from _leaves(v, f"{path}.{k}")
    else:
        yield path, value


@pytest.mark.parametrize("name", ["Line", "Recipe"])
def test_structure_layout_agrees_with_member_paths(ws, name):
    # The whole value is decoded from one raw read with the layout derived
    # here; each member read by its path is placed by the controller.
    whole = ws.read(name)
    for path, value in _leaves(whole, name):
        assert ws.read(path) == value, path


def test_structure_writes_whole_and_partial(ws):
    recipe = ws.read("Recipe")
    recipe.update(Name="Rye 1kg", Id=77, StepTemps=[1, 2, 3, 4, 5])
    ws.write("Recipe", recipe)
    assert ws.read("Recipe.Name") == "Rye 1kg" and ws.read("Recipe.StepTemps") == [1, 2, 3, 4, 5]
    # A dict with some members writes only those (keys without regard to case).
    ws.write("Recipe", {"id": 78})
    assert ws.read("Recipe") == dict(recipe, Id=78)
    # Function blocks inside a structure.
    ws.write("Line", {"Main": {"SetSpeed": 1234.5, "Enable": False}})
    assert ws.read("Line.Main.SetSpeed") == 1234.5 and ws.read("Line.Main.Enable") is False


def test_arrays_nested_flat_and_of_structures(ws):
    ws.write("Grid", list(range(12)))  # flat, row order
    assert ws.read("Grid") == [[0, 1, 2, 3], [4, 5, 6, 7], [8, 9, 10, 11]]
    assert ws.read("Grid[1,2]") == 6
    book = ws.read("RecipeBook")
    assert [r["Id"] for r in book] == [42, 43, 44]
    book[2]["Name"] = "Wafers"
    ws.write("RecipeBook", book)
    assert ws.read("RecipeBook[3].Name") == "Wafers"
    spares = ws.read("Spares")
    assert len(spares) == 2 and spares[0]["SetSpeed"] == 1450.0


def test_type_descriptions(ws):
    t = ws.type("Recipe")
    assert (t.name, t.kind, t.size) == ("RECIPE", "struct", 64)
    assert [m.name for m in t.members] == [
        "Name",
        "Id",
        "OvenTemp",
        "BeltSpeed",
        "DwellTime",
        "StepTemps",
    ]
    steps = t.members[-1]
    assert steps.offset == 52 and steps.type.dims == (5,) and steps.type.element.name == "INT"
    assert ws.type("Line.Main").kind == "function_block"
    assert ws.type("Heatmap").as_dict()["dims"] == [2, 3, 4]
    temps = ws.type("Temps")
    assert (temps.dims, temps.lower, temps.element.kind) == ((8,), (1,), "float")
    assert (ws.type("CntUint").kind, ws.type("StatusWord").kind, ws.type("Operator").kind) == (
        "uint",
        "uint",
        "string",
    )


def test_function_blocks_are_told_from_structures_with_their_properties(ws):
    # LINE is declared a STRUCT holding three drives of the FUNCTION_BLOCK MOTOR;
    # Spares is an array of MOTOR.
    line, main, spares = ws.type("Line"), ws.type("Line.Main"), ws.type("Spares")
    assert (line.kind, main.kind, main.name) == ("struct", "function_block", "MOTOR")
    assert {"complex", "struct"} <= line.properties and "function_block" not in line.properties
    assert {"complex", "function_block"} <= main.properties and "struct" not in main.properties
    drives = [m for m in line.members if m.type.name == "MOTOR"]
    assert [m.name for m in drives] == ["Infeed", "Main", "Outfeed"]
    assert all(m.type.kind == "function_block" and len(m.type.members) == 9 for m in drives)
    assert (spares.kind, spares.element.kind) == (
        "array",
        "function_block",
    ) and "array" in spares.properties
    assert (
        spares.as_dict()["element"]["kind"] == "function_block"
        and ws.type("Spares[2]") == spares.element
    )
    assert "function_block" in spares.as_dict()["element"]["properties"]


GAPPY = {
    "types": [
        {
            "name": "GAPPY",
            "kind": "STRUCT",
            "members": [
                {"name": "A", "type": "BYTE", "value": 7},
                {"name": "B", "type": "DINT", "offset": 8, "value": -5},
                {"name": "C", "type": "STRING[3]", "offset": 4, "value": "abc"},
            ],
        }
    ],
    "tags": [{"name": "G", "type": "GAPPY"}],
}


def test_structure_with_members_out_of_natural_order(start_sim, write_model):
    # Members placed by explicit offsets: the offsets are the controller's,
    # not a natural alignment, and the gap between them is left alone.
    with start_sim(model=write_model(GAPPY)).connect() as ws:
        assert [m.offset for m in ws.type("G").members] == [0, 8, 4]
        assert ws.read("G") == {"A": 7, "B": -5, "C": "abc"}
        ws.write("G", {"A": 1, "B": 2, "C": "xyz"})
        assert (ws.read("G.B"), ws.read("G.C")) == (2, "xyz")
        with ws.group(["G"]) as g:
            assert g.read() == {"G": {"A": 1, "B": 2, "C": "xyz"}}


def test_texts_in_the_sessions_encoding_refused_reals_and_declared_indices(frozen_sim):
    with frozen_sim.connect(encoding="utf-8") as utf8, frozen_sim.connect() as latin1:
        utf8.write("Operator", "Zoë")
        assert utf8.read("Operator") == "Zoë"
        assert (
            latin1.read("Operator") == "Zo\u00c3\u00ab"
        )  # the same four bytes, one character each
        latin1.write("Operator", "Zoë")  # three bytes in Latin-1
        assert latin1.read("Operator") == "Zoë" and utf8.read("Operator") == "Zo\ufffd"
        with pytest.raises(InvalidValueError, match="1e\\+39"):
            latin1.write("Temps[2]", 1e39)
        temps = latin1.read("Temps")
        assert repr([latin1.read(f"Temps[{i}]") for i in range(1, 9)]) == repr(temps)  # NaN too
        with pytest.raises(InvalidValueError) as err:
            latin1.read("Temps[0]")
        assert err.value.name == "symResInvalidArrayIndex"
        t = latin1.type("Temps")
        assert (t.name, t.dims, t.lower) == ("ARRAY[1..8] OF REAL", (8,), (1,))
        with pytest.raises(InvalidValueError):
            qxsymbols.connect("127.0.0.1", frozen_sim.port, encoding="ebcdic")


def test_structure_of_one_member_stays_a_structure(start_sim, write_model):
    model = {
        "types": [
            {"name": "ONE", "kind": "STRUCT", "members": [{"name": "A", "type": "INT", "value": 3}]}
        ],
        "tags": [{"name": "S", "type": "ONE"}, {"name": "Pair", "type": "ARRAY[4..5] OF ONE"}],
    }
    with start_sim(model=write_model(model)).connect() as ws:
        assert ws.read("S") == {"A": 3} and ws.read("Pair") == [{"A": 3}, {"A": 3}]
        ws.write("Pair", {"[5]": {"a": 9}})
        assert ws.read("Pair[5].A") == 9 and ws.type("Pair").lower == (4,)
