"""The same interface as coroutines for asyncio programs.

Every exchange runs on a worker thread of its workspace, never on the event
loop, so a slow controller holds up only the tasks that wait for it. Calls on
one workspace run in the order they were made::

    async with aio.connect("127.0.0.1", port=5000) as ws:
        print(await ws.read("Line.Speed"))
        async for change in ws.watch(["Heartbeat"], interval=0.5):
            print(change)
"""

from __future__ import annotations

import asyncio
import functools
from concurrent.futures import ThreadPoolExecutor
from typing import Any, AsyncIterator, Awaitable, Callable, Dict, Generator, Iterable, Mapping, Optional
from typing import Protocol, TypeVar

from . import workspace as _sync
from .errors import invalid
from .workspace import Change

__all__ = ["connect", "Workspace", "Group"]

T = TypeVar("T")


class _Closable(Protocol):
    async def close(self) -> None: ...


C = TypeVar("C", bound=_Closable)


def _call(name: str) -> Callable[..., Awaitable[Any]]:
    async def call(self: "Workspace", *args: Any, **kw: Any) -> Any:
        return await self._run(getattr(self._ws, name), *args, **kw)

    call.__name__, call.__doc__ = name, f"As :meth:`qxsymbols.Workspace.{name}`, on the workspace's thread."
    return call


class Workspace:
    """An open workspace whose calls are coroutines (see :class:`qxsymbols.Workspace`)."""

    def __init__(self, ws: _sync.Workspace, executor: ThreadPoolExecutor) -> None:
        self._ws, self._executor = ws, executor

    async def _run(self, fn: Callable[..., T], *args: Any, **kw: Any) -> T:
        return await asyncio.get_running_loop().run_in_executor(self._executor, functools.partial(fn, *args, **kw))

    version = property(lambda self: self._ws.version, doc="Version of the controller's symbol service.")
    full_support = property(lambda self: self._ws.full_support)
    closed = property(lambda self: self._ws.closed)
    sync = property(lambda self: self._ws, doc="The blocking workspace underneath (for worker threads).")

    async def __aenter__(self) -> "Workspace":
        return self

    async def __aexit__(self, *exc: Any) -> None:
        await self.close()

    async def close(self) -> None:
        """Close the workspace; calls already queued run first."""
        try:
            await self._run(self._ws.close)
        finally:
            self._executor.shutdown(wait=False)

    tags, tag_names, read, read_set = _call("tags"), _call("tag_names"), _call("read"), _call("read_set")
    write, write_set, type = _call("write"), _call("write_set"), _call("type")

    def group(self, names: Iterable[str]) -> "_Opening[Group]":
        """A group: ``g = await ws.group(names)`` or ``async with ws.group(names) as g``."""
        names = list(names)

        async def make() -> Group:
            return Group(self, await self._run(self._ws.group, names))

        return _Opening(make)

    async def watch(
        self, names: Iterable[str], interval: float = 1.0, *, initial: bool = True
    ) -> AsyncIterator[Change]:
        """As :meth:`qxsymbols.Workspace.watch`, waiting with ``asyncio.sleep``; wrap it
        in ``contextlib.aclosing`` to delete its group as soon as the loop is left."""
        if not interval > 0:
            raise invalid("interval: must be above 0 s")
        group = await self.group(names)
        loop = asyncio.get_running_loop()
        try:
            last: Dict[str, Any] = {}
            due = loop.time()
            while True:
                for change in _sync.changes(last, await group.read(), initial):
                    yield change
                due = max(due + interval, loop.time())
                await asyncio.sleep(due - loop.time())
        finally:
            await group.close()


class Group:
    """A group whose read and write are coroutines (see :class:`qxsymbols.Group`)."""

    def __init__(self, ws: Workspace, group: _sync.Group) -> None:
        self._ws, self._group = ws, group

    names = property(lambda self: self._group.names)

    async def __aenter__(self) -> "Group":
        return self

    async def __aexit__(self, *exc: Any) -> None:
        await self.close()

    async def read(self) -> Dict[str, Any]:
        return await self._ws._run(self._group.read)

    async def write(self, values: Mapping[str, Any]) -> None:
        await self._ws._run(self._group.write, dict(values))

    async def close(self) -> None:
        await self._ws._run(self._group.close)


class _Opening(Awaitable[C]):
    """An object being opened: await it, or use it with ``async with`` (closed at the end)."""

    def __init__(self, make: Callable[[], Awaitable[C]]) -> None:
        self._make, self._obj = make, None  # type: Callable[[], Awaitable[C]], Optional[C]

    def __await__(self) -> Generator[Any, None, C]:
        return self._make().__await__()

    async def __aenter__(self) -> C:
        self._obj = await self._make()
        return self._obj

    async def __aexit__(self, *exc: Any) -> None:
        if self._obj is not None:
            await self._obj.close()


def connect(host: str, port: int, timeout: Optional[float] = None, **kw: Any) -> _Opening[Workspace]:
    """Open a workspace without blocking the event loop: ``ws = await connect(...)``
    or ``async with connect(...) as ws``. Arguments as :func:`qxsymbols.connect`."""

    def opener() -> _sync.Workspace:
        ws = _sync.connect(host, port, timeout, **kw)
        ws.version  # asked here, off the event loop
        return ws

    async def make() -> Workspace:
        executor = ThreadPoolExecutor(max_workers=1, thread_name_prefix="qxsymbols")
        try:
            return Workspace(await asyncio.get_running_loop().run_in_executor(executor, opener), executor)
        except BaseException:
            executor.shutdown(wait=False)
            raise

    return _Opening(make)
