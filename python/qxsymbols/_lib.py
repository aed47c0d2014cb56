"""Loading of the client core (libQXSymCore beside libQXSymbols), and the constants, records and
prototypes of its C interface (QXSymCore.h), each written once here."""

from __future__ import annotations

import ctypes
import ctypes.util
import functools
import os
import sys
from pathlib import Path
from typing import Any, Dict, List, Sequence

__all__ = ["LibraryNotFoundError", "library", "LIBRARY_ENV", "CORE_ENV"]

#: Environment variable naming the shared library file (or its folder).
LIBRARY_ENV = "QXSYMBOLS_LIBRARY"
#: The same for the client core's library, by default looked for beside the library.
CORE_ENV = "QXSYMCORE_LIBRARY"

_WIN = sys.platform == "win32"
_NAMES = ("QXSymbolsA.dll",) if _WIN else ("libQXSymbols.so", "libQXSymbols.so.3")
_CORE_NAMES = ("QXSymCore.dll",) if _WIN else ("libQXSymCore.so", "libQXSymCore.so.3")

BOOL, SIGNED, UNSIGNED, FLOAT, TEXT, BYTES = range(1, 7)  # _QXSymCoreValueKind
ENCODINGS = {"iso8859-1": 0, "utf-8": 1, "cp1252": 2}  # Python's codec name: _QXSymCoreEncoding
LIST_DETAILS, LIST_DESCRIPTIONS = 1, 2  # QXSYMCORE_LIST_*
TAG_READ_ONLY, TAG_BIT_ADDRESS = 1, 2  # QXSYMCORE_TAG_*
MAX_DIMS = 8  # QXSYMCORE_MAX_DIMS
MAX_INTERVAL_MS = 86400000  # QXSYMCORE_MAX_INTERVAL_MS
EVENT_CHANGE = 1  # _QXSymCoreEventKind
STATUS_NAMES = ("good", "stale", "bad")  # _QXSymCoreStatus


class LibraryNotFoundError(OSError):
    """The shared library could not be loaded; the message lists every place tried and why."""


_TYPES: Dict[str, Any] = dict(u8=ctypes.c_uint8, u16=ctypes.c_uint16, u32=ctypes.c_uint32)
_TYPES.update(i32=ctypes.c_int32, u64=ctypes.c_uint64, i64=ctypes.c_int64, f64=ctypes.c_double)
_TYPES.update(str=ctypes.c_char_p, char=ctypes.c_char)


def _ctype(spec: str) -> Any:
    """The C type written ``u32``, ``P(Leaf)`` (a pointer to one), ``u32*8`` (an array of 8)."""
    if spec.startswith("P("):
        return ctypes.POINTER(_ctype(spec[2:-1]))
    base, _, count = spec.partition("*")
    return _TYPES[base] * int(count) if count else _TYPES[base]


#: The records QXSymCore<name> as ``name: field:type...`` in their order; ``SHAPE`` stands for an
#: array's dimension count, element counts and lower bounds.
_RECORDS = """
ServerAddress: protocol:i32 ip:char*60 port:u16 timeout:u16
Value: kind:u32 boolean:u32 i:i64 u:u64 f:f64 data:P(u8) length:u32 reserved:u32
Leaf: path:str offset:u32 size:u32 tyvar:u32 element_size:u32 count:u32 SHAPE
Layout: path:str type_name:str size:u32 leaf_count:u32 leaves:P(Leaf) value_count:u32 SHAPE \
 type_properties:u32
ReadItem: result:i32 message:str layout:P(Layout) value_count:u32 values:P(Value)
WriteItem: path:str values:P(Value) value_count:u32
WriteResult: result:i32 message:str
TagInfo: name:str type_name:str description:str tyvar:u32 size:u32 flags:u32
SubscribeOptions: interval_ms:u32 heartbeat_ms:u32 deadband:f64 deadbands:P(f64)
Event: kind:u32 status:u32 result:i32 has_previous:u32 path:str value:Value previous:Value \
 timestamp_us:i64 duration_us:u64 late_us:u64 missed:u64
"""
_shape = f"num_dims:u32 dims:u32*{MAX_DIMS} lower:i64*{MAX_DIMS}"
for _line in _RECORDS.strip().splitlines():
    _name, _fields = _line.split(":", 1)
    _pairs = [f.split(":") for f in _fields.replace("SHAPE", _shape).split()]
    _TYPES[_name] = type(
        _name, (ctypes.Structure,), {"_fields_": [(f, _ctype(t)) for f, t in _pairs]}
    )
ServerAddress, Value, Layout, ReadItem = (
    _TYPES[n] for n in ("ServerAddress", "Value", "Layout", "ReadItem")
)
WriteItem, WriteResult, TagInfo = (_TYPES[n] for n in ("WriteItem", "WriteResult", "TagInfo"))
SubscribeOptions, Event = _TYPES["SubscribeOptions"], _TYPES["Event"]

#: QXSymCore_<name>: result <- arguments (a session's or listing's handle is a u32).
_PROTOTYPES = """
Open: i32 <- P(ServerAddress) u32 u32 u32 P(u32)
Close: i32 <- u32
Exchanges: i32 <- u32 P(u64)
SetReconnect: i32 <- u32 u32 u32
ServerVersion: i32 <- u32 P(u8) P(u32)
Describe: i32 <- u32 str P(P(Layout)) P(str)
Read: i32 <- u32 P(str) u32 P(P(ReadItem))
Write: i32 <- u32 P(WriteItem) u32 P(P(WriteResult))
Attribute: i32 <- u32 str str P(str)
KindOf: u32 <- u32
FormatValue: i32 <- P(Value) P(str)
ParseLeafText: i32 <- u32 str P(Value) P(str)
ListBegin: i32 <- u32 str u32 u32 P(u32)
ListNext: i32 <- u32 P(P(TagInfo)) P(u32) P(u32)
ListEnd: i32 <- u32
Subscribe: i32 <- u32 P(str) u32 P(SubscribeOptions) P(u32)
SubscriptionWait: i32 <- u32 u32 P(P(Event)) P(u32)
Unsubscribe: i32 <- u32
ResultName: str <- i32
ResultMessage: str <- i32
ResultAdvice: str <- i32
OpenFailureMessage: str <- i32 u64 u32
"""


def _find(names: Sequence[str], var: str, beside: Any, check: str, errors: List[str]) -> Any:
    """The first library that loads and exports ``check``: from the environment variable's file or
    folder, beside ``beside``, next to the package, then by the system's search."""
    env = os.environ.get(var)
    places = ([str(Path(env) / n) for n in names] if Path(env).is_dir() else [env]) if env else []
    folders = ([Path(beside).parent] if beside else []) + [Path(__file__).resolve().parent]
    places += [str(f / n) for f in folders for n in names]
    found = ctypes.util.find_library(names[0][:-4] if _WIN else names[0][3:-3])
    for place in places + ([found] if found else []) + list(names):
        if os.sep in place and not os.path.exists(place):
            errors.append(f"{place}: no such file")
            continue
        try:
            lib = ctypes.CDLL(place, mode=ctypes.RTLD_GLOBAL)  # the core finds the library by name
        except OSError as exc:
            errors.append(f"{place}: {exc}")
            continue
        if hasattr(lib, check):
            return lib
        errors.append(f"{place}: not the library looked for (no {check})")
    return None


@functools.lru_cache(maxsize=None)
def library() -> ctypes.CDLL:
    """The client core with its prototypes set, loaded on first use."""
    errors: List[str] = []
    base = _find(_NAMES, LIBRARY_ENV, None, "QXSym_Init", errors)
    core = base and _find(_CORE_NAMES, CORE_ENV, base._name, "QXSymCore_Open", errors)
    if not core:
        raise LibraryNotFoundError(
            f"the QXSymbols shared library was not found; set {LIBRARY_ENV} to the path of "
            f"libQXSymbols.so (and {CORE_ENV} to that of libQXSymCore.so unless it lies beside "
            "it), place both next to the qxsymbols package, or install them on the system's "
            "library path. Tried:\n  " + "\n  ".join(errors)
        )
    for line in _PROTOTYPES.strip().splitlines():
        name, result, _, *arguments = line.replace(":", "").split()
        fn = getattr(core, "QXSymCore_" + name)
        fn.restype, fn.argtypes = _ctype(result), [_ctype(a) for a in arguments]
    return core  # type: ignore[no-any-return]
