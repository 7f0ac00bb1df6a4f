"""BER-TLV lists (field 55's chip data) through the library's TpTlv
functions: built from (tag, value) pairs, parsed into them, searched,
checked and described. A tag is an int holding its bytes (``0x9F02``) or
their hex (``"9F02"``); a primitive tag's value is bytes, a constructed
tag's (bit 0x20 of its first byte: 70, 77, A5, E1, BF0C ...) a list of
pairs or a mapping. A list the library refuses raises ``MalformedError``
with ``offset`` the byte where the faulty TLV starts; a wrong argument
``ArgumentError``."""
from __future__ import annotations

import ctypes
from ctypes import byref, c_char, c_int, c_ubyte
from typing import Iterable, List, Mapping, Optional, Tuple, Union

from . import binding as _b
from . import errors as _e

Tag = Union[int, str]
TlvValue = Union[bytes, bytearray, memoryview, "TlvList"]
TlvList = Union[Mapping[Tag, TlvValue], Iterable[Tuple[Tag, TlvValue]]]
# What tlv_parse gives: a primitive's value as bytes, a constructed one's
# as the list of pairs inside it.
Parsed = List[Tuple[int, Union[bytes, "Parsed"]]]

_ENCODING = "latin-1"
# Bytes of a tag and of the length TpTlvOpen leaves room for.
_HEAD_MAX = 6


def tag_number(tag: Tag) -> int:
    """A tag as the int of its bytes: ``"9F02"`` and ``0x9F02`` are 0x9F02."""
    if isinstance(tag, str):
        try:
            return int(tag, 16)
        except ValueError:
            raise _e.ArgumentError(f"tag {tag!r} is not hexadecimal") from None
    if isinstance(tag, int) and not isinstance(tag, bool):
        if not 0 < tag <= 0xFFFFFF:
            raise _e.ArgumentError(f"tag 0x{tag:X} is not one to three bytes")
        return tag
    raise TypeError(f"a tag is an int or hex text, not {type(tag).__name__}")


def is_constructed(tag: Tag) -> bool:
    """Whether a tag's value is a list of TLVs (bit 0x20 of its first byte)."""
    number = tag_number(tag)
    first = number >> 16 if number > 0xFFFF else number >> 8 if number > 0xFF else number
    return bool(first & 0x20)


def _record() -> _b.TpError:
    err = _b.TpError()
    err.size = ctypes.sizeof(_b.TpError)
    return err


def _raise(err: _b.TpError) -> None:
    raise _e.from_record(err, _ENCODING)


def _pairs(items: TlvList) -> List[Tuple[Tag, TlvValue]]:
    if isinstance(items, Mapping):
        return list(items.items())
    return list(items)


def _bound(items: TlvList) -> int:
    """Bytes enough for the list: every head at its longest."""
    total = 0
    for tag, value in _pairs(items):
        if is_constructed(tag) and not isinstance(value, (bytes, bytearray, memoryview)):
            total += _HEAD_MAX + _bound(value)
        else:
            total += _HEAD_MAX + len(bytes(value))  # type: ignore[arg-type]
    return total


def tlv_build(items: TlvList) -> bytes:
    """The list of ``items`` (a mapping or pairs, in order) as bytes, each
    length in the fewest bytes. A constructed tag takes a nested list (or
    bytes that already are one)."""
    size = _bound(items)
    buf = (c_ubyte * max(size, 1))()
    used = c_int(0)
    err = _record()

    def put(pairs: TlvList) -> None:
        for tag, value in _pairs(pairs):
            number = tag_number(tag)
            if is_constructed(number) and not isinstance(value, (bytes, bytearray, memoryview)):
                mark = c_int(-1)
                if _b.lib().TpTlvOpen(buf, size, byref(used), number, byref(mark), byref(err)) != 0:
                    _raise(err)
                put(value)
                if _b.lib().TpTlvClose(buf, size, byref(used), mark.value, byref(err)) != 0:
                    _raise(err)
                continue
            if not isinstance(value, (bytes, bytearray, memoryview)):
                raise TypeError(f"the value of primitive tag {number:X} is bytes, not {type(value).__name__}")
            raw = bytes(value)
            if _b.lib().TpTlvAppend(buf, size, byref(used), number, raw, len(raw), byref(err)) != 0:
                _raise(err)

    put(items)
    return bytes(buf[:used.value])


def _data(data: Union[bytes, bytearray, memoryview]) -> bytes:
    if not isinstance(data, (bytes, bytearray, memoryview)):
        raise TypeError(f"a TLV list is bytes, not {type(data).__name__}")
    return bytes(data)


def tlv_check(data: Union[bytes, bytearray, memoryview]) -> None:
    """Nothing when ``data`` is a well-formed list; MalformedError with the
    fault's offset when it is not."""
    raw = _data(data)
    err = _record()
    if _b.lib().TpTlvCheck(raw, len(raw), None, byref(err)) != 0:
        _raise(err)


def tlv_parse(data: Union[bytes, bytearray, memoryview]) -> Parsed:
    """The list as (tag, value) pairs in order, a constructed tag's value
    the pairs inside it. MalformedError (with ``offset``) for a list the
    library refuses."""
    raw = _data(data)
    err = _record()
    count = c_int(0)
    if _b.lib().TpTlvItems(raw, len(raw), None, 0, byref(count), byref(err)) != 0:
        _raise(err)
    items = (_b.TpTlvItem * max(count.value, 1))()
    if _b.lib().TpTlvItems(raw, len(raw), items, count.value, byref(count), byref(err)) != 0:
        _raise(err)
    top: Parsed = []
    open_lists: List[Parsed] = [top]
    for item in items[:count.value]:
        del open_lists[item.depth + 1:]
        if item.constructed:
            inner: Parsed = []
            open_lists[item.depth].append((item.tag, inner))
            open_lists.append(inner)
        else:
            value = raw[item.valueOffset:item.valueOffset + item.valueLen]
            open_lists[item.depth].append((item.tag, value))
    return top


def tlv_find(data: Union[bytes, bytearray, memoryview], tag: Tag) -> Optional[bytes]:
    """The value of the first TLV with ``tag`` (inside constructed ones
    too), None when there is none. The whole list must be well formed."""
    raw = _data(data)
    number = tag_number(tag)
    err = _record()
    length = c_int(0)
    rc = _b.lib().TpTlvFind(raw, len(raw), number, None, 0, byref(length), byref(err))
    if rc == 1:
        return None
    if rc != 0:
        _raise(err)
    out = (c_ubyte * max(length.value, 1))()
    if _b.lib().TpTlvFind(raw, len(raw), number, out, length.value, byref(length), byref(err)) != 0:
        _raise(err)
    return bytes(out[:length.value])


def tlv_describe(data: Union[bytes, bytearray, memoryview], *, unmasked: bool = False, json: bool = False) -> str:
    """The list for a person, one TLV a line with the common EMV tags named
    and card data (PAN, tracks, cardholder name, expiry) masked unless
    ``unmasked``; with ``json`` a JSON array."""
    raw = _data(data)
    flags = (_b.TP_DESCRIBE_UNMASKED if unmasked else 0) | (_b.TP_DESCRIBE_JSON if json else 0)
    err = _record()
    length = c_int(0)
    if _b.lib().TpTlvDescribe(raw, len(raw), flags, None, 0, byref(length), byref(err)) != 0:
        _raise(err)
    out = (c_char * (length.value + 1))()
    if _b.lib().TpTlvDescribe(raw, len(raw), flags, out, len(out), byref(length), byref(err)) != 0:
        _raise(err)
    return out.value.decode(_ENCODING)
