"""The C interface of libtranpak through ctypes: the header's types and
functions, declared once here (a test compares them with ``tranpak.h``).

The library is looked for in the package first, then at the path in
``TRANPAK_LIBRARY``, then by the system's search path.

The calls that may wait (on a socket, a file or a name lookup: BLOCKING)
go through ``ctypes.CDLL``, which lets go of the interpreter's lock for
the time of the call, so sessions on different threads wait in parallel.
Every other call takes a few microseconds and goes through
``ctypes.PyDLL``, which keeps the lock: letting it go and taking it back
around each of them would cost more than the call, and with threads the
taking back waits in line behind every other thread (a convoy).
"""
from __future__ import annotations

import ctypes
import ctypes.util
import sys
from ctypes import POINTER, Structure, Union, c_char, c_char_p, c_double, c_int, c_longlong, c_size_t, c_ubyte, c_void_p
from typing import Dict, List, Optional, Tuple

from . import _paths

# --- constants of the header -------------------------------------------------

TP_SESSION_SIZE = 131072
TP_DESCRIBE_JSON = 1
TP_DESCRIBE_UNMASKED = 2
TP_SHOW_MASKED = 4

# TpMacAlgorithm, TpMacPadding, TpKcvMethod
TP_MAC_LEGACY = 0
TP_MAC_ISO9797_1_ALG1 = 1
TP_MAC_ISO9797_1_ALG3 = 3
TP_MAC_TDES_CMAC = 4
TP_MAC_AES_CMAC = 5
TP_MAC_PAD1 = 1
TP_MAC_PAD2 = 2
TP_KCV_ENCRYPT_ZEROS = 1
TP_KCV_CMAC = 2
# TpMacCovers
TP_MAC_COVERS_MESSAGE = 1
TP_MAC_COVERS_DATA = 2
# The longest key any algorithm reads: AES-256.
MAX_KEY_SIZE = 32
# BER-TLV: constructed tags nest at most this deep; the longest value.
TP_TLV_MAX_DEPTH = 8
TP_TLV_MAX_VALUE_LEN = 65535

# TpPinFormat and the PIN block's sizes
TP_PIN_FORMAT_0 = 0
TP_PIN_FORMAT_1 = 1
TP_PIN_FORMAT_3 = 3
TP_PIN_FORMAT_4 = 4
TP_PIN_BLOCK_MAX = 16
TP_PIN_FILL_SIZE = 8
TP_PIN_MAX_DIGITS = 12
# TpDukptKind, TpDukptUsage, TpDukptKeyType
TP_DUKPT_TDES = 1
TP_DUKPT_AES = 2
TP_DUKPT_TRANSACTION = 0
TP_DUKPT_PIN = 1
TP_DUKPT_MAC_REQUEST = 2
TP_DUKPT_MAC_RESPONSE = 3
TP_DUKPT_DATA_REQUEST = 4
TP_DUKPT_DATA_RESPONSE = 5
TP_DUKPT_MAC_BOTH = 6
TP_DUKPT_DATA_BOTH = 7
TP_DUKPT_KEY_ENCRYPTION = 8
TP_DUKPT_KEY_2TDEA = 0
TP_DUKPT_KEY_3TDEA = 1
TP_DUKPT_KEY_AES128 = 2
TP_DUKPT_KEY_AES192 = 3
TP_DUKPT_KEY_AES256 = 4
TP_DUKPT_TDES_KSN_SIZE = 10
TP_DUKPT_AES_KSN_SIZE = 12
TP_DUKPT_MAX_KEY = 32
TP_DUKPT_TERMINAL_SIZE = 1088

# CellType
CELL_ANS = 0
CELL_NI = 1
CELL_NF = 2
CELL_A = 3
CELL_AN = 4
CELL_N = 5
CELL_B = 6
CELL_Z = 7
CELL_TYPE_NAMES = {CELL_ANS: "ANS", CELL_NI: "NI", CELL_NF: "NF", CELL_A: "A", CELL_AN: "AN", CELL_N: "N", CELL_B: "B",
                   CELL_Z: "Z"}
# Fields the text functions reach: 1 to 128 (65 to 128 those of a secondary
# bitmap); 0 is the message type.
LAST_FIELD = 128

# ErrCategory
TRANPAK_ERR_NONE = 0
TRANPAK_ERR_SETTINGS = 1
TRANPAK_ERR_ARGUMENT = 2
TRANPAK_ERR_CONNECT = 3
TRANPAK_ERR_TIME_LIMIT = 4
TRANPAK_ERR_PEER_CLOSED = 5
TRANPAK_ERR_MALFORMED = 6
TRANPAK_ERR_MAC = 7
TRANPAK_ERR_LOCAL_FILE = 8
TRANPAK_ERR_HOST_REFUSED = 9

# Room the text functions need: a value with its NUL is at most 801 bytes
# (400 bytes of B as hex), an error text 256.
CELL_TEXT_SIZE = 801
# Room for the longest frame of any wire dialect: a start byte, a length of
# 4 bytes, a header of 32, a body of 2,084 (a type, two bitmaps as
# hexadecimal characters, 2,048 bytes of fields) and a stop byte.
FRAME_SIZE = 1 + 4 + 32 + 2084 + 1
# The longest block of TpGetCellTexts: the type and 128 fields, each pair
# "128", NUL, the longest text and NUL, then the ending NUL.
BLOCK_SIZE = (LAST_FIELD + 1) * (3 + 1 + CELL_TEXT_SIZE) + 1

# --- types -------------------------------------------------------------------


class _SessionStorage(Union):
    _fields_ = [
        ("bytes", c_ubyte * TP_SESSION_SIZE),
        ("align_integer", c_longlong),
        ("align_real", c_double),
        ("align_pointer", c_void_p),
    ]


class TpSession(Structure):
    """Storage of one session, aligned as the header's union is."""

    _fields_ = [("opaque", _SessionStorage)]


class TpSettings(Structure):
    """The header's TpSettings, member for member (checked by the tests)."""

    _fields_ = [
        ("traceFlag", c_int),
        ("errFile", c_char_p),
        ("bmpFile", c_char_p),
        ("ctraceFile", c_char_p),
        ("connectLimit", c_int),
        ("sendLimit", c_int),
        ("recvLimit", c_int),
        ("transferLimit", c_int),
    ]


class TpCellDef(Structure):
    _fields_ = [
        ("name", c_char * 30),
        ("type", c_int),
        ("maxlen", c_int),
        ("varlen", c_int),
        ("used", c_int),
    ]


class TpError(Structure):
    _fields_ = [
        ("size", c_int),
        ("category", c_int),
        ("field", c_int),
        ("offset", c_int),
        ("text", c_char * 256),
        ("osError", c_int),
        ("line", c_int),
        ("detail", c_char * 256),
    ]


class _TerminalBytes(Union):
    _fields_ = [("bytes", c_ubyte * TP_DUKPT_TERMINAL_SIZE), ("align_integer", c_longlong),
                ("align_pointer", c_void_p)]


class TpDukptTerminal(Structure):
    _fields_ = [("opaque", _TerminalBytes)]


class TpTlvItem(Structure):
    _fields_ = [
        ("tag", c_int),
        ("depth", c_int),
        ("constructed", c_int),
        ("offset", c_int),
        ("valueOffset", c_int),
        ("valueLen", c_int),
    ]


_S = POINTER(TpSession)
_T = POINTER(TpDukptTerminal)
_BYTES = POINTER(c_ubyte)
_INT_OUT = POINTER(c_int)

# Every function of the header: name -> (result, argument types). Buffers the
# library writes text into are c_char_p (a ctypes string buffer is passed);
# "const void *" keys and values are c_void_p, which takes bytes as they are.
FUNCTIONS: Dict[str, Tuple[Optional[type], List[type]]] = {
    # the seventeen and GetLastErrMesg, on the default session
    "Init8583": (c_int, []),
    "SetCell": (c_int, [c_int, c_void_p]),
    "GetCell": (c_int, [c_int, c_void_p]),
    "GetCellType": (c_int, [c_int]),
    "ResetCell": (c_int, [c_int]),
    "ResetMesg": (c_int, []),
    "BackupMesg": (c_int, []),
    "RestoreMesg": (c_int, []),
    "CheckMesgMac": (c_int, [c_void_p]),
    "SockConnect": (c_int, [c_char_p, c_int]),
    "SockClose": (c_int, [c_int]),
    "SockSendMesg": (c_int, [c_int, c_void_p]),
    "SockRecvMesg": (c_int, [c_int, c_int]),
    "SockSendFile": (c_int, [c_char_p, c_int, c_char_p, c_char_p]),
    "SockSendBinFile": (c_int, [c_char_p, c_int, c_char_p, c_char_p]),
    "SockRecvFile": (c_int, [c_char_p, c_int, c_char_p, c_char_p]),
    "SockRecvBinFile": (c_int, [c_char_p, c_int, c_char_p, c_char_p]),
    "GetLastErrMesg": (c_int, [c_char_p, c_int]),
    # sessions
    "TpSessionSize": (c_size_t, []),
    "TpInit8583": (c_int, [_S, c_char_p]),
    "TpInit8583With": (c_int, [_S, POINTER(TpSettings)]),
    "TpWipe": (c_int, [_S]),
    "TpSetCell": (c_int, [_S, c_int, c_void_p]),
    "TpGetCell": (c_int, [_S, c_int, c_void_p]),
    "TpGetCellType": (c_int, [_S, c_int]),
    "TpResetCell": (c_int, [_S, c_int]),
    "TpResetMesg": (c_int, [_S]),
    "TpBackupMesg": (c_int, [_S]),
    "TpRestoreMesg": (c_int, [_S]),
    "TpCheckMesgMac": (c_int, [_S, c_void_p]),
    "TpSockConnect": (c_int, [_S, c_char_p, c_int]),
    "TpSockClose": (c_int, [_S, c_int]),
    "TpSockSendMesg": (c_int, [_S, c_int, c_void_p]),
    "TpSockRecvMesg": (c_int, [_S, c_int]),
    "TpSockSendFile": (c_int, [_S, c_char_p, c_int, c_char_p, c_char_p]),
    "TpSockSendBinFile": (c_int, [_S, c_char_p, c_int, c_char_p, c_char_p]),
    "TpSockRecvFile": (c_int, [_S, c_char_p, c_int, c_char_p, c_char_p]),
    "TpSockRecvBinFile": (c_int, [_S, c_char_p, c_int, c_char_p, c_char_p]),
    "TpGetLastErrMesg": (c_int, [_S, c_char_p, c_int]),
    "TpGetCellDef": (c_int, [_S, c_int, POINTER(TpCellDef)]),
    "TpGetBitmap": (c_int, [_S, _BYTES]),
    "TpPackMesg": (c_int, [_S, c_void_p, _BYTES, c_int, _INT_OUT]),
    "TpUnpackMesg": (c_int, [_S, _BYTES, c_int]),
    # text, description, errors as values
    "TpSetCellText": (c_int, [_S, c_int, c_char_p]),
    "TpGetCellText": (c_int, [_S, c_int, c_char_p, c_int]),
    "TpDescribe": (c_int, [_S, c_int, c_char_p, c_int, _INT_OUT]),
    "TpShowValue": (c_int, [c_int, c_int, c_char_p, c_int, c_char_p, c_int, _INT_OUT]),
    "TpDescribeCell": (c_int, [_S, c_int, c_int, c_char_p, c_int, _INT_OUT]),
    "TpGetLastError": (c_int, [_S, POINTER(TpError)]),
    "SetCellText": (c_int, [c_int, c_char_p]),
    "GetCellText": (c_int, [c_int, c_char_p, c_int]),
    "DescribeMesg": (c_int, [c_int, c_char_p, c_int, _INT_OUT]),
    "GetLastErrInfo": (c_int, [POINTER(TpError)]),
    # message authentication codes
    "TpMac": (c_int, [c_int, c_int, c_void_p, c_int, c_void_p, c_int, _BYTES, c_int]),
    "TpKeyCheckValue": (c_int, [c_int, c_int, c_void_p, c_int, _BYTES, c_int]),
    "TpSetMacAlgorithm": (c_int, [_S, c_int, c_int, c_int]),
    "TpSetMacCovers": (c_int, [_S, c_int]),
    # the session's wire dialect, key by key
    "TpSetWireFormat": (c_int, [_S, c_char_p, c_char_p]),
    "TpGetMacAlgorithm": (c_int, [_S, _INT_OUT, _INT_OUT, _INT_OUT, _INT_OUT]),
    # an exchange on a kept connection in one call
    "TpSockExchange": (c_int, [_S, c_int, c_void_p]),
    # a message set or read whole as a block of pairs
    "TpSetCellTexts": (c_int, [_S, c_char_p]),
    "TpGetCellTexts": (c_int, [_S, c_char_p, c_int, _INT_OUT]),
    # PIN blocks and DUKPT
    "TpPinBlock": (c_int, [c_int, c_void_p, c_int, c_char_p, c_char_p, _BYTES]),
    "TpPinBlockWithFill": (c_int, [c_int, c_void_p, c_int, c_char_p, c_char_p, _BYTES, _BYTES]),
    "TpPinFromBlock": (c_int, [c_int, c_void_p, c_int, _BYTES, c_char_p, c_char_p, c_int]),
    "TpPinCheck": (c_int, [c_int, c_void_p, c_int, _BYTES, c_char_p, c_char_p]),
    "TpDukptInitialKey": (c_int, [c_int, c_void_p, c_int, c_void_p, c_int, _BYTES, c_int]),
    "TpDukptDeriveKey": (c_int, [c_int, c_void_p, c_int, c_void_p, c_int, c_int, c_int, _BYTES, c_int]),
    "TpDukptTerminalLoad": (c_int, [_T, c_int, c_void_p, c_int, c_void_p, c_int]),
    "TpDukptTerminalKey": (c_int, [_T, c_int, c_int, _BYTES, c_int, _BYTES, c_int]),
    "TpDukptTerminalAdvance": (c_int, [_T]),
    "TpDukptTerminalWipe": (c_int, [_T]),
    # BER-TLV lists, without a session
    "TpTlvCheck": (c_int, [c_void_p, c_int, _INT_OUT, POINTER(TpError)]),
    "TpTlvItems": (c_int, [c_void_p, c_int, POINTER(TpTlvItem), c_int, _INT_OUT, POINTER(TpError)]),
    "TpTlvFind": (c_int, [c_void_p, c_int, c_int, _BYTES, c_int, _INT_OUT, POINTER(TpError)]),
    "TpTlvAppend": (c_int, [_BYTES, c_int, _INT_OUT, c_int, c_void_p, c_int, POINTER(TpError)]),
    "TpTlvOpen": (c_int, [_BYTES, c_int, _INT_OUT, c_int, _INT_OUT, POINTER(TpError)]),
    "TpTlvClose": (c_int, [_BYTES, c_int, _INT_OUT, c_int, POINTER(TpError)]),
    "TpTlvDescribe": (c_int, [c_void_p, c_int, c_int, c_char_p, c_int, _INT_OUT, POINTER(TpError)]),
}


# The calls that wait on a socket, a file or a name lookup. The settings
# and definition files are read by the initialisations; an error log line
# is written by any call that fails, which is the exception and short.
BLOCKING = frozenset({
    "Init8583", "SockConnect", "SockClose", "SockSendMesg", "SockRecvMesg", "SockSendFile", "SockSendBinFile",
    "SockRecvFile", "SockRecvBinFile", "TpInit8583", "TpInit8583With", "TpSockConnect", "TpSockClose",
    "TpSockSendMesg", "TpSockRecvMesg", "TpSockSendFile", "TpSockSendBinFile", "TpSockRecvFile",
    "TpSockRecvBinFile", "TpSockExchange",
})


def _candidates() -> List[str]:
    found = []
    bundled = _paths.bundled_library()
    if bundled is not None:
        found.append(str(bundled))
    env = _paths.environment_library()
    if env is not None:
        found.append(env)
    found.extend(["tranpak.dll"] if sys.platform.startswith("win") else ["libtranpak.so.1", "libtranpak.so"])
    system = ctypes.util.find_library("tranpak")
    if system:
        found.append(system)
    return found


def load(path: Optional[str] = None) -> ctypes.CDLL:
    """Loads the library (``path``, or as the module says) and declares every
    function of FUNCTIONS on it: those of BLOCKING through ``ctypes.CDLL``,
    the others through ``ctypes.PyDLL`` (see the module's note). The
    handle returned is the ``PyDLL`` one, the blocking calls set on it."""
    tried = []
    lib = None
    for candidate in [path] if path else _candidates():
        try:
            waiting = ctypes.CDLL(candidate)
            lib = ctypes.PyDLL(candidate)
            break
        except OSError as e:
            tried.append(f"{candidate}: {e}")
    if lib is None:
        raise OSError("libtranpak not found; set TRANPAK_LIBRARY to its path. Tried: " + "; ".join(tried))
    for name, (restype, argtypes) in FUNCTIONS.items():
        fn = getattr(waiting if name in BLOCKING else lib, name)
        fn.restype = restype
        fn.argtypes = argtypes
        setattr(lib, name, fn)
    if lib.TpSessionSize() != ctypes.sizeof(TpSession):
        raise OSError(
            f"{lib._name}: a session is {lib.TpSessionSize()} bytes, this binding has {ctypes.sizeof(TpSession)}")
    return lib


_lib: Optional[ctypes.CDLL] = None


def lib() -> ctypes.CDLL:
    """The library, loaded on first use."""
    global _lib
    if _lib is None:
        _lib = load()
    return _lib
