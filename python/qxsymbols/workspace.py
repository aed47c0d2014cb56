"""Workspaces, groups and watches over the client core's C interface."""

from __future__ import annotations

import codecs
import collections
import ctypes
import datetime
import functools
import itertools
import threading
import time
import weakref
from typing import Any, Dict, Iterable, Iterator, List, Mapping, NamedTuple, Optional
from typing import Sequence, Tuple

from . import _lib
from .errors import QXSymError, check, code_of, error_for, invalid
from .types import TypeInfo, decode, from_python, parts, to_python, type_of

__all__ = ["connect", "Workspace", "Group", "Subscription", "Change", "Version", "TagInfo"]
_EPOCH = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)


class Version(collections.namedtuple("Version", "major minor revision build")):
    """Version of a controller's symbol service."""

    def __str__(self) -> str:
        return ".".join(map(str, self))


class Change(NamedTuple):
    """A leaf value told by a subscription or a watch: ``previous`` is None when none was told
    before, ``timestamp`` when the poll's reply came (UTC), ``status`` ``good``, ``stale`` (the
    controller does not answer: the last value) or ``bad`` (no value), ``result`` why not good."""

    name: str
    value: Any
    previous: Any = None
    timestamp: Optional[datetime.datetime] = None
    status: str = "good"
    result: Optional[QXSymError] = None


class TagInfo(str):
    """A global tag's name (a ``str``) with its type, size, flags, description and attributes."""

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
        self.read_only = bool(info.flags & _lib.TAG_READ_ONLY)
        self.bit_address = bool(info.flags & _lib.TAG_BIT_ADDRESS)
        self.description = info.description.decode("utf-8") if descriptions else None
        return self

    def __repr__(self) -> str:
        return f"TagInfo({str(self)!r}, type={self.type!r}, size={self.size})"


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


def _ms(seconds: Any, what: str, most: int = 65535) -> int:
    """Seconds as whole milliseconds of 1 to ``most``."""
    try:
        ms = int(round(float(seconds) * 1000))
    except (TypeError, ValueError, OverflowError):
        ms = -1
    if not 0 < ms <= most:
        raise invalid(f"{what}: {seconds!r} s is outside 0.001..{most / 1000} s")
    return ms


class _Closing:
    """Closed at the end of a ``with`` block."""

    def __enter__(self: Any) -> Any:
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def close(self) -> None:
        """Close it; twice does nothing."""


class Workspace(_Closing):
    """A session on one controller, made by :func:`connect`; closed by :meth:`close`, a ``with``
    block's end, or when collected. Calls on one workspace take turns."""

    def __init__(
        self,
        host: str,
        port: int,
        timeout: Optional[float] = None,
        selector: int = 0,
        encoding: str = "latin-1",
        connections: int = 1,
        reconnect: bool = False,
    ) -> None:
        if selector != 0:
            raise invalid("selector: sessions open the controller's first workspace (0)")
        raw = host.encode("ascii", "replace") if isinstance(host, str) else b""
        if not 0 < len(raw) <= 59 or b"\0" in raw or b"?" in raw:
            raise invalid(f"host: {host!r} is not an ASCII host name or address of 1 to 59 chars")
        if type(port) is not int or not 0 < port < 65536:
            raise invalid(f"port: {port!r} is not a TCP port (1..65535)")
        ms = 0 if timeout is None else _ms(timeout, "timeout")
        try:
            code = _lib.ENCODINGS[codecs.lookup(encoding).name]
        except (LookupError, KeyError, TypeError):
            raise invalid(f"encoding: {encoding!r} is not latin-1, utf-8 or windows-1252") from None
        lib, handle, started = _lib.library(), ctypes.c_uint32(), time.monotonic()
        address = _lib.ServerAddress(0, raw, port, ms)
        if type(connections) is not int or not 0 <= connections < 1 << 32:  # the core judges 1..8
            raise invalid(f"connections: {connections!r} is not a number of connections")
        rc = lib.QXSymCore_Open(address, ms, code, connections, handle)
        if rc:  # the core tells a silent controller from a refusing one by the time taken
            took = int((time.monotonic() - started) * 1000)
            why = lib.QXSymCore_OpenFailureMessage(rc, took, ms).decode()
            raise error_for(rc, f"cannot open a workspace on {host}:{port}: {why}")
        self._lib, self._handle, self._lock = lib, handle.value, threading.RLock()
        self._closer = weakref.finalize(self, lib.QXSymCore_Close, handle.value)
        self._groups: "weakref.WeakSet[Group]" = weakref.WeakSet()
        self._subscriptions: "weakref.WeakSet[Subscription]" = weakref.WeakSet()
        self.host, self.port, self.encoding = host, port, encoding
        if reconnect:  # a lost connection reopened after 0.5 s, then doubling up to 5 s
            check(self._core("SetReconnect", 500, 0), "reconnect")

    def __repr__(self) -> str:
        state = "closed" if self.closed else "open"
        return f"<qxsymbols.Workspace {self.host}:{self.port} {state}>"

    closed = property(lambda self: not self._closer.alive, doc="Whether the workspace is closed.")

    def close(self) -> None:
        """Close the session, its subscriptions and all it holds at the controller."""
        with self._lock:
            for subscription in list(self._subscriptions):
                subscription.close()
            self._closer()

    def _core(self, fn: str, *args: Any) -> int:
        """QXSymCore_<fn> on this session; a caller that uses what it delivers holds the lock."""
        with self._lock:
            if self.closed:
                raise QXSymError(code_of("symResInvalidHandle"), "the workspace is closed")
            return int(getattr(self._lib, "QXSymCore_" + fn)(self._handle, *args))

    @functools.cached_property
    def _server(self) -> Tuple[Version, bool]:
        v, full = (ctypes.c_uint8 * 4)(), ctypes.c_uint32()
        check(self._core("ServerVersion", v, full), "version")
        return Version(*v), bool(full.value)

    version = property(lambda self: self._server[0], doc="The service's version (asked once).")
    full_support = property(lambda self: self._server[1], doc="False when it lacks functions.")

    @property
    def exchanges(self) -> int:
        """Requests this workspace has sent to the controller so far."""
        n = ctypes.c_uint64()
        check(self._core("Exchanges", n))
        return n.value

    def read_set(self, names: Iterable[str], *, return_errors: bool = False) -> Dict[str, Any]:
        """Values by name from one exchange; with ``return_errors`` a failure's error stands in."""
        names = _names(names, "read_set")
        paths = (ctypes.c_char_p * len(names))(*map(_path, names))
        items = ctypes.POINTER(_lib.ReadItem)()
        out: Dict[str, Any] = {}
        with self._lock:
            rc = self._core("Read", paths, len(names), items)
            if not items:  # refused as a whole (too many names)
                raise error_for(rc, f"read of {len(names)} names")
            for name, it in zip(names, items[: len(names)]):
                err = error_for(it.result, it.message or name) if it.result else None
                if err and not return_errors:
                    raise err
                out[name] = err or decode(it.layout[0], it.values)
        return out

    def read(self, name: str) -> Any:
        """The value of a tag, member or element: lists for arrays, dicts for structures."""
        return self.read_set([name])[name]

    def _describe(self, name: str) -> Any:
        """The core's layout of a path, valid until its next call (the caller holds the lock)."""
        layout, message = ctypes.POINTER(_lib.Layout)(), ctypes.c_char_p()
        check(self._core("Describe", _path(name), layout, message), message.value or name)
        return layout[0]

    def write_set(self, values: Mapping[str, Any]) -> None:
        """Write several values in one exchange; when any is refused nothing is written."""
        if not isinstance(values, Mapping):
            raise invalid(f"write_set: expected a dict of names and values, got {values!r:.40}")
        with self._lock:
            items = [p for name, v in values.items() for p in parts(self._describe, name, v)]
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
                n = len(items) if results else 0
                bad = next((i for i in range(n) if results[i].result == rc), 0)
                raise error_for(rc, (results[bad].message if n else None) or items[bad][0])

    def write(self, name: str, value: Any) -> None:
        """Write a tag, member or element; a dict gives some members (by name or sub-path)."""
        self.write_set({name: value})

    def type(self, name: str) -> TypeInfo:
        """A plain description of the type of a tag, member or element (see :class:`TypeInfo`)."""
        with self._lock:
            return type_of(self._describe, name, self.type)

    def tag_names(self, filter: Optional[str] = None) -> List[str]:
        """Names of the global tags matching ``filter`` (``*``, ``?``), in fewer exchanges."""
        return [str(t) for t in self._list(filter, 0)]

    def tags(
        self,
        filter: Optional[str] = None,
        *,
        descriptions: bool = False,
        attributes: Iterable[str] = (),
    ) -> List[TagInfo]:
        """The global tags matching ``filter``, with descriptions and ``attributes`` on request."""
        found = self._list(filter, _lib.LIST_DETAILS | (_lib.LIST_DESCRIPTIONS * descriptions))
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
            check(self._core("ListBegin", _path(filter) if filter else b"", flags, 0, listing))
            try:
                while not done.value:
                    rc = self._lib.QXSymCore_ListNext(listing, batch, count, done)
                    check(rc, f"tag list for {filter or '*'!r}")
                    described = bool(flags & _lib.LIST_DESCRIPTIONS)
                    out += [TagInfo(batch[i], described) for i in range(count.value)]
            finally:
                self._lib.QXSymCore_ListEnd(listing)
        return out

    def group(self, names: Iterable[str]) -> "Group":
        """A group of tags read and written together in one exchange each."""
        return Group(self, _names(names, "group"))

    def subscribe(self, names: Iterable[str], *args: Any, **kw: Any) -> "Subscription":
        """Leaf values of ``names`` polled by the core: see :class:`Subscription`."""
        return Subscription(self, names, *args, **kw)

    def watch(
        self, names: Iterable[str], interval: float = 1.0, *, initial: bool = True
    ) -> Iterator[Change]:
        """Yield a :class:`Change` of each leaf value of ``names`` that differs from the one before,
        polled every ``interval`` s (with ``initial``, each first value too); a value that cannot
        be read raises its error. Its subscription ends when the loop is left."""
        with self.subscribe(names, interval) as subscription:
            yield from (c for c in subscription if _watched(c, initial))


def _watched(change: Change, initial: bool) -> bool:
    """Whether a watch tells ``change``; one not good raises its error."""
    if change.result:
        raise change.result
    return initial or change.previous is not None


def _deadbands(names: List[str], deadband: Any) -> Tuple[float, Any]:
    """One deadband for all names, or the core's array of one per name."""
    try:
        if deadband is None or isinstance(deadband, (int, float)):
            return float(deadband or 0), None
        if isinstance(deadband, Mapping):
            if set(deadband) - set(names):
                raise TypeError
            deadband = [deadband.get(n, 0.0) for n in names]
        if isinstance(deadband, Sequence) and len(deadband) == len(names):
            return 0.0, (ctypes.c_double * len(names))(*deadband)
    except TypeError:
        pass
    raise invalid(f"deadband: {deadband!r:.40} is not a number, nor one per name")


class Subscription(_Closing):
    """An iterator of a :class:`Change` of each leaf value of ``names`` (polled every ``interval``
    s) when it moves by more than its ``deadband`` (numbers: one for all, or one per name as a dict
    or sequence) or at all, once per ``heartbeat`` s while it stays, once when stale or bad; the
    core's cycle and overrun events are left out. Closing it (or leaving its ``with`` block)
    unsubscribes; its waits last at most 50 ms, so Ctrl-C ends a loop over it."""

    def __init__(
        self,
        ws: Workspace,
        names: Iterable[str],
        interval: float = 0.1,
        deadband: Any = None,
        heartbeat: Optional[float] = None,
    ) -> None:
        names = _names(names, "subscribe")
        beat = 0 if heartbeat is None else _ms(heartbeat, "heartbeat", _lib.MAX_INTERVAL_MS)
        every = _ms(interval, "interval", _lib.MAX_INTERVAL_MS)
        options = _lib.SubscribeOptions(every, beat, *_deadbands(names, deadband))
        paths, handle = (ctypes.c_char_p * len(names))(*map(_path, names)), ctypes.c_uint32()
        check(ws._core("Subscribe", paths, len(names), options, handle), f"subscribe {names}")
        self._ws, self._handle, self._lock = ws, handle.value, threading.Lock()  # ws kept open
        self._closer = weakref.finalize(self, ws._lib.QXSymCore_Unsubscribe, handle.value)
        self._pending: "collections.deque[Change]" = collections.deque()
        ws._subscriptions.add(self)

    closed = property(lambda self: not self._closer.alive, doc="Whether it has ended.")

    def close(self) -> None:
        """Unsubscribe (a wait on another thread returns); twice does nothing."""
        with self._lock:  # not while another thread takes the events of a wait
            self._closer()

    def __iter__(self) -> "Subscription":
        return self

    def __next__(self) -> Change:
        while not self._pending:
            if self.closed:
                raise StopIteration
            self._pending.extend(self.wait(0.05))
        return self._pending.popleft()

    def wait(self, timeout: float = 0.0) -> List[Change]:
        """The changes of the next poll due within ``timeout`` s (none when the time passes first,
        or once closed)."""
        events, count = ctypes.POINTER(_lib.Event)(), ctypes.c_uint32()
        ms = 0 if not timeout else _ms(timeout, "timeout", _lib.MAX_INTERVAL_MS)
        rc = self._ws._lib.QXSymCore_SubscriptionWait(self._handle, ms, events, count)
        with self._lock:
            if self.closed:
                return []
            check(rc, "subscription wait")
            told = (events[i] for i in range(count.value))
            return [self._change(e) for e in told if e.kind == _lib.EVENT_CHANGE]

    @staticmethod
    def _change(e: Any) -> Change:
        old = to_python(e.previous) if e.has_previous else None
        when = _EPOCH + datetime.timedelta(microseconds=e.timestamp_us)
        error = error_for(e.result, e.path) if e.result else None
        name, status = e.path.decode("utf-8", "replace"), _lib.STATUS_NAMES[e.status]
        return Change(name, to_python(e.value), old, when, status, error)


class Group(_Closing):
    """Tags, members or elements read or written together, in one exchange."""

    def __init__(self, ws: Workspace, names: List[str]) -> None:
        if len({str(n).lower() for n in names}) != len(names):
            raise invalid("a group names each tag once")
        with ws._lock:
            for name in names:  # each must exist
                ws._describe(name)
        self._ws, self._names, self._closed = ws, names, False
        ws._groups.add(self)

    names = property(lambda self: list(self._names), doc="The names the group was made with.")

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
        """Write every member (by the name it was added with) in one exchange."""
        given = (
            {str(k).lower(): v for k, v in values.items()} if isinstance(values, Mapping) else {}
        )
        if len(given) != len(self._names) or any(n.lower() not in given for n in self._names):
            raise invalid(f"group write: a value for each member and no other, got {values!r:.60}")
        self._open().write_set({n: given[n.lower()] for n in self._names})


def connect(
    host: str,
    port: int,
    timeout: Optional[float] = None,
    *,
    selector: int = 0,
    encoding: str = "latin-1",
    connections: int = 1,
    reconnect: bool = False,
) -> Workspace:
    """Open a workspace on the controller at ``host``:``port``.

    ``timeout``: the reply time-out in seconds (None: the library's 10 s; at most 65.535 s).
    ``encoding``: that of the controller's texts, ``latin-1`` (every byte one character, so any
    stored text round-trips), ``utf-8`` or ``windows-1252``. ``connections``: how many a listing may
    use (1 to 8). ``reconnect``: a lost connection is opened again by itself (calls meanwhile raise
    ``symResConnectionLost`` at once, subscriptions tell their values stale and go on); the
    program's fingerprint is taken, so a changed program is seen. ``selector``: sessions open the
    controller's first workspace, 0::

        with qxsymbols.connect("192.168.0.10", port=1234) as ws:
            print(ws.read("Line.Speed"))
    """
    return Workspace(host, port, timeout, selector, encoding, connections, reconnect)
