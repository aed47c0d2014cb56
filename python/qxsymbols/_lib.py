"""Loading of the shared library and the prototypes of the C functions used."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import threading
from pathlib import Path
from typing import List, Optional

__all__ = ["LibraryNotFoundError", "library", "LIBRARY_ENV"]

#: Environment variable naming the shared library file (or its folder).
LIBRARY_ENV = "QXSYMBOLS_LIBRARY"

_NAMES = ("libQXSymbols.so", "libQXSymbols.so.3") if sys.platform != "win32" else ("QXSymbolsA.dll",)


class LibraryNotFoundError(OSError):
    """The shared library could not be found or loaded.

    The message lists every place that was tried and why each failed.
    """


c_int = ctypes.c_int
c_u8 = ctypes.c_uint8
c_u16 = ctypes.c_uint16
c_u32 = ctypes.c_uint32
P = ctypes.POINTER


class ServerAddress(ctypes.Structure):
    """The 68-byte address record of ``QXSym_OpenWorkspace``."""

    _fields_ = [
        ("protocol", ctypes.c_int32),
        ("ip", ctypes.c_char * 60),
        ("port", c_u16),
        ("timeout", c_u16),
    ]


assert ctypes.sizeof(ServerAddress) == 68

# name: argument types (every function returns a 32-bit result code)
_PROTOTYPES = {
    "QXSym_Init": [],
    "QXSym_IsInitOk": [],
    "QXSym_OpenWorkspace": [c_u8, P(ServerAddress), P(c_int)],
    "QXSym_CloseWorkspace": [c_int],
    "QXSym_GetServerVersion": [c_int, P(c_u8), P(c_u8), P(c_u8), P(c_u8)],
    "QXSym_GetGlobalTag": [c_int, ctypes.c_char_p, P(c_int)],
    "QXSym_QueryGlobalTagsNum": [c_int, ctypes.c_char_p, P(c_u32)],
    "QXSym_QueryGlobalTags": [c_int, ctypes.c_char_p, P(P(c_int)), P(c_u32)],
    "QXSym_FreeTagList": [P(c_int)],
    "QXSym_GetTagName": [c_int, ctypes.c_char_p, P(c_u16)],
    "QXSym_GetTagDataTypeVar": [c_int, P(c_u32)],
    "QXSym_GetTagDataSize": [c_int, P(c_u32)],
    "QXSym_GetTagDataFullSize": [c_int, P(c_u32)],
    "QXSym_IsTagReadOnly": [c_int, P(c_u8)],
    "QXSym_GetTagDims": [c_int, P(c_u32), P(c_u32), P(c_u32)],
    "QXSym_GetTagValue_Ptr": [c_int, ctypes.c_void_p, c_u32],
    "QXSym_SetTagValue_Ptr": [c_int, ctypes.c_void_p, c_u32],
    "QXSym_GetTagRawValue_Ptr": [c_int, ctypes.c_void_p, c_u32],
    "QXSym_SetTagRawValue_Ptr": [c_int, ctypes.c_void_p, c_u32],
    "QXSym_GetTagAddress": [c_int, P(ctypes.c_uint64 if sys.platform == "win32" else c_u32)],
    "QXSym_GetTagType": [c_int, P(c_int)],
    "QXSym_CloseTag": [c_int],
    "QXSym_TypeGetSize": [c_int, P(c_u32)],
    "QXSym_TypeGetProperties": [c_int, P(c_u32)],
    "QXSym_TypeGetNumChildren": [c_int, P(c_u32)],
    "QXSym_TypeGetName": [c_int, ctypes.c_char_p, P(c_u16)],
    "QXSym_TypeGetChildName": [c_int, c_u32, ctypes.c_char_p, P(c_u16)],
    "QXSym_TypeGetChild": [c_int, c_u32, P(c_int)],
    "QXSym_TypeGetArrayNumDimensions": [c_int, P(c_u32)],
    "QXSym_TypeGetArrayDimensions": [c_int, P(c_u32), c_u8],
    "QXSym_CloseType": [c_int],
    "QXSym_CreateGroup": [c_int, P(c_int)],
    "QXSym_DeleteGroup": [c_int],
    "QXSym_AddTagToGroup": [c_int, c_int],
    "QXSym_ReadGroup": [c_int],
    "QXSym_WriteGroup": [c_int],
    "QXSym_GetTagValueFromGroup_Ptr": [c_int, c_int, ctypes.c_void_p, c_u32],
    "QXSym_SetTagValueIntoGroup_Ptr": [c_int, c_int, ctypes.c_void_p, c_u32],
}


def _candidates() -> List[str]:
    """Places to look, in order: the environment variable, next to the
    package, then the system's search path."""
    out: List[str] = []
    env = os.environ.get(LIBRARY_ENV)
    if env:
        p = Path(env)
        if p.is_dir():
            out.extend(str(p / n) for n in _NAMES)
        else:
            out.append(env)
    here = Path(__file__).resolve().parent
    out.extend(str(here / n) for n in _NAMES)
    found = ctypes.util.find_library("QXSymbols")
    if found:
        out.append(found)
    out.extend(_NAMES)  # the dynamic loader's own search (LD_LIBRARY_PATH, ld.so.cache)
    return out


def _load() -> ctypes.CDLL:
    errors: List[str] = []
    for cand in _candidates():
        is_path = os.sep in cand
        if is_path and not os.path.exists(cand):
            errors.append(f"{cand}: no such file")
            continue
        try:
            # The Windows build's exports clean their own arguments off the stack.
            loader = getattr(ctypes, "WinDLL", ctypes.CDLL) if sys.platform == "win32" else ctypes.CDLL
            lib = loader(cand)
        except OSError as exc:
            errors.append(f"{cand}: {exc}")
            continue
        try:
            for name, args in _PROTOTYPES.items():
                fn = getattr(lib, name)
                fn.argtypes = args
                fn.restype = ctypes.c_int
        except AttributeError as exc:
            errors.append(f"{cand}: not the QXSymbols library ({exc})")
            continue
        rc = lib.QXSym_Init()
        if rc != 0:
            errors.append(f"{cand}: QXSym_Init answered {rc}")
            continue
        return lib
    raise LibraryNotFoundError(
        "the QXSymbols shared library was not found; set "
        f"{LIBRARY_ENV} to the path of libQXSymbols.so, place it next to the "
        "qxsymbols package, or install it on the system's library path. Tried:\n  "
        + "\n  ".join(errors)
    )


_lock = threading.Lock()
_lib: Optional[ctypes.CDLL] = None


def library() -> ctypes.CDLL:
    """The loaded and started library; loaded on first use."""
    global _lib
    if _lib is None:
        with _lock:
            if _lib is None:
                _lib = _load()
    return _lib
