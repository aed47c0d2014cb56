"""Python values to and from the client core's leaf values, shaped by its
layouts (a flat table of leaves) into dicts for structures and nested lists
for arrays; and type descriptions made from the same layouts."""

from __future__ import annotations

import ctypes
import math
import re
from dataclasses import dataclass
from typing import Any, Dict, List, Mapping, Optional, Sequence, Tuple

from . import _lib
from .errors import invalid

__all__ = ["TypeInfo", "Member"]

# Value kinds of the core (QXSymCoreValueKind) and the kinds a type reports.
_BOOL, _SIGNED, _UNSIGNED, _FLOAT, _TEXT, _BYTES = range(1, 7)
_KIND_NAMES = {_BOOL: "bool", _SIGNED: "int", _UNSIGNED: "uint", _FLOAT: "float", _TEXT: "string"}
_TOKEN = re.compile(r"\.([^.\[]+)|\[([^\]]*)\]")


@dataclass(frozen=True)
class Member:
    """One member of a structure or function block."""

    name: str
    type: "TypeInfo"
    #: Byte offset inside the structure.
    offset: int


@dataclass(frozen=True)
class TypeInfo:
    """A plain description of a type, as ``Workspace.type`` returns it.

    ``kind`` is one of ``bool``, ``int`` (signed), ``uint`` (unsigned and bit
    strings), ``float``, ``string``, ``struct``, ``array`` or ``other`` (read
    as bytes). Arrays give their element counts (``dims``) and declared lower
    bounds (``lower``): ``ARRAY[1..8] OF REAL`` has dims (8,), lower (1,).
    """

    name: str
    size: int
    kind: str
    members: Tuple[Member, ...] = ()
    dims: Tuple[int, ...] = ()
    lower: Tuple[int, ...] = ()
    element: Optional["TypeInfo"] = None
    #: Every byte offset is known (always so: the core learns them).
    exact: bool = True

    def as_dict(self) -> Dict[str, Any]:
        """The description as nested dicts and lists."""
        d: Dict[str, Any] = {"name": self.name, "kind": self.kind, "size": self.size}
        if self.element is not None:
            d.update(dims=list(self.dims), lower=list(self.lower), element=self.element.as_dict())
        if self.members:
            d["members"] = [{"name": m.name, "offset": m.offset, "type": m.type.as_dict()} for m in self.members]
        return d


def leaf_kind(kind: int) -> str:
    return _KIND_NAMES.get(kind, "other")


def tokens(suffix: str) -> List[Any]:
    """".Main.Speed" -> ["Main", "Speed"]; "[1,2].Name" -> [(1, 2), "Name"]."""
    out: List[Any] = []
    for name, index in _TOKEN.findall(suffix):
        out.append(tuple(int(i) for i in index.split(",")) if index else name)
    return out


# ---- core values <-> Python -------------------------------------------------


def to_python(v: _lib.Value) -> Any:
    k = v.kind
    if k == _BOOL:
        return bool(v.boolean)
    if k == _SIGNED:
        return v.i
    if k == _UNSIGNED:
        return v.u
    if k == _FLOAT:
        return v.f
    raw = ctypes.string_at(v.data, v.length) if v.length else b""
    return raw.decode("utf-8") if k == _TEXT else raw


def from_python(value: Any, out: _lib.Value, keep: List[Any], where: str) -> None:
    """Fill ``out`` from a Python value; buffers are kept alive in ``keep``.
    The core checks the value against the leaf's type."""
    if isinstance(value, bool):
        out.kind, out.boolean = _BOOL, int(value)
    elif isinstance(value, int):
        if -(1 << 63) <= value < (1 << 63):
            out.kind, out.i = _SIGNED, value
        elif 0 <= value < (1 << 64):
            out.kind, out.u = _UNSIGNED, value
        else:
            raise invalid(f"'{where}': {value} is beyond 64 bits")
    elif isinstance(value, float):
        out.kind, out.f = _FLOAT, value
    elif isinstance(value, (str, bytes, bytearray)):
        try:
            raw = value.encode("utf-8") if isinstance(value, str) else bytes(value)
        except UnicodeEncodeError:
            raise invalid(f"'{where}': the text is not valid Unicode") from None
        buf = ctypes.create_string_buffer(raw, len(raw) + 1)
        keep.append(buf)
        out.kind = _TEXT if isinstance(value, str) else _BYTES
        out.data, out.length = ctypes.cast(buf, ctypes.POINTER(ctypes.c_uint8)), len(raw)
    else:
        raise invalid(f"'{where}': a {type(value).__name__} is not a value of a tag")


# ---- layouts ----------------------------------------------------------------


def _nest(flat: List[Any], dims: Sequence[int]) -> Any:
    for d in reversed(dims[1:]):
        flat = [flat[i : i + d] for i in range(0, len(flat), d)]
    return flat


def _shape(node: Any) -> Any:
    """Dicts keyed by index tuples become nested lists (index order kept)."""
    if not isinstance(node, dict):
        return node
    if node and isinstance(next(iter(node)), tuple):
        keys = list(node)
        dims = [len({k[i] for k in keys}) for i in range(len(keys[0]))]
        return _nest([_shape(node[k]) for k in keys], dims)
    return {k: _shape(v) for k, v in node.items()}


def decode(layout: _lib.Layout, values: Any) -> Any:
    """The Python value of a read: its leaves' values placed by their paths."""
    base = len(layout.path)
    root: Dict[Any, Any] = {}
    at = 0
    for n in range(layout.leaf_count):
        leaf = layout.leaves[n]
        vals = [to_python(values[at + k]) for k in range(leaf.count)]
        at += leaf.count
        value = _nest(vals, list(leaf.dims[: leaf.num_dims])) if leaf.num_dims else vals[0]
        path = tokens(leaf.path.decode("utf-8")[base:])
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
    total = math.prod(dims)
    if len(dims) > 1 and len(value) == total and not any(isinstance(v, (list, tuple)) for v in value):
        return list(value)
    if len(value) != dims[0]:
        raise invalid(f"'{where}': expected {dims[0]} elements, got {len(value)}")
    if len(dims) == 1:
        return list(value)
    return [x for i, row in enumerate(value) for x in flatten(row, dims[1:], f"{where}[{i}]")]


def same_value(a: Any, b: Any) -> bool:
    """Equality that takes NaN as equal to NaN (for change detection)."""
    if isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b):
        return True
    if isinstance(a, dict) and isinstance(b, dict):
        return a.keys() == b.keys() and all(same_value(a[k], b[k]) for k in a)
    if isinstance(a, list) and isinstance(b, list):
        return len(a) == len(b) and all(same_value(x, y) for x, y in zip(a, b))
    return bool(a == b)
