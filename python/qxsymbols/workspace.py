"""Workspaces, groups and watches over the client core's C interface."""

from __future__ import annotations

import codecs
import ctypes
import functools
import itertools
import threading
import time
import weakref
from typing import Any, Dict, Iterable, Iterator, List, Mapping, NamedTuple, Optional, Tuple

from . import _lib
from .errors import QXSymError, check, code_of, error_for, invalid
from .types import TypeInfo, decode, from_python, parts, type_of

__all__ = ["connect", "Workspace", "Group", "Change", "Version", "TagInfo"]


class Version(NamedTuple):
    """Version of a controller's symbol service."""
    major: int
    minor: int
    revision: int
    build: int

    def __str__(self) -> str:
        return ".".join(map(str, self))


#: One value seen by ``Workspace.watch``; ``previous`` is None the first time.
Change = NamedTuple("Change", [("name", str), ("value", Any), ("previous", Any)])


class TagInfo(str):
    """A global tag found by ``Workspace.tags``: its name (as a ``str``), type name, data size in bytes, flags
    and, when asked for, description and attributes."""
    type: str
    size: int
    read_only: bool
    bit_address: bool
    description: Optional[str]
    attributes: Dict[str, str]
    name = property(str)

    def __new__(cls, info: Any, descriptions: bool) -> "TagInfo":
        self = super().__new__(cls, info.name.decode("utf-8"))
        self.type, self.size, self.attributes = info.type_name.decode("utf-8"), info.size, {}
        self.read_only, self.bit_address = (bool(info.flags & f) for f in (_lib.TAG_READ_ONLY, _lib.TAG_BIT_ADDRESS))
        self.description = info.description.decode("utf-8") if descriptions else None
        return self

    def __repr__(self) -> str:
        return f"TagInfo({str(self)!r}, type={self.type!r}, size={self.size})"


def changes(last: Dict[str, Any], values: Dict[str, Any], initial: bool) -> List[Change]:
    """The changes of one poll of a watch against the values before, ``last``, which it updates (the first
    values count with ``initial``). Values compare by ``repr``, so a NaN that stays is no change."""
    fresh = {name: v for name, v in values.items() if name not in last or repr(last[name]) != repr(v)}
    out = [Change(name, v, last.get(name)) for name, v in fresh.items() if initial or name in last]
    last.update(fresh)
    return out


def polls(interval: float) -> Iterator[float]:
    """The seconds to wait before each poll of a watch: none before the first, then up to ``interval`` after
    the one before; one that falls behind starts afresh."""
    if not isinstance(interval, (int, float)) or not interval > 0:
        raise invalid("interval: must be above 0 s")
    due = time.monotonic()
    while True:
        yield max(0.0, due - time.monotonic())
        due = max(due + interval, time.monotonic())


def _path(name: Any) -> bytes:
    """A name as the core takes it; its length and spelling are the core's to judge."""
    if not isinstance(name, str) or not name or "\0" in name:
        raise invalid(f"tag name: {name!r}")
    try:
        return name.encode("utf-8")
    except UnicodeEncodeError:
        raise invalid(f"tag name {name!r} is not valid Unicode") from None


def _names(names: Iterable[str], what: str) -> List[str]:
    """A list of names, not a text."""
    out = [] if isinstance(names, (str, bytes)) or not isinstance(names, Iterable) else list(names)
    if not out:
        raise invalid(f"{what}: expected a list of names, got {names!r:.40}")
    return out


def _address(host: Any, port: Any, timeout: Optional[float]) -> Tuple[Any, int]:
    """The address record and the time-out in ms, checked here as the record's fields are narrower than
    Python's numbers and texts."""
    raw = host.encode("ascii", "replace") if isinstance(host, str) else b""
    if not 0 < len(raw) <= 59 or b"\0" in raw or b"?" in raw:
        raise invalid(f"host: {host!r} is not an ASCII host name or address of 1 to 59 characters")
    if not isinstance(port, int) or not 0 < port < 65536:
        raise invalid(f"port: {port!r} is not a TCP port (1..65535)")
    try:
        ms = 0 if timeout is None else int(round(float(timeout) * 1000))
    except (TypeError, ValueError, OverflowError):
        ms = -1
    if not 0 <= ms <= 65535 or (ms == 0 and timeout is not None):
        raise invalid(f"timeout: {timeout!r} s is outside 0.001..65.535 s")
    return _lib.ServerAddress(0, raw, port, ms), ms


class Workspace:
    """An open session on one controller's symbol service, made by :func:`connect`.

    Use it as a context manager, or call :meth:`close`; a workspace dropped unclosed is closed when collected.
    Calls on one workspace run one at a time, on different workspaces side by side.
    """

    def __init__(self, host: str, port: int, timeout: Optional[float] = None, selector: int = 0,
                 encoding: str = "latin-1", connections: int = 1) -> None:
        address, ms = _address(host, port, timeout)
        if selector != 0:
            raise invalid("selector: sessions open the controller's first workspace (0)")
        try:
            code = _lib.ENCODINGS[codecs.lookup(encoding).name]
        except (LookupError, KeyError, TypeError):
            raise invalid(f"encoding: {encoding!r} is not latin-1, utf-8 or windows-1252") from None
        if isinstance(connections, bool) or not isinstance(connections, int) or not 0 <= connections < 1 << 32:
            raise invalid(f"connections: {connections!r} is not a number of connections")
        lib, handle, started = _lib.library(), ctypes.c_uint32(), time.monotonic()
        rc = lib.QXSymCore_Open(address, ms, code, connections, handle)
        if rc:  # the core tells a silent controller from a refusing one by the time the open took
            why = lib.QXSymCore_OpenFailureMessage(rc, int((time.monotonic() - started) * 1000), ms).decode()
            raise error_for(rc, f"cannot open a workspace on {host}:{port}: {why}")
        self._lib, self._handle, self._lock = lib, handle.value, threading.RLock()
        self._closer = weakref.finalize(self, lib.QXSymCore_Close, handle.value)
        self._groups: "weakref.WeakSet[Group]" = weakref.WeakSet()
        self.host, self.port, self.encoding = host, port, encoding

    def __enter__(self) -> "Workspace":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"<qxsymbols.Workspace {self.host}:{self.port} {'closed' if self.closed else 'open'}>"

    closed = property(lambda self: not self._closer.alive, doc="Whether the workspace is closed.")

    def close(self) -> None:
        """Close the session and all it holds at the controller; twice does nothing."""
        with self._lock:
            self._closer()

    def _core(self, fn: str, *args: Any) -> int:
        """The result of QXSymCore_<fn> on this session; a caller that uses what it delivers holds the lock."""
        with self._lock:
            if self.closed:
                raise QXSymError(code_of("symResInvalidHandle"), "the workspace is closed")
            return int(getattr(self._lib, "QXSymCore_" + fn)(self._handle, *args))

    @functools.cached_property
    def _server(self) -> Tuple[Version, bool]:
        v, full = (ctypes.c_uint8 * 4)(), ctypes.c_uint32()
        check(self._core("ServerVersion", v, full), "version")
        return Version(*v), bool(full.value)

    version = property(lambda self: self._server[0], doc="Version of the controller's service (asked once).")
    full_support = property(lambda self: self._server[1], doc="False when the service's version lacks functions.")

    @property
    def exchanges(self) -> int:
        """Requests this workspace has sent to the controller so far."""
        n = ctypes.c_uint64()
        check(self._core("Exchanges", n))
        return n.value

    def read_set(self, names: Iterable[str], *, return_errors: bool = False) -> Dict[str, Any]:
        """Several values (as :meth:`read` gives them) by name from one exchange. A failure raises; with
        ``return_errors`` its error stands in the result instead."""
        names = _names(names, "read_set")
        paths, items = (ctypes.c_char_p * len(names))(*map(_path, names)), ctypes.POINTER(_lib.ReadItem)()
        out: Dict[str, Any] = {}
        with self._lock:
            rc = self._core("Read", paths, len(names), items)
            if not items:  # refused as a whole (too many names)
                raise error_for(rc, f"read of {len(names)} names")
            for name, it in zip(names, items[: len(names)]):
                out[name] = error_for(it.result, it.message or name) if it.result else decode(it.layout[0], it.values)
                if it.result and not return_errors:
                    raise out[name]
        return out

    def read(self, name: str) -> Any:
        """The value of a tag, member (``Line.Speed``) or element (``Temps[3]``, by its declared index):
        ``bool``, ``int``, ``float``, ``str`` or ``bytes``, lists for arrays (one nesting per dimension), dicts
        for structures and function blocks."""
        return self.read_set([name])[name]

    def _describe(self, name: str) -> Any:
        """The core's layout of a path (a _lib.Layout), valid until its next call (the caller holds the lock)."""
        layout, message = ctypes.POINTER(_lib.Layout)(), ctypes.c_char_p()
        rc = self._core("Describe", _path(name), layout, message)
        if rc:
            raise error_for(rc, message.value or name)
        return layout[0]

    def write_set(self, values: Mapping[str, Any]) -> None:
        """Write several tags, members or elements (each as :meth:`write` takes it) in one exchange; when any
        value is refused nothing is written."""
        if not isinstance(values, Mapping):
            raise invalid(f"write_set: expected a dict of names and values, got {type(values).__name__}")
        with self._lock:
            items = [p for name, value in values.items() for p in parts(self._describe, name, value)]
            keep: List[Any] = []  # the values and their texts' buffers, alive until written
            c_items = (_lib.WriteItem * len(items))()
            for c, (path, vals) in zip(c_items, items):
                keep.append((_lib.Value * max(len(vals), 1))())
                c.path, c.values, c.value_count = _path(path), keep[-1], len(vals)
                for v, x in zip(c.values, vals):
                    from_python(x, v, keep, path)
            results = ctypes.POINTER(_lib.WriteResult)()
            rc = self._core("Write", c_items, len(items), results) if items else 0
            if rc:  # the item refused, not those left unwritten because of it
                bad = next((i for i in range(len(items) if results else 0) if results[i].result == rc), None)
                raise error_for(rc, (None if bad is None else results[bad].message) or items[bad or 0][0])

    def write(self, name: str, value: Any) -> None:
        """Write a tag, member or element. A dict gives members (by name, or sub-paths such as ``"[3]"``); those
        not given keep their values. Values are checked first (kind, range, text, shape, names): one that does
        not fit raises :class:`InvalidValueError` and nothing is sent."""
        self.write_set({name: value})

    def type(self, name: str) -> TypeInfo:
        """A plain description of the type of a tag, member or element (see :class:`TypeInfo`; ``as_dict()``
        gives nested dicts): a function block is told from a structure, and each carries its properties."""
        with self._lock:
            return type_of(self._describe, name, self.type)

    def tag_names(self, filter: Optional[str] = None) -> List[str]:
        """Names of the global tags, all or those matching ``filter`` (``*`` any run of characters, ``?`` one),
        complete however many match; fewer exchanges than :meth:`tags`."""
        return [str(t) for t in self._list(filter, 0)]

    def tags(self, filter: Optional[str] = None, *, descriptions: bool = False,
             attributes: Iterable[str] = ()) -> List[TagInfo]:
        """The global tags, all or those matching ``filter``, each a :class:`TagInfo` with type, size and flags;
        with ``descriptions`` its description too, and the texts of those of the named ``attributes`` it has."""
        found = self._list(filter, _lib.LIST_DETAILS | (_lib.LIST_DESCRIPTIONS if descriptions else 0))
        text, missing = ctypes.c_char_p(), code_of("symResAttributeNotFound")
        with self._lock:  # each text is the core's until the next call
            for tag, a in itertools.product(found, list(attributes)):
                rc = self._core("Attribute", _path(tag), _path(a), text)
                if rc == 0:
                    tag.attributes[a] = (text.value or b"").decode("utf-8", "replace")
                elif rc != missing:
                    raise error_for(rc, f"attribute {a} of {tag}")
        return found

    def _list(self, filter: Optional[str], flags: int) -> List[TagInfo]:
        listing, out = ctypes.c_uint32(), []
        batch, count, done = ctypes.POINTER(_lib.TagInfo)(), ctypes.c_uint32(), ctypes.c_uint32()
        with self._lock:
            check(self._core("ListBegin", _path(filter) if filter else b"", flags, 0, listing), "tag list")
            try:
                while not done.value:
                    check(self._lib.QXSymCore_ListNext(listing, batch, count, done), f"tag list for {filter or '*'!r}")
                    out += [TagInfo(batch[i], bool(flags & _lib.LIST_DESCRIPTIONS)) for i in range(count.value)]
            finally:
                self._lib.QXSymCore_ListEnd(listing)
        return out

    def group(self, names: Iterable[str]) -> "Group":
        """A group of tags read and written together in one exchange each."""
        return Group(self, _names(names, "group"))

    def watch(self, names: Iterable[str], interval: float = 1.0, *, initial: bool = True) -> Iterator[Change]:
        """Poll ``names`` as a group every ``interval`` seconds and yield a :class:`Change` for every value that
        differs from the one before (with ``initial``, each first value too). The group goes when the loop is
        left."""
        with self.group(names) as group:
            last: Dict[str, Any] = {}
            for wait in polls(interval):
                time.sleep(wait)
                yield from changes(last, group.read(), initial)


class Group:
    """Tags, members, elements, structures or arrays read or written together, one exchange for all of them."""

    def __init__(self, ws: Workspace, names: List[str]) -> None:
        if len({str(n).lower() for n in names}) != len(names):
            raise invalid("a group names each tag once")
        with ws._lock:
            for name in names:  # each must exist
                ws._describe(name)
        self._ws, self._names, self._closed = ws, names, False
        ws._groups.add(self)

    names = property(lambda self: list(self._names), doc="The names the group was made with.")

    def __enter__(self) -> "Group":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def close(self) -> None:
        """Forget the group; closing twice does nothing."""
        self._closed = True
        self._ws._groups.discard(self)

    def _open(self) -> Workspace:
        if self._closed:
            raise QXSymError(code_of("symResInvalidHandle"), "the group is closed")
        return self._ws

    def read(self) -> Dict[str, Any]:
        """Every member's value, by name, from one exchange."""
        return self._open().read_set(self._names)

    def write(self, values: Mapping[str, Any]) -> None:
        """Write every member (by the name it was added with) in one exchange; every value is checked before
        anything is sent."""
        given = {str(k).lower(): v for k, v in values.items()} if isinstance(values, Mapping) else {}
        if len(given) != len(self._names) or any(n.lower() not in given for n in self._names):
            raise invalid(f"group write: a value for each member and no other, got {values!r:.60}")
        self._open().write_set({n: given[n.lower()] for n in self._names})


def connect(host: str, port: int, timeout: Optional[float] = None, *, selector: int = 0,
            encoding: str = "latin-1", connections: int = 1) -> Workspace:
    """Open a workspace on the controller at ``host``:``port``.

    ``timeout``: the reply time-out in seconds (None: the library's 10 s; at most 65.535 s). ``encoding``: that
    of the controller's texts, ``latin-1`` (every byte one character, so any stored text round-trips), ``utf-8``
    or ``windows-1252``. ``connections``: how many a listing may use (1 to 8)::

        with qxsymbols.connect("192.168.0.10", port=1234) as ws:
            print(ws.read("Line.Speed"))
    """
    return Workspace(host, port, timeout, selector, encoding, connections)
