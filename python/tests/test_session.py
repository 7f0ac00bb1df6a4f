"""Sessions without a host: fields of every type, the description, frames,
settings and the failures found there."""
import json
from decimal import Decimal

import pytest

import tranpak
from tranpak import ArgumentError, Category, Session, SettingsError

KEY = "0123456789ABCDEF"

# One field of each type, fixed and variable.
DEFS = """\
ANSTEXT   ANS  20,2  41
COUNT     NI   11    5
AMOUNT    NF   12    4
LETTERS   A    10    6
CODE      AN   8     7
DIGITS    N    19,2  2
BLOB      B    4     52
MAC       B    8     64
"""


@pytest.fixture
def session(tmp_path):
    (tmp_path / "defs.txt").write_text(DEFS)
    with Session(defs=tmp_path / "defs.txt", errlog=tmp_path / "errlog.txt") as s:
        yield s


# field, value given, text read back
EVERY_TYPE = [
    (0, "0200", "0200"),
    (41, " shop #1 ", "shop #1"),  # trimmed as SetCell trims
    (5, "-12", "-12"),
    (5, 2147483647, "2147483647"),
    (4, "12.50", "12.50"),  # the text SetCell(4, "12.50") would have stored as 0.00
    (4, "12.5", "12.50"),
    (4, Decimal("-0.07"), "-0.07"),
    (4, Decimal("1E+2"), "100.00"),  # not its str(), "1E+2"
    (4, 1250, "1250.00"),
    (6, "abc DEF", "abc DEF"),
    (7, "A1B2", "A1B2"),
    (2, "4761739001010119", "4761739001010119"),
    (52, "0a1B2c3D", "0A1B2C3D"),
    (52, b"\x00\xff\x10\x80", "00FF1080"),
]


class TestFields:
    @pytest.mark.parametrize("field", [2**32 + 4, 2**40, -2**32 + 4, 2**70])
    def test_a_field_number_a_c_int_cannot_hold_never_wraps_to_a_real_field(self, session, field):
        session[4] = "1.00"
        with pytest.raises(ArgumentError):
            session[field] = "7.77"
        with pytest.raises(ArgumentError):
            session[field]
        assert session[4] == "1.00"

    @pytest.mark.parametrize("field", ["4", 4.0, True, None])
    def test_a_field_number_is_an_int(self, session, field):
        with pytest.raises(TypeError):
            session[field] = "1.00"
        with pytest.raises(TypeError):
            session[field]
        with pytest.raises(TypeError):
            session.load({0: "0200", field: "1.00"})

    def test_a_loaded_field_number_never_wraps_either(self, session):
        with pytest.raises(ArgumentError):
            session.load({0: "0200", 2**32 + 4: "7.77"})
        assert 4 not in session.message()

    def test_a_dictionary_refused_for_its_keys_leaves_the_message_as_it_was(self, session):
        session.load({0: "0800", 4: "1.00"})
        with pytest.raises(TypeError):
            session.load({0: "0200", 4: "2.00", "x": 1})
        assert session.message() == {0: "0800", 4: "1.00"}

    @pytest.mark.parametrize("port,error", [("5000", TypeError), (True, TypeError), (2**32 + 80, ArgumentError),
                                            (65536 + 80, ArgumentError), (0, ArgumentError), (-1, ArgumentError)])
    def test_a_port_is_an_int_a_c_int_holds(self, session, port, error):
        with pytest.raises(error):
            session.exchange("127.0.0.1", port, b"\x01" * 8, {0: "0200"})
        with pytest.raises(error):
            session.fetch_file("127.0.0.1", port, "a.txt", "a.txt")

    def test_describe_leaves_no_failure_in_the_log(self, session, tmp_path):
        session[0] = "0200"
        session[2] = "4761739001010119"
        for _ in range(3):
            assert "************0119" in session.describe()
        log = tmp_path / "errlog.txt"
        assert not log.exists() or log.read_text() == ""

    @pytest.mark.parametrize("field,value,text", EVERY_TYPE)
    def test_every_type_set_and_read_back(self, session, field, value, text):
        session[field] = value
        assert session[field] == text

    def test_every_type_travels_in_a_frame_and_back(self, session, tmp_path):
        sent = {0: "0200", 2: "4761739001010119", 4: "12.50", 5: -12, 6: "abc", 7: "A1", 41: "shop",
                52: b"\x01\x02\x03\x04"}
        session.load(sent)
        frame = session.pack(KEY)
        # start, 4 length digits, type, bitmap, fields, MAC, stop; the amount as
        # hundredths in 12 digits, NI -12 as "-0000000012"
        assert frame[:1] == b"\x02" and frame[-1:] == b"\x03"
        assert frame[1:5] == b"%04d" % (len(frame) - 6)
        assert b"000000001250" in frame and b"-0000000012" in frame and b"04shop" in frame
        with Session(defs=tmp_path / "defs.txt") as other:
            other.unpack(frame)
            other.check_mac(bytes.fromhex(KEY))
            got = other.message()
        assert got == {0: "0200", 2: "4761739001010119", 4: "12.50", 5: "-12", 6: "abc       ", 7: "A1      ",
                       41: "shop", 52: "01020304", 64: got[64]}
        assert len(got[64]) == 16

    def test_load_starts_afresh_and_message_lists_fields_in_use(self, session):
        session.load({0: "0200", 2: "4761739001010119", 4: "1.00"})
        session.load({0: "0800", 7: "X1"})
        assert session.message() == {0: "0800", 7: "X1"}
        assert 7 in session and 2 not in session
        assert session.get(2) is None
        del session[7]
        assert session.message() == {0: "0800"}

    def test_definition_of_a_field(self, session):
        assert session.definition(2) == tranpak.FieldDef("DIGITS", "N", 19, 2, False)
        assert session.definition(3) == tranpak.FieldDef("", "", 0, 0, False)

    # field, refused value, the library's reason
    REFUSED = [
        (4, "12.505", "field 4: 12.505 has more than 2 decimals"),
        (5, "12.5", "field 5: 12.5 is not a decimal integer"),
        (5, "2147483648", "field 5: 2147483648 is outside"),
        (6, "abc1", "field 6: abc1 is not A"),
        (7, "a-b", "field 7: a-b is not AN"),
        (2, "12a", "field 2: *** is not N"),  # card data masked in the reason
        (52, "0A1B", "field 52"),
        (0, "02000", "field 0: message type 02000 is not 4 characters"),
        (3, "1", "field 3"),
    ]

    @pytest.mark.parametrize("field,value,reason", REFUSED)
    def test_a_refused_value_names_its_field_and_leaves_the_field_as_it_was(self, session, field, value, reason):
        before = session.get(field)
        with pytest.raises(ArgumentError) as caught:
            session[field] = value
        e = caught.value
        assert isinstance(e, ValueError)
        assert (e.category, e.field, e.offset) == (Category.ARGUMENT, field, None)
        assert reason in e.text and str(e) == e.text
        assert session.get(field) == before

    @pytest.mark.parametrize("field,value", [(4, 12.5), (41, 12), (5, True), (7, b"ab"), (4, None)])
    def test_values_of_other_python_types_are_type_errors(self, session, field, value):
        with pytest.raises(TypeError):
            session[field] = value

    def test_a_nul_or_a_character_beyond_a_byte_is_refused_before_the_library(self, session):
        for text in ("ab\0cd", "caf\u20ac"):
            with pytest.raises(ArgumentError) as caught:
                session[41] = text
            assert caught.value.field == 41
        assert 41 not in session

    def test_bytes_beyond_ascii_read_back_as_they_were(self, session):
        session[41] = "caf\xe9"
        assert session[41] == "caf\xe9"

    def test_a_field_not_in_use_cannot_be_read(self, session):
        with pytest.raises(ArgumentError) as caught:
            session[41]
        assert caught.value.field == 41 and "not in use" in caught.value.text


class TestDescribe:
    @pytest.fixture
    def purchase(self, session):
        session.load({0: "0200", 2: "4761739001010119", 4: "12.50", 41: "TERM\x1b01"})
        return session

    def test_masked_by_default(self, purchase):
        text = purchase.describe()
        assert text.splitlines() == [
            "type 0200",
            "field  name     type  value",
            "    2  DIGITS   N     ************0119",
            "    4  AMOUNT   NF    12.50",
            "   41  ANSTEXT  ANS   TERM\\x1B01",
        ]
        assert "4761739001010119" not in text

    def test_unmasked(self, purchase):
        assert "    2  DIGITS   N     4761739001010119" in purchase.describe(masked=False).splitlines()

    def test_json_masked_and_unmasked(self, purchase):
        masked = json.loads(purchase.describe(json=True))
        clear = json.loads(purchase.describe(masked=False, json=True))
        assert masked["type"] == "0200"
        assert masked["fields"]["2"] == {"name": "DIGITS", "type": "N", "value": "************0119"}
        assert clear["fields"]["2"]["value"] == "4761739001010119"
        assert clear["fields"]["4"] == {"name": "AMOUNT", "type": "NF", "value": "12.50"}


# Fields of a secondary bitmap, track 2 data and a variable B beside the
# classic ones.
HIGH_DEFS = """\
DIGITS    N    19,2  2
TRACK2    Z    37,2  35
MAC       B    8     64
NETCODE   N    3     70
ICC       B    255,3 110
MAC2      B    8     128
"""

TRACK2 = "4761739001010119=25122011758928889"


@pytest.fixture
def high(tmp_path):
    (tmp_path / "defs.txt").write_text(HIGH_DEFS)
    with Session(defs=tmp_path / "defs.txt", errlog=tmp_path / "errlog.txt") as s:
        yield s


class TestFieldsOfTheSecondaryBitmap:
    def test_fields_70_and_128_set_read_listed_and_deleted(self, high):
        high.load({0: "0200", 128: "0102030405060708", 2: "4761739001010119", 70: "301"})
        assert high[70] == "301" and high[128] == "0102030405060708"
        assert high.message() == {0: "0200", 2: "4761739001010119", 70: "301", 128: "0102030405060708"}
        assert 70 in high and 128 in high and 129 not in high and 100 not in high
        del high[70]
        assert high.get(70) is None
        assert high.message() == {0: "0200", 2: "4761739001010119", 128: "0102030405060708"}

    def test_definitions_and_types_of_every_field(self, high):
        assert high.definition(70) == tranpak.FieldDef("NETCODE", "N", 3, 0, False)
        assert high.definition(110) == tranpak.FieldDef("ICC", "B", 255, 3, False)
        assert high.definition(35) == tranpak.FieldDef("TRACK2", "Z", 37, 2, False)
        assert high.definition(100) == tranpak.FieldDef("", "", 0, 0, False)
        assert tranpak.binding.CELL_Z == 7 and tranpak.binding.CELL_TYPE_NAMES[7] == "Z"

    def test_bytes_go_to_a_variable_b_as_its_own_length(self, high):
        high[110] = b"\x9f\x27\x01"
        assert high[110] == "9F2701"
        high[110] = b""
        assert high[110] == ""
        high[128] = bytes(range(1, 9))
        assert high[128] == "0102030405060708"
        with pytest.raises(TypeError):
            high[70] = b"\x01"

    def test_track_2_is_checked_and_masked(self, high):
        high[35] = TRACK2
        assert high[35] == TRACK2
        with pytest.raises(ArgumentError) as caught:
            high[35] = "4761=7390=0101"
        assert caught.value.field == 35
        assert caught.value.text == ("tranpak: TpSetCellText() field 35: **********0101 "
                                     "is not Z (digits and one '=' or 'D')")
        assert high[35] == TRACK2
        assert TRACK2 not in high.describe()
        assert "   35  TRACK2  Z     " + "*" * 30 + "8889" in high.describe().splitlines()
        assert json.loads(high.describe(masked=False, json=True))["fields"]["35"]["value"] == TRACK2

    @pytest.mark.parametrize("field", [129, 200, -1])
    def test_a_field_beyond_128_is_refused(self, high, field):
        with pytest.raises(ArgumentError):
            high[field] = "1"
        assert field not in high


class TestSettingsAndLifetime:
    def test_a_definition_file_that_is_not_there(self, tmp_path):
        with pytest.raises(SettingsError) as caught:
            Session(defs=tmp_path / "missing.txt", errlog=tmp_path / "errlog.txt")
        assert caught.value.category == Category.SETTINGS and "BMPfile" in caught.value.text

    def test_a_settings_file(self, tmp_path):
        (tmp_path / "defs.txt").write_text(DEFS)
        (tmp_path / "8583.ini").write_text(f"[Bitmap Define File]\nBMPFILE={tmp_path / 'defs.txt'}\n"
                                           f"[Error Log File]\nERRFILE={tmp_path / 'errlog.txt'}\n"
                                           "[Com Timeout]\nRECV=30s\n")
        with pytest.raises(SettingsError) as caught:
            Session(tmp_path / "8583.ini")
        assert "RECV=30s is not a whole number of seconds" in caught.value.text
        (tmp_path / "8583.ini").write_text(f"[Bitmap Define File]\nBMPFILE={tmp_path / 'defs.txt'}\n")
        with Session(str(tmp_path / "8583.ini")) as s:
            assert s.definition(4).name == "AMOUNT"
        with pytest.raises(TypeError):
            Session(tmp_path / "8583.ini", recv_limit=3)

    def test_leaving_the_block_wipes_the_session(self, tmp_path):
        (tmp_path / "defs.txt").write_text(DEFS)
        with Session(defs=tmp_path / "defs.txt") as s:
            s[2] = "4761739001010119"
        with pytest.raises(ArgumentError, match="closed"):
            s[2]
        raw = bytes(s._s.opaque.bytes)
        assert raw == bytes(len(raw))

    @pytest.mark.parametrize("key", ["0123456789ABCDEF", "0123456789abcdef", bytes.fromhex(KEY),
                                     bytearray.fromhex(KEY)])
    def test_keys_as_bytes_or_hex_give_the_same_frame(self, session, key):
        session.load({0: "0800", 7: "A1"})
        assert session.pack(key) == session.pack(bytes.fromhex(KEY))

    @pytest.mark.parametrize("key", ["0123456789ABCDE", "0123456789ABCDEG", b"\x01" * 7, b"\x01" * 16])
    def test_other_keys_are_refused(self, session, key):
        with pytest.raises(ArgumentError):
            session.pack(key)
