"""Workspaces, groups and watches over the client core's C interface."""

from __future__ import annotations

import codecs
import ctypes
import threading
import time
import weakref
from typing import Any, Dict, Iterable, Iterator, List, Mapping, NamedTuple, Optional, Sequence, Tuple

from . import _lib
from .errors import INVALID_HANDLE, QXSymError, check, error_for, invalid
from .types import Member, TypeInfo, decode, flatten, from_python, leaf_kind, same_value, tokens

__all__ = ["connect", "Workspace", "Group", "Change", "Version", "TagInfo"]

# Python's names of the encodings -> the core's (QXSymCoreEncoding).
_ENCODINGS = {"iso8859-1": 0, "utf-8": 1, "cp1252": 2}
_LIST_DETAILS, _LIST_DESCRIPTIONS = 1, 2
_TYPE_CACHE = 4096  # type descriptions kept per workspace


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


class TagInfo(str):
    """A global tag found by ``Workspace.tags``: the name itself, with its
    type's name, data size in bytes, flags and, when asked for, its
    description and attributes."""

    type: str
    size: int
    read_only: bool
    bit_address: bool
    description: Optional[str]
    attributes: Dict[str, str]

    def __new__(cls, info: _lib.TagInfo) -> "TagInfo":
        self = super().__new__(cls, info.name.decode("utf-8"))
        self.type = info.type_name.decode("utf-8")
        self.size = info.size
        self.read_only = bool(info.flags & 1)
        self.bit_address = bool(info.flags & 2)
        self.description = None
        self.attributes = {}
        return self

    @property
    def name(self) -> str:
        return str(self)

    def __repr__(self) -> str:
        return f"TagInfo({str(self)!r}, type={self.type!r}, size={self.size})"


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


def _path(name: Any) -> bytes:
    if not isinstance(name, str) or not name or "\0" in name:
        raise invalid(f"tag name: {name!r}")
    try:
        return name.encode("utf-8")
    except UnicodeEncodeError:
        raise invalid(f"tag name {name!r} is not valid Unicode") from None


def _sub(name: str, key: Any) -> str:
    key = str(key)
    return name + key if key.startswith("[") else f"{name}.{key}"


def _text(raw: Optional[bytes]) -> str:
    return raw.decode("utf-8", "replace") if raw else ""


def _item_error(code: int, message: Optional[bytes], name: str) -> QXSymError:
    return error_for(code, _text(message) or name)


class _Closing:
    """Closes on leaving a ``with`` block, and when dropped without close()."""

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
    """An open session on one controller's symbol service.

    Made by :func:`connect`; use it as a context manager, or call
    :meth:`close`. Calls from several threads are allowed; calls on one
    workspace run one at a time, calls on different workspaces side by side.
    """

    def __init__(
        self, host: str, port: int, timeout: Optional[float] = None, selector: int = 0,
        encoding: str = "latin-1", connections: int = 1,
    ) -> None:
        lib = _lib.library()
        try:
            raw_host = host.encode("ascii")
        except (UnicodeEncodeError, AttributeError):
            raise invalid(f"host: {host!r} is not an ASCII host name or address") from None
        if not raw_host or len(raw_host) > 59 or b"\0" in raw_host:
            raise invalid("host: 1 to 59 characters")
        if not isinstance(port, int) or not 0 < port < 65536:
            raise invalid(f"port: {port!r} is not a TCP port (1..65535)")
        ms = 0
        if timeout is not None:
            try:
                ms = int(round(float(timeout) * 1000))
            except (TypeError, ValueError, OverflowError):
                ms = -1
            if not 0 < ms <= 65535:
                raise invalid(f"timeout: {timeout!r} s is outside 0.001..65.535 s")
        if selector != 0:
            raise invalid("selector: sessions open the controller's first workspace (0)")
        try:
            code = _ENCODINGS[codecs.lookup(encoding).name]
        except (LookupError, KeyError, TypeError):
            raise invalid(f"encoding: {encoding!r} is not latin-1, utf-8 or windows-1252") from None
        if not isinstance(connections, int) or not 1 <= connections <= 8:
            raise invalid("connections: 1 to 8")
        handle = ctypes.c_uint32(0)
        rc = lib.QXSymCore_Open(ctypes.byref(_lib.ServerAddress(0, raw_host, port, ms)), ms, code, connections,
                                ctypes.byref(handle))
        if rc != 0:
            raise error_for(rc, f"cannot open a workspace on {host}:{port}")
        self._lib = lib
        self._handle = handle.value
        self._lock = threading.RLock()
        self._types: Dict[str, TypeInfo] = {}
        self._groups: "weakref.WeakSet[Group]" = weakref.WeakSet()
        self._version: Optional[Tuple[Version, bool]] = None
        self.host, self.port, self.encoding = host, port, encoding

    # ---- life cycle --------------------------------------------------------

    def __enter__(self) -> "Workspace":
        return self

    def __repr__(self) -> str:
        return f"<qxsymbols.Workspace {self.host}:{self.port} {'closed' if self.closed else 'open'}>"

    @property
    def closed(self) -> bool:
        return not self._handle

    def close(self) -> None:
        """Close the session and everything it holds at the controller.
        Closing twice does nothing."""
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
        """False when the service is a version that does not support everything."""
        return self._server()[1]

    @property
    def exchanges(self) -> int:
        """Requests this workspace has sent to the controller so far."""
        n = ctypes.c_uint64()
        with self._lock:
            check(self._lib.QXSymCore_Exchanges(self._ws(), ctypes.byref(n)))
        return n.value

    # ---- values ------------------------------------------------------------

    def _read(self, names: Sequence[str]) -> List[Tuple[int, Optional[bytes], Any]]:
        """(result, message, value) of each name, read in one exchange."""
        paths = (ctypes.c_char_p * len(names))(*map(_path, names))
        items = ctypes.POINTER(_lib.ReadItem)()
        with self._lock:
            self._lib.QXSymCore_Read(self._ws(), paths, len(names), ctypes.byref(items))
            if not items:
                raise invalid("read: no items")
            out = []
            for i in range(len(names)):
                it = items[i]
                value = decode(it.layout[0], it.values) if it.result == 0 else None
                out.append((it.result, it.message, value))
            return out

    def read_set(self, names: Iterable[str], *, return_errors: bool = False) -> Dict[str, Any]:
        """The values of several tags, members or elements, by name, read in
        one exchange. A failure raises its error; with ``return_errors`` it
        stands in the result instead and the others are still read."""
        names = list(names)
        if not names:
            raise invalid("read_set: no names")
        out = {}
        for name, (rc, message, value) in zip(names, self._read(names)):
            if rc and not return_errors:
                raise _item_error(rc, message, name)
            out[name] = _item_error(rc, message, name) if rc else value
        return out

    def read(self, name: str) -> Any:
        """The value of a tag, member (``Line.Speed``) or element
        (``Temps[3]``, by its declared index): ``bool``, ``int``, ``float``,
        ``str`` or ``bytes`` for basic types, lists for arrays (one nesting
        per dimension) and dicts for structures and function blocks."""
        return self.read_set([name])[name]

    def _describe(self, name: str) -> _lib.Layout:
        layout = ctypes.POINTER(_lib.Layout)()
        message = ctypes.c_char_p()
        rc = self._lib.QXSymCore_Describe(self._ws(), _path(name), ctypes.byref(layout), ctypes.byref(message))
        if rc:
            raise _item_error(rc, message.value, name)
        described: _lib.Layout = layout[0]
        return described

    def _parts(self, name: str, value: Any) -> List[Tuple[str, List[Any]]]:
        """The (path, values) items that write ``value`` to ``name``: a dict
        gives members by name, or sub-paths (``"[3]"``, ``"Main.Speed"``);
        a list gives every element of an array; a plain value one leaf. The
        core judges every path and value."""
        if isinstance(value, Mapping):
            return [p for k, v in value.items() for p in self._parts(_sub(name, k), v)]
        if not isinstance(value, (list, tuple)):
            return [(name, [value])]
        layout = self._describe(name)
        leaves = [layout.leaves[n] for n in range(layout.leaf_count)]
        if len(leaves) == 1 and leaves[0].num_dims and leaves[0].path == layout.path:
            return [(name, flatten(value, list(leaves[0].dims[: leaves[0].num_dims]), name))]
        firsts = [p[0] for p in (tokens(leaf.path.decode("utf-8")[len(layout.path):]) for leaf in leaves) if p]
        order = list(dict.fromkeys(t for t in firsts if isinstance(t, tuple)))
        if not order:
            raise invalid(f"'{name}': expected a dict of members, got {type(value).__name__}")
        dims = [len({t[i] for t in order}) for i in range(len(order[0]))]
        elements = zip(order, flatten(value, dims, name))
        return [p for t, v in elements for p in self._parts(name + "[" + ",".join(map(str, t)) + "]", v)]

    def _write(self, parts: List[Tuple[str, List[Any]]]) -> None:
        keep: List[Any] = []
        items = (_lib.WriteItem * len(parts))()
        for item, (path, vals) in zip(items, parts):
            values = (_lib.Value * max(len(vals), 1))()
            for v, x in zip(values, vals):
                from_python(x, v, keep, path)
            keep.append(values)
            item.path, item.values, item.value_count = _path(path), values, len(vals)
        results = ctypes.POINTER(_lib.WriteResult)()
        rc = self._lib.QXSymCore_Write(self._ws(), items, len(parts), ctypes.byref(results))
        if rc:
            failed = [(parts[i][0], results[i].message) for i in range(len(parts)) if results and results[i].result == rc]
            name, message = failed[0] if failed else (parts[0][0], None)
            raise _item_error(rc, message, name)

    def write(self, name: str, value: Any) -> None:
        """Write a tag, member or element. The value is checked against the
        type first (kind, range, text, array shape, member names): a value
        that does not fit raises :class:`InvalidValueError` and nothing is
        sent. A dict that gives only some members of a structure writes
        just those members."""
        with self._lock:
            parts = self._parts(name, value)
            if parts:
                self._write(parts)

    def write_set(self, values: Mapping[str, Any]) -> None:
        """Write several tags, members or elements (each as :meth:`write`
        takes it) in one exchange; when any value is refused, nothing is
        written."""
        with self._lock:
            parts = [p for name, value in values.items() for p in self._parts(name, value)]
            if parts:
                self._write(parts)

    # ---- types and tags ------------------------------------------------------

    def type(self, name: str) -> TypeInfo:
        """A plain description of the type of a tag, member or element
        (see :class:`TypeInfo`; ``as_dict()`` gives nested dicts)."""
        with self._lock:
            t = self._types.get(name)
            if t is None:
                if len(self._types) >= _TYPE_CACHE:
                    self._types.clear()
                t = self._types[name] = self._type(name)
            return t

    def _type(self, name: str) -> TypeInfo:
        layout = self._describe(name)
        type_name, size, base = _text(layout.type_name), layout.size, len(layout.path)
        leaves = [layout.leaves[n] for n in range(layout.leaf_count)]
        paths = [tokens(leaf.path.decode("utf-8")[base:]) for leaf in leaves]
        if len(leaves) == 1 and not paths[0]:
            leaf = leaves[0]
            kind = self._kind(leaf.tyvar)
            if not leaf.num_dims:
                return TypeInfo(type_name, size, kind)
            dims, lower = tuple(leaf.dims[: leaf.num_dims]), tuple(leaf.lower[: leaf.num_dims])
            element = self.type(name + "[" + ",".join(map(str, lower)) + "]")
            return TypeInfo(type_name, size, "array", dims=dims, lower=lower, element=element)
        firsts = list(dict.fromkeys(p[0] for p in paths))
        if isinstance(firsts[0], tuple):
            n = len(firsts[0])
            dims = tuple(len({t[i] for t in firsts}) for i in range(n))
            lower = tuple(min(t[i] for t in firsts) for i in range(n))
            element = self.type(name + "[" + ",".join(map(str, firsts[0])) + "]")
            return TypeInfo(type_name, size, "array", dims=dims, lower=lower, element=element)
        members = tuple(
            Member(m, self.type(f"{name}.{m}"), min(leaf.offset for leaf, p in zip(leaves, paths) if p[0] == m))
            for m in firsts
        )
        return TypeInfo(type_name, size, "struct", members=members)

    def _kind(self, tyvar: int) -> str:
        """The kind of value of a basic variable type, as the core reads it."""
        v = _lib.Value()
        self._lib.QXSymCore_ParseLeafText(tyvar, b"0", ctypes.byref(v), None)
        return leaf_kind(v.kind)

    def tag_names(self, filter: Optional[str] = None) -> List[str]:
        """Names of the global tags, all or those matching ``filter`` (a
        glob: ``*`` any run of characters, ``?`` one character), complete
        however many match; fewer exchanges than :meth:`tags`."""
        return [str(t) for t in self._list(filter, 0)]

    def tags(
        self, filter: Optional[str] = None, *, descriptions: bool = False, attributes: Iterable[str] = ()
    ) -> List[TagInfo]:
        """The global tags, all or those matching ``filter``, each a
        :class:`TagInfo` (a ``str``, the name) with type, size and flags;
        with ``descriptions`` also its description, and the texts of the
        named ``attributes`` it has."""
        attributes = list(attributes)
        found = self._list(filter, _LIST_DETAILS | (_LIST_DESCRIPTIONS if descriptions else 0))
        with self._lock:
            for tag in found:
                for a in attributes:
                    text = ctypes.c_char_p()
                    rc = self._lib.QXSymCore_Attribute(self._ws(), _path(tag), _path(a), ctypes.byref(text))
                    if rc == 0:
                        tag.attributes[a] = _text(text.value)
                    elif rc != 7:  # symResAttributeNotFound: the tag has none of that name
                        raise error_for(rc, f"attribute {a} of {tag}")
        return found

    def _list(self, filter: Optional[str], flags: int) -> List[TagInfo]:
        flt = _path(filter) if filter else b""
        listing = ctypes.c_uint32()
        out: List[TagInfo] = []
        with self._lock:
            check(self._lib.QXSymCore_ListBegin(self._ws(), flt, flags, 0, ctypes.byref(listing)), "tag list")
            try:
                batch, count, done = ctypes.POINTER(_lib.TagInfo)(), ctypes.c_uint32(), ctypes.c_uint32()
                while not done.value:
                    rc = self._lib.QXSymCore_ListNext(listing, ctypes.byref(batch), ctypes.byref(count),
                                                      ctypes.byref(done))
                    check(rc, f"tag list for {filter or '*'!r}")
                    for i in range(count.value):
                        out.append(TagInfo(batch[i]))
                        if flags & _LIST_DESCRIPTIONS:
                            out[-1].description = _text(batch[i].description)
            finally:
                self._lib.QXSymCore_ListEnd(listing.value)
        return out

    # ---- groups and watches --------------------------------------------------

    def group(self, names: Iterable[str]) -> "Group":
        """A group of tags read and written together in one exchange each."""
        return Group(self, list(names))

    def watch(self, names: Iterable[str], interval: float = 1.0, *, initial: bool = True) -> Iterator[Change]:
        """Poll ``names`` as a group every ``interval`` seconds and yield a
        :class:`Change` for every value that differs from the one before
        (with ``initial``, also each first value). Stop by leaving the loop;
        the group is deleted then."""
        if not interval > 0:
            raise invalid("interval: must be above 0 s")
        group = self.group(names)
        try:
            last: Dict[str, Any] = {}
            due = time.monotonic()
            while True:
                yield from changes(last, group.read(), initial)
                due += interval
                now = time.monotonic()
                due = max(due, now)  # fell behind: start afresh instead of catching up
                time.sleep(due - now)
        finally:
            group.close()


class Group(_Closing):
    """Tags, members, elements, structures or arrays read or written
    together, one exchange for all of them."""

    def __init__(self, ws: Workspace, names: List[str]) -> None:
        if not names:
            raise invalid("a group needs at least one tag")
        if len({str(n).lower() for n in names}) != len(names):
            raise invalid("a group names each tag once")
        self._ws = ws
        with ws._lock:
            for name in names:
                ws._describe(name)
            self._names = names
            self._handle = ws._ws()
            ws._groups.add(self)

    @property
    def names(self) -> List[str]:
        return list(self._names)

    def __enter__(self) -> "Group":
        return self

    def close(self) -> None:
        """Forget the group (the session keeps what it made for it). Closing
        twice does nothing."""
        self._handle = 0
        self._ws._groups.discard(self)

    def _group(self) -> None:
        if not self._handle:
            raise QXSymError(INVALID_HANDLE, "the group is closed")

    def read(self) -> Dict[str, Any]:
        """Every member's value, by name, from one exchange."""
        with self._ws._lock:
            self._group()
            return self._ws.read_set(self._names)

    def write(self, values: Mapping[str, Any]) -> None:
        """Write every member in one exchange. ``values`` must give each
        member (by the name it was added with); every value is checked
        before anything is sent."""
        with self._ws._lock:
            self._group()
            given = {str(k).lower(): v for k, v in values.items()}
            unknown = [k for k in values if str(k).lower() not in {n.lower() for n in self._names}]
            if unknown:
                raise invalid(f"{unknown[0]!r} is not a member of the group")
            parts = []
            for name in self._names:
                if name.lower() not in given:
                    raise invalid(f"group write: no value for {name}")
                parts += self._ws._parts(name, given[name.lower()])
            self._ws._write(parts)


def connect(
    host: str, port: int, timeout: Optional[float] = None, *, selector: int = 0, encoding: str = "latin-1",
    connections: int = 1,
) -> Workspace:
    """Open a workspace on the controller at ``host``:``port``.

    ``timeout`` is the reply time-out in seconds (None: the library's default
    of 10 s; at most 65.535 s). ``encoding`` is that of the controller's texts:
    ``latin-1`` (every byte one character, so any stored text round-trips),
    ``utf-8`` or ``windows-1252``. ``connections`` (1 to 8) is how many
    connections a listing may use. Use the result as a context manager::

        with qxsymbols.connect("192.168.0.10", port=1234) as ws:
            print(ws.read("Line.Speed"))
    """
    return Workspace(host, port, timeout, selector, encoding, connections)
