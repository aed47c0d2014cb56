"""Python values to and from the client core's leaf values, shaped by its
layouts (flat tables of leaves) into dicts for structures and nested lists for
arrays; and type descriptions made from the same layouts."""

from __future__ import annotations

import ctypes
import functools
import math
import re
from dataclasses import dataclass
from typing import Any, Callable, Dict, List, Mapping, Optional, Sequence, Tuple

from . import _lib
from .errors import invalid

__all__ = ["TypeInfo", "Member"]

# The core's value kinds (QXSymCoreValueKind) and the kinds a type reports.
_BOOL, _SIGNED, _UNSIGNED, _FLOAT, _TEXT, _BYTES = range(1, 7)
_KIND_NAMES = {_BOOL: "bool", _SIGNED: "int", _UNSIGNED: "uint", _FLOAT: "float", _TEXT: "string"}
_TOKEN = re.compile(r"\.([^.\[]+)|\[([^\]]*)\]")
Describe = Callable[[str], _lib.Layout]
Parts = List[Tuple[str, List[Any]]]


@dataclass(frozen=True)
class Member:
    """One member of a structure or function block, at its byte offset."""

    name: str
    type: "TypeInfo"
    offset: int


@dataclass(frozen=True)
class TypeInfo:
    """A plain description of a type, as ``Workspace.type`` returns it.

    ``kind`` is ``bool``, ``int`` (signed), ``uint`` (unsigned and bit
    strings), ``float``, ``string``, ``struct`` (function blocks too),
    ``array`` or ``other`` (read as bytes). Arrays give their element counts
    and declared lower bounds: ``ARRAY[1..8] OF REAL`` has dims (8,), lower (1,).
    """

    name: str
    size: int
    kind: str
    members: Tuple[Member, ...] = ()
    dims: Tuple[int, ...] = ()
    lower: Tuple[int, ...] = ()
    element: Optional["TypeInfo"] = None
    exact: bool = True  #: every byte offset is known (the core learns them)

    def as_dict(self) -> Dict[str, Any]:
        """The description as nested dicts and lists."""
        d: Dict[str, Any] = {"name": self.name, "kind": self.kind, "size": self.size}
        if self.element is not None:
            d.update(dims=list(self.dims), lower=list(self.lower), element=self.element.as_dict())
        if self.members:
            d["members"] = [{"name": m.name, "offset": m.offset, "type": m.type.as_dict()} for m in self.members]
        return d


@functools.lru_cache(maxsize=4096)
def _tokens(suffix: bytes) -> Tuple[Any, ...]:
    found = _TOKEN.findall(suffix.decode("utf-8"))
    return tuple(tuple(int(i) for i in x.split(",")) if x else m for m, x in found)


def leaves(layout: _lib.Layout) -> List[Tuple[Any, List[Any]]]:
    """Each leaf with its path below the layout's: ".Main.Speed" gives
    ["Main", "Speed"], "[1,2].Name" gives [(1, 2), "Name"]."""
    base = len(layout.path)
    return [(leaf, list(_tokens(leaf.path[base:]))) for leaf in layout.leaves[: layout.leaf_count]]


def dims_of(leaf: Any) -> List[int]:
    return list(leaf.dims[: leaf.num_dims])


def label(index: Sequence[int]) -> str:
    return "[" + ",".join(map(str, index)) + "]"


def _elements(tokens: List[List[Any]]) -> Tuple[List[Tuple[int, ...]], List[int]]:
    """The element indices in order and the dimensions of an array of structures."""
    order = list(dict.fromkeys(t[0] for t in tokens if t and isinstance(t[0], tuple)))
    return order, [len({t[i] for t in order}) for i in range(len(order[0]))] if order else []


# ---- values -------------------------------------------------------------------


def to_python(v: _lib.Value) -> Any:
    k = v.kind
    if k in (_BOOL, _SIGNED, _UNSIGNED, _FLOAT):
        return {_BOOL: bool(v.boolean), _SIGNED: v.i, _UNSIGNED: v.u, _FLOAT: v.f}[k]
    raw = ctypes.string_at(v.data, v.length) if v.length else b""
    return raw.decode("utf-8") if k == _TEXT else raw


def from_python(value: Any, out: _lib.Value, keep: List[Any], where: str) -> None:
    """Fill ``out`` from a Python value, its buffers kept alive in ``keep``;
    the core checks the value against the leaf's type."""
    if isinstance(value, bool):
        out.kind, out.boolean = _BOOL, int(value)
    elif isinstance(value, int) and -(1 << 63) <= value < (1 << 64):
        if value < (1 << 63):
            out.kind, out.i = _SIGNED, value
        else:
            out.kind, out.u = _UNSIGNED, value
    elif isinstance(value, float):
        out.kind, out.f = _FLOAT, value
    elif isinstance(value, (str, bytes, bytearray)):
        try:
            raw = value.encode("utf-8") if isinstance(value, str) else bytes(value)
        except UnicodeEncodeError:
            raise invalid(f"'{where}': the text is not valid Unicode") from None
        keep.append(ctypes.create_string_buffer(raw, len(raw) + 1))
        out.kind = _TEXT if isinstance(value, str) else _BYTES
        out.data, out.length = ctypes.cast(keep[-1], ctypes.POINTER(ctypes.c_uint8)), len(raw)
    else:
        what = f"{value} is beyond 64 bits" if isinstance(value, int) else f"a {type(value).__name__}"
        raise invalid(f"'{where}': {what} is not a value of a tag")


def _nest(flat: List[Any], dims: Sequence[int]) -> Any:
    for d in reversed(dims[1:]):
        flat = [flat[i : i + d] for i in range(0, len(flat), d)]
    return flat


def _shape(node: Any) -> Any:
    """Dicts keyed by element indices become nested lists."""
    if not isinstance(node, dict):
        return node
    order, dims = _elements([[k] for k in node])
    return _nest([_shape(node[k]) for k in order], dims) if order else {k: _shape(v) for k, v in node.items()}


def decode(layout: _lib.Layout, values: Any) -> Any:
    """The Python value of a read: its leaves' values placed by their paths."""
    leaf = layout.leaves[0]
    if layout.leaf_count == 1 and leaf.num_dims == 0 and leaf.path == layout.path:  # one value: the common read
        return to_python(values[0])
    root: Dict[Any, Any] = {}
    at = 0
    for leaf, path in leaves(layout):
        vals = [to_python(values[at + k]) for k in range(leaf.count)]
        at += leaf.count
        value = _nest(vals, dims_of(leaf)) if leaf.num_dims else vals[0]
        if not path:
            return value
        node = root
        for t in path[:-1]:
            node = node.setdefault(t, {})
        node[path[-1]] = value
    return _shape(root)


def flatten(value: Any, dims: Sequence[int], where: str) -> List[Any]:
    """Nested lists (one per dimension), or one flat list in index order."""
    if not isinstance(value, (list, tuple)):
        raise invalid(f"'{where}': expected a list, got {type(value).__name__}")
    if len(dims) > 1 and len(value) == math.prod(dims) and not any(isinstance(v, (list, tuple)) for v in value):
        return list(value)
    if len(value) != dims[0]:
        raise invalid(f"'{where}': expected {dims[0]} elements, got {len(value)}")
    if len(dims) == 1:
        return list(value)
    return [x for i, row in enumerate(value) for x in flatten(row, dims[1:], f"{where}[{i}]")]


def parts(describe: Describe, name: str, value: Any) -> Parts:
    """The (path, values) items that write ``value`` to ``name``: a dict gives
    members by name or sub-paths (``"[3]"``, ``"Main.Speed"``), a list every
    element of an array, a plain value one leaf. The core judges each."""
    if isinstance(value, Mapping):
        subs = [(str(k), v) for k, v in value.items()]
        return [p for k, v in subs for p in parts(describe, name + k if k.startswith("[") else f"{name}.{k}", v)]
    if not isinstance(value, (list, tuple)):
        return [(name, [value])]
    found = leaves(describe(name))
    if len(found) == 1 and not found[0][1]:  # one leaf: an array of a basic type, or a value refused
        return [(name, flatten(value, dims_of(found[0][0]), name) if found[0][0].num_dims else [value])]
    order, dims = _elements([t for _, t in found])
    if not order:
        raise invalid(f"'{name}': expected a dict of members, got {type(value).__name__}")
    return [p for i, v in zip(order, flatten(value, dims, name)) for p in parts(describe, name + label(i), v)]


def type_of(describe: Describe, kind_of: Callable[[int], int], name: str, sub: Callable[[str], TypeInfo]) -> TypeInfo:
    """The description of ``name``'s type from its layout, those of its
    members and elements through ``sub`` (the layout is the core's only until
    its next call, so all of it is taken first)."""
    layout = describe(name)
    found = leaves(layout)
    type_name, size = layout.type_name.decode("utf-8"), layout.size
    if len(found) == 1 and not found[0][1]:
        leaf = found[0][0]
        kind = _KIND_NAMES.get(kind_of(leaf.tyvar), "other")
        if not leaf.num_dims:
            return TypeInfo(type_name, size, kind)
        counts, lower = tuple(dims_of(leaf)), tuple(leaf.lower[: leaf.num_dims])
        return TypeInfo(type_name, size, "array", dims=counts, lower=lower, element=sub(name + label(lower)))
    order, dims = _elements([t for _, t in found])
    if order:
        lower = tuple(min(t[i] for t in order) for i in range(len(dims)))
        return TypeInfo(type_name, size, "array", dims=tuple(dims), lower=lower, element=sub(name + label(order[0])))
    names = dict.fromkeys(t[0] for _, t in found)
    offsets = {m: min(leaf.offset for leaf, t in found if t[0] == m) for m in names}
    return TypeInfo(type_name, size, "struct", members=tuple(Member(m, sub(f"{name}.{m}"), offsets[m]) for m in names))


def same_value(a: Any, b: Any) -> bool:
    """Equality that takes NaN as equal to NaN (for change detection)."""
    if isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b):
        return True
    if isinstance(a, dict) and isinstance(b, dict):
        return a.keys() == b.keys() and all(same_value(a[k], b[k]) for k in a)
    if isinstance(a, list) and isinstance(b, list):
        return len(a) == len(b) and all(same_value(x, y) for x, y in zip(a, b))
    return bool(a == b)
