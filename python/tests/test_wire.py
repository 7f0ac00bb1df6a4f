"""Wire dialects in the package: a session packs and unpacks each preset of
docs/wire-formats.md as the peers lay it out (the frames of the library's
own dialect tests, byte by byte), a settings file's [Wire Format] is read,
``wire=`` sets it key by key, a refusal raises, a reply swaps the TPDU, and
the host fixture speaks a dialect."""
import pytest

from tranpak import ArgumentError, Session

KEY = "0123456789ABCDEF"

DEFS = """\
PAN       N     19,2    2
PROCCODE  N     6       3
AMOUNT    N     12      4
STAN      N     6       11
TRACK2    Z     37,2    35
RESPONSE  AN    2       39
TERMID    ANS   8       41
MAC       B     8       64
"""

SEED = {}
BINARY2_ASCII = {"LENGTH": "BINARY2", "ENVELOPE": "NONE"}
NAC = {"LENGTH": "BINARY2", "LENGTHCOUNTS": "HEADER", "ENVELOPE": "NONE", "HEADER": "TPDU:6000030000",
       "MTI": "BCD", "NUMBERS": "BCD", "PREFIX": "BCD"}
ASCII4_BARE = {"LENGTH": "ASCII4", "ENVELOPE": "NONE"}
EBCDIC_HEX = {"LENGTH": "BINARY2", "ENVELOPE": "NONE", "MTI": "EBCDIC", "BITMAP": "HEX", "CHARSET": "EBCDIC037"}

PURCHASE = {0: "0200", 3: "000000", 4: "000000001250", 11: "000123", 41: "TERM0001"}
ASCII_FIELDS = b"000000" b"000000001250" b"000123" b"TERM0001"
BITMAP = bytes.fromhex("30 20 00 00 00 80 00 01")
MAC0 = bytes(8)

# name, dialect, message, frame with its MAC as 8 zero bytes, where the MAC lies
GOLDEN = [
    ("seed", SEED, PURCHASE, b"\x02" b"0052" b"0200" + BITMAP + ASCII_FIELDS + MAC0 + b"\x03", 1 + 4 + 4 + 8 + 32),
    ("2-byte length, ASCII fields", BINARY2_ASCII, PURCHASE,
     bytes.fromhex("00 34") + b"0200" + BITMAP + ASCII_FIELDS + MAC0, 2 + 4 + 8 + 32),
    ("4 ASCII digits, no envelope", ASCII4_BARE, PURCHASE, b"0052" b"0200" + BITMAP + ASCII_FIELDS + MAC0,
     4 + 4 + 8 + 32),
    ("TPDU and BCD", NAC,
     {0: "0200", 2: "4111111111111", 3: "000000", 4: "000000001250", 11: "000123", 35: "4111111111111=2512",
      41: "TERM0001"},
     bytes.fromhex("00 3D 60 00 03 00 00 02 00 70 20 00 00 20 80 00 01 13 04 11 11 11 11 11 11 00 00 00"
                   "00 00 00 00 12 50 00 01 23 18 41 11 11 11 11 11 1D 25 12") + b"TERM0001" + MAC0,
     2 + 5 + 2 + 8 + 8 + 3 + 6 + 3 + 10 + 8),
    ("EBCDIC, hexadecimal bitmap", EBCDIC_HEX, PURCHASE,
     bytes.fromhex("00 3C" "F0 F2 F0 F0" "F3 F0 F2 F0 F0 F0 F0 F0 F0 F0 F8 F0 F0 F0 F0 F1" "F0 F0 F0 F0 F0 F0"
                   "F0 F0 F0 F0 F0 F0 F0 F0 F1 F2 F5 F0" "F0 F0 F0 F1 F2 F3" "E3 C5 D9 D4 F0 F0 F0 F1") + MAC0,
     2 + 4 + 16 + 32),
]


@pytest.fixture
def defs(tmp_path):
    path = tmp_path / "defs.txt"
    path.write_text(DEFS)
    return path


def session(tmp_path, defs, wire):
    return Session(defs=defs, errlog=tmp_path / "errlog.txt", wire=wire)


@pytest.mark.parametrize("name, wire, message, golden, mac_at", GOLDEN, ids=[g[0] for g in GOLDEN])
def test_each_preset_packs_the_peers_layout_and_unpacks_it(tmp_path, defs, name, wire, message, golden, mac_at):
    with session(tmp_path, defs, wire) as s:
        s.load(message)
        frame = s.pack(KEY)
    assert len(frame) == len(golden)
    assert (frame[:mac_at] + MAC0 + frame[mac_at + 8:]).hex(" ") == golden.hex(" ")
    with session(tmp_path, defs, wire) as r:
        r.unpack(frame)
        r.check_mac(KEY)
        got = r.message()
        assert {f: got[f] for f in message} == message
        # the same frame is no frame of the seed's dialect, nor the seed's of this one
    if wire:
        with session(tmp_path, defs, SEED) as seed:
            with pytest.raises(Exception):
                seed.unpack(frame)


def test_a_settings_file_gives_the_dialect_and_wire_goes_over_it(tmp_path, defs):
    ini = tmp_path / "wire.ini"
    ini.write_text(f"[Bitmap Define File]\nBMPFILE={defs}\n[Error Log File]\nERRFILE={tmp_path / 'errlog.txt'}\n"
                   "[Wire Format]\nLENGTH=BINARY2\nENVELOPE=NONE\n")
    with Session(ini) as s:
        s.load(PURCHASE)
        assert s.pack(KEY)[:6] == bytes.fromhex("00 34") + b"0200"
    with Session(ini, wire={"LENGTH": "BINARY2LE"}) as s:
        s.load(PURCHASE)
        assert s.pack(KEY)[:6] == bytes.fromhex("34 00") + b"0200"
    with Session(ini) as s:
        s.set_wire_format({"LENGTH": "", "ENVELOPE": ""})  # the defaults: the seed's frame again
        s.load(PURCHASE)
        assert s.pack(KEY)[:9] == b"\x02" b"0052" b"0200"


@pytest.mark.parametrize("wire, text", [
    ({"LENGTH": "BINARY3"}, "tranpak: [Wire Format] LENGTH=BINARY3 is not a value of LENGTH"),
    ({"ENVELOPE": "NONE", "COLOUR": "BLUE"},
     "tranpak: [Wire Format] key COLOUR is not LENGTH, LENGTHCOUNTS, ENVELOPE, HEADER, MTI, BITMAP, CHARSET, "
     "NUMBERS, PREFIX or BINARY"),
    ({"HEADER": "TPDU:60"}, "tranpak: [Wire Format] HEADER=TPDU:60 is not a value of HEADER"),
])
def test_a_key_or_value_the_library_refuses_raises_with_its_reason(tmp_path, defs, wire, text):
    with pytest.raises(ArgumentError) as refused:
        session(tmp_path, defs, wire)
    assert str(refused.value).startswith(text)
    with session(tmp_path, defs, SEED) as s:
        with pytest.raises(ArgumentError) as refused:
            s.set_wire_format(wire)
        assert str(refused.value).startswith(text)
    with pytest.raises(TypeError):
        session(tmp_path, defs, {"LENGTH": 2})


def test_a_reply_carries_the_tpdu_swapped(tmp_path, defs):
    with session(tmp_path, defs, NAC) as terminal, session(tmp_path, defs, NAC) as host:
        terminal.load(PURCHASE)
        request = terminal.pack(KEY)
        assert request[2:7].hex(" ") == "60 00 03 00 00"
        host.unpack(request)
        host.load({0: "0210", 39: "00"})
        reply = host.pack(KEY)
        assert reply[2:7].hex(" ") == "60 00 00 00 03"
        terminal.unpack(reply)
        assert terminal[39] == "00"


@pytest.mark.parametrize("wire", [BINARY2_ASCII, NAC, ASCII4_BARE, EBCDIC_HEX],
                         ids=["binary2", "tpdu", "ascii4", "ebcdic"])
def test_the_host_fixture_speaks_a_dialect(tranpak_host_factory, wire):
    host = tranpak_host_factory(set={39: "00"}, wire=wire)
    reply = host.exchange({0: "0200", 2: "4761739001010119", 3: "000000", 4: "12.50", 11: "000001",
                           41: "TERM0001"})
    assert reply[0] == "0210" and reply[39] == "00" and reply[41] == "TERM0001"
    # a session of the seed's dialect gets no answer it can read
    with host.session(wire={"LENGTH": "ASCII4", "ENVELOPE": "STXETX", "HEADER": "", "MTI": "ASCII", "BITMAP": "BINARY",
                            "CHARSET": "ASCII", "NUMBERS": "TEXT", "PREFIX": "TEXT", "LENGTHCOUNTS": "BODY"},
                      recv_limit=2) as seed:
        with pytest.raises(Exception):
            seed.exchange(host.host, host.port, host.key, {0: "0200", 3: "000000", 41: "TERM0001"})


def test_the_host_fixture_takes_a_settings_file(tranpak_host_factory, tmp_path):
    ini = tmp_path / "host.ini"
    ini.write_text("[Wire Format]\n" + "".join(f"{k}={v}\n" for k, v in NAC.items()))
    host = tranpak_host_factory(set={39: "00"}, settings=str(ini))
    assert host.wire == NAC
    reply = host.exchange({0: "0200", 3: "000000", 4: "12.50", 11: "000001", 41: "TERM0001"})
    assert reply[39] == "00"
