"""Result codes and the exceptions that carry them; names, messages and advice come from the client
core."""

from __future__ import annotations

import functools
import itertools
from typing import Any, Dict, Iterator, Mapping, Optional, Tuple, Union

from ._lib import library

__all__ = ["RESULT_NAMES", "QXSymError", "QXSymTimeoutError", "ConnectionLostError"]
__all__ += ["NotFoundError", "ReadOnlyError", "InvalidValueError", "result_name", "error_for"]


def _text(fn: str, code: int) -> str:
    raw: bytes = getattr(library(), "QXSymCore_" + fn)(code)
    return raw.decode("utf-8", "replace")


class _ResultNames(Mapping[int, str]):
    """The core's name of every result code, asked on first use (importing needs no library)."""

    @functools.cached_property
    def _names(self) -> Dict[int, str]:
        names = (_text("ResultName", code) for code in itertools.count())
        return dict(enumerate(itertools.takewhile(lambda n: n != "symRes?", names)))

    def __getitem__(self, code: int) -> str:
        return self._names[code]

    def __iter__(self) -> Iterator[int]:
        return iter(self._names)

    def __len__(self) -> int:
        return len(self._names)


#: Name of every result code, by value.
RESULT_NAMES: Mapping[int, str] = _ResultNames()


def result_name(code: int) -> str:
    """The name of a result code, or ``"result N"`` for a code not known."""
    return RESULT_NAMES.get(code, f"result {code}")


def code_of(name: str) -> int:
    """The result code of a name (``"symResInvalidParameter"``)."""
    return next(code for code, n in RESULT_NAMES.items() if n == name)


class QXSymError(Exception):
    """A call failed: ``code`` is the result code, ``name`` its name, ``advice`` what to do."""

    def __init__(self, code: int, message: Optional[str] = None) -> None:
        self.code, self.name, self.message = int(code), result_name(int(code)), message
        self.advice = _text("ResultAdvice", self.code)
        super().__init__(f"{message or _text('ResultMessage', self.code)}: {self.name} ({code})")

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


#: The codes that callers handle apart, by the class that carries them (a structure given for a
#: leaf is an invalid tag type).
_FAMILIES = {
    QXSymTimeoutError: "symResTimeoutError",
    ConnectionLostError: "symResInvalidAddress symResConnectionLost symResSocketError",
    NotFoundError: "symResSymbolNotFound symResAttributeNotFound",
    ReadOnlyError: "symResReadOnlyTag",
    InvalidValueError: "symResInvalidParameter symResInvalidArrayIndex symResInvalidTagType",
}
_CLASS_OF = {name: cls for cls, names in _FAMILIES.items() for name in names.split()}


def error_for(code: int, message: Union[str, bytes, None] = None) -> QXSymError:
    """The exception of the family ``code`` belongs to (a message from the core is UTF-8)."""
    text = message.decode("utf-8", "replace") if isinstance(message, bytes) else message
    return _CLASS_OF.get(result_name(code), QXSymError)(code, text)


def invalid(message: str) -> InvalidValueError:
    """The error of an argument refused before the core is asked."""
    return InvalidValueError(code_of("symResInvalidParameter"), message)


def check(code: int, message: Union[str, bytes, None] = None) -> None:
    """Raise for any code but ``symResOk``."""
    if code:
        raise error_for(code, message)
