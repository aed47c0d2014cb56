"""Workspaces, groups and watches over the client core's C interface."""

from __future__ import annotations

import codecs
import ctypes
import threading
import time
import weakref
from typing import Any, Dict, Iterable, Iterator, List, Mapping, NamedTuple, Optional, Tuple

from . import _lib
from .errors import INVALID_HANDLE, QXSymError, check, error_for, invalid
from .types import Parts, TypeInfo, decode, from_python, parts, same_value, type_of

__all__ = ["connect", "Workspace", "Group", "Change", "Version", "TagInfo"]

_ENCODINGS = {"iso8859-1": 0, "utf-8": 1, "cp1252": 2}  # Python's name: the core's QXSymCoreEncoding
_LIST_DETAILS, _LIST_DESCRIPTIONS, _ATTRIBUTE_NOT_FOUND = 1, 2, 7
_TYPE_CACHE = 4096  # type descriptions kept per workspace
P = ctypes.POINTER


class Version(NamedTuple):
    """Version of a controller's symbol service."""

    major: int
    minor: int
    revision: int
    build: int

    def __str__(self) -> str:
        return ".".join(map(str, self))


class Change(NamedTuple):
    """One value seen by ``Workspace.watch``; ``previous`` is None the first time."""

    name: str
    value: Any
    previous: Any


class TagInfo(str):
    """A global tag found by ``Workspace.tags``: its name (as a ``str``), type
    name, data size in bytes, flags and, when asked for, description and
    attributes."""

    type: str
    size: int
    read_only: bool
    bit_address: bool
    description: Optional[str]
    attributes: Dict[str, str]

    def __new__(cls, info: _lib.TagInfo, descriptions: bool) -> "TagInfo":
        self = super().__new__(cls, info.name.decode("utf-8"))
        self.type, self.size = info.type_name.decode("utf-8"), info.size
        self.read_only, self.bit_address = bool(info.flags & 1), bool(info.flags & 2)
        self.description = info.description.decode("utf-8") if descriptions else None
        self.attributes = {}
        return self

    name = property(str)

    def __repr__(self) -> str:
        return f"TagInfo({str(self)!r}, type={self.type!r}, size={self.size})"


def changes(last: Dict[str, Any], values: Dict[str, Any], initial: bool) -> List[Change]:
    """The changes of one poll of a watch: each value that differs from the
    one in ``last`` (each first value too, with ``initial``); ``last`` is updated."""
    out = []
    for name, value in values.items():
        seen = name in last
        if not seen or not same_value(last[name], value):
            previous, last[name] = last.get(name), value
            if seen or initial:
                out.append(Change(name, value, previous))
    return out


def _path(name: Any) -> bytes:
    if not isinstance(name, str) or not name or "\0" in name:
        raise invalid(f"tag name: {name!r}")
    try:
        return name.encode("utf-8")
    except UnicodeEncodeError:
        raise invalid(f"tag name {name!r} is not valid Unicode") from None


def _names(names: Iterable[str], what: str) -> List[str]:
    if isinstance(names, (str, bytes)) or not isinstance(names, Iterable):
        raise invalid(f"{what}: expected a list of names, got {type(names).__name__}")
    out = list(names)
    if not out:
        raise invalid(f"{what}: no names")
    return out


def _failure(code: int, message: Optional[bytes], name: str) -> QXSymError:
    return error_for(code, message.decode("utf-8", "replace") if message else name)


class Workspace:
    """An open session on one controller's symbol service, made by :func:`connect`.

    Use it as a context manager, or call :meth:`close`. Calls on one
    workspace run one at a time, on different workspaces side by side.
    """

    def __init__(self, host: str, port: int, timeout: Optional[float] = None, selector: int = 0,
                 encoding: str = "latin-1", connections: int = 1) -> None:
        lib = _lib.library()
        raw_host = host.encode("ascii", "replace") if isinstance(host, str) else b""
        if not 0 < len(raw_host) <= 59 or b"\0" in raw_host or b"?" in raw_host:
            raise invalid(f"host: {host!r} is not an ASCII host name or address of 1 to 59 characters")
        if not isinstance(port, int) or not 0 < port < 65536:
            raise invalid(f"port: {port!r} is not a TCP port (1..65535)")
        try:
            ms = 0 if timeout is None else int(round(float(timeout) * 1000))
        except (TypeError, ValueError, OverflowError):
            ms = -1
        if not 0 <= ms <= 65535 or (ms == 0 and timeout is not None):
            raise invalid(f"timeout: {timeout!r} s is outside 0.001..65.535 s")
        if selector != 0:
            raise invalid("selector: sessions open the controller's first workspace (0)")
        try:
            code = _ENCODINGS[codecs.lookup(encoding).name]
        except (LookupError, KeyError, TypeError):
            raise invalid(f"encoding: {encoding!r} is not latin-1, utf-8 or windows-1252") from None
        if not isinstance(connections, int) or not 1 <= connections <= 8:
            raise invalid("connections: 1 to 8")
        handle, address = ctypes.c_uint32(), _lib.ServerAddress(0, raw_host, port, ms)
        started = time.monotonic()
        rc = lib.QXSymCore_Open(ctypes.byref(address), ms, code, connections, ctypes.byref(handle))
        if rc:
            elapsed = int((time.monotonic() - started) * 1000)
            why = lib.QXSymCore_OpenFailureMessage(rc, elapsed, ms).decode()
            raise error_for(rc, f"cannot open a workspace on {host}:{port}: {why}")
        self._lib, self._handle, self._lock = lib, handle.value, threading.RLock()
        self._types: Dict[str, TypeInfo] = {}
        self._groups: "weakref.WeakSet[Group]" = weakref.WeakSet()
        self._version: Optional[Tuple[Version, bool]] = None
        self.host, self.port, self.encoding = host, port, encoding

    def __enter__(self) -> "Workspace":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __del__(self) -> None:  # a dropped workspace gives back what it holds at the controller
        try:
            if getattr(self, "_handle", 0):
                self.close()
        except Exception:
            pass

    def __repr__(self) -> str:
        return f"<qxsymbols.Workspace {self.host}:{self.port} {'closed' if self.closed else 'open'}>"

    @property
    def closed(self) -> bool:
        return not self._handle

    def close(self) -> None:
        """Close the session and all it holds at the controller; twice does nothing."""
        with self._lock:
            handle, self._handle = self._handle, 0
            if handle:
                for g in list(self._groups):
                    g._handle = 0
                self._lib.QXSymCore_Close(handle)

    def _ws(self) -> int:
        if not self._handle:
            raise QXSymError(INVALID_HANDLE, "the workspace is closed")
        return self._handle

    def _server(self) -> Tuple[Version, bool]:
        with self._lock:
            if self._version is None:
                v, full = (ctypes.c_uint8 * 4)(), ctypes.c_uint32()
                check(self._lib.QXSymCore_ServerVersion(self._ws(), v, ctypes.byref(full)), "version")
                self._version = (Version(*v), bool(full.value))
            return self._version

    @property
    def version(self) -> Version:
        """Version of the controller's symbol service (asked on first use)."""
        return self._server()[0]

    @property
    def full_support(self) -> bool:
        """False when the service's version does not support everything."""
        return self._server()[1]

    @property
    def exchanges(self) -> int:
        """Requests this workspace has sent to the controller so far."""
        n = ctypes.c_uint64()
        with self._lock:
            check(self._lib.QXSymCore_Exchanges(self._ws(), ctypes.byref(n)))
        return n.value

    # ---- values ------------------------------------------------------------

    def read_set(self, names: Iterable[str], *, return_errors: bool = False) -> Dict[str, Any]:
        """The values of several tags, members or elements, by name, from one
        exchange. A failure raises; with ``return_errors`` its error stands in
        the result instead."""
        names = _names(names, "read_set")
        paths, items = (ctypes.c_char_p * len(names))(*map(_path, names)), P(_lib.ReadItem)()
        out: Dict[str, Any] = {}
        with self._lock:
            rc = self._lib.QXSymCore_Read(self._ws(), paths, len(names), ctypes.byref(items))
            if not items:  # refused as a whole (too many names)
                raise error_for(rc, f"read of {len(names)} names")
            for i, name in enumerate(names):
                it = items[i]
                if it.result and not return_errors:
                    raise _failure(it.result, it.message, name)
                out[name] = _failure(it.result, it.message, name) if it.result else decode(it.layout[0], it.values)
        return out

    def read(self, name: str) -> Any:
        """The value of a tag, member (``Line.Speed``) or element (``Temps[3]``,
        by its declared index): ``bool``, ``int``, ``float``, ``str`` or
        ``bytes``, lists for arrays (one nesting per dimension), dicts for
        structures and function blocks."""
        return self.read_set([name])[name]

    def _describe(self, name: str) -> _lib.Layout:
        layout, message = P(_lib.Layout)(), ctypes.c_char_p()
        rc = self._lib.QXSymCore_Describe(self._ws(), _path(name), ctypes.byref(layout), ctypes.byref(message))
        if rc:
            raise _failure(rc, message.value, name)
        described: _lib.Layout = layout[0]
        return described

    def _write(self, items: Parts) -> None:
        keep: List[Any] = []
        c_items = (_lib.WriteItem * len(items))()
        for c, (path, vals) in zip(c_items, items):
            values = (_lib.Value * max(len(vals), 1))()
            for v, x in zip(values, vals):
                from_python(x, v, keep, path)
            keep.append(values)
            c.path, c.values, c.value_count = _path(path), values, len(vals)
        results = P(_lib.WriteResult)()
        rc = self._lib.QXSymCore_Write(self._ws(), c_items, len(items), ctypes.byref(results))
        if rc:  # the item refused, not those left unwritten because of it
            failed = [(items[i][0], results[i].message) for i in range(len(items) if results else 0)
                      if results[i].result == rc]
            name, message = failed[0] if failed else (items[0][0], None)
            raise _failure(rc, message, name)

    def write_set(self, values: Mapping[str, Any]) -> None:
        """Write several tags, members or elements (each as :meth:`write` takes
        it) in one exchange; when any value is refused nothing is written."""
        if not isinstance(values, Mapping):
            raise invalid(f"write_set: expected a dict of names and values, got {type(values).__name__}")
        with self._lock:
            items = [p for name, value in values.items() for p in parts(self._describe, name, value)]
            if items:
                self._write(items)

    def write(self, name: str, value: Any) -> None:
        """Write a tag, member or element. A dict gives members (by name, or
        sub-paths such as ``"[3]"``); those not given keep their values. Values
        are checked first (kind, range, text, shape, names): one that does not
        fit raises :class:`InvalidValueError` and nothing is sent."""
        self.write_set({name: value})

    # ---- types and tags ------------------------------------------------------

    def type(self, name: str) -> TypeInfo:
        """A plain description of the type of a tag, member or element (see
        :class:`TypeInfo`; ``as_dict()`` gives nested dicts)."""
        with self._lock:
            t = self._types.get(name)
            if t is None:
                if len(self._types) >= _TYPE_CACHE:
                    self._types.clear()
                t = self._types[name] = type_of(self._describe, self._kind, name, self.type)
            return t

    def _kind(self, tyvar: int) -> int:
        """The kind of value the core reads a basic variable type as."""
        v = _lib.Value()
        self._lib.QXSymCore_ParseLeafText(tyvar, b"0", ctypes.byref(v), None)
        kind: int = v.kind
        return kind

    def tag_names(self, filter: Optional[str] = None) -> List[str]:
        """Names of the global tags, all or those matching ``filter`` (``*`` any
        run of characters, ``?`` one), complete however many match; fewer
        exchanges than :meth:`tags`."""
        return [str(t) for t in self._list(filter, 0)]

    def tags(self, filter: Optional[str] = None, *, descriptions: bool = False,
             attributes: Iterable[str] = ()) -> List[TagInfo]:
        """The global tags, all or those matching ``filter``, each a :class:`TagInfo`
        with type, size and flags; with ``descriptions`` its description too,
        and the texts of those of the named ``attributes`` it has."""
        found, attributes = self._list(filter, _LIST_DETAILS | (_LIST_DESCRIPTIONS * descriptions)), list(attributes)
        with self._lock:
            for tag in found:
                for a in attributes:
                    text = ctypes.c_char_p()
                    rc = self._lib.QXSymCore_Attribute(self._ws(), _path(tag), _path(a), ctypes.byref(text))
                    if rc == 0:
                        tag.attributes[a] = (text.value or b"").decode("utf-8", "replace")
                    elif rc != _ATTRIBUTE_NOT_FOUND:
                        raise error_for(rc, f"attribute {a} of {tag}")
        return found

    def _list(self, filter: Optional[str], flags: int) -> List[TagInfo]:
        listing, out = ctypes.c_uint32(), []
        with self._lock:
            flt = _path(filter) if filter else b""
            check(self._lib.QXSymCore_ListBegin(self._ws(), flt, flags, 0, ctypes.byref(listing)), "tag list")
            try:
                batch, count, done = P(_lib.TagInfo)(), ctypes.c_uint32(), ctypes.c_uint32()
                while not done.value:
                    rc = self._lib.QXSymCore_ListNext(listing, *map(ctypes.byref, (batch, count, done)))
                    check(rc, f"tag list for {filter or '*'!r}")
                    out += [TagInfo(batch[i], bool(flags & _LIST_DESCRIPTIONS)) for i in range(count.value)]
            finally:
                self._lib.QXSymCore_ListEnd(listing.value)
        return out

    # ---- groups and watches --------------------------------------------------

    def group(self, names: Iterable[str]) -> "Group":
        """A group of tags read and written together in one exchange each."""
        return Group(self, _names(names, "group"))

    def watch(self, names: Iterable[str], interval: float = 1.0, *, initial: bool = True) -> Iterator[Change]:
        """Poll ``names`` as a group every ``interval`` seconds and yield a
        :class:`Change` for every value that differs from the one before (with
        ``initial``, each first value too). The group goes when the loop is left."""
        if not interval > 0:
            raise invalid("interval: must be above 0 s")
        group = self.group(names)
        try:
            last: Dict[str, Any] = {}
            due = time.monotonic()
            while True:
                yield from changes(last, group.read(), initial)
                due = max(due + interval, time.monotonic())  # fell behind: start afresh
                time.sleep(due - time.monotonic())
        finally:
            group.close()


class Group:
    """Tags, members, elements, structures or arrays read or written together,
    one exchange for all of them."""

    def __init__(self, ws: Workspace, names: List[str]) -> None:
        if len({str(n).lower() for n in names}) != len(names):
            raise invalid("a group names each tag once")
        self._ws, self._names = ws, names
        with ws._lock:
            for name in names:
                ws._describe(name)
            self._handle = ws._ws()
            ws._groups.add(self)

    @property
    def names(self) -> List[str]:
        return list(self._names)

    def __enter__(self) -> "Group":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def close(self) -> None:
        """Forget the group; closing twice does nothing."""
        self._handle = 0
        self._ws._groups.discard(self)

    def _open(self) -> Workspace:
        if not self._handle:
            raise QXSymError(INVALID_HANDLE, "the group is closed")
        return self._ws

    def read(self) -> Dict[str, Any]:
        """Every member's value, by name, from one exchange."""
        return self._open().read_set(self._names)

    def write(self, values: Mapping[str, Any]) -> None:
        """Write every member (by the name it was added with) in one exchange;
        every value is checked before anything is sent."""
        if not isinstance(values, Mapping):
            raise invalid(f"group write: expected a dict of members and values, got {type(values).__name__}")
        given = {str(k).lower(): v for k, v in values.items()}
        missing = [n for n in self._names if n.lower() not in given]
        if missing or len(given) != len(self._names):
            raise invalid(f"group write: a value for each member, and for no other ({missing or list(values)})")
        self._open().write_set({n: given[n.lower()] for n in self._names})


def connect(host: str, port: int, timeout: Optional[float] = None, *, selector: int = 0,
            encoding: str = "latin-1", connections: int = 1) -> Workspace:
    """Open a workspace on the controller at ``host``:``port``.

    ``timeout``: the reply time-out in seconds (None: the library's 10 s; at
    most 65.535 s). ``encoding``: that of the controller's texts, ``latin-1``
    (every byte one character, so any stored text round-trips), ``utf-8`` or
    ``windows-1252``. ``connections``: how many a listing may use (1 to 8)::

        with qxsymbols.connect("192.168.0.10", port=1234) as ws:
            print(ws.read("Line.Speed"))
    """
    return Workspace(host, port, timeout, selector, encoding, connections)
