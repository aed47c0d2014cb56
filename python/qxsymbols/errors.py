"""Result codes and the exceptions that carry them; names, messages and
advice come from the client core."""

from __future__ import annotations

from typing import Any, Dict, Iterator, Mapping, Optional, Tuple, Type

from ._lib import library

__all__ = ["RESULT_NAMES", "QXSymError", "QXSymTimeoutError", "ConnectionLostError", "NotFoundError",
           "ReadOnlyError", "InvalidValueError", "result_name", "error_for"]

INVALID_HANDLE, INVALID_PARAMETER = 4, 5


def _text(fn: str, code: int) -> str:
    raw: bytes = getattr(library(), fn)(code)
    return raw.decode("utf-8", "replace")


class _ResultNames(Mapping[int, str]):
    """The name of every result code the core knows, read from it on first use."""

    _names: Dict[int, str] = {}

    def _all(self) -> Dict[int, str]:
        while not self._names or self._names[len(self._names) - 1] != "symRes?":
            self._names[len(self._names)] = _text("QXSymCore_ResultName", len(self._names))
        return {k: v for k, v in self._names.items() if v != "symRes?"}

    def __getitem__(self, code: int) -> str:
        return self._all()[code]

    def __iter__(self) -> Iterator[int]:
        return iter(self._all())

    def __len__(self) -> int:
        return len(self._all())


#: Name of every result code, by value.
RESULT_NAMES: Mapping[int, str] = _ResultNames()


def result_name(code: int) -> str:
    """The name of a result code, or ``"result N"`` for a code not known."""
    return RESULT_NAMES.get(code, f"result {code}")


class QXSymError(Exception):
    """A call failed: ``code`` is the result code, ``name`` its name, ``advice``
    what to do about it. Subclasses group the codes callers handle apart."""

    def __init__(self, code: int, message: Optional[str] = None) -> None:
        self.code, self.name, self.message = int(code), result_name(int(code)), message
        self.advice = _text("QXSymCore_ResultAdvice", self.code)
        super().__init__(f"{message or _text('QXSymCore_ResultMessage', self.code)}: {self.name} ({self.code})")

    def __reduce__(self) -> Tuple[Any, ...]:  # rebuilt from code and message (pickling)
        return (type(self), (self.code, self.message))


class QXSymTimeoutError(QXSymError, TimeoutError):
    """No complete reply within the workspace's time-out."""


class ConnectionLostError(QXSymError, ConnectionError):
    """The controller cannot be reached, or the connection to it broke."""


class NotFoundError(QXSymError, LookupError):
    """No tag, member or attribute of that name."""


class ReadOnlyError(QXSymError):
    """The tag may not be written."""


class InvalidValueError(QXSymError, ValueError):
    """A value or argument does not fit (type, range, shape, text); nothing was sent."""


# time-out; address, connection lost, cannot send; not found; read-only;
# parameter, array index, a structure where a leaf is wanted
_FAMILIES: Dict[int, Type[QXSymError]] = {
    13: QXSymTimeoutError, 8: ConnectionLostError, 17: ConnectionLostError, 48: ConnectionLostError,
    6: NotFoundError, 7: NotFoundError, 16: ReadOnlyError,
    5: InvalidValueError, 15: InvalidValueError, 47: InvalidValueError,
}


def error_for(code: int, message: Optional[str] = None) -> QXSymError:
    """The exception of the family that ``code`` belongs to."""
    return _FAMILIES.get(code, QXSymError)(code, message)


def invalid(message: str) -> InvalidValueError:
    return InvalidValueError(INVALID_PARAMETER, message)


def check(code: int, message: Optional[str] = None) -> None:
    """Raise for any code but ``symResOk``."""
    if code:
        raise error_for(code, message)
