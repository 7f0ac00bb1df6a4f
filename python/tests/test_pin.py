"""PIN blocks and DUKPT from Python, checked against a second, independent
implementation written here over the `cryptography` package's DES and AES
(Debian: python3-cryptography), and against the published vectors."""
import random

import pytest
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

import tranpak
from tranpak import ArgumentError

try:  # cryptography 43 and later keep triple DES here
    from cryptography.hazmat.decrepit.ciphers.algorithms import TripleDES
except ImportError:  # pragma: no cover - Debian 12's cryptography 38
    TripleDES = algorithms.TripleDES


# --- the independent implementation ------------------------------------------

def tdes(key, block, decrypt=False):
    key = key + key[:8] if len(key) == 16 else key
    c = Cipher(TripleDES(key), modes.ECB())
    op = c.decryptor() if decrypt else c.encryptor()
    return op.update(block) + op.finalize()


def aes(key, block, decrypt=False):
    c = Cipher(algorithms.AES(key), modes.ECB())
    op = c.decryptor() if decrypt else c.encryptor()
    return op.update(block) + op.finalize()


def xor(a, b):
    return bytes(x ^ y for x, y in zip(a, b))


def nibbles(fill):
    return fill.hex().upper()


def ref_pin_block(fmt, key, pin, pan, fill):
    """ISO 9564-1 as the standard writes it, nibble by nibble in text."""
    if fmt == 4:
        field = "4" + "%X" % len(pin) + pin + "A" * (14 - len(pin))
        pin_field = bytes.fromhex(field) + fill
        m = max(len(pan) - 12, 0)
        pan_field = bytes.fromhex((str(m) + pan.rjust(12, "0")).ljust(32, "0"))
        return aes(key, xor(aes(key, pin_field), pan_field))
    pad = {0: "F" * 16, 1: nibbles(fill), 3: nibbles(fill)}[fmt]
    field = (str(fmt) + "%X" % len(pin) + pin + pad)[:16]
    pan_field = "0000" + pan[-13:-1] if fmt != 1 else "0" * 16
    return tdes(key, xor(bytes.fromhex(field), bytes.fromhex(pan_field)))


def ref_ipek(bdk, ksn):
    base = bytearray(ksn[:8])
    base[7] &= 0xE0
    mask = bytes.fromhex("C0C0C0C000000000C0C0C0C000000000")
    return tdes(bdk, bytes(base)) + tdes(xor(bdk, mask), bytes(base))


def ref_next_key(key, data):
    def half(k):
        return xor(Cipher(TripleDES(k[:8] * 3), modes.ECB()).encryptor().update(xor(data, k[8:])), k[8:])
    return half(xor(key, bytes.fromhex("C0C0C0C000000000C0C0C0C000000000"))) + half(key)


def ref_tdes_key(bdk, ksn):
    key, counter = ref_ipek(bdk, ksn), int.from_bytes(ksn[-3:], "big") & 0x1FFFFF
    reg = bytearray(ksn[-8:])
    reg[5] &= 0xE0
    reg[6] = reg[7] = 0
    sofar = 0
    for bit in range(20, -1, -1):
        if counter >> bit & 1:
            sofar |= 1 << bit
            r = bytearray(reg)
            r[5] |= sofar >> 16
            r[6], r[7] = sofar >> 8 & 0xFF, sofar & 0xFF
            key = ref_next_key(key, bytes(r))
    return key


def ref_aes_derive(key, usage, key_type, tail):
    bits = {2: 128, 3: 192, 4: 256, 0: 128, 1: 192}[key_type]
    out = b""
    for block in range(1, (bits // 8 + 15) // 16 + 1):
        data = bytes([1, block]) + usage.to_bytes(2, "big") + key_type.to_bytes(2, "big") + bits.to_bytes(2, "big")
        out += aes(key, data + tail)
    return out[:bits // 8]


def ref_aes_key(bdk, ksn, usage, key_type):
    bdk_type = {16: 2, 24: 3, 32: 4}[len(bdk)]
    key = ref_aes_derive(bdk, 0x8001, bdk_type, ksn[:8])
    counter, sofar = int.from_bytes(ksn[8:], "big"), 0
    for bit in range(31, -1, -1):
        if counter >> bit & 1:
            sofar |= 1 << bit
            key = ref_aes_derive(key, 0x8000, bdk_type, ksn[4:8] + sofar.to_bytes(4, "big"))
    return ref_aes_derive(key, usage, key_type, ksn[4:12])


# --- the checks --------------------------------------------------------------

TDES2 = bytes.fromhex("0123456789ABCDEFFEDCBA9876543210")
TDES3 = bytes.fromhex("0123456789ABCDEFFEDCBA987654321089ABCDEF01234567")


def random_cases(seed, count):
    rng = random.Random(seed)
    for _ in range(count):
        pin = "".join(rng.choice("0123456789") for _ in range(rng.randint(4, 12)))
        pan = "".join(rng.choice("0123456789") for _ in range(rng.randint(13, 19)))
        yield pin, pan, rng


class TestAgainstAnIndependentImplementation:
    @pytest.mark.parametrize("fmt", [0, 1, 3])
    @pytest.mark.parametrize("key", [TDES2, TDES3], ids=["2-key", "3-key"])
    def test_formats_0_1_3(self, fmt, key):
        for pin, pan, rng in random_cases(fmt * 100 + len(key), 60):
            if fmt == 3:
                fill = bytes(rng.choice(b"\xaa\xbb\xcc\xdd\xee\xff\xab\xcd") for _ in range(8))
            else:
                fill = bytes(rng.randrange(256) for _ in range(8))
            block = tranpak.pin_block(fmt, key, pin, pan, fill=fill)
            assert block == ref_pin_block(fmt, key, pin, pan, fill), (fmt, len(pin), len(pan))
            assert tranpak.pin_from_block(fmt, key, block, pan) == pin

    def test_format_4(self):
        rng = random.Random(4)
        for pin, pan, _ in random_cases(44, 60):
            key = bytes(rng.randrange(256) for _ in range(rng.choice([16, 24, 32])))
            pan = pan[:rng.randint(1, 19)]
            fill = bytes(rng.randrange(256) for _ in range(8))
            block = tranpak.pin_block(4, key, pin, pan, fill=fill)
            assert block == ref_pin_block(4, key, pin, pan, fill)
            assert tranpak.pin_from_block(4, key, block, pan) == pin

    def test_format_4_of_pin_1234_and_pan_4111111111111111(self):
        # The X9.24-3 supplement's PIN and PAN, under the AES PIN key of its
        # first KSN: both implementations agree, and the block reads back.
        bdk, ksn = "FEDCBA9876543210F1F1F1F1F1F1F1F1", "123456789012345600000001"
        key = tranpak.dukpt_derive_key("aes", bdk, ksn, "pin")
        assert key == ref_aes_key(bytes.fromhex(bdk), bytes.fromhex(ksn), 0x1000, 2)
        fill = bytes.fromhex("0123456789ABCDEF")
        block = tranpak.pin_block(4, key, "1234", "4111111111111111", fill=fill)
        assert block == ref_pin_block(4, key, "1234", "4111111111111111", fill)
        assert tranpak.pin_check(4, key, block, "4111111111111111", "1234")
        assert not tranpak.pin_check(4, key, block, "4111111111111111", "1243")

    def test_tdes_dukpt_keys_of_many_counters(self):
        bdk = TDES2
        rng = random.Random(21)
        for _ in range(40):
            counter = 0
            while bin(counter).count("1") == 0 or bin(counter).count("1") > 10:
                counter = rng.randrange(1, 1 << 21)
            ksn = bytes.fromhex("FFFF9876543210E00000")[:7] + (0xE00000 | counter).to_bytes(3, "big")
            want = ref_tdes_key(bdk, ksn)
            assert tranpak.dukpt_derive_key("tdes", bdk, ksn, "transaction") == want
            pin_key = tranpak.dukpt_derive_key("tdes", bdk, ksn, "pin")
            assert pin_key == xor(want, bytes.fromhex("00000000000000FF00000000000000FF"))

    @pytest.mark.parametrize("usage, code", [("pin", 0x1000), ("mac-request", 0x2000), ("mac-response", 0x2001),
                                             ("data-request", 0x3000), ("data-response", 0x3001),
                                             ("mac-both", 0x2002), ("data-both", 0x3002),
                                             ("key-encryption", 0x0002)])
    @pytest.mark.parametrize("bdk_len, key_type, type_code",
                             [(16, "aes128", 2), (32, "aes256", 4), (16, "3tdea", 1), (24, "aes192", 3)])
    def test_aes_dukpt_working_keys(self, usage, code, bdk_len, key_type, type_code):
        bdk = bytes(range(bdk_len))
        for counter in (1, 0x1FFFE, 0xFFFF0000):
            ksn = bytes.fromhex("1234567890123456") + counter.to_bytes(4, "big")
            want = ref_aes_key(bdk, ksn, code, type_code)
            assert tranpak.dukpt_derive_key("aes", bdk, ksn, usage, key_type) == want


class TestPublishedVectors:
    def test_x9_24_1_annex_a(self):
        bdk, ksn = "0123456789ABCDEFFEDCBA9876543210", "FFFF9876543210E00000"
        assert tranpak.dukpt_initial_key("tdes", bdk, ksn).hex().upper() == "6AC292FAA1315B4D858AB3A3D7D5933A"
        key = tranpak.dukpt_derive_key("tdes", bdk, "FFFF9876543210E00001", "pin")
        assert tranpak.pin_block(0, key, "1234", "4012345678909").hex().upper() == "1B9C1845EB993A7A"

    def test_x9_24_3_initial_keys(self):
        bdk = "FEDCBA9876543210F1F1F1F1F1F1F1F1"
        assert tranpak.dukpt_initial_key("aes", bdk, "1234567890123456").hex().upper() == \
            "1273671EA26AC29AFA4D1084127652A1"
        key = tranpak.dukpt_derive_key("aes", bdk, "123456789012345600000001", "transaction")
        assert key.hex().upper() == "4F21B565BAD9835E112B6465635EAE44"

    def test_format_4_published_example(self):
        block = tranpak.pin_block(4, "00112233445566778899AABBCCDDEEFF", "1234", "1234567890123456789",
                                  fill=b"\xff" * 8)
        assert block.hex().upper() == "28B41FDDD29B743E93124BD8E32D921E"


class TestTerminalAndRefusals:
    def test_a_terminal_gives_the_hosts_keys(self):
        bdk, ksn0 = TDES2, bytes.fromhex("FFFF9876543210E00000")
        terminal = tranpak.DukptTerminal("tdes", tranpak.dukpt_initial_key("tdes", bdk, ksn0), ksn0)
        for n in range(1, 30):
            key, ksn = terminal.key("pin")
            assert int.from_bytes(ksn[-3:], "big") & 0x1FFFFF == n
            assert key == tranpak.dukpt_derive_key("tdes", bdk, ksn, "pin")
            terminal.advance()
        terminal.wipe()
        with pytest.raises(ArgumentError):
            terminal.key()

    @pytest.mark.parametrize("call", [
        lambda: tranpak.pin_block(0, TDES2[:8], "1234", "4111111111111111"),  # single DES
        lambda: tranpak.pin_block(4, TDES2 + b"1234", "1234", "4111111111111111"),
        lambda: tranpak.pin_block(0, TDES2, "123", "4111111111111111"),
        lambda: tranpak.pin_block(0, TDES2, "1234567890123", "4111111111111111"),
        lambda: tranpak.pin_block(3, TDES2, "1234", "411111111111"),
        lambda: tranpak.pin_block(2, TDES2, "1234", "4111111111111111"),
        lambda: tranpak.pin_block(3, TDES2, "1234", "4111111111111111", fill=b"\x12" * 8),
        lambda: tranpak.pin_from_block(0, TDES2, b"\0" * 8, "4111111111111111"),
        lambda: tranpak.dukpt_derive_key("tdes", TDES2, "FFFF9876543210E007FF"),  # eleven 1-bits
        lambda: tranpak.dukpt_derive_key("aes", TDES2, "12345678901234560001FFFF"),  # seventeen
        lambda: tranpak.dukpt_derive_key("aes", TDES2, "123456789012345600000001", "pin", "aes256"),
        # A NUL would end the text where the library reads it: not "1234".
        lambda: tranpak.pin_block(0, TDES2, "1234\x005678", "4111111111111111"),
        lambda: tranpak.pin_block(0, TDES2, "5678", "4111111111111111\x00zz"),
        lambda: tranpak.pin_check(0, TDES2, tranpak.pin_block(0, TDES2, "1234", "4111111111111111"),
                                  "4111111111111111", "1234\x005678"),
    ])
    def test_refused(self, call):
        with pytest.raises(ArgumentError) as e:
            call()
        assert "1234" not in str(e.value)
