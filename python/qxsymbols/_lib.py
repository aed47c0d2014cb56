"""Loading of the client core (libQXSymCore beside libQXSymbols) and the
prototypes of its C interface."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import threading
from pathlib import Path
from typing import List, Optional, Sequence

__all__ = ["LibraryNotFoundError", "library", "LIBRARY_ENV", "CORE_ENV"]

#: Environment variable naming the shared library file (or its folder).
LIBRARY_ENV = "QXSYMBOLS_LIBRARY"
#: Environment variable naming the client core's library file (or its folder);
#: by default it is looked for beside the library.
CORE_ENV = "QXSYMCORE_LIBRARY"

_WIN = sys.platform == "win32"
_NAMES = ("QXSymbolsA.dll",) if _WIN else ("libQXSymbols.so", "libQXSymbols.so.3")
_CORE_NAMES = ("QXSymCore.dll",) if _WIN else ("libQXSymCore.so", "libQXSymCore.so.3")


class LibraryNotFoundError(OSError):
    """The shared library could not be found or loaded; the message lists
    every place that was tried and why each failed."""


u8, u32, i32, u64 = ctypes.c_uint8, ctypes.c_uint32, ctypes.c_int32, ctypes.c_uint64
P, c_str = ctypes.POINTER, ctypes.c_char_p


class ServerAddress(ctypes.Structure):
    """The 68-byte address record of a workspace."""

    _fields_ = [("protocol", i32), ("ip", ctypes.c_char * 60), ("port", ctypes.c_uint16), ("timeout", ctypes.c_uint16)]


class Value(ctypes.Structure):
    _fields_ = [("kind", u32), ("boolean", u32), ("i", ctypes.c_int64), ("u", u64), ("f", ctypes.c_double),
                ("data", P(u8)), ("length", u32), ("reserved", u32)]


class Leaf(ctypes.Structure):
    _fields_ = [("path", c_str), ("offset", u32), ("size", u32), ("tyvar", u32), ("element_size", u32),
                ("count", u32), ("num_dims", u32), ("dims", u32 * 8), ("lower", ctypes.c_int64 * 8)]


class Layout(ctypes.Structure):
    _fields_ = [("path", c_str), ("type_name", c_str), ("size", u32), ("leaf_count", u32),
                ("leaves", P(Leaf)), ("value_count", u32)]


class ReadItem(ctypes.Structure):
    _fields_ = [("result", i32), ("message", c_str), ("layout", P(Layout)), ("value_count", u32),
                ("values", P(Value))]


class WriteItem(ctypes.Structure):
    _fields_ = [("path", c_str), ("values", P(Value)), ("value_count", u32)]


class WriteResult(ctypes.Structure):
    _fields_ = [("result", i32), ("message", c_str)]


class TagInfo(ctypes.Structure):
    _fields_ = [("name", c_str), ("type_name", c_str), ("description", c_str), ("tyvar", u32), ("size", u32),
                ("flags", u32)]


H = u32
_PROTOTYPES = {  # name: (result, arguments)
    "QXSymCore_Open": (i32, [P(ServerAddress), u32, u32, u32, P(H)]),
    "QXSymCore_Close": (i32, [H]),
    "QXSymCore_Exchanges": (i32, [H, P(u64)]),
    "QXSymCore_ServerVersion": (i32, [H, P(u8), P(u32)]),
    "QXSymCore_Describe": (i32, [H, c_str, P(P(Layout)), P(c_str)]),
    "QXSymCore_Read": (i32, [H, P(c_str), u32, P(P(ReadItem))]),
    "QXSymCore_Write": (i32, [H, P(WriteItem), u32, P(P(WriteResult))]),
    "QXSymCore_Attribute": (i32, [H, c_str, c_str, P(c_str)]),
    "QXSymCore_ParseLeafText": (i32, [u32, c_str, P(Value), P(c_str)]),
    "QXSymCore_FormatValue": (i32, [P(Value), P(c_str)]),
    "QXSymCore_ListBegin": (i32, [H, c_str, u32, u32, P(H)]),
    "QXSymCore_ListNext": (i32, [H, P(P(TagInfo)), P(u32), P(u32)]),
    "QXSymCore_ListEnd": (i32, [H]),
    "QXSymCore_ResultName": (c_str, [i32]),
    "QXSymCore_ResultMessage": (c_str, [i32]),
    "QXSymCore_ResultAdvice": (c_str, [i32]),
    "QXSymCore_OpenFailureMessage": (c_str, [i32, ctypes.c_uint64, ctypes.c_uint32]),
}


def _candidates(names: Sequence[str], var: str, beside: Optional[str]) -> List[str]:
    """Places to look, in order: the environment variable (a file or folder),
    beside the library already loaded, next to the package, the system's search."""
    env = os.environ.get(var)
    out = ([str(Path(env) / n) for n in names] if Path(env).is_dir() else [env]) if env else []
    if beside:
        out.extend(str(Path(beside).parent / n) for n in names)
    here = Path(__file__).resolve().parent
    out.extend(str(here / n) for n in names)
    found = ctypes.util.find_library(names[0][3:-3] if not _WIN else names[0][:-4])
    if found:
        out.append(found)
    out.extend(names)  # the dynamic loader's own search (LD_LIBRARY_PATH, ld.so.cache)
    return out


def _open(cands: List[str], errors: List[str], check: Optional[str]) -> Optional[ctypes.CDLL]:
    for cand in cands:
        if os.sep in cand and not os.path.exists(cand):
            errors.append(f"{cand}: no such file")
            continue
        try:
            # RTLD_GLOBAL: the core finds the library loaded here by its name.
            lib = ctypes.CDLL(cand, mode=ctypes.RTLD_GLOBAL)
        except OSError as exc:
            errors.append(f"{cand}: {exc}")
            continue
        if check and not hasattr(lib, check):
            errors.append(f"{cand}: not the library looked for (no {check})")
            continue
        return lib
    return None


def _load() -> ctypes.CDLL:
    errors: List[str] = []
    base = _open(_candidates(_NAMES, LIBRARY_ENV, None), errors, "QXSym_Init")
    if base is not None:
        core = _open(_candidates(_CORE_NAMES, CORE_ENV, base._name), errors, "QXSymCore_Open")
        if core is not None:
            for name, (res, args) in _PROTOTYPES.items():
                fn = getattr(core, name)
                fn.argtypes, fn.restype = args, res
            return core
    raise LibraryNotFoundError(
        "the QXSymbols shared library was not found; set "
        f"{LIBRARY_ENV} to the path of libQXSymbols.so (and {CORE_ENV} to that of "
        "libQXSymCore.so unless it lies beside it), place both next to the "
        "qxsymbols package, or install them on the system's library path. Tried:\n  " + "\n  ".join(errors)
    )


_lock = threading.Lock()
_lib: Optional[ctypes.CDLL] = None


def library() -> ctypes.CDLL:
    """The loaded client core; loaded on first use."""
    global _lib
    if _lib is None:
        with _lock:
            if _lib is None:
                _lib = _load()
    return _lib
