"""Result codes of the library and the exceptions that carry them."""

from __future__ import annotations

from typing import Any, Dict, Optional, Tuple, Type

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

#: Name of every result code, by value.
RESULT_NAMES: Dict[int, str] = dict(
    enumerate(
        """symResOk symResNotInited symResSocketInitError symResSymbolTableLoadError
        symResInvalidHandle symResInvalidParameter symResSymbolNotFound
        symResAttributeNotFound symResInvalidAddress symResMemReadError
        symResInvalidBuffer symResUnknownTagSize symResMemWriteError symResTimeoutError
        symResInvalidVARIANT symResInvalidArrayIndex symResReadOnlyTag
        symResConnectionLost symResNotOk symResInvalidAttributeValue
        symResBitCommandRequired symResInvalidTagSize symResNotImplemented
        symResVersionNotSupported symResCommandNotSupported symResAddressMismatch32vs64
        symResMemoryAllocError symResInvalidArea symResInvalidWorkspace symResMaxReached
        symResBufferOverflow symResUnkownCommand symResShutdownInProgress
        symResInvalidComm symResServerNotCompatible symResOkServerNotFullSupport
        symResFileAlreadyExists symResCannotWriteFile symResCannotOpenFile
        symResCannotReadFile symResSegmentationError symResHandleAlreadyExists
        symResInvalidGroupSize symResGroupMustBeRead symResGroupConfigError
        symResInvalidGroupTag symResGroupIsEmpty symResInvalidTagType symResSocketError
        symResProtocolError""".split()
    )
)

OK = 0
INVALID_PARAMETER = 5
BUFFER_OVERFLOW = 30
OK_NOT_FULL_SUPPORT = 35
SOCKET_ERROR = 48


def result_name(code: int) -> str:
    """The name of a result code, or ``"result N"`` for a code not known."""
    return RESULT_NAMES.get(code, f"result {code}")


class QXSymError(Exception):
    """A call failed; ``code`` is the library's result code, ``name`` its name.

    Subclasses group the codes that callers usually handle apart.
    """

    code: int
    name: str

    def __init__(self, code: int, message: Optional[str] = None) -> None:
        self.code = int(code)
        self.name = result_name(self.code)
        self.message = message
        text = f"{self.name} ({self.code})"
        super().__init__(f"{message}: {text}" if message else text)

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
    """A value or argument does not fit (range, size, shape, text); nothing
    was sent."""


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
    21: InvalidValueError,  # size does not match the tag
}


def error_for(code: int, message: Optional[str] = None) -> QXSymError:
    """The exception of the family that ``code`` belongs to."""
    return _FAMILIES.get(code, QXSymError)(code, message)


def check(code: int, message: Optional[str] = None) -> int:
    """Raise for any code but ``symResOk``; return the code otherwise."""
    if code != OK:
        raise error_for(code, message)
    return code
