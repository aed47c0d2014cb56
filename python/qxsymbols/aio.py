"""The same interface as coroutines for asyncio programs.

Every exchange with a controller runs on a worker thread of its workspace,
never on the event loop, so a slow or silent controller holds up only the
tasks that wait for it. Calls on one workspace run in the order they were
made; calls on different workspaces run side by side.

::

    import asyncio
    from qxsymbols import aio

    async def main():
        async with aio.connect("127.0.0.1", port=5000) as ws:
            print(await ws.read("Line.Speed"))
            async for change in ws.watch(["Heartbeat"], interval=0.5):
                print(change)

    asyncio.run(main())
"""

from __future__ import annotations

import asyncio
import functools
from concurrent.futures import ThreadPoolExecutor
from typing import (
    Any,
    AsyncIterator,
    Awaitable,
    Callable,
    Dict,
    Generator,
    Iterable,
    List,
    Mapping,
    Optional,
    Protocol,
    TypeVar,
)

from . import workspace as _sync
from .errors import invalid
from .types import TypeInfo
from .workspace import Change, TagInfo, Version

__all__ = ["connect", "Workspace", "Group"]

T = TypeVar("T")


class _Closable(Protocol):
    async def close(self) -> None: ...


C = TypeVar("C", bound=_Closable)


class Workspace:
    """An open workspace whose calls are coroutines (see :class:`qxsymbols.Workspace`)."""

    def __init__(self, ws: _sync.Workspace, executor: ThreadPoolExecutor) -> None:
        self._ws = ws
        self._executor = executor

    async def _run(self, fn: Callable[..., T], *args: Any) -> T:
        loop = asyncio.get_running_loop()
        return await loop.run_in_executor(self._executor, functools.partial(fn, *args))

    @property
    def version(self) -> Version:
        """Version of the controller's symbol service."""
        return self._ws.version

    @property
    def full_support(self) -> bool:
        return bool(self._ws.full_support)

    @property
    def closed(self) -> bool:
        return self._ws.closed

    @property
    def sync(self) -> _sync.Workspace:
        """The blocking workspace underneath (for use on a worker thread)."""
        return self._ws

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

    async def tags(self, filter: Optional[str] = None, **kw: Any) -> List[TagInfo]:
        return await self._run(functools.partial(self._ws.tags, filter, **kw))

    async def tag_names(self, filter: Optional[str] = None) -> List[str]:
        return await self._run(self._ws.tag_names, filter)

    async def read(self, name: str) -> Any:
        return await self._run(self._ws.read, name)

    async def write(self, name: str, value: Any) -> None:
        await self._run(self._ws.write, name, value)

    async def type(self, name: str) -> TypeInfo:
        return await self._run(self._ws.type, name)

    def group(self, names: Iterable[str]) -> "_Opening[Group]":
        """A group: ``g = await ws.group(names)`` or ``async with ws.group(names) as g``."""
        names = list(names)

        async def make() -> Group:
            return Group(self, await self._run(self._ws.group, names))

        return _Opening(make)

    async def watch(
        self, names: Iterable[str], interval: float = 1.0, *, initial: bool = True
    ) -> AsyncIterator[Change]:
        """As :meth:`qxsymbols.Workspace.watch`, waiting with ``asyncio.sleep``.

        The watch's group is deleted when the generator is closed: wrap it in
        ``contextlib.aclosing`` to have that happen as soon as the loop is
        left, rather than when the generator is collected."""
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
        self._ws = ws
        self._group = group

    @property
    def names(self) -> List[str]:
        return self._group.names

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
    """An object being opened: await it, or use it with ``async with``,
    which closes it at the end."""

    def __init__(self, make: Callable[[], Awaitable[C]]) -> None:
        self._make = make
        self._obj: Optional[C] = None

    def __await__(self) -> Generator[Any, None, C]:
        return self._make().__await__()

    async def __aenter__(self) -> C:
        self._obj = await self._make()
        return self._obj

    async def __aexit__(self, *exc: Any) -> None:
        if self._obj is not None:
            await self._obj.close()


def connect(
    host: str, port: int, timeout: Optional[float] = None, *, selector: int = 0, encoding: str = "latin-1",
    connections: int = 1,
) -> _Opening[Workspace]:
    """Open a workspace without blocking the event loop: ``ws = await
    connect(...)`` or ``async with connect(...) as ws``. Arguments as
    :func:`qxsymbols.connect`."""
    async def make() -> Workspace:
        executor = ThreadPoolExecutor(max_workers=1, thread_name_prefix="qxsymbols")
        loop = asyncio.get_running_loop()
        def opener() -> _sync.Workspace:
            w = _sync.Workspace(host, port, timeout, selector, encoding, connections)
            w.version  # asked here, off the event loop
            return w

        try:
            ws = await loop.run_in_executor(executor, opener)
        except BaseException:
            executor.shutdown(wait=False)
            raise
        return Workspace(ws, executor)

    return _Opening(make)
