"""BER-TLV lists from Python: built from pairs and mappings, parsed back
into them, searched, described, and each kind of refusal raised with its
offset."""
import pytest

import tranpak
from tranpak import ArgumentError, MalformedError

PURCHASE = [
    (0x9F02, bytes.fromhex("000000001250")),
    ("9F26", bytes.fromhex("8E19ED4F0B1D7F3A")),
    (0x70, [(0x5A, bytes.fromhex("4761739001010119")), ("5F20", b"JOHN")]),
    (0xE1, []),
]
PURCHASE_BYTES = bytes.fromhex("9F0206000000001250" "9F26088E19ED4F0B1D7F3A"
                               "7011" "5A084761739001010119" "5F20044A4F484E" "E100")


class TestBuildAndParse:
    def test_pairs_build_to_exact_bytes_and_parse_back(self):
        assert tranpak.tlv_build(PURCHASE) == PURCHASE_BYTES
        assert tranpak.tlv_parse(PURCHASE_BYTES) == [
            (0x9F02, bytes.fromhex("000000001250")),
            (0x9F26, bytes.fromhex("8E19ED4F0B1D7F3A")),
            (0x70, [(0x5A, bytes.fromhex("4761739001010119")), (0x5F20, b"JOHN")]),
            (0xE1, []),
        ]

    def test_a_mapping_keeps_its_order(self):
        assert tranpak.tlv_build({"9F02": b"\x12\x50", 0x5A: b"\x47"}) == bytes.fromhex("9F020212505A0147")

    @pytest.mark.parametrize("length, head", [
        (127, "DF01" "7F"), (128, "DF01" "8180"), (255, "DF01" "81FF"), (256, "DF01" "820100"),
        (400, "DF01" "820190"),
    ])
    def test_long_lengths_take_the_fewest_bytes(self, length, head):
        built = tranpak.tlv_build([(0xDF01, b"\xab" * length)])
        assert built == bytes.fromhex(head) + b"\xab" * length
        assert tranpak.tlv_parse(built) == [(0xDF01, b"\xab" * length)]

    def test_nesting_to_the_limit_and_not_beyond(self):
        inner = [(0x5A, b"\x47")]
        for _ in range(tranpak.binding.TP_TLV_MAX_DEPTH):
            inner = [(0xE1, inner)]
        built = tranpak.tlv_build(inner)
        assert tranpak.tlv_parse(built) == inner
        with pytest.raises(MalformedError) as caught:
            tranpak.tlv_parse(bytes.fromhex("E1") + bytes([len(built)]) + built)
        assert caught.value.offset == 2 * (tranpak.binding.TP_TLV_MAX_DEPTH + 1)
        assert caught.value.text.endswith("constructed tags nested deeper than 8")

    def test_a_constructed_tag_takes_bytes_that_are_a_list(self):
        assert tranpak.tlv_build([(0x77, bytes.fromhex("9F2701 80"))]) == bytes.fromhex("77049F270180")
        with pytest.raises(ArgumentError, match="value of constructed tag 77 is no TLV list"):
            tranpak.tlv_build([(0x77, b"\x9f")])

    @pytest.mark.parametrize("items, error", [
        ([(0x9F, b"x")], ArgumentError),           # a tag that does not end
        ([("ZZ", b"x")], ArgumentError),           # not hexadecimal
        ([(0x1000000, b"x")], ArgumentError),      # four bytes
        ([(0x5A, [(0x5A, b"x")])], TypeError),     # a primitive tag with a list
        ([(0x5A, b"x" * 65536)], ArgumentError),   # longer than a length can say
    ])
    def test_what_cannot_be_built(self, items, error):
        with pytest.raises(error):
            tranpak.tlv_build(items)


class TestRefusals:
    @pytest.mark.parametrize("hex_bytes, offset, reason", [
        ("9F0206000000", 0, "length 6 runs past the end (3 bytes left)"),
        ("5A01479F", 3, "tag cut short (1 byte left)"),
        ("5A01475A", 3, "length cut short (tag 5A, no length byte)"),
        ("9F81810100", 0, "tag longer than 3 bytes"),
        ("5A01470000", 3, "2 trailing bytes of padding (0x00), not a TLV"),
        ("7003" "5A0547474747", 2, "length 5 runs past the end of 70 (1 byte left)"),
    ])
    def test_each_with_its_offset(self, hex_bytes, offset, reason):
        data = bytes.fromhex(hex_bytes)
        for call in (tranpak.tlv_parse, tranpak.tlv_check, tranpak.tlv_describe,
                     lambda d: tranpak.tlv_find(d, 0x5A)):
            with pytest.raises(MalformedError) as caught:
                call(data)
            assert caught.value.offset == offset
            assert caught.value.text == f"tranpak: TLV at offset {offset}: {reason}"
            assert caught.value.category == tranpak.Category.MALFORMED

    def test_a_well_formed_list_passes_the_check(self):
        assert tranpak.tlv_check(PURCHASE_BYTES) is None
        assert tranpak.tlv_check(b"") is None


class TestFindAndDescribe:
    def test_find_looks_inside_constructed_tags(self):
        assert tranpak.tlv_find(PURCHASE_BYTES, "5F20") == b"JOHN"
        assert tranpak.tlv_find(PURCHASE_BYTES, 0xE1) == b""
        assert tranpak.tlv_find(PURCHASE_BYTES, 0x9F27) is None

    def test_described_with_card_data_masked(self):
        assert tranpak.tlv_describe(PURCHASE_BYTES) == (
            "9F02 amount authorised: 000000001250\n"
            "9F26 application cryptogram: 8E19ED4F0B1D7F3A\n"
            "70 record template\n"
            "  5A application PAN: ************0119\n"
            "  5F20 cardholder name: ****484E\n"
            "E1\n")
        assert "4761739001010119" in tranpak.tlv_describe(PURCHASE_BYTES, unmasked=True)

    def test_described_as_json(self):
        import json
        described = json.loads(tranpak.tlv_describe(PURCHASE_BYTES, json=True))
        assert described[2] == {"tag": "70", "name": "record template", "tags": [
            {"tag": "5A", "name": "application PAN", "value": "************0119"},
            {"tag": "5F20", "name": "cardholder name", "value": "****484E"}]}
        assert described[3] == {"tag": "E1", "tags": []}
