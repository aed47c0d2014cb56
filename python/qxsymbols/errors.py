"""Result codes and the exceptions that carry them; names, messages and
advice come from the client core."""

from __future__ import annotations

from typing import Any, Dict, Iterator, Mapping, Optional, Tuple, Type

from ._lib import library

__all__ = [
    "RESULT_NAMES",
    "QXSymError",
    "QXSymTimeoutError",
    "ConnectionLostError",
    "NotFoundError",
    "ReadOnlyError",
    "InvalidValueError",
    "result_name",
    "error_for",
]

OK = 0
INVALID_PARAMETER = 5
INVALID_HANDLE = 4


def _text(fn: str, code: int) -> str:
    raw: bytes = getattr(library(), fn)(code)
    return raw.decode("utf-8", "replace")


class _ResultNames(Mapping[int, str]):
    """The name of every result code the core knows, by value (read from
    the core on first use)."""

    _names: Optional[Dict[int, str]] = None

    def _all(self) -> Dict[int, str]:
        if self._names is None:
            names: Dict[int, str] = {}
            while True:
                name = _text("QXSymCore_ResultName", len(names))
                if name == "symRes?":
                    break
                names[len(names)] = name
            self._names = names
        return self._names

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
    """A call failed; ``code`` is the library's result code, ``name`` its
    name, ``advice`` what to do about it.

    Subclasses group the codes that callers usually handle apart.
    """

    code: int
    name: str

    def __init__(self, code: int, message: Optional[str] = None) -> None:
        self.code = int(code)
        self.name = result_name(self.code)
        self.message = message
        self.advice = _text("QXSymCore_ResultAdvice", self.code)
        text = f"{self.name} ({self.code})"
        super().__init__(f"{message}: {text}" if message else f"{_text('QXSymCore_ResultMessage', code)}: {text}")

    def __reduce__(self) -> Tuple[Any, ...]:
        # Rebuilt from code and message (pickling, multiprocessing).
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
    """A value or argument does not fit (type, range, size, shape, text);
    nothing was sent."""


_FAMILIES: Dict[int, Type[QXSymError]] = {
    13: QXSymTimeoutError,
    8: ConnectionLostError,  # the channel could not be opened
    17: ConnectionLostError,
    48: ConnectionLostError,  # a request could not be sent
    6: NotFoundError,
    7: NotFoundError,
    16: ReadOnlyError,
    5: InvalidValueError,
    15: InvalidValueError,  # array index out of range
    47: InvalidValueError,  # a structure or array named where a leaf is wanted
}


def error_for(code: int, message: Optional[str] = None) -> QXSymError:
    """The exception of the family that ``code`` belongs to."""
    return _FAMILIES.get(code, QXSymError)(code, message)


def invalid(message: str) -> InvalidValueError:
    return InvalidValueError(INVALID_PARAMETER, message)


def check(code: int, message: Optional[str] = None) -> int:
    """Raise for any code but ``symResOk``; return the code otherwise."""
    if code != OK:
        raise error_for(code, message)
    return code
