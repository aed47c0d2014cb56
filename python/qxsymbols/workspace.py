"""Workspaces, groups and watches over the C interface."""

from __future__ import annotations

import ctypes
import dataclasses
import re
import sys
import threading
import time
import weakref
from collections import OrderedDict
from typing import (
    Any,
    Dict,
    Iterable,
    Iterator,
    List,
    Mapping,
    NamedTuple,
    Optional,
    Tuple,
)

from . import errors
from ._lib import ServerAddress, library
from .errors import InvalidValueError, QXSymError, check, error_for
from .types import (
    TYVAR_KINDS,
    Member,
    TypeInfo,
    basic_decoder,
    encode_basic,
    kind_from_properties,
    lay_out,
    property_names,
    same_value,
)

__all__ = ["connect", "Workspace", "Group", "Change", "Version"]

_TEXT = 260  # longest text of the interface, terminator included
_MAX_VALUE_BYTES = 16 << 20  # largest value read or written in one piece
_MAX_CHILDREN = 65536  # members of one type that are described
_MAX_DEPTH = 32  # nesting of types that are described
_TAG_CACHE = 1024  # tag handles a workspace keeps for reads by name
_WILDCARD_CHARS = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_"
_INVALID_HANDLE = 4
_NOT_IMPLEMENTED = 22
_UNKNOWN_TAG_SIZE = 11
_UNREACHABLE = (13, 17, 48)  # time-out, connection lost, cannot send


class Version(NamedTuple):
    """Version of a controller's symbol service."""

    major: int
    minor: int
    revision: int
    build: int

    def __str__(self) -> str:
        return ".".join(map(str, self))


class Change(NamedTuple):
    """One value seen by ``Workspace.watch``: ``previous`` is None the first
    time a tag is reported."""

    name: str
    value: Any
    previous: Any


def changes(last: Dict[str, Any], values: Dict[str, Any], initial: bool) -> List[Change]:
    """The changes of one poll of a watch: each value of ``values`` that
    differs from the one in ``last`` (each first value too, with
    ``initial``). ``last`` is brought up to date."""
    out = []
    for name, value in values.items():
        seen = name in last
        if not seen or not same_value(last[name], value):
            previous = last.get(name)
            last[name] = value
            if seen or initial:
                out.append(Change(name, value, previous))
    return out


def _text(fn: Any, *args: Any) -> str:
    """Run a text-out function, growing the buffer once if it asks to."""
    size = _TEXT
    for _ in range(2):
        buf = ctypes.create_string_buffer(size)
        length = ctypes.c_uint16(size)
        rc = fn(*args, buf, ctypes.byref(length))
        if rc == 10 and length.value > size:  # symResInvalidBuffer: needed length given
            size = length.value
            continue
        check(rc)
        return buf.value.decode("latin-1")
    raise QXSymError(10)


def _u32(fn: Any, *args: Any) -> int:
    v = ctypes.c_uint32()
    check(fn(*args, ctypes.byref(v)))
    return v.value


class _Tag:
    """A tag handle with what is known of the tag."""

    __slots__ = ("handle", "name", "kind", "size", "full_size", "dims", "type", "buf", "decode")

    def __init__(self, handle: int, name: str) -> None:
        self.handle = handle
        self.name = name
        self.kind = "other"
        self.size = 0
        self.full_size = 0
        self.dims: Tuple[int, ...] = ()
        self.type: Optional[TypeInfo] = None
        self.buf: Any = None  # value buffer and decoder of a basic tag, made on first read
        self.decode: Any = None

    @property
    def basic(self) -> bool:
        return self.kind not in ("complex", "other") and not self.dims


class _Closing:
    """Closes on leaving a ``with`` block, and when dropped without close()
    (so a forgotten object still gives back what it holds at the source)."""

    _handle: int = 0

    def close(self) -> None:
        raise NotImplementedError

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            if getattr(self, "_handle", 0):
                self.close()
        except Exception:
            pass


class Workspace(_Closing):
    """An open connection to one controller's symbol service.

    Made by :func:`connect`; use it as a context manager, or call
    :meth:`close`. Calls from several threads are allowed; calls on one
    workspace run one at a time (they share one connection), calls on
    different workspaces run side by side.
    """

    def __init__(self, host: str, port: int, timeout: Optional[float] = None, selector: int = 0) -> None:
        lib = library()
        self._lib = lib
        try:
            raw_host = host.encode("ascii")
        except (UnicodeEncodeError, AttributeError):
            raise InvalidValueError(5, f"host: {host!r} is not an ASCII host name or address") from None
        if not raw_host or len(raw_host) > 59 or b"\0" in raw_host:
            raise InvalidValueError(5, "host: 1 to 59 characters")
        if not isinstance(port, int) or not 0 < port < 65536:
            raise InvalidValueError(5, f"port: {port!r} is not a TCP port (1..65535)")
        ms = 0
        if timeout is not None:
            try:
                ms = int(round(float(timeout) * 1000))
            except (TypeError, ValueError, OverflowError):
                ms = -1
            if not 0 < ms <= 65535:
                raise InvalidValueError(5, f"timeout: {timeout!r} s is outside 0.001..65.535 s")
        if not 0 <= selector <= 255:
            raise InvalidValueError(5, "selector: 0..255")
        address = ServerAddress(0, raw_host, port, ms)
        handle = ctypes.c_int(0)
        started = time.monotonic()
        rc = lib.QXSym_OpenWorkspace(selector, ctypes.byref(address), ctypes.byref(handle))
        if rc not in (errors.OK, errors.OK_NOT_FULL_SUPPORT):
            what = f"cannot open a workspace on {host}:{port}"
            # A controller that takes the connection and stays silent fails
            # the open with symResSocketError once the handshakes and the open
            # request have each waited a whole time-out (10 s when not given).
            if rc == errors.SOCKET_ERROR and time.monotonic() - started >= (ms or 10000) / 1000:
                what += ": the controller does not answer"
            raise error_for(rc, what)
        self._handle = handle.value
        #: False when the service is a version that does not support everything.
        self.full_support = rc == errors.OK
        self._lock = threading.RLock()
        self._tags: "OrderedDict[str, _Tag]" = OrderedDict()
        self._types: Dict[str, TypeInfo] = {}
        self._layouts: Dict[str, bool] = {}  # type name: derived layout confirmed
        self._groups: "weakref.WeakSet[Group]" = weakref.WeakSet()
        self._reachable = True  # False once a release found the controller silent or gone
        self.host = host
        self.port = port
        try:
            v = [ctypes.c_uint8() for _ in range(4)]
            check(lib.QXSym_GetServerVersion(self._handle, *map(ctypes.byref, v)))
            self.version = Version(*(x.value for x in v))
        except BaseException:
            self.close()
            raise

    # ---- life cycle --------------------------------------------------------

    def __enter__(self) -> "Workspace":
        return self

    def __repr__(self) -> str:
        state = "open" if self._handle else "closed"
        return f"<qxsymbols.Workspace {self.host}:{self.port} {state}>"

    @property
    def closed(self) -> bool:
        return not self._handle

    def close(self) -> None:
        """Delete its groups, release its tags and close the workspace.
        Closing twice does nothing. The connection is gone afterwards even
        when the controller does not answer."""
        with self._lock:
            if not self._handle:
                return
            for g in list(self._groups):
                g._release()
            for t in self._tags.values():
                self._release_remote(self._lib.QXSym_CloseTag, t.handle)
            self._tags.clear()
            handle, self._handle = self._handle, 0
            self._lib.QXSym_CloseWorkspace(handle)

    def _release_remote(self, fn: Any, handle: int) -> None:
        """Release a tag or group at the controller. Once the controller has
        not answered, the rest are not sent: each would wait the whole
        time-out, and closing must not hang for long. Those handles then stay
        with the library."""
        if self._reachable and fn(handle) in _UNREACHABLE:
            self._reachable = False

    def _ws(self) -> int:
        if not self._handle:
            raise QXSymError(_INVALID_HANDLE, "the workspace is closed")
        return self._handle

    # ---- tags --------------------------------------------------------------

    def _lookup(self, name: str) -> _Tag:
        """A new tag handle for ``name`` with its kind and sizes."""
        if not isinstance(name, str) or not name:
            raise InvalidValueError(5, f"tag name: {name!r}")
        try:
            raw = name.encode("latin-1")
        except UnicodeEncodeError:
            raise InvalidValueError(5, f"tag name {name!r}: characters outside 8-bit Latin-1") from None
        if len(raw) >= _TEXT or b"\0" in raw:
            raise InvalidValueError(5, f"tag name: at most {_TEXT - 1} characters")
        lib = self._lib
        h = ctypes.c_int(0)
        rc = lib.QXSym_GetGlobalTag(self._ws(), raw, ctypes.byref(h))
        if rc != errors.OK:
            raise error_for(rc, f"tag {name}")
        tag = _Tag(h.value, name)
        try:
            tyvar = _u32(lib.QXSym_GetTagDataTypeVar, tag.handle)
            tag.size = _u32(lib.QXSym_GetTagDataSize, tag.handle)
            tag.full_size = _u32(lib.QXSym_GetTagDataFullSize, tag.handle)
            d = [ctypes.c_uint32() for _ in range(3)]
            check(lib.QXSym_GetTagDims(tag.handle, *map(ctypes.byref, d)))
            tag.dims = tuple(x.value for x in d if x.value)
            if tyvar in TYVAR_KINDS:
                tag.kind, expect = TYVAR_KINDS[tyvar]
                if tag.basic and (tag.size != expect if expect else not 1 < tag.size <= _MAX_VALUE_BYTES):
                    raise QXSymError(_UNKNOWN_TAG_SIZE, f"{name}: {tag.size} bytes for a {tag.kind} value")
            elif tyvar == 18:
                tag.kind = "complex"
        except BaseException:
            lib.QXSym_CloseTag(tag.handle)
            raise
        return tag

    def _tag(self, name: str) -> _Tag:
        """The cached tag for ``name``, looked up on first use. The cache is
        bounded: the least recently used handle is released beyond it."""
        tag = self._tags.get(name)
        if tag is not None:
            self._tags.move_to_end(name)
            return tag
        tag = self._lookup(name)
        self._tags[name] = tag
        while len(self._tags) > _TAG_CACHE:
            _, old = self._tags.popitem(last=False)
            self._lib.QXSym_CloseTag(old.handle)
        return tag

    def _count(self, flt: bytes) -> int:
        return _u32(self._lib.QXSym_QueryGlobalTagsNum, self._ws(), flt)

    def _list(self, flt: bytes) -> Optional[List[str]]:
        """Names of the tags matching ``flt``, or None when the service lists
        no more than a bounded number at once."""
        lib = self._lib
        arr = ctypes.POINTER(ctypes.c_int)()
        count = ctypes.c_uint32()
        rc = lib.QXSym_QueryGlobalTags(self._ws(), flt, ctypes.byref(arr), ctypes.byref(count))
        if rc == errors.BUFFER_OVERFLOW:
            return None
        check(rc, "tag list")
        try:
            return [_text(lib.QXSym_GetTagName, arr[i]) for i in range(count.value)]
        finally:
            lib.QXSym_FreeTagList(arr)

    def tags(self, filter: Optional[str] = None) -> List[str]:
        """Names of the global tags, all or those matching ``filter`` (a glob:
        ``*`` any run of characters, ``?`` one character).

        The list is complete however many tags match: a service that lists a
        bounded number at once is asked again with narrower filters."""
        try:
            flt = (filter or "").encode("latin-1")
        except UnicodeEncodeError:
            raise InvalidValueError(5, f"filter {filter!r}: characters outside 8-bit Latin-1") from None
        if len(flt) >= _TEXT or b"\0" in flt:
            raise InvalidValueError(5, "filter: at most 259 characters")
        with self._lock:
            expected = self._count(flt)
            found: Dict[str, None] = {}
            pending = [flt or b"*"]
            while pending:
                f = pending.pop()
                names = self._list(f)
                if names is not None:
                    found.update(dict.fromkeys(names))
                    continue
                split = _narrow(f)
                if split is None:
                    raise QXSymError(errors.BUFFER_OVERFLOW, f"tag list for {f.decode('latin-1')!r}")
                pending.extend(reversed(split))
            if len(found) != expected:
                raise QXSymError(
                    errors.BUFFER_OVERFLOW,
                    f"listed {len(found)} of the {expected} tags matching {filter or '*'!r}",
                )
            return list(found)

    def read(self, name: str) -> Any:
        """The value of a tag, member (``Line.Speed``) or element
        (``Temps[3]``): ``bool``, ``int``, ``float`` or ``str`` for basic
        types, lists for arrays (one nesting per dimension) and dicts for
        structures and function blocks."""
        with self._lock:
            tag = self._tag(name)
            if tag.basic:
                return self._read_basic(tag)
            t = self._tag_type(tag)
            if t.exact:
                return t.decode(self._read_raw(tag, t.size))
            if t.kind in ("struct", "function_block"):
                return {m.name: self.read(f"{name}.{m.name}") for m in t.members}
            raise QXSymError(_NOT_IMPLEMENTED, f"{name}: the layout of {t.name} is not known")

    def _read_basic(self, tag: _Tag) -> Any:
        if tag.buf is None:
            tag.buf = ctypes.create_string_buffer(max(tag.size, 1))
            tag.decode = basic_decoder(tag.kind, tag.size)
        rc = self._lib.QXSym_GetTagValue_Ptr(tag.handle, tag.buf, tag.size)
        if rc:
            raise error_for(rc, tag.name)
        return tag.decode(tag.buf.raw)

    def _read_raw(self, tag: _Tag, size: int) -> bytes:
        if tag.full_size != size or size > _MAX_VALUE_BYTES:
            raise QXSymError(
                _UNKNOWN_TAG_SIZE, f"{tag.name}: {tag.full_size} bytes in memory, type of {size}"
            )
        buf = ctypes.create_string_buffer(max(size, 1))
        check(self._lib.QXSym_GetTagRawValue_Ptr(tag.handle, buf, size), tag.name)
        return buf.raw[:size]

    def write(self, name: str, value: Any) -> None:
        """Write a tag, member or element. The value is checked against the
        type first (range, text length, array shape, member names): a value
        that does not fit raises :class:`InvalidValueError` and nothing is
        sent. A dict that gives only some members of a structure writes
        just those members."""
        with self._lock:
            tag = self._tag(name)
            if tag.basic:
                data = encode_basic(tag.kind, tag.size, value, name)
                check(self._lib.QXSym_SetTagValue_Ptr(tag.handle, data, len(data)), name)
                return
            t = self._tag_type(tag)
            if t.kind in ("struct", "function_block") and (not t.exact or not t.is_complete(value)):
                if not isinstance(value, Mapping):
                    raise InvalidValueError(5, f"{name}: expected a dict of members")
                by_lower = {m.name.lower(): m for m in t.members}
                unknown = [k for k in value if str(k).lower() not in by_lower]
                if unknown:
                    raise InvalidValueError(5, f"{name}: no member named {unknown[0]!r}")
                for k, v in value.items():
                    self.write(f"{name}.{by_lower[str(k).lower()].name}", v)
                return
            if not t.exact:
                raise QXSymError(_NOT_IMPLEMENTED, f"{name}: the layout of {t.name} is not known")
            data = t.encode(value, name)
            if tag.full_size != len(data):
                raise QXSymError(_UNKNOWN_TAG_SIZE, f"{name}: {tag.full_size} bytes, type of {len(data)}")
            check(self._lib.QXSym_SetTagRawValue_Ptr(tag.handle, data, len(data)), name)

    # ---- types -------------------------------------------------------------

    def type(self, name: str) -> TypeInfo:
        """A plain description of the type of a tag, member or element
        (see :class:`TypeInfo`; ``as_dict()`` gives nested dicts)."""
        with self._lock:
            tag = self._tag(name)
            return self._tag_type(tag)

    def _tag_type(self, tag: _Tag) -> TypeInfo:
        if tag.type is None:
            h = ctypes.c_int(0)
            check(self._lib.QXSym_GetTagType(tag.handle, ctypes.byref(h)), tag.name)
            try:
                t = self._describe(h.value, 0)
            finally:
                self._lib.QXSym_CloseType(h.value)
            if t.exact and not self._confirm(tag.name, t):
                t = _inexact(t)
            tag.type = t
        return tag.type

    def _address(self, path: str) -> Optional[int]:
        """Address of a tag, member or element, or None when it has none
        that this build can hold."""
        h = ctypes.c_int(0)
        if self._lib.QXSym_GetGlobalTag(self._ws(), path.encode("latin-1"), ctypes.byref(h)) != 0:
            return None
        try:
            a = ctypes.c_uint64() if _ADDR64 else ctypes.c_uint32()
            return a.value if self._lib.QXSym_GetTagAddress(h.value, ctypes.byref(a)) == 0 else None
        finally:
            self._lib.QXSym_CloseTag(h.value)

    def _confirm(self, path: str, t: TypeInfo) -> bool:
        """Whether the offsets derived for ``t`` are those of the instance at
        ``path``: each member's address is asked for once per type. Types
        without structures inside need no confirmation."""
        if not _has_struct(t):
            return True
        known = self._layouts.get(t.name)
        if known is not None:
            return known
        ok = False
        base = self._address(path)
        if base is not None and t.kind == "array" and t.element is not None:
            for first in _first_element(t):
                elem = f"{path}[{','.join(map(str, first))}]"
                if self._address(elem) == base:
                    ok = self._confirm(elem, t.element)
                    break
        elif base is not None:
            ok = all(
                self._address(f"{path}.{m.name}") == base + (m.offset or 0)
                and self._confirm(f"{path}.{m.name}", m.type)
                for m in t.members
            )
        self._layouts[t.name] = ok
        return ok

    def _describe(self, h: int, depth: int) -> TypeInfo:
        lib = self._lib
        name = _text(lib.QXSym_TypeGetName, h)
        cached = self._types.get(name)
        if cached is not None:
            return cached
        if depth > _MAX_DEPTH:
            raise QXSymError(errors.BUFFER_OVERFLOW, f"type {name} nests too deep")
        flags = _u32(lib.QXSym_TypeGetProperties, h)
        size = _u32(lib.QXSym_TypeGetSize, h)
        kind = kind_from_properties(flags, size)
        props = property_names(flags)
        if kind == "array":
            ndims = _u32(lib.QXSym_TypeGetArrayNumDimensions, h)
            if not 1 <= ndims <= 3:
                raise QXSymError(errors.INVALID_PARAMETER, f"type {name}: {ndims} dimensions")
            dims = (ctypes.c_uint32 * 3)()
            check(lib.QXSym_TypeGetArrayDimensions(h, dims, 3))
            element = self._child(h, 0, depth)
            count = 1
            for d in dims[:ndims]:
                count *= d
            exact = element.exact and count * element.size == size
            t = TypeInfo(name, size, kind, props, (), tuple(dims[:ndims]), element, exact)
        elif kind in ("struct", "function_block"):
            n = _u32(lib.QXSym_TypeGetNumChildren, h)
            if n > _MAX_CHILDREN:
                raise QXSymError(errors.BUFFER_OVERFLOW, f"type {name}: {n} members")
            members = [
                (_text(lib.QXSym_TypeGetChildName, h, i), self._child(h, i, depth)) for i in range(n)
            ]
            placed, exact = lay_out(members, size)
            t = TypeInfo(name, size, kind, props, placed, (), None, exact)
        else:
            t = TypeInfo(name, size, kind, props)
        self._types[name] = t
        return t

    def _child(self, h: int, index: int, depth: int) -> TypeInfo:
        c = ctypes.c_int(0)
        check(self._lib.QXSym_TypeGetChild(h, index, ctypes.byref(c)))
        try:
            return self._describe(c.value, depth + 1)
        finally:
            self._lib.QXSym_CloseType(c.value)

    # ---- groups and watches --------------------------------------------------

    def group(self, names: Iterable[str]) -> "Group":
        """A group of tags read and written together in one exchange each."""
        return Group(self, list(names))

    def watch(
        self, names: Iterable[str], interval: float = 1.0, *, initial: bool = True
    ) -> Iterator[Change]:
        """Poll ``names`` as a group every ``interval`` seconds and yield a
        :class:`Change` for every value that differs from the one before
        (with ``initial``, also each first value). Stop by leaving the loop;
        the group is deleted then."""
        if not interval > 0:
            raise InvalidValueError(5, "interval: must be above 0 s")
        group = self.group(names)
        try:
            last: Dict[str, Any] = {}
            due = time.monotonic()
            while True:
                yield from changes(last, group.read(), initial)
                due += interval
                now = time.monotonic()
                if due < now:  # fell behind: start afresh instead of catching up
                    due = now
                time.sleep(due - now)
        finally:
            group.close()




_ADDR64 = sys.platform == "win32"  # width of the address type of the C interface


def _has_struct(t: TypeInfo) -> bool:
    if t.kind in ("struct", "function_block"):
        return True
    return t.kind == "array" and t.element is not None and _has_struct(t.element)


def _first_element(t: TypeInfo) -> List[Tuple[int, ...]]:
    """Candidate indices of an array's first element: the lower bounds in
    the type's name when it spells them, else 0 and 1."""
    m = re.match(r"\s*ARRAY\s*\[([^\]]*)\]", t.name, re.IGNORECASE)
    if m:
        try:
            return [tuple(int(r.split("..")[0]) for r in m.group(1).split(","))]
        except ValueError:
            pass
    return [(0,) * len(t.dims), (1,) * len(t.dims)]


def _inexact(t: TypeInfo) -> TypeInfo:
    """``t`` marked as of unknown layout, with no offsets."""
    members = tuple(Member(m.name, m.type, None) for m in t.members)
    return dataclasses.replace(t, members=members, exact=False)


def _narrow(flt: bytes) -> Optional[List[bytes]]:
    """Filters whose matches together are exactly those of ``flt``, each
    narrower: the first ``*`` becomes either nothing or one character and a
    ``*``; else the first ``?`` becomes each character."""
    if len(flt) + 2 >= _TEXT:  # a longer filter would be cut short by the library
        return None
    star = flt.find(b"*")
    if star >= 0:
        head, tail = flt[:star], flt[star + 1 :]
        # The empty filter would match everything; no tag has the empty name.
        return [head + tail] * bool(head + tail) + [head + bytes([c]) + b"*" + tail for c in _WILDCARD_CHARS.encode()]
    q = flt.find(b"?")
    if q >= 0:
        return [flt[:q] + bytes([c]) + flt[q + 1 :] for c in _WILDCARD_CHARS.encode()]
    return None


class Group(_Closing):
    """Tags read or written together, one exchange for all of them.

    Members are basic tags, members or elements, or whole structures; an
    array tag is added element by element (``Temps[1]``, ...).
    """

    def __init__(self, ws: Workspace, names: List[str]) -> None:
        if not names:
            raise InvalidValueError(5, "a group needs at least one tag")
        if len({n.lower() for n in names}) != len(names):
            raise InvalidValueError(5, "a group names each tag once")
        self._ws = ws
        self._lib = ws._lib
        self._handle = 0
        self._members: List[Tuple[_Tag, Optional[TypeInfo]]] = []
        self._was_read = False
        with ws._lock:
            h = ctypes.c_int(0)
            check(self._lib.QXSym_CreateGroup(ws._ws(), ctypes.byref(h)), "group")
            self._handle = h.value
            ws._groups.add(self)
            try:
                for name in names:
                    tag = ws._lookup(name)
                    self._members.append((tag, None))
                    if tag.dims:
                        raise InvalidValueError(5, f"{name} is an array: add its elements to the group")
                    t = None if tag.basic else ws._tag_type(tag)
                    if t is not None and (not t.exact or t.size != tag.size):
                        raise InvalidValueError(5, f"{name}: the layout of {t.name} is not known")
                    self._members[-1] = (tag, t)
                    check(self._lib.QXSym_AddTagToGroup(self._handle, tag.handle), name)
            except BaseException:
                self._release()
                raise

    @property
    def names(self) -> List[str]:
        return [t.name for t, _ in self._members]

    def __enter__(self) -> "Group":
        return self

    def close(self) -> None:
        """Delete the group and release its tags. Closing twice does nothing."""
        with self._ws._lock:
            self._release()

    def _release(self) -> None:
        if self._handle:
            self._ws._release_remote(self._lib.QXSym_DeleteGroup, self._handle)
            self._handle = 0
        for tag, _ in self._members:
            self._ws._release_remote(self._lib.QXSym_CloseTag, tag.handle)
        self._members = []
        self._ws._groups.discard(self)

    def _group(self) -> int:
        if not self._handle:
            raise QXSymError(_INVALID_HANDLE, "the group is closed")
        return self._handle

    def read(self) -> Dict[str, Any]:
        """Every member's value, by name, from one exchange."""
        with self._ws._lock:
            check(self._lib.QXSym_ReadGroup(self._group()), "group read")
            self._was_read = True
            out: Dict[str, Any] = {}
            get = self._lib.QXSym_GetTagValueFromGroup_Ptr
            for tag, t in self._members:
                if tag.buf is None:
                    tag.buf = ctypes.create_string_buffer(max(tag.size, 1))
                    tag.decode = t.decode if t else basic_decoder(tag.kind, tag.size)
                rc = get(self._handle, tag.handle, tag.buf, tag.size)
                if rc:
                    raise error_for(rc, tag.name)
                out[tag.name] = tag.decode(tag.buf.raw)
            return out

    def write(self, values: Mapping[str, Any]) -> None:
        """Write every member in one exchange. ``values`` must give each
        member (by the name it was added with); every value is checked
        before anything is sent."""
        with self._ws._lock:
            handle = self._group()
            given = {str(k).lower(): v for k, v in values.items()}
            names = {t.name.lower() for t, _ in self._members}
            unknown = [k for k in values if str(k).lower() not in names]
            if unknown:
                raise InvalidValueError(5, f"{unknown[0]!r} is not a member of the group")
            data = []
            for tag, t in self._members:
                if tag.name.lower() not in given:
                    raise InvalidValueError(5, f"group write: no value for {tag.name}")
                v = given[tag.name.lower()]
                data.append(t.encode(v, tag.name) if t else encode_basic(tag.kind, tag.size, v, tag.name))
            if not self._was_read:  # the library takes values only into a group read before
                check(self._lib.QXSym_ReadGroup(handle), "group read")
                self._was_read = True
            for (tag, _), d in zip(self._members, data):
                check(self._lib.QXSym_SetTagValueIntoGroup_Ptr(handle, tag.handle, d, len(d)), tag.name)
            check(self._lib.QXSym_WriteGroup(handle), "group write")


def connect(host: str, port: int, timeout: Optional[float] = None, *, selector: int = 0) -> Workspace:
    """Open a workspace on the controller at ``host``:``port``.

    ``timeout`` is the reply time-out in seconds (None: the library's default
    of 10 s; at most 65.535 s). Use the result as a context manager::

        with qxsymbols.connect("192.168.0.10", port=1234) as ws:
            print(ws.read("Line.Speed"))
    """
    return Workspace(host, port, timeout, selector)
