"""Loading of the client core (libQXSymCore beside libQXSymbols), and the constants, records and prototypes
of its C interface (QXSymCore.h), each written once here."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import threading
from pathlib import Path
from typing import Any, List, Optional, Sequence, Tuple

__all__ = ["LibraryNotFoundError", "library", "LIBRARY_ENV", "CORE_ENV"]

#: Environment variable naming the shared library file (or its folder).
LIBRARY_ENV = "QXSYMBOLS_LIBRARY"
#: Environment variable naming the client core's library file (or its folder); by default it is looked for
#: beside the library.
CORE_ENV = "QXSYMCORE_LIBRARY"

_WIN = sys.platform == "win32"
_NAMES = ("QXSymbolsA.dll",) if _WIN else ("libQXSymbols.so", "libQXSymbols.so.3")
_CORE_NAMES = ("QXSymCore.dll",) if _WIN else ("libQXSymCore.so", "libQXSymCore.so.3")

BOOL, SIGNED, UNSIGNED, FLOAT, TEXT, BYTES = range(1, 7)  # _QXSymCoreValueKind
ENCODINGS = {"iso8859-1": 0, "utf-8": 1, "cp1252": 2}  # Python's codec name: _QXSymCoreEncoding
LIST_DETAILS, LIST_DESCRIPTIONS = 1, 2  # QXSYMCORE_LIST_*
TAG_READ_ONLY, TAG_BIT_ADDRESS = 1, 2  # QXSYMCORE_TAG_*
MAX_DIMS = 8  # QXSYMCORE_MAX_DIMS


class LibraryNotFoundError(OSError):
    """The shared library could not be found or loaded; the message lists every place that was tried and why
    each failed."""


u8, u16, u32, i32, u64, i64, c_str, P = (ctypes.c_uint8, ctypes.c_uint16, ctypes.c_uint32, ctypes.c_int32,
                                         ctypes.c_uint64, ctypes.c_int64, ctypes.c_char_p, ctypes.POINTER)


def _record(name: str, *fields: Tuple[str, Any]) -> Any:
    """A ctypes structure with the fields of the C record of that name."""
    return type(name, (ctypes.Structure,), {"_fields_": list(fields)})


_SHAPE = (("num_dims", u32), ("dims", u32 * MAX_DIMS), ("lower", i64 * MAX_DIMS))
ServerAddress = _record("QXSymServerAddress", ("protocol", i32), ("ip", ctypes.c_char * 60), ("port", u16),
                        ("timeout", u16))
Value = _record("QXSymCoreValue", ("kind", u32), ("boolean", u32), ("i", i64), ("u", u64), ("f", ctypes.c_double),
                ("data", P(u8)), ("length", u32), ("reserved", u32))
Leaf = _record("QXSymCoreLeaf", ("path", c_str), ("offset", u32), ("size", u32), ("tyvar", u32),
               ("element_size", u32), ("count", u32), *_SHAPE)
Layout = _record("QXSymCoreLayout", ("path", c_str), ("type_name", c_str), ("size", u32), ("leaf_count", u32),
                 ("leaves", P(Leaf)), ("value_count", u32), *_SHAPE, ("type_properties", u32))
ReadItem = _record("QXSymCoreReadItem", ("result", i32), ("message", c_str), ("layout", P(Layout)),
                   ("value_count", u32), ("values", P(Value)))
WriteItem = _record("QXSymCoreWriteItem", ("path", c_str), ("values", P(Value)), ("value_count", u32))
WriteResult = _record("QXSymCoreWriteResult", ("result", i32), ("message", c_str))
TagInfo = _record("QXSymCoreTagInfo", ("name", c_str), ("type_name", c_str), ("description", c_str),
                  ("tyvar", u32), ("size", u32), ("flags", u32))

_PROTOTYPES = {  # QXSymCore_<name>: (result, arguments); a handle is a u32
    "Open": (i32, [P(ServerAddress), u32, u32, u32, P(u32)]),
    "Close": (i32, [u32]),
    "Exchanges": (i32, [u32, P(u64)]),
    "ServerVersion": (i32, [u32, P(u8), P(u32)]),
    "Describe": (i32, [u32, c_str, P(P(Layout)), P(c_str)]),
    "Read": (i32, [u32, P(c_str), u32, P(P(ReadItem))]),
    "Write": (i32, [u32, P(WriteItem), u32, P(P(WriteResult))]),
    "Attribute": (i32, [u32, c_str, c_str, P(c_str)]),
    "KindOf": (u32, [u32]),
    "FormatValue": (i32, [P(Value), P(c_str)]),
    "ParseLeafText": (i32, [u32, c_str, P(Value), P(c_str)]),
    "ListBegin": (i32, [u32, c_str, u32, u32, P(u32)]),
    "ListNext": (i32, [u32, P(P(TagInfo)), P(u32), P(u32)]),
    "ListEnd": (i32, [u32]),
    "ResultName": (c_str, [i32]),
    "ResultMessage": (c_str, [i32]),
    "ResultAdvice": (c_str, [i32]),
    "OpenFailureMessage": (c_str, [i32, u64, u32]),
}


def _find(names: Sequence[str], var: str, beside: Optional[str], check: str, errors: List[str]) -> Any:
    """The first library that loads and exports ``check``, looked for in the environment variable's file or
    folder, beside the library already loaded, next to the package, then by the system's search; why each
    other place failed goes to ``errors``."""
    env = os.environ.get(var)
    places = ([str(Path(env) / n) for n in names] if Path(env).is_dir() else [env]) if env else []
    folders = ([Path(beside).parent] if beside else []) + [Path(__file__).resolve().parent]
    found = ctypes.util.find_library(names[0][:-4] if _WIN else names[0][3:-3])
    for place in places + [str(f / n) for f in folders for n in names] + ([found] if found else []) + list(names):
        if os.sep in place and not os.path.exists(place):
            errors.append(f"{place}: no such file")
            continue
        try:
            lib = ctypes.CDLL(place, mode=ctypes.RTLD_GLOBAL)  # the core finds the library by its name
        except OSError as exc:
            errors.append(f"{place}: {exc}")
            continue
        if hasattr(lib, check):
            return lib
        errors.append(f"{place}: not the library looked for (no {check})")
    return None


_lock = threading.Lock()
_lib: Optional[ctypes.CDLL] = None


def library() -> ctypes.CDLL:
    """The client core with its prototypes set, loaded on first use."""
    global _lib
    with _lock:
        if _lib is None:
            errors: List[str] = []
            base = _find(_NAMES, LIBRARY_ENV, None, "QXSym_Init", errors)
            core = base and _find(_CORE_NAMES, CORE_ENV, base._name, "QXSymCore_Open", errors)
            if not core:
                raise LibraryNotFoundError(
                    f"the QXSymbols shared library was not found; set {LIBRARY_ENV} to the path of libQXSymbols.so"
                    f" (and {CORE_ENV} to that of libQXSymCore.so unless it lies beside it), place both next to "
                    "the qxsymbols package, or install them on the system's library path. Tried:\n  "
                    + "\n  ".join(errors))
            for name, (result, arguments) in _PROTOTYPES.items():
                fn = getattr(core, "QXSymCore_" + name)
                fn.argtypes, fn.restype = arguments, result
            _lib = core
    return _lib
