"""The same interface as coroutines for asyncio programs.

Every exchange runs on a worker thread of its workspace, never on the event loop, so a slow controller holds up
only the tasks that wait for it. Calls on one workspace run in the order they were made::

    async with aio.connect("127.0.0.1", port=5000) as ws:
        print(await ws.read("Line.Speed"))
        async for change in ws.watch(["Heartbeat"], interval=0.5):
            print(change)
"""

from __future__ import annotations

import asyncio
import functools
from concurrent.futures import ThreadPoolExecutor
from typing import Any, AsyncIterator, Awaitable, Callable, Dict, Generator, Generic, Iterable, Optional, TypeVar

from . import workspace as _sync
from .workspace import Change

__all__ = ["connect", "Workspace", "Group"]

T = TypeVar("T")


class _Coroutines:
    """A blocking object whose public methods are coroutines here, run on its workspace's worker thread; its
    other attributes read as they are."""

    def __init__(self, obj: Any, executor: ThreadPoolExecutor) -> None:
        self._obj, self._executor = obj, executor

    async def _run(self, fn: Callable[..., T], *args: Any) -> T:
        return await asyncio.get_running_loop().run_in_executor(self._executor, functools.partial(fn, *args))

    def __getattr__(self, name: str) -> Any:
        if name.startswith("_"):
            raise AttributeError(name)
        attr = getattr(self._obj, name)
        if not callable(attr):
            return attr

        @functools.wraps(attr)
        async def call(*args: Any, **kw: Any) -> Any:
            return await self._run(functools.partial(attr, *args, **kw))

        setattr(self, name, call)  # made once per object
        return call

    async def __aenter__(self: T) -> T:
        return self

    async def __aexit__(self, *exc: Any) -> None:
        await self.close()

    async def close(self) -> None:
        """Close it; calls already queued run first."""
        await self._run(self._obj.close)


class Group(_Coroutines):
    """A group whose ``read``, ``write`` and ``close`` are coroutines (see :class:`qxsymbols.Group`)."""


class Workspace(_Coroutines):
    """An open workspace whose calls are coroutines (see :class:`qxsymbols.Workspace`): ``await ws.read(name)``,
    ``await ws.write(name, value)``, ``await ws.tags()``..."""

    sync = property(lambda self: self._obj, doc="The blocking workspace underneath (for worker threads).")

    async def close(self) -> None:
        try:
            await super().close()
        finally:
            self._executor.shutdown(wait=False)

    def group(self, names: Iterable[str]) -> "_Opening[Group]":
        """A group: ``g = await ws.group(names)`` or ``async with ws.group(names) as g``."""
        names = list(names)

        async def make() -> Group:
            return Group(await self._run(self._obj.group, names), self._executor)

        return _Opening(make)

    async def watch(self, names: Iterable[str], interval: float = 1.0, *, initial: bool = True) -> AsyncIterator[Change]:
        """As :meth:`qxsymbols.Workspace.watch`, waiting with ``asyncio.sleep``; wrap it in
        ``contextlib.aclosing`` to delete its group as soon as the loop is left."""
        async with self.group(names) as group:
            last: Dict[str, Any] = {}
            for wait in _sync.polls(interval):
                await asyncio.sleep(wait)
                for change in _sync.changes(last, await group.read(), initial):
                    yield change


C = TypeVar("C", bound=_Coroutines)


class _Opening(Generic[C], Awaitable[C]):
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
    """Open a workspace without blocking the event loop: ``ws = await connect(...)`` or ``async with
    connect(...) as ws``. Arguments as :func:`qxsymbols.connect`."""

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
