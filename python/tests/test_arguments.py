"""What Python hands the C library: every int a C int holds or a refusal
(never the low 32 bits of it), no text cut short by a NUL, and the JSON of
``describe`` in the library's own shape."""
import json

import pytest

import tranpak
from tranpak import ArgumentError, Session

KEY = "0123456789ABCDEF"
AES_KEY = "2B7E151628AED2A6ABF7158809CF4F3C"
DEFS = "AMOUNT    NF   12    4\nTERMID    ANS  8     41\nDIGITS    N    19,2  2\nMAC       B    8     64\n"
WRAPS = [2**32 + 2, 2**32 + 1, 2**31, -2**31 - 1, 2**64 + 16]


@pytest.fixture
def session(tmp_path):
    (tmp_path / "defs.txt").write_text(DEFS)
    with Session(defs=tmp_path / "defs.txt", errlog=tmp_path / "errlog.txt") as s:
        yield s


class TestCIntegers:
    """Each call that passes an int to the library, with a number whose low
    32 bits are a value the library would take (2**32 + 2 is 2)."""

    CALLS = {
        "mac padding": lambda s, n: tranpak.mac("ISO9797-1-ALG1", KEY * 2, b"abc", padding=n),
        "mac length": lambda s, n: tranpak.mac("LEGACY", KEY, b"abc", length=n),
        "mac algorithm": lambda s, n: tranpak.mac(n, KEY, b"abc"),
        "check value method": lambda s, n: tranpak.key_check_value("ISO9797-1-ALG3", KEY * 2, method=n),
        "check value length": lambda s, n: tranpak.key_check_value("ISO9797-1-ALG3", KEY * 2, length=n),
        "set_mac padding": lambda s, n: s.set_mac("ISO9797-1-ALG1", padding=n),
        "set_mac key_len": lambda s, n: s.set_mac("AES-CMAC", key_len=n + 14 if n > 0 else n),
        "set_mac algorithm": lambda s, n: s.set_mac(n),
        "field to set": lambda s, n: s.__setitem__(n + 2, "1.00"),
        "field to read": lambda s, n: s.__getitem__(n + 2),
        "recv limit": lambda s, n: Session(defs=s._settings.bmpFile.decode(), recv_limit=n),
        "port": lambda s, n: s.exchange("127.0.0.1", n, KEY, {0: "0200"}),
    }

    @pytest.mark.parametrize("number", WRAPS)
    @pytest.mark.parametrize("call", sorted(CALLS))
    def test_a_number_a_c_int_cannot_hold_is_refused_not_wrapped(self, session, call, number):
        with pytest.raises(ArgumentError) as caught:
            self.CALLS[call](session, number)
        assert isinstance(caught.value, ValueError)

    def test_the_same_calls_take_what_fits(self, session):
        assert len(tranpak.mac("ISO9797-1-ALG1", KEY * 2, b"abc", padding=2)) == 8
        assert len(tranpak.mac("LEGACY", KEY, b"abc", length=4)) == 4
        assert len(tranpak.key_check_value("ISO9797-1-ALG3", KEY * 2, method=2, length=5)) == 5
        session.set_mac("ISO9797-1-ALG1", padding=2)
        session.set_mac("AES-CMAC", key_len=16)
        session[4] = "1.00"
        assert session[4] == "1.00"

    def test_a_padding_of_two_to_the_32_plus_2_is_not_padding_2(self):
        """The case as found: ctypes kept the low 32 bits, 2."""
        with pytest.raises(ArgumentError, match=r"padding = 4294967298 does not fit a C int"):
            tranpak.mac("ISO9797-1-ALG1", KEY * 2, b"abc", padding=2**32 + 2)

    @pytest.mark.parametrize("value", [True, 2.0, "2"])
    def test_a_bool_float_or_text_is_not_an_int(self, value):
        with pytest.raises(TypeError):
            tranpak.mac("ISO9797-1-ALG1", KEY * 2, b"abc", padding=value)


class TestNul:
    """A NUL would end the text where C reads it: the path or name would be
    another one, silently."""

    CALLS = {
        "definitions": lambda s, d: Session(defs=d / "defs.txt\0.bak"),
        "error log": lambda s, d: Session(defs=d / "defs.txt", errlog=d / "errlog.txt\0x"),
        "trace": lambda s, d: Session(defs=d / "defs.txt", trace=d / "trace\0x"),
        "settings file": lambda s, d: Session(d / "8583.ini\0x"),
        "host name": lambda s, d: s.exchange("127.0.0.1\0evil", 5000, KEY, {0: "0200"}),
        "host of connect": lambda s, d: s.connect("localhost\0", 5000),
        "local file of a send": lambda s, d: s.send_file("127.0.0.1", 5000, d / "a\0b", "a"),
        "request of a send": lambda s, d: s.send_file("127.0.0.1", 5000, d / "defs.txt", "up\0load"),
        "request of a fetch": lambda s, d: s.fetch_file("127.0.0.1", 5000, "x\0y", d / "out"),
        "local file of a fetch": lambda s, d: s.fetch_file("127.0.0.1", 5000, "x", d / "out\0"),
    }

    @pytest.mark.parametrize("call", sorted(CALLS))
    def test_a_nul_raises_value_error(self, session, tmp_path, call):
        with pytest.raises(ValueError, match="NUL"):
            self.CALLS[call](session, tmp_path)
        # refused before the library was asked: nothing logged
        assert not (tmp_path / "errlog.txt").exists()


class TestDescribeJson:
    def test_the_shape_of_the_library_itself(self, session):
        """describe(json=True) is TpDescribe's JSON: the type, and the fields
        by number as text, each with name, type and value."""
        session.load({0: "0200", 2: "4761739001010119", 4: "12.50", 41: "T\"1"})
        text = session.describe(json=True)
        assert isinstance(text, str)
        assert json.loads(text) == {
            "type": "0200",
            "fields": {
                "2": {"name": "DIGITS", "type": "N", "value": "************0119"},
                "4": {"name": "AMOUNT", "type": "NF", "value": "12.50"},
                "41": {"name": "TERMID", "type": "ANS", "value": "T\"1"},
            },
        }
        assert list(json.loads(text)) == ["type", "fields"]
        assert list(json.loads(text)["fields"]) == ["2", "4", "41"]
