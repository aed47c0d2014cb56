"""Python values to and from the client core's values, placed by the paths of its layouts' leaves
into dicts for structures and nested lists for arrays, and type descriptions from the same layouts.
Whether a value fits its type is the core's to judge."""

from __future__ import annotations

import ctypes
import functools
import itertools
import math
import re
from dataclasses import dataclass
from typing import Any, Callable, Dict, FrozenSet, List, Mapping, Optional, Sequence, Tuple, Union

from . import _lib
from .errors import invalid

__all__ = ["TypeInfo", "Member"]

_KINDS = {_lib.BOOL: "bool", _lib.SIGNED: "int", _lib.UNSIGNED: "uint", _lib.FLOAT: "float"}
_KINDS[_lib.TEXT] = "string"
#: The type property flags (QXSymTypeIs*), lowest bit first.
_PROPERTIES = "basic complex string array struct function_block numeric signed integer".split()
# A step below a path: an element label "[1]", "[-2,3]", or ".Member" (which may hold '[').
_INDEX = r"\[-?\d+(?:,-?\d+)*\]"
_STEP = re.compile(rf"({_INDEX})|\.((?:(?!{_INDEX})[^.])+)")
Describe = Callable[[str], Any]  # a path's layout (a _lib.Layout), the core's until its next call


@dataclass(frozen=True)
class Member:
    """One member of a structure or function block, at its byte offset."""

    name: str
    type: "TypeInfo"
    offset: int


@dataclass(frozen=True)
class TypeInfo:
    """A plain description of a type, as ``Workspace.type`` returns it.

    ``kind``: ``bool``, ``int`` (signed), ``uint`` (unsigned and bit strings), ``float``,
    ``string``, ``struct``, ``function_block``, ``array`` or ``other`` (read as bytes).
    ``properties``: the controller's flags of a structure, function block or array type (basic
    types have none). Arrays give element counts and declared lower bounds: ``ARRAY[1..8] OF
    REAL`` has dims (8,), lower (1,)."""

    name: str
    size: int
    kind: str
    members: Tuple[Member, ...] = ()
    dims: Tuple[int, ...] = ()
    lower: Tuple[int, ...] = ()
    element: Optional["TypeInfo"] = None
    exact: bool = True  #: every byte offset is known (the core learns them)
    properties: FrozenSet[str] = frozenset()

    def as_dict(self) -> Dict[str, Any]:
        """The description as nested dicts and lists."""
        d = dict(name=self.name, kind=self.kind, size=self.size, properties=sorted(self.properties))
        if self.element is not None:
            d.update(dims=list(self.dims), lower=list(self.lower), element=self.element.as_dict())
        if self.members:
            d["members"] = [
                dict(name=m.name, offset=m.offset, type=m.type.as_dict()) for m in self.members
            ]
        return d


@functools.lru_cache(maxsize=4096)
def steps(rest: bytes) -> Tuple[Union[str, Tuple[int, ...]], ...]:
    """The steps below a path to a leaf, given what follows it: ".Main.Speed" gives ("Main",
    "Speed"), "[1,2].Name" ((1, 2), "Name")."""
    text, out, at = rest.decode("utf-8", "replace"), [], 0
    while at < len(text):
        m = _STEP.match(text, at)
        if m is None:
            raise invalid(f"cannot lay out the leaf path ending in {text!r}")
        out.append(tuple(int(i) for i in m[1][1:-1].split(",")) if m[1] else m[2])
        at = m.end()
    return tuple(out)


def _label(index: Sequence[int]) -> str:
    return "[" + ",".join(map(str, index)) + "]"


def _own(layout: Any) -> Tuple[List[int], List[int], bool]:
    """The path's own dimensions and lower bounds (none unless an array), and whether it is one
    leaf (a value, or an array, of a basic type)."""
    n, one_leaf = layout.num_dims, layout.leaf_count == 1 and layout.leaves[0].path == layout.path
    return list(layout.dims[:n]), list(layout.lower[:n]), one_leaf


def to_python(v: Any) -> Any:
    """The Python value of one of the core's values (a _lib.Value); None for none."""
    if v.kind in (_lib.TEXT, _lib.BYTES):
        raw = ctypes.string_at(v.data, v.length) if v.length else b""
        return raw.decode("utf-8") if v.kind == _lib.TEXT else raw
    return {_lib.BOOL: bool(v.boolean), _lib.SIGNED: v.i, _lib.UNSIGNED: v.u, _lib.FLOAT: v.f}.get(
        v.kind
    )


def from_python(value: Any, out: Any, keep: List[Any], where: str) -> None:
    """Fill the core's value ``out`` from a Python value, its bytes kept alive in ``keep``."""
    if isinstance(value, bool):
        out.kind, out.boolean = _lib.BOOL, value
    elif isinstance(value, int) and -(1 << 63) <= value < (1 << 64):
        out.kind, out.i, out.u = (
            (_lib.SIGNED, value, 0) if value < 1 << 63 else (_lib.UNSIGNED, 0, value)
        )
    elif isinstance(value, float):
        out.kind, out.f = _lib.FLOAT, value
    elif isinstance(value, (str, bytes, bytearray)):
        try:
            raw = value.encode("utf-8") if isinstance(value, str) else bytes(value)
        except UnicodeEncodeError:
            raise invalid(f"'{where}': the text is not valid Unicode") from None
        keep.append(ctypes.create_string_buffer(raw, len(raw) + 1))
        out.kind, out.length = (_lib.TEXT if isinstance(value, str) else _lib.BYTES), len(raw)
        out.data = ctypes.cast(keep[-1], ctypes.POINTER(ctypes.c_uint8))
    else:
        big = isinstance(value, int)
        what = f"{value} is beyond 64 bits" if big else f"a {type(value).__name__} is no value"
        raise invalid(f"'{where}': {what} for a tag")


def _nest(flat: List[Any], dims: Sequence[int]) -> Any:
    """Values in index order (last index fastest) as lists nested per dimension."""
    for d in reversed(dims[1:]):
        flat = [flat[i : i + d] for i in range(0, len(flat), d)]
    return flat


def _shape(node: Any) -> Any:
    """Dicts of members stay dicts; those keyed by element indices become nested lists."""
    if not isinstance(node, dict):
        return node
    keys, values = list(node), [_shape(v) for v in node.values()]
    if not keys or not isinstance(keys[0], tuple):
        return dict(zip(keys, values))
    dims = [len({k[d] for k in keys}) for d in range(len(keys[0]))]
    return _nest(values, dims if math.prod(dims) == len(values) else [len(values)])


def decode(layout: Any, values: Any) -> Any:
    """The Python value of a read: each leaf's values placed by its path below the layout's."""
    root: Any = {}
    at = 0
    for leaf in layout.leaves[: layout.leaf_count]:
        flat = [to_python(values[at + k]) for k in range(leaf.count)]
        at += leaf.count
        *branch, last = (None, *steps(leaf.path[len(layout.path) :]))  # None: the root
        node = functools.reduce(lambda n, step: n.setdefault(step, {}), branch, root)
        node[last] = _nest(flat, leaf.dims[: leaf.num_dims]) if leaf.num_dims else flat[0]
    return _shape(root.get(None))


def flatten(value: Any, dims: Sequence[int], where: str) -> List[Any]:
    """Nested lists (one per dimension), or one flat list in index order."""
    if not isinstance(value, (list, tuple)):
        raise invalid(f"'{where}': expected a list, got {type(value).__name__}")
    nested = any(isinstance(v, (list, tuple)) for v in value)
    if len(dims) > 1 and len(value) == math.prod(dims) and not nested:
        return list(value)
    if len(value) != dims[0]:
        raise invalid(f"'{where}': expected {dims[0]} elements, got {len(value)}")
    return (
        list(value) if len(dims) == 1 else [x for v in value for x in flatten(v, dims[1:], where)]
    )


def parts(describe: Describe, name: str, value: Any) -> List[Tuple[str, List[Any]]]:
    """The (path, values) items that write ``value`` to ``name``: a dict gives members by name or
    sub-paths (``"[3]"``, ``"Main.Speed"``), a list every element of an array, else one leaf."""
    if isinstance(value, Mapping):
        keyed = ((str(k), v) for k, v in value.items())
        subs = [(name + k if k[:1] == "[" else f"{name}.{k}", v) for k, v in keyed]
        return [p for path, v in subs for p in parts(describe, path, v)]
    if not isinstance(value, (list, tuple)):
        return [(name, [value])]
    dims, lower, one_leaf = _own(describe(name))
    if not dims:
        raise invalid(f"'{name}': expected a dict of members or a value, not a list")
    flat = flatten(value, dims, name)
    if one_leaf:  # an array of a basic type: one leaf of all its values
        return [(name, flat)]
    indices = itertools.product(*(range(lo, lo + d) for d, lo in zip(dims, lower)))
    return [p for i, v in zip(indices, flat) for p in parts(describe, name + _label(i), v)]


def type_of(describe: Describe, name: str, sub: Callable[[str], TypeInfo]) -> TypeInfo:
    """The description of ``name``'s type from its layout, those of its members and elements through
    ``sub`` (the layout is the core's only until its next call, so all of it is taken first)."""
    layout = describe(name)
    (dims, lower, one_leaf), flags = _own(layout), layout.type_properties
    props = frozenset(p for b, p in enumerate(_PROPERTIES) if flags >> b & 1)
    common: Dict[str, Any] = dict(
        name=layout.type_name.decode("utf-8", "replace"), size=layout.size, properties=props
    )
    if dims:
        element = sub(name + _label(lower))
        return TypeInfo(
            kind="array", dims=tuple(dims), lower=tuple(lower), element=element, **common
        )
    if one_leaf:
        kind = _KINDS.get(_lib.library().QXSymCore_KindOf(layout.leaves[0].tyvar), "other")
        return TypeInfo(kind=kind, **common)
    offsets: Dict[Any, int] = {}
    for leaf in layout.leaves[: layout.leaf_count]:
        member = steps(leaf.path[len(layout.path) :])[0]
        offsets[member] = min(offsets.get(member, leaf.offset), leaf.offset)
    members = tuple(Member(m, sub(f"{name}.{m}"), o) for m, o in offsets.items())
    kind = "function_block" if "function_block" in props else "struct"
    return TypeInfo(kind=kind, members=members, **common)
