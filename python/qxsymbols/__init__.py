"""Python access to the tags of PLC applications through the QXSymbols client core::

    with qxsymbols.connect("127.0.0.1", port=5000, timeout=2.0) as ws:
        ws.write("Recipe.Id", 43)
        print(ws.tags("Cnt*"), ws.read("Recipe"))

``qxsymbols.aio`` offers the same calls as coroutines."""

from ._lib import CORE_ENV, LIBRARY_ENV, LibraryNotFoundError
from .errors import RESULT_NAMES, ConnectionLostError, InvalidValueError, NotFoundError, QXSymError
from .errors import QXSymTimeoutError, ReadOnlyError, result_name
from .types import Member, TypeInfo
from .workspace import Change, Group, Subscription, TagInfo, Version, Workspace, connect

__all__ = ["connect", "Workspace", "Group", "Subscription", "Change", "Version", "TagInfo"]
__all__ += ["TypeInfo", "Member"]
__all__ += ["QXSymError", "QXSymTimeoutError", "ConnectionLostError", "NotFoundError"]
__all__ += ["ReadOnlyError", "InvalidValueError", "LibraryNotFoundError", "LIBRARY_ENV", "CORE_ENV"]
__all__ += ["RESULT_NAMES", "result_name"]

__version__ = "3.0.1.1"
