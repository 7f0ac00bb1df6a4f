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
            # Field 64 is the leftmost 8 bytes of the AES-CMAC of what precedes it.
            frame = s.pack(AES_KEY)
            assert frame[-9:-1] == tranpak.mac("AES-CMAC", AES_KEY, frame[17:-9], length=8)

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
