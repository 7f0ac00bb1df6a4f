"""PIN blocks (ISO 9564-1 formats 0, 1, 3 and 4) and DUKPT (ANSI X9.24-1
triple DES, X9.24-3 AES) from Python, over the library's functions. Keys
are bytes or hexadecimal text; every refusal is an ArgumentError that
never names the PIN."""
from __future__ import annotations

import ctypes
from ctypes import c_ubyte
from typing import Optional, Tuple, Union

from . import binding as _b
from . import errors as _e

Bytes = Union[bytes, bytearray, memoryview, str]

_USAGES = {"transaction": _b.TP_DUKPT_TRANSACTION, "pin": _b.TP_DUKPT_PIN,
           "mac-request": _b.TP_DUKPT_MAC_REQUEST, "mac-response": _b.TP_DUKPT_MAC_RESPONSE,
           "data-request": _b.TP_DUKPT_DATA_REQUEST, "data-response": _b.TP_DUKPT_DATA_RESPONSE,
           "mac-both": _b.TP_DUKPT_MAC_BOTH, "data-both": _b.TP_DUKPT_DATA_BOTH,
           "key-encryption": _b.TP_DUKPT_KEY_ENCRYPTION}
_KEY_TYPES = {"2tdea": (_b.TP_DUKPT_KEY_2TDEA, 16), "3tdea": (_b.TP_DUKPT_KEY_3TDEA, 24),
              "aes128": (_b.TP_DUKPT_KEY_AES128, 16), "aes192": (_b.TP_DUKPT_KEY_AES192, 24),
              "aes256": (_b.TP_DUKPT_KEY_AES256, 32)}
_KINDS = {"tdes": _b.TP_DUKPT_TDES, "aes": _b.TP_DUKPT_AES}


def _raw(value: Bytes, what: str) -> bytes:
    if isinstance(value, str):
        try:
            return bytes.fromhex(value)
        except ValueError:
            raise _e.ArgumentError(f"{what} in hexadecimal characters, not {len(value)} characters of others") \
                from None
    if isinstance(value, (bytes, bytearray, memoryview)):
        return bytes(value)
    raise TypeError(f"{what} is bytes or hexadecimal characters, not {type(value).__name__}")


def _text(value: Optional[str], what: str) -> Optional[bytes]:
    if value is None:
        return None
    if not isinstance(value, str):
        raise TypeError(f"{what} is a str of digits, not {type(value).__name__}")
    # The library reads up to the first NUL: "1234\x005678" would pass for
    # "1234". Refused here, without the text in the message.
    if "\0" in value:
        raise _e.ArgumentError(f"{what} holds a NUL character")
    return value.encode("ascii", "replace")


def _block_size(fmt: int) -> int:
    return 16 if fmt == _b.TP_PIN_FORMAT_4 else 8


def pin_block(fmt: int, key: Bytes, pin: str, pan: Optional[str], *, fill: Optional[Bytes] = None) -> bytes:
    """The PIN block of ``pin`` for ``pan`` under ``key`` (8 bytes; 16 for
    format 4). ``fill``: 8 bytes to use instead of random fill, for
    reproducing vectors only (format 3: nibbles A to F)."""
    raw = _raw(key, "a key")
    out = (c_ubyte * _b.TP_PIN_BLOCK_MAX)()
    if fill is None:
        rc = _b.lib().TpPinBlock(fmt, raw, len(raw), _text(pin, "a PIN"), _text(pan, "a PAN"), out)
    else:
        f = _raw(fill, "the fill")
        if len(f) != _b.TP_PIN_FILL_SIZE:
            raise _e.ArgumentError(f"a fill of {_b.TP_PIN_FILL_SIZE} bytes, not {len(f)}")
        rc = _b.lib().TpPinBlockWithFill(fmt, raw, len(raw), _text(pin, "a PIN"), _text(pan, "a PAN"),
                                         (c_ubyte * len(f))(*f), out)
    if rc != 0:
        raise _e.ArgumentError(f"TpPinBlock refused: format {fmt}, a key of {len(raw)} bytes, a PIN of "
                               f"{len(pin) if isinstance(pin, str) else '?'} characters and the PAN given")
    return bytes(out[:_block_size(fmt)])


def pin_from_block(fmt: int, key: Bytes, block: Bytes, pan: Optional[str]) -> str:
    """The PIN in ``block``; ArgumentError when it holds no PIN field of the
    format under that key and PAN."""
    raw, b = _raw(key, "a key"), _raw(block, "a block")
    if len(b) != _block_size(fmt):
        raise _e.ArgumentError(f"a block of format {fmt} is {_block_size(fmt)} bytes, not {len(b)}")
    out = ctypes.create_string_buffer(_b.TP_PIN_MAX_DIGITS + 1)
    if _b.lib().TpPinFromBlock(fmt, raw, len(raw), (c_ubyte * len(b))(*b), _text(pan, "a PAN"), out,
                               len(out)) != 0:
        raise _e.ArgumentError(f"TpPinFromBlock refused: no PIN of format {fmt} under that key and PAN")
    pin = out.value.decode("ascii")
    ctypes.memset(out, 0, len(out))
    return pin


def pin_check(fmt: int, key: Bytes, block: Bytes, pan: Optional[str], pin: str) -> bool:
    """Whether ``block`` holds ``pin`` (compared in constant time by the
    library); ArgumentError when the block holds no PIN at all."""
    raw, b = _raw(key, "a key"), _raw(block, "a block")
    if len(b) != _block_size(fmt):
        raise _e.ArgumentError(f"a block of format {fmt} is {_block_size(fmt)} bytes, not {len(b)}")
    rc = _b.lib().TpPinCheck(fmt, raw, len(raw), (c_ubyte * len(b))(*b), _text(pan, "a PAN"), _text(pin, "a PIN"))
    if rc < 0:
        raise _e.ArgumentError(f"TpPinCheck refused: format {fmt}, no PIN under that key and PAN, or a PIN "
                               "that is not 4 to 12 digits")
    return rc == 0


def dukpt_initial_key(kind: str, bdk: Bytes, ksn: Bytes) -> bytes:
    """The initial key of ``bdk`` and ``ksn`` (``kind`` "tdes": the IPEK of a
    10-byte KSN; "aes": of the 8-byte initial key ID or a 12-byte KSN)."""
    k, raw, s = _KINDS[kind], _raw(bdk, "a BDK"), _raw(ksn, "a KSN")
    size = 16 if k == _b.TP_DUKPT_TDES else len(raw)
    out = (c_ubyte * max(size, 1))()
    if _b.lib().TpDukptInitialKey(k, raw, len(raw), s, len(s), out, size) != 0:
        raise _e.ArgumentError(f"TpDukptInitialKey refused: {kind}, a BDK of {len(raw)} bytes, a KSN of {len(s)}")
    return bytes(out)


def dukpt_derive_key(kind: str, bdk: Bytes, ksn: Bytes, usage: str = "pin", key_type: Optional[str] = None) -> bytes:
    """The host's working key of ``usage`` (one of transaction, pin,
    mac-request, mac-response, data-request, data-response, mac-both,
    data-both, key-encryption) and ``key_type`` (2tdea, 3tdea, aes128,
    aes192, aes256; default the BDK's own) for the KSN's counter."""
    k, raw, s = _KINDS[kind], _raw(bdk, "a BDK"), _raw(ksn, "a KSN")
    if key_type is None:
        key_type = "2tdea" if k == _b.TP_DUKPT_TDES else {16: "aes128", 24: "aes192"}.get(len(raw), "aes256")
    code, size = _KEY_TYPES[key_type]
    out = (c_ubyte * size)()
    if _b.lib().TpDukptDeriveKey(k, raw, len(raw), s, len(s), _USAGES[usage], code, out, size) != 0:
        raise _e.ArgumentError(f"TpDukptDeriveKey refused: {kind}, {usage}, {key_type}, a KSN of {len(s)} bytes "
                               "(its counter may be one a terminal never uses)")
    return bytes(out)


class DukptTerminal:
    """A terminal's DUKPT registers in memory of this object's own."""

    def __init__(self, kind: str, initial_key: Bytes, ksn: Bytes) -> None:
        self._kind = _KINDS[kind]
        self._state = _b.TpDukptTerminal()
        ik, s = _raw(initial_key, "an initial key"), _raw(ksn, "a KSN")
        if _b.lib().TpDukptTerminalLoad(ctypes.byref(self._state), self._kind, ik, len(ik), s, len(s)) != 0:
            raise _e.ArgumentError("TpDukptTerminalLoad refused: the key's length, or a KSN whose counter is not 0")

    def key(self, usage: str = "pin", key_type: Optional[str] = None) -> Tuple[bytes, bytes]:
        """The working key of the current counter and the KSN to send."""
        if key_type is None:
            key_type = "2tdea" if self._kind == _b.TP_DUKPT_TDES else "aes128"
        code, size = _KEY_TYPES[key_type]
        out = (c_ubyte * size)()
        ksn_size = _b.TP_DUKPT_TDES_KSN_SIZE if self._kind == _b.TP_DUKPT_TDES else _b.TP_DUKPT_AES_KSN_SIZE
        ksn = (c_ubyte * ksn_size)()
        if _b.lib().TpDukptTerminalKey(ctypes.byref(self._state), _USAGES[usage], code, out, size, ksn,
                                       ksn_size) != 0:
            raise _e.ArgumentError(f"TpDukptTerminalKey refused: {usage}, {key_type} (or the counters ran out)")
        return bytes(out), bytes(ksn)

    def advance(self) -> None:
        """Moves to the next counter; ArgumentError once they have run out."""
        if _b.lib().TpDukptTerminalAdvance(ctypes.byref(self._state)) != 0:
            raise _e.ArgumentError("the terminal's counters have run out")

    def wipe(self) -> None:
        _b.lib().TpDukptTerminalWipe(ctypes.byref(self._state))
