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
from typing import Any, AsyncIterator, Callable, Dict, Generator, Iterable, Optional, TypeVar

from . import workspace as _sync
from .workspace import Change

__all__ = ["connect", "Workspace", "Group"]

T = TypeVar("T")
S = TypeVar("S", bound="_Coroutines")


class _Coroutines:
    """A blocking object made on its workspace's worker thread: await it, or use it with ``async with`` (closed
    at the end). Its public methods are coroutines run on that thread; its other attributes read as they are."""

    def __init__(self, make: Callable[[], Any], executor: ThreadPoolExecutor) -> None:
        self._make, self._executor = make, executor
        self._obj: Any = None

    async def _run(self, fn: Callable[..., T], *args: Any) -> T:
        return await asyncio.get_running_loop().run_in_executor(self._executor, functools.partial(fn, *args))

    async def _open(self: S) -> S:
        if self._obj is None:
            self._obj = await self._run(self._make)
        return self

    def __await__(self: S) -> Generator[Any, None, S]:
        return self._open().__await__()

    async def __aenter__(self: S) -> S:
        return await self._open()

    async def __aexit__(self, *exc: Any) -> None:
        await self.close()

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

    def group(self, names: Iterable[str]) -> Group:
        """A group: ``g = await ws.group(names)`` or ``async with ws.group(names) as g``."""
        return Group(functools.partial(self._obj.group, list(names)), self._executor)

    async def watch(self, names: Iterable[str], interval: float = 1.0, *,
                    initial: bool = True) -> AsyncIterator[Change]:
        """As :meth:`qxsymbols.Workspace.watch`, waiting with ``asyncio.sleep``; wrap it in
        ``contextlib.aclosing`` to delete its group as soon as the loop is left."""
        async with self.group(names) as group:
            last: Dict[str, Any] = {}
            for wait in _sync.polls(interval):
                await asyncio.sleep(wait)
                for change in _sync.changes(last, await group.read(), initial):
                    yield change


def connect(host: str, port: int, timeout: Optional[float] = None, **kw: Any) -> Workspace:
    """Open a workspace without blocking the event loop: ``ws = await connect(...)`` or ``async with
    connect(...) as ws``. Arguments as :func:`qxsymbols.connect`."""

    def make() -> _sync.Workspace:
        try:
            ws = _sync.connect(host, port, timeout, **kw)
            ws.version  # asked here, off the event loop
            return ws
        except BaseException:
            executor.shutdown(wait=False)  # on its own worker: nothing waits
            raise

    executor = ThreadPoolExecutor(max_workers=1, thread_name_prefix="qxsymbols")
    return Workspace(make, executor)
