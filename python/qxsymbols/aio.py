"""The same interface as coroutines for asyncio programs. Every exchange runs on its workspace's
worker thread, never on the event loop; calls on one workspace run in the order made::

    async with aio.connect("127.0.0.1", port=5000) as ws:
        print(await ws.read("Line.Speed"))
        async for change in ws.subscribe(["Heartbeat"], interval=0.5):
            print(change)
"""

from __future__ import annotations

import asyncio
import functools
from concurrent.futures import ThreadPoolExecutor
from typing import Any, AsyncGenerator, Callable, Generator, Iterable, Optional, TypeVar

from . import workspace as _sync
from .workspace import Change

__all__ = ["connect", "Workspace", "Group"]

S = TypeVar("S", bound="_Coroutines")


class _Coroutines:
    """A blocking object made on its workspace's worker thread: await it, or use it with ``async
    with``. Its public methods are coroutines run on that thread; other attributes read as they
    are."""

    def __init__(self, make: Callable[[], Any], executor: ThreadPoolExecutor) -> None:
        self._make, self._executor = make, executor
        self._obj: Any = None

    async def _run(self, fn: Callable[..., Any], *args: Any, **kw: Any) -> Any:
        call = functools.partial(fn, *args, **kw)
        return await asyncio.get_running_loop().run_in_executor(self._executor, call)

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
        call = functools.wraps(attr)(functools.partial(self._run, attr))
        setattr(self, name, call)  # made once per object
        return call

    async def close(self) -> None:
        """Close it; calls already queued run first."""
        await self._run(self._obj.close)


class Group(_Coroutines):
    """A group whose ``read``, ``write`` and ``close`` are coroutines (see qxsymbols.Group)."""


class Workspace(_Coroutines):
    """An open workspace whose calls are coroutines (see qxsymbols.Workspace)."""

    sync = property(lambda self: self._obj, doc="The blocking workspace (for worker threads).")

    async def close(self) -> None:
        try:
            await super().close()
        finally:
            self._executor.shutdown(wait=False)

    def group(self, names: Iterable[str]) -> Group:
        """A group: ``g = await ws.group(names)`` or ``async with ws.group(names) as g``."""
        return Group(functools.partial(self._obj.group, list(names)), self._executor)

    async def subscribe(
        self, names: Iterable[str], *args: Any, **kw: Any
    ) -> AsyncGenerator[Change, None]:
        """As qxsymbols.Workspace.subscribe, an async iterator whose waits run on the loop's
        executor; closing it (``aclose``) unsubscribes."""
        subscription = await self._run(self._obj.subscribe, list(names), *args, **kw)
        loop = asyncio.get_running_loop()
        try:
            while not subscription.closed:
                for change in await loop.run_in_executor(None, subscription.wait, 0.05):
                    yield change
        finally:  # off the loop: ending waits for a poll under way
            await loop.run_in_executor(None, subscription.close)

    async def watch(
        self, names: Iterable[str], interval: float = 1.0, *, initial: bool = True
    ) -> AsyncGenerator[Change, None]:
        """As qxsymbols.Workspace.watch, an async iterator; ``aclose`` ends its subscription."""
        changes = self.subscribe(names, interval)
        try:
            async for change in changes:
                if _sync._watched(change, initial):
                    yield change
        finally:
            await changes.aclose()


def connect(host: str, port: int, timeout: Optional[float] = None, **kw: Any) -> Workspace:
    """Open a workspace without blocking the event loop: ``ws = await connect(...)`` or ``async with
    connect(...) as ws``; arguments as qxsymbols.connect."""

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
