"""Type descriptions and the conversion of values between bytes and Python.

Values are little-endian. Members of structures and function blocks are laid
out at their natural alignment (1, 2, 4 or 8 bytes); a layout is trusted only
when it reproduces every size that the controller reports, so a type laid out
any other way is never decoded from the wrong bytes.
"""

from __future__ import annotations

import math
import struct
from dataclasses import dataclass, field
from typing import Any, Callable, Dict, FrozenSet, List, Mapping, Optional, Sequence, Tuple

from .errors import InvalidValueError

__all__ = ["TypeInfo", "Member", "PROPERTY_NAMES", "TYVAR_KINDS"]

#: Property flags of a type, by bit.
PROPERTY_NAMES: Dict[int, str] = {
    1: "basic",
    2: "complex",
    4: "string",
    8: "array",
    16: "struct",
    32: "function_block",
    64: "numeric",
    128: "signed",
    256: "integer",
}

#: Basic variable type of a tag (QXSymTyVar) -> (kind, size in bytes).
TYVAR_KINDS: Dict[int, Tuple[str, int]] = {
    1: ("bool", 1),
    2: ("int", 1),
    3: ("uint", 1),
    4: ("bits", 1),
    5: ("int", 2),
    6: ("uint", 2),
    7: ("bits", 2),
    9: ("int", 4),
    10: ("uint", 4),
    11: ("bits", 4),
    12: ("int", 8),
    13: ("uint", 8),
    14: ("bits", 8),
    15: ("float", 4),
    16: ("float", 8),
    17: ("string", 0),
}

@dataclass(frozen=True)
class Member:
    """One member of a structure or function block."""

    name: str
    type: "TypeInfo"
    #: Byte offset inside the structure, or None when the layout is not known.
    offset: Optional[int]


@dataclass(frozen=True)
class TypeInfo:
    """A plain description of a type, as ``Workspace.type`` returns it.

    ``kind`` is one of ``bool``, ``int`` (signed), ``uint`` (unsigned),
    ``bits`` (BYTE, WORD, DWORD, LWORD), ``float``, ``string``, ``struct``,
    ``function_block``, ``array`` or ``other`` (read as bytes).
    """

    name: str
    size: int
    kind: str
    properties: FrozenSet[str] = field(default_factory=frozenset)
    members: Tuple[Member, ...] = ()
    #: Element counts per dimension (arrays only).
    dims: Tuple[int, ...] = ()
    element: Optional["TypeInfo"] = None
    #: True when every byte offset is known, so values move in one piece.
    exact: bool = True

    @property
    def alignment(self) -> int:
        if self.kind in ("struct", "function_block"):
            return max((m.type.alignment for m in self.members), default=1)
        if self.kind == "array" and self.element is not None:
            return self.element.alignment
        if self.kind in ("string", "other"):
            return 1
        return self.size if self.size in (1, 2, 4, 8) else 1

    def as_dict(self) -> Dict[str, Any]:
        """The description as nested dicts and lists."""
        d: Dict[str, Any] = {
            "name": self.name,
            "kind": self.kind,
            "size": self.size,
            "properties": sorted(self.properties),
        }
        if self.kind == "array" and self.element is not None:
            d["dims"] = list(self.dims)
            d["element"] = self.element.as_dict()
        if self.members:
            d["members"] = [
                {"name": m.name, "offset": m.offset, "type": m.type.as_dict()}
                for m in self.members
            ]
        return d

    # ---- bytes to Python ---------------------------------------------------

    def decode(self, data: bytes, offset: int = 0) -> Any:
        """The Python value of this type at ``offset`` in ``data``."""
        if not self.exact:
            raise InvalidValueError(5, f"{self.name}: layout not known")
        return _decode(self, data, offset)

    # ---- Python to bytes ---------------------------------------------------

    def encode(self, value: Any, where: str = "") -> bytes:
        """The bytes of ``value`` as this type; raises InvalidValueError when
        the value does not fit (range, text length, shape, members)."""
        if not self.exact:
            raise InvalidValueError(5, f"{where or self.name}: layout not known")
        out = bytearray(self.size)
        _encode(self, value, out, 0, where or self.name)
        return bytes(out)

    def is_complete(self, value: Any) -> bool:
        """Whether ``value`` gives every member (recursively) of a structure."""
        if self.kind in ("struct", "function_block"):
            if not isinstance(value, Mapping):
                return False
            keys = {str(k).lower(): v for k, v in value.items()}
            return all(
                m.name.lower() in keys and m.type.is_complete(keys[m.name.lower()])
                for m in self.members
            )
        return True


_STRUCT_CODES = {
    ("bool", 1): "?",
    ("int", 1): "b", ("int", 2): "h", ("int", 4): "i", ("int", 8): "q",
    ("uint", 1): "B", ("uint", 2): "H", ("uint", 4): "I", ("uint", 8): "Q",
    ("bits", 1): "B", ("bits", 2): "H", ("bits", 4): "I", ("bits", 8): "Q",
    ("float", 4): "f", ("float", 8): "d",
}


def basic_decoder(kind: str, size: int) -> Callable[[bytes], Any]:
    """A function from the bytes of a basic value to its Python value."""
    code = _STRUCT_CODES.get((kind, size))
    if code == "?":
        return lambda raw: raw[0] != 0
    if code:
        unpack = struct.Struct("<" + code).unpack_from
        return lambda raw: unpack(raw)[0]
    t = basic_type(kind, size)
    return lambda raw: _decode(t, raw, 0)


def basic_type(kind: str, size: int, name: str = "") -> TypeInfo:
    return TypeInfo(name=name or kind, size=size, kind=kind)


def kind_from_properties(flags: int, size: int) -> str:
    if flags & 4:
        return "string"
    if flags & 8:
        return "array"
    if flags & 32:
        return "function_block"
    if flags & 16:
        return "struct"
    if flags & 256:
        if flags & 128:
            return "int"
        return "uint" if flags & 64 else "bits"
    if flags & 64 and flags & 128 and size in (4, 8):
        return "float"
    if flags & 1 and size == 1:
        return "bool"
    return "other"


def property_names(flags: int) -> FrozenSet[str]:
    return frozenset(n for bit, n in PROPERTY_NAMES.items() if flags & bit)


def lay_out(members: Sequence[Tuple[str, TypeInfo]], size: int) -> Tuple[Tuple[Member, ...], bool]:
    """Members at natural alignment; exact only when every member is exact
    and the rounded total is the reported size."""
    offset = 0
    align_max = 1
    placed: List[Tuple[str, TypeInfo, int]] = []
    exact = True
    for name, t in members:
        exact = exact and t.exact
        a = t.alignment
        align_max = max(align_max, a)
        offset = (offset + a - 1) // a * a
        placed.append((name, t, offset))
        offset += t.size
    total = (offset + align_max - 1) // align_max * align_max
    exact = exact and total == size
    return tuple(Member(n, t, o if exact else None) for n, t, o in placed), exact


def _decode(t: TypeInfo, data: bytes, off: int) -> Any:
    k = t.kind
    if k == "bool":
        return data[off] != 0
    if k in ("int", "uint", "bits"):
        return int.from_bytes(data[off : off + t.size], "little", signed=k == "int")
    if k == "float":
        return struct.unpack_from("<f" if t.size == 4 else "<d", data, off)[0]
    if k == "string":
        raw = data[off : off + t.size]
        end = raw.find(b"\0")
        return (raw if end < 0 else raw[:end]).decode("latin-1")
    if k in ("struct", "function_block"):
        return {m.name: _decode(m.type, data, off + (m.offset or 0)) for m in t.members}
    if k == "array" and t.element is not None:
        e = t.element
        flat = [_decode(e, data, off + i * e.size) for i in range(_count(t.dims))]
        return _nest(flat, t.dims)
    return bytes(data[off : off + t.size])


def _count(dims: Sequence[int]) -> int:
    n = 1
    for d in dims:
        n *= d
    return n


def _nest(flat: List[Any], dims: Sequence[int]) -> List[Any]:
    for d in reversed(dims[1:]):
        flat = [flat[i : i + d] for i in range(0, len(flat), d)]
    return flat


def _flatten(value: Any, dims: Sequence[int], where: str) -> List[Any]:
    """Nested lists (one per dimension) or one flat list in row order."""
    if not isinstance(value, (list, tuple)):
        raise InvalidValueError(5, f"{where}: expected a list, got {type(value).__name__}")
    total = _count(dims)
    if len(dims) > 1 and len(value) == total and not any(isinstance(v, (list, tuple)) for v in value):
        return list(value)
    if len(value) != dims[0]:
        raise InvalidValueError(5, f"{where}: expected {dims[0]} elements, got {len(value)}")
    if len(dims) == 1:
        return list(value)
    out: List[Any] = []
    for i, row in enumerate(value):
        out.extend(_flatten(row, dims[1:], f"{where}[{i}]"))
    return out


def encode_basic(kind: str, size: int, value: Any, where: str) -> bytes:
    """Bytes of a basic value, checked for type and range."""
    if kind == "bool":
        if isinstance(value, bool) or value in (0, 1):
            return bytes([1 if value else 0])
        raise InvalidValueError(5, f"{where}: BOOL takes True or False, not {value!r}")
    if kind in ("int", "uint", "bits"):
        if not isinstance(value, int):
            raise InvalidValueError(5, f"{where}: expected an integer, got {type(value).__name__}")
        bits = size * 8
        lo, hi = (-(1 << (bits - 1)), (1 << (bits - 1)) - 1) if kind == "int" else (0, (1 << bits) - 1)
        if not lo <= value <= hi:
            raise InvalidValueError(5, f"{where}: {value} is outside {lo}..{hi}")
        return int(value).to_bytes(size, "little", signed=kind == "int")
    if kind == "float":
        if isinstance(value, bool) or not isinstance(value, (int, float)):
            raise InvalidValueError(5, f"{where}: expected a number, got {type(value).__name__}")
        try:
            return struct.pack("<f" if size == 4 else "<d", float(value))
        except (OverflowError, struct.error):
            raise InvalidValueError(5, f"{where}: {value} is outside the range of REAL") from None
    if kind == "string":
        if isinstance(value, str):
            try:
                raw = value.encode("latin-1")
            except UnicodeEncodeError:
                raise InvalidValueError(5, f"{where}: text has characters outside 8-bit Latin-1") from None
        elif isinstance(value, (bytes, bytearray)):
            raw = bytes(value)
        else:
            raise InvalidValueError(5, f"{where}: expected a text, got {type(value).__name__}")
        if b"\0" in raw:
            raise InvalidValueError(5, f"{where}: text contains a zero character")
        if len(raw) > size - 1:
            raise InvalidValueError(5, f"{where}: text of {len(raw)} characters, at most {size - 1} fit")
        return raw + bytes(size - len(raw))
    if isinstance(value, (bytes, bytearray)) and len(value) == size:
        return bytes(value)
    raise InvalidValueError(5, f"{where}: expected {size} bytes")


def _encode(t: TypeInfo, value: Any, out: bytearray, off: int, where: str) -> None:
    k = t.kind
    if k in ("struct", "function_block"):
        if not isinstance(value, Mapping):
            raise InvalidValueError(5, f"{where}: expected a dict of members, got {type(value).__name__}")
        by_lower = {m.name.lower(): m for m in t.members}
        given: Dict[str, Any] = {}
        for key, v in value.items():
            m = by_lower.get(str(key).lower())
            if m is None:
                raise InvalidValueError(5, f"{where}: no member named {key!r}")
            given[m.name] = v
        for m in t.members:
            if m.name not in given:
                raise InvalidValueError(5, f"{where}: member {m.name} missing")
            _encode(m.type, given[m.name], out, off + (m.offset or 0), f"{where}.{m.name}")
        return
    if k == "array" and t.element is not None:
        e = t.element
        for i, v in enumerate(_flatten(value, t.dims, where)):
            _encode(e, v, out, off + i * e.size, f"{where}[{i}]")
        return
    out[off : off + t.size] = encode_basic(k, t.size, value, where)


def same_value(a: Any, b: Any) -> bool:
    """Equality that takes NaN as equal to NaN (for change detection)."""
    if isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b):
        return True
    if isinstance(a, dict) and isinstance(b, dict):
        return a.keys() == b.keys() and all(same_value(a[k], b[k]) for k in a)
    if isinstance(a, list) and isinstance(b, list):
        return len(a) == len(b) and all(same_value(x, y) for x, y in zip(a, b))
    return bool(a == b)
