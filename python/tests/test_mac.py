"""The MACs beyond the library's own, from Python: published vectors, key
check values, and field 64 under another algorithm against the host."""
import pytest

import tranpak
from tranpak import ArgumentError, MacError

AES_KEY = "2B7E151628AED2A6ABF7158809CF4F3C"
PURCHASE = {0: "0200", 2: "4761739001010119", 4: "12.50", 11: "000001", 41: "TERM0001"}


class TestFunctions:
    @pytest.mark.parametrize("data, expected", [
        # RFC 4493, section 4: examples 1 and 2 (AES-128 CMAC).
        ("", "BB1D6929E95937287FA37D129B756746"),
        ("6BC1BEE22E409F96E93D7E117393172A", "070A16B46B4D4144F79BDD9DD04A287C"),
    ])
    def test_aes_cmac_of_the_published_examples(self, data, expected):
        assert tranpak.mac("AES-CMAC", AES_KEY, bytes.fromhex(data), length=16).hex().upper() == expected

    def test_a_shorter_mac_is_the_leftmost_bytes(self):
        full = tranpak.mac("aes-cmac", AES_KEY, b"abc", length=16)
        assert tranpak.mac(tranpak.binding.TP_MAC_AES_CMAC, AES_KEY, b"abc", length=4) == full[:4]

    def test_the_classic_check_value_of_a_double_length_key(self):
        key = "0123456789ABCDEFFEDCBA9876543210"
        assert tranpak.key_check_value("ISO9797-1-ALG3", key).hex().upper() == "08D7B4"

    @pytest.mark.parametrize("call", [
        lambda: tranpak.mac("AES-CMAC", "0123456789ABCDEF", b"x"),      # 8-byte key for AES
        lambda: tranpak.mac("ISO9797-1-ALG1", "0123456789ABCDEF", b"x", padding=3),
        lambda: tranpak.mac("LEGACY", "0123456789ABCDEF", b"x", length=9),
        lambda: tranpak.mac("RETAIL", "0123456789ABCDEF", b"x"),
    ])
    def test_what_the_library_refuses_is_an_argument_error(self, call):
        with pytest.raises(ArgumentError):
            call()


class TestFieldSixtyFour:
    def test_an_exchange_under_aes_cmac(self, tranpak_host_factory):
        host = tranpak_host_factory(key=AES_KEY, mac="AES-CMAC", set={39: "00"})
        with host.session() as s:
            s.set_mac("AES-CMAC")
            reply = s.exchange(host.host, host.port, AES_KEY, PURCHASE)
            assert reply[39] == "00"
            # Field 64 is the leftmost 8 bytes of the AES-CMAC of what precedes
            # it from the type on: type, bitmap and the fields before it.
            frame = s.pack(AES_KEY)
            assert frame[-9:-1] == tranpak.mac("AES-CMAC", AES_KEY, frame[5:-9], length=8)

    def test_the_library_own_mac_against_that_host_fails_on_field_64(self, tranpak_host_factory):
        host = tranpak_host_factory(key=AES_KEY, mac="AES-CMAC", set={39: "00"})
        with host.session() as s:
            s.set_mac("ISO9797-1-ALG3")
            with pytest.raises(MacError) as caught:
                s.exchange(host.host, host.port, AES_KEY, PURCHASE)
            assert caught.value.field == 64

    def test_a_key_of_another_length_than_the_algorithm_takes_is_refused(self, tranpak_host):
        with tranpak_host.session() as s:
            s.set_mac("TDES-CMAC", key_len=24)
            with pytest.raises(ArgumentError):
                s.pack(AES_KEY)  # 16 bytes

    def test_a_host_covering_the_data_area_only_is_met_with_covers_data(self, tranpak_host_factory):
        host = tranpak_host_factory(key=AES_KEY, mac="AES-CMAC", mac_covers="data", set={39: "00"})
        with host.session() as s:
            s.set_mac("AES-CMAC", covers="data")
            assert s.exchange(host.host, host.port, AES_KEY, PURCHASE)[39] == "00"
            frame = s.pack(AES_KEY)
            assert frame[-9:-1] == tranpak.mac("AES-CMAC", AES_KEY, frame[17:-9], length=8)
            # The whole message against that host: the reply's MAC fails.
            s.set_mac("AES-CMAC")
            with pytest.raises(MacError):
                s.exchange(host.host, host.port, AES_KEY, PURCHASE)

    def test_a_changed_type_fails_the_check_under_the_whole_message(self, tranpak_host):
        key = "0123456789ABCDEFFEDCBA9876543210"
        for covers, refused in (("message", True), ("data", False)):
            with tranpak_host.session() as s:
                s.set_mac("ISO9797-1-ALG3", covers=covers)
                for field, value in PURCHASE.items():
                    s[field] = value
                frame = s.pack(key)
                s.unpack(frame[:5] + b"0420" + frame[9:])
                if refused:
                    with pytest.raises(MacError):
                        s.check_mac(key)
                else:
                    s.check_mac(key)

    @pytest.mark.parametrize("covers", ["everything", "", 1])
    def test_a_coverage_other_than_message_or_data_is_an_argument_error(self, tranpak_host, covers):
        with tranpak_host.session() as s:
            with pytest.raises(ArgumentError):
                s.set_mac("AES-CMAC", covers=covers)

    def test_the_library_own_mac_cannot_cover_the_message(self, tranpak_host):
        with tranpak_host.session() as s:
            s.set_mac("AES-CMAC", key_len=32)
            with pytest.raises(ArgumentError) as caught:
                s.set_mac("LEGACY", covers="message")
            assert "LEGACY covers the data area only" in str(caught.value)
            # Refused whole: the session keeps AES-CMAC and its key length.
            s[0] = "0800"
            assert len(s.pack(bytes(32))) == 26
            with pytest.raises(ArgumentError):
                s.pack(bytes(8))


class TestFailedCheck:
    def test_field_64_keeps_the_mac_received(self, tranpak_host_factory):
        host = tranpak_host_factory(fault="bad-mac", set={39: "00"})
        with host.session() as s:
            with pytest.raises(MacError):
                s.exchange(host.host, host.port, host.key, PURCHASE)
            shown = s.reply()[64]
            # The message is now the reply: packed again it carries the MAC the
            # key gives for the reply's bytes, which field 64 must not have shown.
            valid = s.pack(host.key)[-9:-1].hex().upper()
            assert len(shown) == 16 and shown.upper() != valid


class TestKeyLength:
    def _settings(self, tmp_path, host, lines):
        ini = tmp_path / "mac.ini"
        ini.write_text(f"[Bitmap Define File]\nBMPFILE={host.defs}\n[Error Log File]\nERRFILE={tmp_path / 'err.txt'}\n"
                       f"[MAC]\n{lines}")
        return ini

    def test_a_key_shorter_than_the_settings_key_length_is_refused_not_padded(self, tmp_path, tranpak_host):
        ini = self._settings(tmp_path, tranpak_host, "ALGORITHM=ISO9797-1-ALG1\nKEYLEN=16\n")
        with tranpak.Session(ini) as s:
            s[0] = "0800"
            with pytest.raises(ArgumentError) as caught:
                s.pack("0123456789ABCDEF")  # 8 bytes
            assert "a key of 16 bytes, not 8" in str(caught.value)
            # The 8 bytes and eight zero bytes are not taken for it either:
            # only a key of the session's length is.
            assert len(s.pack("0123456789ABCDEF0000000000000000")) == 26

    def test_the_settings_key_length_is_the_session_s(self, tmp_path, tranpak_host):
        ini = self._settings(tmp_path, tranpak_host, "ALGORITHM=AES-CMAC\nKEYLEN=32\n")
        with tranpak.Session(ini) as s:
            s[0] = "0800"
            with pytest.raises(ArgumentError) as caught:
                s.pack(AES_KEY)
            assert "a key of 32 bytes, not 16" in str(caught.value)

    def test_a_misspelt_key_of_the_section_fails_the_session(self, tmp_path, tranpak_host):
        ini = self._settings(tmp_path, tranpak_host, "ALGORTHM=AES-CMAC\n")
        with pytest.raises(tranpak.TranpakError) as caught:
            tranpak.Session(ini)
        assert "[MAC] key ALGORTHM is not ALGORITHM, PADDING, KEYLEN or COVERS" in str(caught.value)
