"""tranpak from Python: messages as ``Session`` objects over the C library,
failures as exceptions, BER-TLV lists (``tlv_build``, ``tlv_parse``), the
host simulator for tests (the pytest plugin in ``tranpak.pytest_plugin``)
and a Locust user (``tranpak.locust``)."""
from ._paths import example_file, header_path, tool_path
from ._version import __version__
from .errors import (ArgumentError, Category, ConnectError, HostRefusedError, LocalFileError, MacError, MalformedError,
                     PeerClosedError, ReplyError, SettingsError, TimeLimitError, TranpakError)
from .session import Connection, FieldDef, Session, key_bytes, key_check_value, mac, mac_algorithm
from .pin import DukptTerminal, dukpt_derive_key, dukpt_initial_key, pin_block, pin_check, pin_from_block
from .simulator import HostSimulator, start_host
from .tlv import tlv_build, tlv_check, tlv_describe, tlv_find, tlv_parse

__all__ = [
    "__version__", "Session", "Connection", "FieldDef", "key_bytes", "mac", "key_check_value", "mac_algorithm",
    "HostSimulator", "start_host", "example_file",
    "header_path", "tool_path", "TranpakError", "Category", "SettingsError", "ArgumentError", "ConnectError",
    "TimeLimitError", "PeerClosedError", "MalformedError", "MacError", "LocalFileError", "HostRefusedError",
    "ReplyError", "pin_block", "pin_from_block", "pin_check", "dukpt_initial_key", "dukpt_derive_key",
    "DukptTerminal", "tlv_build", "tlv_parse", "tlv_find", "tlv_check", "tlv_describe",
]
