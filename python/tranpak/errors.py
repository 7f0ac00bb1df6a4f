"""Failures as exceptions: one class per category of the library's
``ErrCategory``, all under ``TranpakError``."""
from __future__ import annotations

import enum
from typing import Any, Dict, Optional, Tuple, Type

from . import binding as _b


class Category(enum.IntEnum):
    """The library's failure categories (``ErrCategory``)."""

    NONE = _b.TRANPAK_ERR_NONE
    SETTINGS = _b.TRANPAK_ERR_SETTINGS
    ARGUMENT = _b.TRANPAK_ERR_ARGUMENT
    CONNECT = _b.TRANPAK_ERR_CONNECT
    TIME_LIMIT = _b.TRANPAK_ERR_TIME_LIMIT
    PEER_CLOSED = _b.TRANPAK_ERR_PEER_CLOSED
    MALFORMED = _b.TRANPAK_ERR_MALFORMED
    MAC = _b.TRANPAK_ERR_MAC
    LOCAL_FILE = _b.TRANPAK_ERR_LOCAL_FILE
    HOST_REFUSED = _b.TRANPAK_ERR_HOST_REFUSED


class TranpakError(Exception):
    """A failure. ``category`` is a Category (None for a failure found by
    this package rather than the library, such as a reply that does not
    answer its request), ``field`` the field concerned (0 the message type,
    1 to 128, None when no field is), ``offset`` the byte in the received
    frame where the fault lies (None when none applies or it is not known),
    ``text`` the library's log line (card data masked), ``detail`` what and
    where in plain words ("connect to 127.0.0.1:5000: Connection refused";
    card data masked), ``os_error`` the system's error number (0 where
    none) and ``line`` the definition file's line (0 where none).
    ``str(e)`` is the log line, followed by the detail when it says more."""

    category_code: Optional[int] = None

    def __init__(self, text: str, *, category: Optional[int] = None, field: Optional[int] = None,
                 offset: Optional[int] = None, detail: str = "", os_error: int = 0, line: int = 0) -> None:
        super().__init__(_message(text, detail))
        code = self.category_code if category is None else category
        self.category: Optional[Category] = Category(code) if code is not None else None
        self.field = field
        self.offset = offset
        self.text = text
        self.detail = detail
        self.os_error = os_error
        self.line = line

    def __reduce__(self) -> Tuple[Any, Tuple[Any, ...]]:  # pickles with its keywords (Locust workers send failures on)
        return (_rebuild, (type(self), self.text, self.category, self.field, self.offset, self.detail, self.os_error,
                           self.line))

    def __repr__(self) -> str:
        return (f"{type(self).__name__}({self.text!r}, category={self.category!r}, field={self.field!r}, "
                f"offset={self.offset!r}, detail={self.detail!r}, os_error={self.os_error!r}, line={self.line!r})")


def _message(text: str, detail: str) -> str:
    """The log line, and the detail after it unless the line already
    holds all it says."""
    if not detail or detail in text:
        return text
    return f"{text} ({detail})"


def _rebuild(cls: Type["TranpakError"], text: str, category: Optional["Category"], field: int, offset: int,
             detail: str = "", os_error: int = 0, line: int = 0) -> "TranpakError":
    return cls(text, category=category, field=field, offset=offset, detail=detail, os_error=os_error, line=line)


class SettingsError(TranpakError):
    """The settings file or a field definition."""

    category_code = _b.TRANPAK_ERR_SETTINGS


class ArgumentError(TranpakError, ValueError):
    """A caller's argument or field value."""

    category_code = _b.TRANPAK_ERR_ARGUMENT


class ConnectError(TranpakError, ConnectionError):
    """Name lookup, connection or close."""

    category_code = _b.TRANPAK_ERR_CONNECT


class TimeLimitError(TranpakError, TimeoutError):
    """A time limit passed; the connection is out of step."""

    category_code = _b.TRANPAK_ERR_TIME_LIMIT


class PeerClosedError(TranpakError):
    """The peer closed, or a frame came or went short."""

    category_code = _b.TRANPAK_ERR_PEER_CLOSED


class MalformedError(TranpakError):
    """A received frame breaks its format."""

    category_code = _b.TRANPAK_ERR_MALFORMED


class MacError(TranpakError):
    """The received MAC is missing or wrong."""

    category_code = _b.TRANPAK_ERR_MAC


class LocalFileError(TranpakError):
    """A local file cannot be opened, written or put in place."""

    category_code = _b.TRANPAK_ERR_LOCAL_FILE


class HostRefusedError(TranpakError):
    """The host ended a file transfer with '3'."""

    category_code = _b.TRANPAK_ERR_HOST_REFUSED


class ReplyError(TranpakError):
    """A reply that came whole with a good MAC but does not answer the
    request: another message type, or field 11 or 41 changed. ``field``
    names which (0 for the type). Found by this package: no category."""


BY_CATEGORY: Dict[int, Type[TranpakError]] = {
    cls.category_code: cls  # type: ignore[misc]
    for cls in (SettingsError, ArgumentError, ConnectError, TimeLimitError, PeerClosedError, MalformedError, MacError,
                LocalFileError, HostRefusedError)
}


def from_values(category: int, field: int, offset: int, text: str, detail: str = "", os_error: int = 0,
                line: int = 0) -> TranpakError:
    """The exception for a failure the library reported as values (-1 for
    no field and no offset)."""
    cls = BY_CATEGORY.get(category, TranpakError)
    return cls(text or "tranpak: the call failed without a reason",
               category=category if category in BY_CATEGORY else None,
               field=None if field < 0 else field, offset=None if offset < 0 else offset, detail=detail,
               os_error=os_error, line=line)


def from_record(err: "_b.TpError", encoding: str) -> TranpakError:
    """The exception for a TpError record that TpGetLastError filled."""
    return from_values(err.category, err.field, err.offset, err.text.decode(encoding), err.detail.decode(encoding),
                       err.osError, err.line)
