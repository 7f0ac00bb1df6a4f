"""``Session``: one message with its settings and field layout, as a Python
object over a ``TpSession`` of its own."""
from __future__ import annotations

import ctypes
import decimal
import os
import socket
import threading
import weakref
from ctypes import byref, c_int, c_ubyte
from typing import Dict, Iterable, List, Mapping, NamedTuple, Optional, Union

from . import binding as _b
from . import errors as _e

Key = Union[bytes, bytearray, memoryview, str]
Value = Union[str, int, decimal.Decimal, bytes, bytearray, memoryview]
PathLike = Union[str, "os.PathLike[str]"]

# Values travel as bytes; Latin-1 maps each byte to one character and back,
# so a received value with any bytes reads and sets again unchanged.
_ENCODING = "latin-1"


class FieldDef(NamedTuple):
    """A field's definition as the session's definition file gives it."""

    name: str
    type: str  # "ANS", "NI", "NF", "A", "AN", "N", "B"; "" when not defined
    maxlen: int
    varlen: int
    used: bool


_KEY_SIZES = (8, 16, 24, 32)


def key_bytes(key: Key) -> bytes:
    """A MAC key as bytes: 8 bytes or 16 hexadecimal characters for the
    library's own MAC; 16, 24 or 32 bytes (32, 48 or 64 hexadecimal
    characters) for the algorithms of ``Session.set_mac``."""
    if isinstance(key, str):
        if len(key) not in (2 * n for n in _KEY_SIZES) or any(c not in "0123456789abcdefABCDEF" for c in key):
            raise _e.ArgumentError(f"a key is 16, 32, 48 or 64 hexadecimal characters (the one given has {len(key)} "
                                   "characters)")
        return bytes.fromhex(key)
    if isinstance(key, (bytes, bytearray, memoryview)):
        raw = bytes(key)
        if len(raw) not in _KEY_SIZES:
            raise _e.ArgumentError(f"a key of 8, 16, 24 or 32 bytes, not {len(raw)}")
        return raw
    raise TypeError(f"a key is bytes or hexadecimal characters, not {type(key).__name__}")


def _key_room(raw: bytes) -> ctypes.Array:
    """The key in a buffer of the longest key size. The key given has the
    session's key length (``Session._key`` sees to it: a shorter one is
    refused, never filled up with zeros); the room after it only keeps the
    library inside the buffer whatever it reads."""
    return ctypes.create_string_buffer(raw, _b.MAX_KEY_SIZE)


_COVERS = {"message": _b.TP_MAC_COVERS_MESSAGE, "data": _b.TP_MAC_COVERS_DATA}

_MAC_NAMES = {"LEGACY": _b.TP_MAC_LEGACY, "ISO9797-1-ALG1": _b.TP_MAC_ISO9797_1_ALG1,
              "ISO9797-1-ALG3": _b.TP_MAC_ISO9797_1_ALG3, "TDES-CMAC": _b.TP_MAC_TDES_CMAC,
              "AES-CMAC": _b.TP_MAC_AES_CMAC}


def mac_algorithm(algorithm: Union[int, str]) -> int:
    """A ``TP_MAC_*`` code from itself or its name (any case)."""
    if isinstance(algorithm, str):
        code = _MAC_NAMES.get(algorithm.upper())
        if code is None:
            raise _e.ArgumentError(f"no MAC algorithm {algorithm!r} (one of {', '.join(_MAC_NAMES)})")
        return code
    if isinstance(algorithm, int) and not isinstance(algorithm, bool):
        return c_int_arg(algorithm, "algorithm")
    raise TypeError(f"a MAC algorithm is a name or a TP_MAC_* code, not {type(algorithm).__name__}")


def mac(algorithm: Union[int, str], key: Key, data: bytes, *, padding: int = 1, length: int = 8) -> bytes:
    """The leftmost ``length`` bytes of the MAC of ``data`` under ``key`` by
    ``algorithm`` (see ``Session.set_mac``); ``padding`` counts for the
    ISO/IEC 9797-1 algorithms. ArgumentError for what the library refuses."""
    raw, text = key_bytes(key), bytes(data)
    code, padding, length = mac_algorithm(algorithm), c_int_arg(padding, "padding"), c_int_arg(length, "length")
    # Room for the longest MAC and one byte more: a longer length is
    # handed on as that one more, which the library refuses, writing nothing.
    out = (c_ubyte * max(min(length, _b.MAX_KEY_SIZE), 1))()
    rc = _b.lib().TpMac(code, padding, raw, len(raw), text, c_int_arg(len(text), "the data's length"), out,
                        min(length, len(out) + 1))
    if rc != 0:
        raise _e.ArgumentError(f"TpMac refused: algorithm {algorithm!r}, padding {padding}, a key of {len(raw)} "
                               f"bytes, a MAC of {length} bytes")
    return bytes(out[:length])


def key_check_value(algorithm: Union[int, str], key: Key, *, method: int = 1, length: int = 3) -> bytes:
    """The key check value of ``key`` for the cipher ``algorithm`` uses with
    it: ``method`` 1 (TP_KCV_ENCRYPT_ZEROS, the classic 3 bytes) or 2
    (TP_KCV_CMAC)."""
    raw = key_bytes(key)
    code, method, length = mac_algorithm(algorithm), c_int_arg(method, "method"), c_int_arg(length, "length")
    out = (c_ubyte * max(min(length, _b.MAX_KEY_SIZE), 1))()
    if _b.lib().TpKeyCheckValue(method, code, raw, len(raw), out, min(length, len(out) + 1)) != 0:
        raise _e.ArgumentError(f"TpKeyCheckValue refused: method {method}, algorithm {algorithm!r}, a key of "
                               f"{len(raw)} bytes, {length} bytes")
    return bytes(out[:length])


def c_int_arg(value: object, name: str) -> int:
    """An int on its way to a C ``int`` of the library: every call that
    passes one takes it through here. ctypes keeps only the low 32 bits of
    a larger number (a padding of 2**32 + 2 would arrive as 2), so a number
    outside -2**31 to 2**31 - 1 is refused (ArgumentError, a ValueError);
    a bool or a float is not an int here (TypeError)."""
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{name} is an int, not {type(value).__name__}")
    if not -2**31 <= value < 2**31:
        raise _e.ArgumentError(f"{name} = {value} does not fit a C int (-2**31 to 2**31 - 1)")
    return value


def _field_number(field: object) -> int:
    """A field number as the library takes it: an int (not a bool), and one
    that a C int holds, so that no large number wraps round to a real field
    on its way in (2**32 + 4 would otherwise be field 4). The library itself
    refuses the rest outside 0 to 128."""
    if type(field) is int and 0 <= field <= _b.LAST_FIELD:  # the usual case, first
        return field
    if isinstance(field, bool) or not isinstance(field, int):
        raise TypeError(f"a field number is an int, not {type(field).__name__}")
    if not -2**31 <= field < 2**31:
        raise _e.ArgumentError(f"no field {field}: fields are 0 to {_b.LAST_FIELD}")
    return c_int_arg(field, "field")


def _no_nul(raw: bytes, what: str) -> bytes:
    """C reads a text up to its first NUL: a NUL inside would cut it short
    silently, so it is refused (ArgumentError, a ValueError)."""
    if b"\0" in raw:
        raise _e.ArgumentError(f"{what} {raw!r} holds a NUL character")
    return raw


def _path(value: Optional[PathLike]) -> Optional[bytes]:
    return None if value is None else _no_nul(os.fsencode(value), "path")


def _port(port: object) -> int:
    """A TCP port, 1 to 65535: the library keeps only a port's low 16 bits,
    so 65536 + 5000 would reach port 5000."""
    if isinstance(port, bool) or not isinstance(port, int):
        raise TypeError(f"a port is an int, not {type(port).__name__}")
    if not 1 <= port <= 65535:
        raise _e.ArgumentError(f"no port {port}: ports are 1 to 65535")
    return c_int_arg(port, "port")


def _host(host: str) -> bytes:
    if not isinstance(host, str):
        raise TypeError(f"host is a str, not {type(host).__name__}")
    return _no_nul(host.encode("ascii", "replace"), "host name")


def _request(request: str) -> bytes:
    if not isinstance(request, str):
        raise TypeError(f"a request is a str, not {type(request).__name__}")
    return _no_nul(request.encode(_ENCODING), "request")


class Session:
    """A message with its settings: ``Session("8583.ini")`` reads a settings
    file; ``Session(defs=..., errlog=..., recv_limit=30)`` takes the settings
    given (None for a path: the library's default, 0 for a limit: none).
    ``wire={"LENGTH": "BINARY2", "ENVELOPE": "NONE"}`` sets the wire dialect
    key by key, as a settings file's ``[Wire Format]`` section does, over
    what the settings file says (see ``set_wire_format``).

    Fields by number, every type as text: ``s[4] = "12.50"``, ``s[4]`` ->
    ``"12.50"``; an ``int`` is taken for NI and NF fields, a
    ``decimal.Decimal`` for NF, bytes for B. The session is used by one
    thread at a time (a lock sees to it); sessions on different threads work
    in parallel. Leaving the ``with`` block (or ``close()``) wipes it, keys
    and card data included. Every failure raises a ``TranpakError``.
    """

    def __init__(self, settings: Optional[PathLike] = None, *, defs: Optional[PathLike] = None,
                 errlog: Optional[PathLike] = None, trace: Optional[PathLike] = None, trace_on: bool = False,
                 connect_limit: int = 0, send_limit: int = 0, recv_limit: int = 0, transfer_limit: int = 0,
                 wire: Optional[Mapping[str, str]] = None) -> None:
        self._lib = _b.lib()
        self._s = _b.TpSession()
        self._lock = threading.Lock()
        self._text = ctypes.create_string_buffer(_b.CELL_TEXT_SIZE)
        self._frame = (c_ubyte * _b.FRAME_SIZE)()
        self._bitmap = (c_ubyte * 8)()
        self._block = ctypes.create_string_buffer(_b.BLOCK_SIZE)
        self._block_len = c_int(0)
        self._err = _b.TpError()
        self._closed = False
        # Connections open on this session, closed with it.
        self._connections: "weakref.WeakSet[Connection]" = weakref.WeakSet()
        # The key length the session's MAC reads: 8 for the library's own
        # MAC, which TpInit8583With always starts with; for a settings file,
        # what its [MAC] section says, asked of the library once it has read it.
        self._key_len = 8
        given = (defs, errlog, trace) != (None, None, None) or trace_on or any(
            (connect_limit, send_limit, recv_limit, transfer_limit))
        if settings is not None:
            if given:
                raise TypeError("give a settings file or the settings, not both")
            rc = self._lib.TpInit8583(self._s, _path(settings))
        else:
            for name, limit in (("connect_limit", connect_limit), ("send_limit", send_limit),
                                ("recv_limit", recv_limit), ("transfer_limit", transfer_limit)):
                if not isinstance(limit, int) or isinstance(limit, bool):
                    raise TypeError(f"{name} is whole seconds (int), not {type(limit).__name__}")
                c_int_arg(limit, name)
            self._settings = _b.TpSettings(1 if trace_on else 0, _path(errlog), _path(defs), _path(trace),
                                           connect_limit, send_limit, recv_limit, transfer_limit)
            rc = self._lib.TpInit8583With(self._s, byref(self._settings))
        if rc == 0 and wire is not None:
            try:
                self._set_wire(wire)
            except Exception:
                self._lib.TpWipe(self._s)
                self._closed = True
                raise
        if rc != 0:
            failure = self._failure()
            self._lib.TpWipe(self._s)
            self._closed = True
            raise failure
        if settings is not None:
            key_len = c_int(0)
            self._lib.TpGetMacAlgorithm(self._s, None, None, byref(key_len), None)
            self._key_len = key_len.value

    # --- lifetime ------------------------------------------------------------

    def close(self) -> None:
        """Closes the connections still open on the session and wipes it
        (keys and card data gone); it cannot be used afterwards. Closing
        again does nothing."""
        with self._lock:
            if not self._closed:
                for conn in list(self._connections):
                    conn._drop()
                self._lib.TpWipe(self._s)
                self._closed = True

    def __enter__(self) -> "Session":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            if not self._closed:
                self._lib.TpWipe(self._s)
        except Exception:  # pragma: no cover - interpreter shutting down
            pass

    # --- failures ------------------------------------------------------------

    def _failure(self) -> _e.TranpakError:
        """The last call's failure, as the library reports it."""
        self._err.size = ctypes.sizeof(_b.TpError)
        if self._lib.TpGetLastError(self._s, byref(self._err)) < 0:
            return _e.TranpakError("tranpak: the session cannot report its failure")
        return _e.from_record(self._err, _ENCODING)

    def _check(self, rc: int) -> None:
        if rc != 0:
            raise self._failure()

    def _ready(self) -> ctypes.Structure:
        if self._closed:
            raise _e.ArgumentError("the session is closed")
        return self._s

    # --- fields --------------------------------------------------------------

    def _text_of(self, field: int, value: Value) -> bytes:
        if type(value) is str:  # the usual case, first
            raw = value.encode(_ENCODING, "strict") if value.isascii() else None
            if raw is not None and b"\0" not in raw:
                return raw
        if isinstance(value, str):
            try:
                raw = value.encode(_ENCODING)
            except UnicodeEncodeError:
                raise _e.ArgumentError(f"field {field}: {value!r} holds a character beyond one byte",
                                       field=field) from None
        elif isinstance(value, bool) or isinstance(value, float):
            raise TypeError(f"field {field}: a {type(value).__name__} is not taken; give text"
                            + (" or a decimal.Decimal (a float is not exact)" if isinstance(value, float) else ""))
        elif isinstance(value, (int, decimal.Decimal, bytes, bytearray, memoryview)):
            kind = self._kind(field)
            if isinstance(value, int) and kind in (_b.CELL_NI, _b.CELL_NF):
                raw = str(value).encode()
            elif isinstance(value, decimal.Decimal) and kind == _b.CELL_NF:
                raw = format(value, "f").encode()
            elif isinstance(value, (bytes, bytearray, memoryview)) and kind == _b.CELL_B:
                raw = bytes(value).hex().upper().encode()
            else:
                shown = _b.CELL_TYPE_NAMES.get(kind, "not defined")
                raise TypeError(f"field {field} ({shown}) takes text, not {type(value).__name__}")
        else:
            raise TypeError(f"field {field}: a value is text, not {type(value).__name__}")
        if b"\0" in raw:
            raise _e.ArgumentError(f"field {field}: text holds a NUL character", field=field)
        return raw

    def _kind(self, field: int) -> int:
        """The type code of a field (0 ANS for the message type and for a
        field not defined), as TpGetCellType gives it for fields 1 to 64;
        TpGetCellDef reaches every field."""
        if field == 0:
            return _b.CELL_ANS
        d = _b.TpCellDef()
        return d.type if self._lib.TpGetCellDef(self._s, field, byref(d)) >= 0 else -1

    def __setitem__(self, field: int, value: Value) -> None:
        field = _field_number(field)
        with self._lock:
            s = self._ready()
            self._check(self._lib.TpSetCellText(s, field, self._text_of(field, value)))

    def __getitem__(self, field: int) -> str:
        field = _field_number(field)
        with self._lock:
            s = self._ready()
            self._check(self._lib.TpGetCellText(s, field, self._text, _b.CELL_TEXT_SIZE))
            return self._text.value.decode(_ENCODING)

    def __delitem__(self, field: int) -> None:
        field = _field_number(field)
        with self._lock:
            self._check(self._lib.TpResetCell(self._ready(), field))

    def __contains__(self, field: object) -> bool:
        if not isinstance(field, int) or not 0 <= field <= _b.LAST_FIELD:
            return False
        with self._lock:
            s = self._ready()
            if field == 0:
                return self._lib.TpGetCellText(s, 0, self._text, _b.CELL_TEXT_SIZE) == 0 and bool(self._text.value)
            d = _b.TpCellDef()
            return self._lib.TpGetCellDef(s, field, byref(d)) >= 0 and d.used != 0

    def get(self, field: int, default: Optional[str] = None) -> Optional[str]:
        """The field's text, or ``default`` when it is not in use."""
        return self[field] if field in self else default

    def definition(self, field: int) -> FieldDef:
        """Field 1 to 128 as the definition file gives it."""
        field = _field_number(field)
        with self._lock:
            d = _b.TpCellDef()
            rc = self._lib.TpGetCellDef(self._ready(), field, byref(d))
            if rc < 0:
                raise self._failure()
            return FieldDef(d.name.decode(_ENCODING), "" if rc == 1 else _b.CELL_TYPE_NAMES.get(d.type, "?"), d.maxlen,
                            d.varlen, d.used != 0)

    def reset(self) -> None:
        """Clears the message: no type, no field in use."""
        with self._lock:
            self._check(self._lib.TpResetMesg(self._ready()))

    def _message(self, fields: Iterable[int]) -> Dict[int, str]:
        s, text = self._s, self._text
        out: Dict[int, str] = {}
        if self._lib.TpGetCellText(s, 0, text, _b.CELL_TEXT_SIZE) == 0 and text.value:
            out[0] = text.value.decode(_ENCODING)
        for field in fields:
            self._check(self._lib.TpGetCellText(s, field, text, _b.CELL_TEXT_SIZE))
            out[field] = text.value.decode(_ENCODING)
        return out

    def _whole_message(self) -> Dict[int, str]:
        """The type and every field in use, read in one call as a block of
        pairs (TpGetCellTexts)."""
        self._check(self._lib.TpGetCellTexts(self._s, self._block, _b.BLOCK_SIZE, byref(self._block_len)))
        parts = ctypes.string_at(self._block, self._block_len.value - 1).split(b"\0")
        return {int(field): text.decode(_ENCODING) for field, text in zip(parts[0::2], parts[1::2])}

    def _used_fields(self, first: int = 1) -> List[int]:
        d = _b.TpCellDef()
        get = self._lib.TpGetCellDef
        return [f for f in range(first, _b.LAST_FIELD + 1) if get(self._s, f, byref(d)) >= 0 and d.used]

    def _received_fields(self) -> List[int]:
        """Fields of the message just received: its bitmap's bits. Bit 1
        that is no field in use announces a secondary bitmap: it stands for
        the fields 65 to 128 received."""
        self._check(self._lib.TpGetBitmap(self._s, self._bitmap))
        bits = int.from_bytes(bytes(self._bitmap), "big")  # field 1 is the highest bit
        fields = []
        while bits:
            top = bits.bit_length()
            fields.append(65 - top)
            bits ^= 1 << (top - 1)
        if fields and fields[0] == 1:
            d = _b.TpCellDef()
            if self._lib.TpGetCellDef(self._s, 1, byref(d)) < 0 or not d.used:
                fields = fields[1:] + self._used_fields(65)
        return fields

    def message(self) -> Dict[int, str]:
        """The message as ``{0: type, field: text, ...}``, fields in use only."""
        with self._lock:
            self._ready()
            return self._whole_message()

    def _load(self, message: Mapping[int, Value]) -> None:
        # Every key and value is looked at before the message is cleared,
        # so that a dictionary refused for them leaves the message as it was;
        # then all are set in one call, as a block of pairs (TpSetCellTexts).
        block = []
        for field, value in message.items():
            field = _field_number(field)
            block.append(b"%d\0%s\0" % (field, self._text_of(field, value)))
        block.append(b"\0")
        self._check(self._lib.TpResetMesg(self._s))
        self._check(self._lib.TpSetCellTexts(self._s, b"".join(block)))

    def load(self, message: Mapping[int, Value]) -> None:
        """Clears the message and sets it from ``{field: value}`` (0: type)."""
        with self._lock:
            self._ready()
            self._load(message)

    def describe(self, masked: bool = True, json: bool = False) -> str:
        """The message for a person (aligned text) or as one JSON object;
        card data masked unless ``masked=False``."""
        flags = (0 if masked else _b.TP_DESCRIBE_UNMASKED) | (_b.TP_DESCRIBE_JSON if json else 0)
        length = c_int(0)
        with self._lock:
            s = self._ready()
            # A first call measures (NULL, 0: nothing logged).
            self._check(self._lib.TpDescribe(s, flags, None, 0, byref(length)))
            out = ctypes.create_string_buffer(length.value + 1)
            self._check(self._lib.TpDescribe(s, flags, out, len(out), byref(length)))
            return out.value.decode(_ENCODING)

    # --- the MAC ---------------------------------------------------------------

    def set_mac(self, algorithm: Union[int, str], padding: int = 1, key_len: Optional[int] = None,
                covers: Optional[str] = None) -> None:
        """Field 64 under another MAC algorithm from now on, as a settings
        file's [MAC] section sets it: ``algorithm`` is a ``TP_MAC_*`` code or
        its name ("LEGACY", "ISO9797-1-ALG1", "ISO9797-1-ALG3", "TDES-CMAC",
        "AES-CMAC"); ``key_len`` is 8 for LEGACY and defaults to 16 for the
        others. Keys given afterwards must have exactly that length.
        ``covers`` is what the MAC covers: "message" (the type, the bitmap
        and the fields before field 64; the default of every algorithm but
        LEGACY) or "data" (the fields before field 64 only, which LEGACY
        always covers and which leaves the type and the bitmap unprotected)."""
        code = mac_algorithm(algorithm)
        if key_len is None:
            key_len = 8 if code == _b.TP_MAC_LEGACY else 16
        covers_code = None
        if covers is not None:
            covers_code = _COVERS.get(covers.lower()) if isinstance(covers, str) else None
            if covers_code is None:
                raise _e.ArgumentError(f'covers is "message" or "data", not {covers!r}')
        with self._lock:
            s = self._ready()
            before = [c_int(0) for _ in range(4)]
            self._lib.TpGetMacAlgorithm(s, *(byref(v) for v in before))
            self._check(self._lib.TpSetMacAlgorithm(s, code, c_int_arg(padding, "padding"),
                                                    c_int_arg(key_len, "key_len")))
            if covers_code is not None and self._lib.TpSetMacCovers(s, covers_code) != 0:
                # A refused coverage leaves the session as it was, algorithm too.
                failure = self._failure()
                self._lib.TpSetMacAlgorithm(s, before[0].value, before[1].value, before[2].value)
                self._lib.TpSetMacCovers(s, before[3].value)
                raise failure
            self._key_len = key_len

    def _key(self, key: Key) -> ctypes.Array:
        raw = key_bytes(key)
        if len(raw) != self._key_len:
            raise _e.ArgumentError(f"the session's MAC takes a key of {self._key_len} bytes, not {len(raw)}")
        return _key_room(raw)

    # --- wire dialect --------------------------------------------------------

    def _set_wire(self, wire: Mapping[str, str]) -> None:
        if not isinstance(wire, Mapping):
            raise TypeError(f"wire is a mapping of [Wire Format] keys to values, not {type(wire).__name__}")
        for key, value in wire.items():
            if not isinstance(key, str) or not isinstance(value, str):
                raise TypeError(f"a [Wire Format] key and its value are str, not {type(key).__name__} and "
                                f"{type(value).__name__}")
            k = _no_nul(key.encode("ascii", "replace"), "[Wire Format] key")
            v = _no_nul(value.encode(_ENCODING), "[Wire Format] value")
            self._check(self._lib.TpSetWireFormat(self._s, k, v))

    def set_wire_format(self, wire: Mapping[str, str]) -> None:
        """Sets the session's wire dialect key by key, as lines of a settings
        file's ``[Wire Format]`` section: ``{"LENGTH": "BINARY2",
        "HEADER": "TPDU:6000030000"}`` (keys LENGTH, LENGTHCOUNTS, ENVELOPE,
        HEADER, MTI, BITMAP, CHARSET, NUMBERS, PREFIX, BINARY; "" for a
        key's default). Every frame packed, sent, received or unpacked from
        then on is in it. A key or value the library does not know raises
        ``ArgumentError`` with its reason ("tranpak: [Wire Format]
        LENGTH=BINARY3 is not a value of LENGTH"); the keys before it are
        set."""
        with self._lock:
            self._ready()
            self._set_wire(wire)

    # --- frames --------------------------------------------------------------

    def pack(self, key: Key) -> bytes:
        """The frame of the message, MAC computed under ``key``."""
        k = self._key(key)
        length = c_int(0)
        with self._lock:
            self._check(self._lib.TpPackMesg(self._ready(), k, self._frame, _b.FRAME_SIZE, byref(length)))
            return bytes(self._frame[:length.value])

    def unpack(self, frame: bytes) -> None:
        """Takes ``frame`` as a received message (the MAC is not checked:
        see ``check_mac``)."""
        raw = bytes(frame)
        buf = (c_ubyte * max(len(raw), 1)).from_buffer_copy(raw or b"\0")
        with self._lock:
            self._check(self._lib.TpUnpackMesg(self._ready(), buf, len(raw)))

    def check_mac(self, key: Key) -> None:
        """Verifies the MAC of the message last received; MacError if not."""
        k = self._key(key)
        with self._lock:
            self._check(self._lib.TpCheckMesgMac(self._ready(), k))

    def reply(self) -> Dict[int, str]:
        """The message last received, as ``message()`` gives it (its fields
        are those of the received bitmap)."""
        with self._lock:
            self._ready()
            return self._message(self._received_fields())

    # --- exchange ------------------------------------------------------------

    def exchange(self, host: str, port: int, key: Key, message: Mapping[int, Value]) -> Dict[int, str]:
        """Connects, sends ``message`` with its MAC, receives the reply,
        checks its MAC and closes; returns the reply as a dictionary."""
        k = self._key(key)
        with self._lock:
            s = self._ready()
            self._load(message)
            sock = self._lib.TpSockConnect(s, _host(host), _port(port))
            if sock < 0:
                raise self._failure()
            try:
                self._exchange_on(sock, k)
            except BaseException:
                self._lib.TpSockClose(s, sock)
                raise
            self._check(self._lib.TpSockClose(s, sock))
            return self._whole_message()

    def _exchange_on(self, sock: int, k: ctypes.Array) -> None:
        # One call: the only one of an exchange that lets go of the
        # interpreter's lock (see binding).
        self._check(self._lib.TpSockExchange(self._s, sock, k))

    def connect(self, host: str, port: int) -> "Connection":
        """A connection kept open for many exchanges (``Connection``)."""
        with self._lock:
            sock = self._lib.TpSockConnect(self._ready(), _host(host), _port(port))
            if sock < 0:
                raise self._failure()
            conn = Connection(self, sock)
            self._connections.add(conn)
            return conn

    # --- files ---------------------------------------------------------------

    def send_file(self, host: str, port: int, local: PathLike, request: str, binary: bool = True) -> None:
        """Sends the file ``local``; the host stores it under ``request``.
        ``binary=False`` sends it as text (CRs dropped, ends at 0x1A)."""
        fn = self._lib.TpSockSendBinFile if binary else self._lib.TpSockSendFile
        with self._lock:
            self._check(fn(self._ready(), _host(host), _port(port), _path(local), _request(request)))

    def fetch_file(self, host: str, port: int, request: str, local: PathLike, binary: bool = True) -> None:
        """Fetches ``request`` from the host into ``local`` (put in place
        only when whole). ``binary=False`` puts a CR before every LF."""
        fn = self._lib.TpSockRecvBinFile if binary else self._lib.TpSockRecvFile
        with self._lock:
            self._check(fn(self._ready(), _host(host), _port(port), _request(request), _path(local)))


def _close_socket(sock: int) -> None:
    """Closes a socket of the library's without its session (for a
    connection collected unclosed, when the session may be in use on
    another thread or wiped)."""
    try:
        socket.socket(fileno=sock).close()
    except OSError:  # pragma: no cover - closed already by other means
        pass


class Connection:
    """A connection of a session, kept open: ``exchange`` as often as
    wanted, then ``close`` (or leave the ``with`` block). After a failure
    the connection is out of step: close it and connect anew. A connection
    dropped without ``close()`` is closed when it is collected, and every
    connection of a session is closed when the session is."""

    def __init__(self, session: Session, sock: int) -> None:
        self._session = session
        self._sock: Optional[int] = sock
        self._finalizer = weakref.finalize(self, _close_socket, sock)

    def _drop(self) -> None:
        """Closes the socket through the session, whose lock the caller
        holds, before the session is wiped."""
        if self._sock is not None:
            sock, self._sock = self._sock, None
            self._finalizer.detach()
            self._session._lib.TpSockClose(self._session._s, sock)

    def _open(self) -> int:
        if self._sock is None:
            raise _e.ArgumentError("the connection is closed")
        return self._sock

    def exchange(self, key: Key, message: Mapping[int, Value]) -> Dict[int, str]:
        """Sends ``message``, receives the reply and checks its MAC."""
        s = self._session
        k = s._key(key)
        with s._lock:
            s._ready()
            s._load(message)
            s._exchange_on(self._open(), k)
            return s._whole_message()

    def close(self) -> None:
        if self._sock is None:
            return
        s = self._session
        with s._lock:
            if self._sock is None:  # closed with its session meanwhile
                return
            sock, self._sock = self._sock, None
            self._finalizer.detach()
            s._connections.discard(self)
            if s._closed:
                _close_socket(sock)
            else:
                s._check(s._lib.TpSockClose(s._s, sock))

    def __enter__(self) -> "Connection":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()
