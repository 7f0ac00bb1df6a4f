// PIN blocks (ISO 9564-1), DUKPT (X9.24-1 and X9.24-3) and the AES
// inverse cipher they need, against the published vectors kept as data in
// tests/data/, and the arguments and blocks they refuse.
#include "crypto/aes.h"
#include "crypto/dukpt.h"
#include "crypto/mac_algorithms.h"
#include "support/scratch_dir.h"
#include "support/vector_file.h"
#include "tranpak.h"

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace tranpak::test {
namespace {

const unsigned char *Bytes(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.data()); }
int Len(const std::string &s) { return static_cast<int>(s.size()); }
std::string Hx(const std::string &bytes) { return Hex(bytes.data(), bytes.size()); }
std::string Hx(const unsigned char *p, int n) { return Hex(p, static_cast<size_t>(n)); }

std::vector<AesPath> AesPaths()
{
    std::vector<AesPath> paths = {AesPath::kPortable};
    if (AesInstructionsAvailable())
        paths.push_back(AesPath::kInstructions);
    return paths;
}

// FIPS 197 Appendix C runs each example through the inverse cipher too:
// the ciphertext decrypts to the plaintext on every path.
TEST(AesDecrypt, Fips197ExamplesOnEveryPath)
{
    const std::vector<VectorLine> vectors = ReadVectorFile("aes_vectors.txt");
    ASSERT_EQ(vectors.size(), 3u);
    for (AesPath path : AesPaths()) {
        for (const VectorLine &v : vectors) {
            const std::string key = Unhex(v.fields[0]), plain = Unhex(v.fields[1]), cipher = Unhex(v.fields[2]);
            AesKey k;
            ASSERT_TRUE(AesKeyScheduleOn(path, Bytes(key), Len(key), k));
            unsigned char out[16];
            AesDecrypt(k, Bytes(cipher), out);
            EXPECT_EQ(Hx(out, 16), Hx(plain)) << v.where;
            AesDecrypt(k, Bytes(cipher), out);  // in place as well
            std::memcpy(out, cipher.data(), 16);
            AesDecrypt(k, out, out);
            EXPECT_EQ(Hx(out, 16), Hx(plain)) << v.where << " in place";
        }
    }
}

// Every byte value through the S-box and back, on both paths, over many
// blocks: decryption undoes encryption and the two paths agree.
TEST(AesDecrypt, UndoesEncryptionAndPathsAgree)
{
    for (int keyLen : {16, 24, 32}) {
        unsigned char key[32], block[16], enc[16], dec[16];
        for (int i = 0; i < 32; ++i)
            key[i] = static_cast<unsigned char>(i * 37 + keyLen);
        std::map<std::string, std::string> seen;
        for (int n = 0; n < 64; ++n) {
            for (int i = 0; i < 16; ++i)
                block[i] = static_cast<unsigned char>(n * 16 + i);
            for (AesPath path : AesPaths()) {
                AesKey k;
                ASSERT_TRUE(AesKeyScheduleOn(path, key, keyLen, k));
                AesEncrypt(k, block, enc);
                AesDecrypt(k, enc, dec);
                EXPECT_EQ(Hx(dec, 16), Hx(block, 16)) << keyLen << " " << n;
                AesDecrypt(k, block, dec);
                const std::string id = std::to_string(keyLen) + "/" + std::to_string(n);
                if (seen.count(id))
                    EXPECT_EQ(seen[id], Hx(dec, 16)) << "the paths disagree at " << id;
                seen[id] = Hx(dec, 16);
            }
        }
    }
}

// tests/data/pin_block_vectors.txt: blocks made, read and refused.
TEST(PinBlock, PublishedBlocks)
{
    const std::vector<VectorLine> vectors = ReadVectorFile("pin_block_vectors.txt");
    ASSERT_EQ(vectors.size(), 10u);
    int made = 0, read = 0, refused = 0;
    for (const VectorLine &v : vectors) {
        const auto &f = v.fields;
        const int format = std::stoi(f[1]);
        const std::string key = Unhex(f[2]);
        unsigned char block[TP_PIN_BLOCK_MAX];
        char pin[TP_PIN_MAX_DIGITS + 1];
        if (f[0] == "make") {
            ASSERT_EQ(f.size(), 7u) << v.where;
            const std::string fill = f[5] == "-" ? "" : Unhex(f[5]);
            ASSERT_EQ(TpPinBlockWithFill(format, key.data(), Len(key), f[3].c_str(), f[4].c_str(),
                                         fill.empty() ? nullptr : Bytes(fill), block),
                      0)
                << v.where;
            EXPECT_EQ(Hx(block, Len(Unhex(f[6]))), Hx(Unhex(f[6]))) << v.where;
            ++made;
        } else if (f[0] == "read") {
            ASSERT_EQ(f.size(), 6u) << v.where;
            const std::string b = Unhex(f[3]);
            ASSERT_EQ(TpPinFromBlock(format, key.data(), Len(key), Bytes(b), f[4].c_str(), pin, sizeof pin), 0)
                << v.where;
            EXPECT_STREQ(pin, f[5].c_str()) << v.where;
            EXPECT_EQ(TpPinCheck(format, key.data(), Len(key), Bytes(b), f[4].c_str(), f[5].c_str()), 0) << v.where;
            ++read;
        } else {
            ASSERT_EQ(f[0], "refuse") << v.where;
            const std::string b = Unhex(f[3]);
            std::strcpy(pin, "untouched");
            EXPECT_EQ(TpPinFromBlock(format, key.data(), Len(key), Bytes(b), f[4].c_str(), pin, sizeof pin), -1)
                << v.where;
            EXPECT_EQ(TpPinCheck(format, key.data(), Len(key), Bytes(b), f[4].c_str(), "1234"), -1) << v.where;
            ++refused;
        }
    }
    EXPECT_EQ(made, 2);
    EXPECT_EQ(read, 4);
    EXPECT_EQ(refused, 4);
}

const std::string kTdesKey = Unhex("0123456789ABCDEFFEDCBA9876543210");
const std::string kAesKey = Unhex("00112233445566778899AABBCCDDEEFF");
const std::string kPan = "4111111111111111";
const unsigned char kFill[TP_PIN_FILL_SIZE] = {0xAB, 0xCD, 0xEF, 0xAB, 0xCD, 0xEF, 0xAB, 0xCD};

// Each argument a block is refused for, each alone wrong.
TEST(PinBlock, RefusesWrongArguments)
{
    struct Case {
        const char *what;
        int format;
        std::string key;
        const char *pin, *pan;
    } cases[] = {
        {"format 2", 2, kTdesKey, "1234", kPan.c_str()},
        {"format 5", 5, kAesKey, "1234", kPan.c_str()},
        {"single DES key", 0, kTdesKey.substr(0, 8), "1234", kPan.c_str()},
        {"TDES key of 15", 3, kTdesKey.substr(0, 15), "1234", kPan.c_str()},
        {"AES key for format 0 (32)", 0, kAesKey + kAesKey, "1234", kPan.c_str()},
        {"AES key of 20", 4, kAesKey + "1234", "1234", kPan.c_str()},
        {"PIN of 3", 0, kTdesKey, "123", kPan.c_str()},
        {"PIN of 13", 4, kAesKey, "1234567890123", kPan.c_str()},
        {"PIN with a letter", 1, kTdesKey, "12a4", kPan.c_str()},
        {"PIN empty", 3, kTdesKey, "", kPan.c_str()},
        {"PIN NULL", 0, kTdesKey, nullptr, kPan.c_str()},
        {"PAN of 12 (format 0)", 0, kTdesKey, "1234", "411111111111"},
        {"PAN of 12 (format 3)", 3, kTdesKey, "1234", "411111111111"},
        {"PAN of 20", 0, kTdesKey, "1234", "41111111111111111111"},
        {"PAN of 20 (format 4)", 4, kAesKey, "1234", "41111111111111111111"},
        {"PAN empty (format 4)", 4, kAesKey, "1234", ""},
        {"PAN with a blank", 0, kTdesKey, "1234", "4111 111111111111"},
        {"PAN NULL", 0, kTdesKey, "1234", nullptr},
    };
    for (const Case &c : cases) {
        unsigned char block[TP_PIN_BLOCK_MAX];
        std::memset(block, 0x5A, sizeof block);
        EXPECT_EQ(TpPinBlock(c.format, c.key.data(), Len(c.key), c.pin, c.pan, block), -1) << c.what;
        EXPECT_EQ(TpPinBlockWithFill(c.format, c.key.data(), Len(c.key), c.pin, c.pan, kFill, block), -1) << c.what;
        EXPECT_EQ(Hx(block, 16), std::string(16 * 3 - 1, ' ').replace(0, 47, Hx(std::string(16, '\x5A'))))
            << c.what << ": written to";
        char pin[TP_PIN_MAX_DIGITS + 1];
        if (c.pin != nullptr && std::strcmp(c.what, "PIN of 3") != 0 && std::strncmp(c.what, "PIN", 3) != 0)
            EXPECT_EQ(TpPinFromBlock(c.format, c.key.data(), Len(c.key), block, c.pan, pin, sizeof pin), -1) << c.what;
    }
    // Format 1 needs no PAN; format 3's fill must be A to F; the room for a PIN.
    unsigned char block[TP_PIN_BLOCK_MAX];
    EXPECT_EQ(TpPinBlock(1, kTdesKey.data(), 16, "1234", nullptr, block), 0);
    const unsigned char digitsFill[TP_PIN_FILL_SIZE] = {0xAB, 0xC9, 0xEF, 0xAB, 0xCD, 0xEF, 0xAB, 0xCD};
    EXPECT_EQ(TpPinBlockWithFill(3, kTdesKey.data(), 16, "123456789012", kPan.c_str(), digitsFill, block), 0)
        << "fill nibbles past the PIN's are not taken";
    EXPECT_EQ(TpPinBlockWithFill(3, kTdesKey.data(), 16, "1234", kPan.c_str(), digitsFill, block), -1);
    EXPECT_EQ(TpPinBlockWithFill(4, kAesKey.data(), 16, "1234", kPan.c_str(), nullptr, block), -1);
    ASSERT_EQ(TpPinBlock(0, kTdesKey.data(), 16, "1234", kPan.c_str(), block), 0);
    char small[TP_PIN_MAX_DIGITS];
    EXPECT_EQ(TpPinFromBlock(0, kTdesKey.data(), 16, block, kPan.c_str(), small, sizeof small), -1);
    EXPECT_EQ(TpPinCheck(0, kTdesKey.data(), 16, block, kPan.c_str(), "123"), -1);
    EXPECT_EQ(TpPinCheck(0, kTdesKey.data(), 16, nullptr, kPan.c_str(), "1234"), -1);
}

// The PIN field in clear, for looking at its fill.
std::string ClearField(int format, const std::string &key, const unsigned char *block, const char *pan)
{
    unsigned char out[16] = {};
    if (format == 4) {
        AesKey k;
        AesKeySchedule(Bytes(key), Len(key), k);
        AesDecrypt(k, block, out);
        return Hx(out, 16);  // still XORed with the PAN field: enough to tell blocks apart
    }
    DesCipher c;
    DesCipherSetup(c, Bytes(key), Len(key));
    DesCipherDecrypt(c, block, out);
    if (format == 3) {
        // Undo the PAN field: 0000 and the 12 digits left of the check digit.
        const std::string twelve = std::string(pan).substr(std::strlen(pan) - 13, 12);
        const std::string field = Unhex("0000" + twelve);
        for (int i = 0; i < 8; ++i)
            out[i] ^= static_cast<unsigned char>(field[static_cast<size_t>(i)]);
    }
    return Hx(out, 8);
}

// Random fill: blocks of formats 1, 3 and 4 differ from one call to the
// next and still read back; format 3's fill is A to F; format 0 has none.
TEST(PinBlock, RandomFillDiffersAndReadsBack)
{
    struct Case {
        int format;
        std::string key;
    } cases[] = {{0, kTdesKey}, {1, kTdesKey}, {3, kTdesKey + kTdesKey.substr(0, 8)}, {4, kAesKey}};
    for (const Case &c : cases) {
        const int size = c.format == 4 ? 16 : 8;
        std::map<std::string, int> blocks;
        for (int n = 0; n < 16; ++n) {
            unsigned char block[TP_PIN_BLOCK_MAX];
            ASSERT_EQ(TpPinBlock(c.format, c.key.data(), Len(c.key), "98765", kPan.c_str(), block), 0);
            ++blocks[Hx(block, size)];
            char pin[TP_PIN_MAX_DIGITS + 1];
            ASSERT_EQ(TpPinFromBlock(c.format, c.key.data(), Len(c.key), block, kPan.c_str(), pin, sizeof pin), 0);
            EXPECT_STREQ(pin, "98765");
            EXPECT_EQ(TpPinCheck(c.format, c.key.data(), Len(c.key), block, kPan.c_str(), "98765"), 0);
            EXPECT_EQ(TpPinCheck(c.format, c.key.data(), Len(c.key), block, kPan.c_str(), "98766"), 1);
            EXPECT_EQ(TpPinCheck(c.format, c.key.data(), Len(c.key), block, kPan.c_str(), "987650"), 1);
            if (c.format == 3) {
                const std::string field = ClearField(3, c.key, block, kPan.c_str());
                // "35 98 76 5X XX ..": nibbles 7 to 15 are the fill.
                std::string nibbles;
                for (char ch : field)
                    if (ch != ' ')
                        nibbles += ch;
                for (size_t i = 7; i < 16; ++i)
                    EXPECT_TRUE(nibbles[i] >= 'A' && nibbles[i] <= 'F') << nibbles;
            }
        }
        if (c.format == 0)
            EXPECT_EQ(blocks.size(), 1u);
        else
            EXPECT_EQ(blocks.size(), 16u) << "format " << c.format;
    }
}

// A block read with another PAN or key, or changed in one bit, gives no
// PIN or another one: never the PIN silently. (The other PAN differs in a
// digit over the PIN's nibbles: format 3 cannot tell a PAN that differs
// only over its fill, which takes any nibble A to F.)
TEST(PinBlock, WrongPanKeyOrBitIsNotThePin)
{
    for (int format : {0, 3, 4}) {
        const std::string key = format == 4 ? kAesKey : kTdesKey;
        const int size = format == 4 ? 16 : 8;
        unsigned char block[TP_PIN_BLOCK_MAX];
        ASSERT_EQ(TpPinBlockWithFill(format, key.data(), Len(key), "2468", kPan.c_str(), kFill, block), 0);
        EXPECT_NE(TpPinCheck(format, key.data(), Len(key), block, "4111511111111111", "2468"), 0) << format;
        std::string other = key;
        other[3] ^= 0x40;
        EXPECT_NE(TpPinCheck(format, other.data(), Len(other), block, kPan.c_str(), "2468"), 0) << format;
        for (int bit = 0; bit < 8 * size; bit += 7) {
            unsigned char changed[TP_PIN_BLOCK_MAX];
            std::memcpy(changed, block, sizeof changed);
            changed[bit / 8] ^= static_cast<unsigned char>(1 << (bit % 8));
            EXPECT_NE(TpPinCheck(format, key.data(), Len(key), changed, kPan.c_str(), "2468"), 0)
                << format << " bit " << bit;
        }
    }
}

std::map<std::string, int> kUsages = {{"MAC_GENERATION", TP_DUKPT_MAC_REQUEST},
                                      {"MAC_VERIFICATION", TP_DUKPT_MAC_RESPONSE},
                                      {"DATA_ENCRYPTION", TP_DUKPT_DATA_REQUEST},
                                      {"DATA_DECRYPTION", TP_DUKPT_DATA_RESPONSE}};

std::string Derive(int kind, const std::string &bdk, const std::string &ksn, int usage, int keyType)
{
    const int len = keyType == TP_DUKPT_KEY_AES256 ? 32 : keyType == TP_DUKPT_KEY_2TDEA ? 16 : keyType == 2 ? 16 : 24;
    unsigned char key[TP_DUKPT_MAX_KEY];
    if (TpDukptDeriveKey(kind, bdk.data(), Len(bdk), ksn.data(), Len(ksn), usage, keyType, key, len) != 0)
        return "refused";
    return Hx(key, len);
}

// X9.24-1:2009 Annex A (tests/data/dukpt_tdes_vectors.txt): the IPEK, each
// counter's key, and the PIN block under its PIN variant.
TEST(DukptTdes, AnnexAVectors)
{
    const std::vector<VectorLine> vectors = ReadVectorFile("dukpt_tdes_vectors.txt");
    ASSERT_EQ(vectors.size(), 35u);
    for (const VectorLine &v : vectors) {
        const auto &f = v.fields;
        const std::string bdk = Unhex(f[1]), ksn = Unhex(f[2]);
        if (f[0] == "ipek") {
            unsigned char ipek[16];
            ASSERT_EQ(TpDukptInitialKey(TP_DUKPT_TDES, bdk.data(), 16, ksn.data(), 10, ipek, 16), 0);
            EXPECT_EQ(Hx(ipek, 16), Hx(Unhex(f[3]))) << v.where;
            continue;
        }
        ASSERT_EQ(f.size(), 5u) << v.where;
        EXPECT_EQ(Derive(TP_DUKPT_TDES, bdk, ksn, TP_DUKPT_TRANSACTION, TP_DUKPT_KEY_2TDEA), Hx(Unhex(f[3])))
            << v.where;
        unsigned char pinKey[16], block[8];
        ASSERT_EQ(TpDukptDeriveKey(TP_DUKPT_TDES, bdk.data(), 16, ksn.data(), 10, TP_DUKPT_PIN, TP_DUKPT_KEY_2TDEA,
                                   pinKey, 16),
                  0);
        ASSERT_EQ(TpPinBlock(TP_PIN_FORMAT_0, pinKey, 16, "1234", "4012345678909", block), 0);
        EXPECT_EQ(Hx(block, 8), Hx(Unhex(f[4]))) << v.where;
    }
}

// The variants: each usage flips its own byte of each half of the key.
TEST(DukptTdes, VariantsOfEachUsage)
{
    const std::string bdk = Unhex("0123456789ABCDEFFEDCBA9876543210"), ksn = Unhex("FFFF9876543210E00001");
    const std::string tx = "04 26 66 B4 91 84 CF A3 68 DE 96 28 D0 39 7B C9";
    EXPECT_EQ(Derive(TP_DUKPT_TDES, bdk, ksn, TP_DUKPT_PIN, 0), "04 26 66 B4 91 84 CF 5C 68 DE 96 28 D0 39 7B 36");
    EXPECT_EQ(Derive(TP_DUKPT_TDES, bdk, ksn, TP_DUKPT_MAC_REQUEST, 0),
              "04 26 66 B4 91 84 30 A3 68 DE 96 28 D0 39 84 C9");
    EXPECT_EQ(Derive(TP_DUKPT_TDES, bdk, ksn, TP_DUKPT_MAC_RESPONSE, 0),
              "04 26 66 B4 6E 84 CF A3 68 DE 96 28 2F 39 7B C9");
    EXPECT_EQ(Derive(TP_DUKPT_TDES, bdk, ksn, TP_DUKPT_DATA_REQUEST, 0),
              "04 26 66 B4 91 7B CF A3 68 DE 96 28 D0 C6 7B C9");
    EXPECT_EQ(Derive(TP_DUKPT_TDES, bdk, ksn, TP_DUKPT_DATA_RESPONSE, 0),
              "04 26 66 4B 91 84 CF A3 68 DE 96 D7 D0 39 7B C9");
    EXPECT_EQ(Derive(TP_DUKPT_TDES, bdk, ksn, TP_DUKPT_TRANSACTION, 0), tx);
    // What triple DES DUKPT does not have, and key types it does not make.
    for (int usage : {int{TP_DUKPT_MAC_BOTH}, int{TP_DUKPT_DATA_BOTH}, int{TP_DUKPT_KEY_ENCRYPTION}, 9, -1})
        EXPECT_EQ(Derive(TP_DUKPT_TDES, bdk, ksn, usage, 0), "refused") << usage;
    EXPECT_EQ(Derive(TP_DUKPT_TDES, bdk, ksn, TP_DUKPT_PIN, TP_DUKPT_KEY_AES128), "refused");
    EXPECT_EQ(Derive(TP_DUKPT_TDES, bdk, ksn, TP_DUKPT_PIN, TP_DUKPT_KEY_3TDEA), "refused");
}

// The counter's rule (X9.24-1): 1 to 21 bits, at most ten of them 1.
TEST(DukptTdes, CountersATerminalNeverUsesAreRefused)
{
    const std::string bdk = Unhex("0123456789ABCDEFFEDCBA9876543210");
    struct Case {
        const char *ksn;
        bool usable;
    } cases[] = {
        {"FFFF9876543210E00000", false},  // counter 0: the initial KSN
        {"FFFF9876543210E003FF", true},   // ten 1-bits
        {"FFFF9876543210E007FF", false},  // eleven
        {"FFFF9876543210FFFC00", false},  // 0x1FFC00: eleven, high up
        {"FFFF9876543210FFFFFF", false},  // all 21
        {"FFFF9876543210FFF800", true},   // 0x1FF800: ten, the last counter
        {"FFFF9876543210F00000", true},   // 0x100000: one
    };
    for (const Case &c : cases) {
        const std::string ksn = Unhex(c.ksn);
        const uint32_t counter = DukptTdesCounter(Bytes(ksn));
        const bool usable = Derive(TP_DUKPT_TDES, bdk, ksn, TP_DUKPT_PIN, 0) != "refused";
        EXPECT_EQ(usable, c.usable) << c.ksn << " counter " << counter;
        EXPECT_EQ(DukptTdesCounterUsable(counter), c.usable) << c.ksn;
    }
    // Lengths: KSN of 10 only, BDK of 16 or 24.
    EXPECT_EQ(Derive(TP_DUKPT_TDES, bdk, Unhex("FFFF9876543210E0000100"), TP_DUKPT_PIN, 0), "refused");
    EXPECT_EQ(Derive(TP_DUKPT_TDES, bdk.substr(0, 8), Unhex("FFFF9876543210E00001"), TP_DUKPT_PIN, 0), "refused");
    EXPECT_NE(Derive(TP_DUKPT_TDES, bdk + bdk.substr(0, 8), Unhex("FFFF9876543210E00001"), TP_DUKPT_PIN, 0), "refused");
}

// A terminal loaded with the IPEK walks every counter it may use, the
// Annex's among them, and runs out after 1,048,575 of them.
TEST(DukptTdes, TerminalWalksEveryCounterAndRunsOut)
{
    std::map<std::string, std::string> annex;  // KSN -> transaction key
    for (const VectorLine &v : ReadVectorFile("dukpt_tdes_vectors.txt"))
        if (v.fields[0] == "key")
            annex[Hx(Unhex(v.fields[2]))] = Hx(Unhex(v.fields[3]));
    const std::string bdk = Unhex("0123456789ABCDEFFEDCBA9876543210"), ksn0 = Unhex("FFFF9876543210E00000");
    unsigned char ipek[16];
    ASSERT_EQ(TpDukptInitialKey(TP_DUKPT_TDES, bdk.data(), 16, ksn0.data(), 10, ipek, 16), 0);
    static TpDukptTerminal t;
    EXPECT_EQ(TpDukptTerminalLoad(&t, TP_DUKPT_TDES, ipek, 16, Unhex("FFFF9876543210E00001").data(), 10), -1)
        << "a KSN past its start";
    ASSERT_EQ(TpDukptTerminalLoad(&t, TP_DUKPT_TDES, ipek, 16, ksn0.data(), 10), 0);
    long count = 0, matched = 0;
    uint32_t last = 0;
    bool ordered = true;
    for (;;) {
        unsigned char key[16], ksn[10];
        ASSERT_EQ(TpDukptTerminalKey(&t, TP_DUKPT_TRANSACTION, TP_DUKPT_KEY_2TDEA, key, 16, ksn, 10), 0) << count;
        const uint32_t counter = DukptTdesCounter(ksn);
        ordered = ordered && counter > last && DukptTdesCounterUsable(counter);
        last = counter;
        const auto it = annex.find(Hx(ksn, 10));
        if (it != annex.end()) {
            EXPECT_EQ(Hx(key, 16), it->second) << Hx(ksn, 10);
            ++matched;
        }
        ++count;
        if (TpDukptTerminalAdvance(&t) != 0)
            break;
    }
    EXPECT_TRUE(ordered);
    EXPECT_EQ(count, 1048575);
    EXPECT_EQ(matched, 34);
    EXPECT_EQ(last, 0x1FF800u);
    unsigned char key[16];
    EXPECT_EQ(TpDukptTerminalKey(&t, TP_DUKPT_PIN, TP_DUKPT_KEY_2TDEA, key, 16, nullptr, 0), -1);
    EXPECT_EQ(TpDukptTerminalAdvance(&t), -1);
    EXPECT_EQ(TpDukptTerminalWipe(&t), 0);
    EXPECT_EQ(Hx(t.opaque.bytes, 16), Hx(std::string(16, '\0')));
}

// The X9.24-3 supplement (tests/data/dukpt_aes_vectors.txt): initial keys,
// the counters' keys, and MAC and data working keys.
TEST(DukptAes, SupplementVectors)
{
    const std::vector<VectorLine> vectors = ReadVectorFile("dukpt_aes_vectors.txt");
    ASSERT_EQ(vectors.size(), 42u);
    for (const VectorLine &v : vectors) {
        const auto &f = v.fields;
        const std::string bdk = Unhex(f[1]), id = Unhex(f[2]);
        const int type = bdk.size() == 32 ? TP_DUKPT_KEY_AES256 : TP_DUKPT_KEY_AES128;
        if (f[0] == "ik") {
            unsigned char ik[32];
            ASSERT_EQ(TpDukptInitialKey(TP_DUKPT_AES, bdk.data(), Len(bdk), id.data(), 8, ik, Len(bdk)), 0);
            EXPECT_EQ(Hx(ik, Len(bdk)), Hx(Unhex(f[3]))) << v.where;
            const std::string ksn = id + std::string(4, '\0');
            ASSERT_EQ(TpDukptInitialKey(TP_DUKPT_AES, bdk.data(), Len(bdk), ksn.data(), 12, ik, Len(bdk)), 0);
            EXPECT_EQ(Hx(ik, Len(bdk)), Hx(Unhex(f[3]))) << v.where << " from a KSN";
        } else if (f[0] == "key") {
            EXPECT_EQ(Derive(TP_DUKPT_AES, bdk, id, TP_DUKPT_TRANSACTION, type), Hx(Unhex(f[3]))) << v.where;
        } else {
            const std::string key = Unhex(Derive(TP_DUKPT_AES, bdk, id, kUsages.at(f[3]), TP_DUKPT_KEY_AES128));
            const std::string data = Unhex(f[4]);
            unsigned char out[64] = {};
            if (f[0] == "cmac") {
                ASSERT_EQ(TpMac(TP_MAC_AES_CMAC, 0, key.data(), 16, data.data(), Len(data), out, 16), 0);
                EXPECT_EQ(Hx(out, 16), Hx(Unhex(f[5]))) << v.where;
                continue;
            }
            ASSERT_EQ(f[0], "cbc") << v.where;
            AesKey k;
            AesKeySchedule(Bytes(key), 16, k);
            unsigned char chain[16] = {};
            const int blocks = (Len(data) + 15) / 16;
            std::memcpy(out, data.data(), data.size());
            for (int b = 0; b < blocks; ++b) {
                for (int i = 0; i < 16; ++i)
                    chain[i] ^= out[16 * b + i];
                AesEncrypt(k, chain, chain);
                std::memcpy(out + 16 * b, chain, 16);
            }
            EXPECT_EQ(Hx(out, 16 * blocks), Hx(Unhex(f[5]))) << v.where;
        }
    }
}

// The AES counter's rule (X9.24-3): at most sixteen 1-bits of 32; working
// keys no longer than the BDK; each usage its own key.
TEST(DukptAes, CountersKeyTypesAndUsages)
{
    const std::string bdk = Unhex("FEDCBA9876543210F1F1F1F1F1F1F1F1");
    const char *id = "1234567890123456";
    struct Case {
        const char *counter;
        bool usable;
    } cases[] = {{"00000000", false}, {"0001FFFF", false}, {"0000FFFF", true},
                 {"FFFF0000", true},  {"FFFF8000", false}, {"80000000", true}};
    for (const Case &c : cases)
        EXPECT_EQ(Derive(TP_DUKPT_AES, bdk, Unhex(std::string(id) + c.counter), TP_DUKPT_PIN, TP_DUKPT_KEY_AES128) !=
                      "refused",
                  c.usable)
            << c.counter;
    const std::string ksn = Unhex(std::string(id) + "00000001");
    EXPECT_EQ(Derive(TP_DUKPT_AES, bdk, ksn, TP_DUKPT_PIN, TP_DUKPT_KEY_AES256), "refused");
    EXPECT_EQ(Derive(TP_DUKPT_AES, bdk, ksn, TP_DUKPT_PIN, TP_DUKPT_KEY_AES192), "refused");
    EXPECT_EQ(Derive(TP_DUKPT_AES, bdk, ksn, TP_DUKPT_TRANSACTION, TP_DUKPT_KEY_2TDEA), "refused");
    EXPECT_NE(Derive(TP_DUKPT_AES, bdk, ksn, TP_DUKPT_PIN, TP_DUKPT_KEY_2TDEA), "refused");
    EXPECT_NE(Derive(TP_DUKPT_AES, bdk, ksn, TP_DUKPT_PIN, TP_DUKPT_KEY_3TDEA), "refused")
        << "112 bits from a 128-bit key";
    EXPECT_NE(Derive(TP_DUKPT_AES, bdk + bdk, ksn, TP_DUKPT_PIN, TP_DUKPT_KEY_AES256), "refused");
    EXPECT_EQ(Derive(TP_DUKPT_AES, bdk, ksn.substr(0, 10), TP_DUKPT_PIN, TP_DUKPT_KEY_AES128), "refused");
    EXPECT_EQ(Derive(TP_DUKPT_AES, bdk, ksn, 9, TP_DUKPT_KEY_AES128), "refused");
    std::map<std::string, int> keys;
    for (int usage = 0; usage <= TP_DUKPT_KEY_ENCRYPTION; ++usage)
        ++keys[Derive(TP_DUKPT_AES, bdk, ksn, usage, TP_DUKPT_KEY_AES128)];
    EXPECT_EQ(keys.size(), 9u);
    EXPECT_EQ(keys.count("refused"), 0u);
}

// An AES terminal gives the supplement's keys for its first counters, and
// the same working keys as the host's derivation.
TEST(DukptAes, TerminalMatchesTheHost)
{
    for (const std::string &bdk : {Unhex("FEDCBA9876543210F1F1F1F1F1F1F1F1"),
                                   Unhex("FEDCBA9876543210F1F1F1F1F1F1F1F1FEDCBA9876543210F1F1F1F1F1F1F1F1")}) {
        const std::string ksn0 = Unhex("123456789012345600000000");
        unsigned char ik[32];
        ASSERT_EQ(TpDukptInitialKey(TP_DUKPT_AES, bdk.data(), Len(bdk), ksn0.data(), 12, ik, Len(bdk)), 0);
        TpDukptTerminal t;
        ASSERT_EQ(TpDukptTerminalLoad(&t, TP_DUKPT_AES, ik, Len(bdk), ksn0.data(), 12), 0);
        for (int n = 1; n <= 40; ++n) {
            unsigned char key[16], ksn[12];
            ASSERT_EQ(TpDukptTerminalKey(&t, TP_DUKPT_PIN, TP_DUKPT_KEY_AES128, key, 16, ksn, 12), 0);
            EXPECT_EQ(DukptAesCounter(ksn), static_cast<uint32_t>(n));
            const std::string k(reinterpret_cast<char *>(ksn), 12);
            EXPECT_EQ(Hx(key, 16), Derive(TP_DUKPT_AES, bdk, k, TP_DUKPT_PIN, TP_DUKPT_KEY_AES128)) << n;
            ASSERT_EQ(TpDukptTerminalKey(&t, TP_DUKPT_MAC_REQUEST, TP_DUKPT_KEY_AES128, key, 16, nullptr, 0), 0);
            EXPECT_EQ(Hx(key, 16), Derive(TP_DUKPT_AES, bdk, k, TP_DUKPT_MAC_REQUEST, TP_DUKPT_KEY_AES128)) << n;
            EXPECT_EQ(TpDukptTerminalKey(&t, TP_DUKPT_PIN, TP_DUKPT_KEY_AES128, key, 16, ksn, 10), -1);
            ASSERT_EQ(TpDukptTerminalAdvance(&t), 0);
        }
        TpDukptTerminalWipe(&t);
        unsigned char key[16];
        EXPECT_EQ(TpDukptTerminalKey(&t, TP_DUKPT_PIN, TP_DUKPT_KEY_AES128, key, 16, nullptr, 0), -1);
    }
}

// Storage that no Load filled, or that was overwritten after, is refused
// whole: no key comes of it and no key length read from it is copied.
TEST(DukptTerminal, StorageNotLoadedIsNeverReadAsOne)
{
    const std::string aesBdk = Unhex("FEDCBA9876543210F1F1F1F1F1F1F1F1"), aesKsn0 = Unhex("123456789012345600000000");
    const std::string tdesBdk = Unhex("0123456789ABCDEFFEDCBA9876543210"), tdesKsn0 = Unhex("FFFF9876543210E00000");
    unsigned char aesIk[16], ipek[16];
    ASSERT_EQ(TpDukptInitialKey(TP_DUKPT_AES, aesBdk.data(), 16, aesKsn0.data(), 12, aesIk, 16), 0);
    ASSERT_EQ(TpDukptInitialKey(TP_DUKPT_TDES, tdesBdk.data(), 16, tdesKsn0.data(), 10, ipek, 16), 0);
    struct {
        const char *what;
        void (*spoil)(DukptTerminal &);
        bool aes;
    } cases[] = {
        {"zeros", [](DukptTerminal &d) { std::memset(&d, 0, sizeof d); }, true},
        {"other bytes", [](DukptTerminal &d) { std::memset(&d, 0xA5, sizeof d); }, true},
        {"AES key length 1000", [](DukptTerminal &d) { d.keyLen = 1000; }, true},
        {"AES key length 8", [](DukptTerminal &d) { d.keyLen = 8; }, true},
        {"TDES key length 32", [](DukptTerminal &d) { d.keyLen = 32; }, false},
        {"TDES counter past 21 bits", [](DukptTerminal &d) { d.counter = 1u << 21; }, false},
    };
    for (auto &c : cases) {
        TpDukptTerminal t;
        if (c.aes)
            ASSERT_EQ(TpDukptTerminalLoad(&t, TP_DUKPT_AES, aesIk, 16, aesKsn0.data(), 12), 0);
        else
            ASSERT_EQ(TpDukptTerminalLoad(&t, TP_DUKPT_TDES, ipek, 16, tdesKsn0.data(), 10), 0);
        c.spoil(*reinterpret_cast<DukptTerminal *>(&t));
        unsigned char key[32] = {}, ksn[12] = {};
        EXPECT_EQ(TpDukptTerminalKey(&t, TP_DUKPT_TRANSACTION, TP_DUKPT_KEY_AES256, key, 32, nullptr, 0), -1) << c.what;
        EXPECT_EQ(TpDukptTerminalKey(&t, TP_DUKPT_PIN, TP_DUKPT_KEY_2TDEA, key, 16, ksn, c.aes ? 12 : 10), -1)
            << c.what;
        EXPECT_EQ(TpDukptTerminalAdvance(&t), -1) << c.what;
        EXPECT_EQ(Hx(key, 32), Hx(std::string(32, '\0'))) << c.what;
        TpDukptTerminalWipe(&t);
    }
}

}  // namespace
}  // namespace tranpak::test
