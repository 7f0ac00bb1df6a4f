// TpMac and TpKeyCheckValue against published vectors (kept as data in
// tests/data/), AES on each of its paths, and the arguments they refuse.
#include "crypto/aes.h"
#include "crypto/mac_algorithms.h"
#include "support/scratch_dir.h"
#include "support/vector_file.h"
#include "tranpak.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#  include <cpuid.h>
#endif

namespace tranpak::test {
namespace {

std::string Mac(int algorithm, int padding, const std::string &key, const std::string &data, int macLen)
{
    unsigned char mac[16];
    if (TpMac(algorithm, padding, key.data(), static_cast<int>(key.size()), data.data(), static_cast<int>(data.size()),
              mac, macLen) != 0)
        return "refused";
    return Hex(mac, static_cast<size_t>(macLen));
}

std::string Spaced(const std::string &hex) { return Hex(Unhex(hex).data(), Unhex(hex).size()); }

struct MacVector {
    std::string where;
    int algorithm, padding;
    std::string key, data, mac;  // bytes; the MAC's length is the one asked for
};

// The published MACs, kept as data (tests/data/): ISO/IEC 9797-1 Annex B's
// DES examples, then the CMAC examples of RFC 4493 and NIST SP 800-38B.
std::vector<MacVector> LoadMacVectors()
{
    std::vector<MacVector> out;
    for (const VectorLine &v : ReadVectorFile("iso9797_vectors.txt")) {
        const auto &f = v.fields;
        if (f.size() != 5 || (f[0] != "1" && f[0] != "3") || (f[1] != "1" && f[1] != "2")) {
            ADD_FAILURE() << v.where << ": not ALGORITHM PADDING KEY DATA MAC";
            continue;
        }
        out.push_back({v.where, f[0] == "1" ? TP_MAC_ISO9797_1_ALG1 : TP_MAC_ISO9797_1_ALG3,
                       f[1] == "1" ? TP_MAC_PAD1 : TP_MAC_PAD2, Unhex(f[2]), Unhex(f[3]), Unhex(f[4])});
    }
    for (const VectorLine &v : ReadVectorFile("cmac_vectors.txt")) {
        const auto &f = v.fields;
        if (f.size() != 4 || (f[0] != "AES" && f[0] != "TDES")) {
            ADD_FAILURE() << v.where << ": not CIPHER KEY MESSAGE MAC";
            continue;
        }
        out.push_back({v.where, f[0] == "AES" ? TP_MAC_AES_CMAC : TP_MAC_TDES_CMAC, 0, Unhex(f[1]),
                       f[2] == "-" ? std::string() : Unhex(f[2]), Unhex(f[3])});
    }
    return out;
}

// ISO/IEC 9797-1:1999, Annex B: K || K' = 0123456789ABCDEF FEDCBA9876543210
// and the data strings "Now is the time for all " (24 bytes) and "Now is
// the time for it" (22), for the cases beyond the published ones.
constexpr const char kKK[] = "0123456789ABCDEFFEDCBA9876543210";
constexpr const char kAll[] = "Now is the time for all ";
constexpr const char kIt[] = "Now is the time for it";

// The AES keys of NIST SP 800-38B, Appendix D (and RFC 4493 section 4).
constexpr const char kAes128[] = "2B7E151628AED2A6ABF7158809CF4F3C";
constexpr const char kAes256[] = "603DEB1015CA71BE2B73AEF0857D77811F352C073B6108D72D9810A30914DFF4";

TEST(MacVectors, PublishedExamplesPass)
{
    const std::vector<MacVector> vectors = LoadMacVectors();
    ASSERT_EQ(vectors.size(), 28u);  // 8 of ISO/IEC 9797-1, 12 AES-CMAC, 8 TDES-CMAC
    for (const MacVector &v : vectors) {
        const int macLen = static_cast<int>(v.mac.size());
        EXPECT_EQ(Mac(v.algorithm, v.padding, v.key, v.data, macLen), Hex(v.mac.data(), v.mac.size())) << v.where;
    }
}

const unsigned char *Bytes(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.data()); }

// The AES paths this processor can take: the portable one always, the
// instructions where it has them.
std::vector<AesPath> AesPaths()
{
    std::vector<AesPath> paths = {AesPath::kPortable};
    if (AesInstructionsAvailable())
        paths.push_back(AesPath::kInstructions);
    return paths;
}

const char *PathName(AesPath path) { return path == AesPath::kPortable ? "portable" : "instructions"; }

// FIPS 197 Appendix C (tests/data/aes_vectors.txt): the example vectors
// of the three key lengths, on every path.
TEST(MacVectors, AesBlockMatchesFips197)
{
    const std::vector<VectorLine> vectors = ReadVectorFile("aes_vectors.txt");
    ASSERT_EQ(vectors.size(), 3u);
    for (AesPath path : AesPaths()) {
        for (const VectorLine &v : vectors) {
            ASSERT_EQ(v.fields.size(), 3u) << v.where;
            const std::string key = Unhex(v.fields[0]), plain = Unhex(v.fields[1]), cipher = Unhex(v.fields[2]);
            ASSERT_EQ(plain.size(), 16u) << v.where;
            ASSERT_EQ(cipher.size(), 16u) << v.where;
            AesKey k;
            ASSERT_TRUE(AesKeyScheduleOn(path, Bytes(key), static_cast<int>(key.size()), k));
            ASSERT_EQ(k.path, path);
            unsigned char out[16];
            AesEncrypt(k, Bytes(plain), out);
            EXPECT_EQ(Hex(out, 16), Hex(cipher.data(), 16)) << PathName(path) << ", " << v.where;
        }
    }
}

// The published AES-CMAC examples (tests/data/cmac_vectors.txt) on every
// path, each path forced: TpMac alone takes only the one this processor
// prefers.
TEST(MacVectors, AesCmacExamplesOnEveryPath)
{
    const std::vector<MacVector> vectors = LoadMacVectors();
    for (AesPath path : AesPaths()) {
        int checked = 0;
        for (const MacVector &v : vectors) {
            if (v.algorithm != TP_MAC_AES_CMAC)
                continue;
            const std::string &key = v.key, &data = v.data;
            AesKey k;
            ASSERT_TRUE(AesKeyScheduleOn(path, Bytes(key), static_cast<int>(key.size()), k));
            unsigned char mac[16];
            AesCmac(k, Bytes(data), static_cast<int>(data.size()), mac);
            EXPECT_EQ(Hex(mac, 16), Hex(v.mac.data(), v.mac.size())) << PathName(path) << ": " << v.where;
            ++checked;
        }
        EXPECT_EQ(checked, 12);
    }
}

// The instructions are taken exactly where the processor has them: the
// answer is held against CPUID leaf 1 (ECX bit 25, AES) asked here.
TEST(MacVectors, AesInstructionsChosenWhereTheProcessorHasThem)
{
    bool has = false;
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
    unsigned a = 0, b = 0, c = 0, d = 0;
    has = __get_cpuid(1, &a, &b, &c, &d) != 0 && (c & (1u << 25)) != 0 && (d & (1u << 26)) != 0;
#endif
    EXPECT_EQ(AesInstructionsAvailable(), has);
    const std::string key = Unhex(kAes256);
    AesKey k;
    ASSERT_TRUE(AesKeySchedule(Bytes(key), 32, k));
    EXPECT_EQ(k.path, has ? AesPath::kInstructions : AesPath::kPortable);
    EXPECT_EQ(AesKeyScheduleOn(AesPath::kInstructions, Bytes(key), 32, k), has);
    ASSERT_TRUE(AesKeyScheduleOn(AesPath::kPortable, Bytes(key), 32, k));
    EXPECT_EQ(k.path, AesPath::kPortable);
    EXPECT_FALSE(AesKeyScheduleOn(AesPath::kPortable, Bytes(key), 20, k));
    EXPECT_FALSE(AesKeyScheduleOn(AesPath::kInstructions, Bytes(key), 20, k));
}

TEST(MacVectors, LegacyIsTheFoldEncryptedOnce)
{
    // The worked example's covered bytes fold to 36 30 31 32 03 05 07 05;
    // FIPS 46-3's example key then gives the MAC of field 64.
    const std::string key = Unhex("133457799BBCDFF1");
    unsigned char fold[8] = {0x36, 0x30, 0x31, 0x32, 0x03, 0x05, 0x07, 0x05}, expected[8], mac[8];
    ASSERT_EQ(TpMac(TP_MAC_ISO9797_1_ALG1, TP_MAC_PAD1, key.data(), 8, fold, 8, expected, 8), 0);
    ASSERT_EQ(TpMac(TP_MAC_LEGACY, 0, key.data(), 8, "0812345678000123000000001000", 28, mac, 8), 0);
    EXPECT_EQ(Hex(mac, 8), Hex(expected, 8));
}

// Padding method 1 leaves whole blocks alone and makes one zero block of
// nothing; method 2 always adds a block's worth at most.
TEST(MacVectors, PaddingMethodsAtBlockEdges)
{
    const std::string key = Unhex(kKK);
    const std::string zeros(8, '\0');
    EXPECT_EQ(Mac(TP_MAC_ISO9797_1_ALG3, TP_MAC_PAD1, key, "", 8),
              Mac(TP_MAC_ISO9797_1_ALG3, TP_MAC_PAD1, key, zeros, 8));
    EXPECT_EQ(Mac(TP_MAC_ISO9797_1_ALG1, TP_MAC_PAD1, key, "ABC", 8),
              Mac(TP_MAC_ISO9797_1_ALG1, TP_MAC_PAD1, key, std::string("ABC\0\0\0\0\0", 8), 8));
    EXPECT_EQ(Mac(TP_MAC_ISO9797_1_ALG1, TP_MAC_PAD2, key, "", 8),
              Mac(TP_MAC_ISO9797_1_ALG1, TP_MAC_PAD1, key, std::string("\x80\0\0\0\0\0\0\0", 8), 8));
    EXPECT_EQ(
        Mac(TP_MAC_ISO9797_1_ALG1, TP_MAC_PAD2, key, kAll, 8),
        Mac(TP_MAC_ISO9797_1_ALG1, TP_MAC_PAD1, key, std::string(kAll) + std::string("\x80\0\0\0\0\0\0\0", 8), 8));
    // A 24-byte key whose third part is the first is the 16-byte key.
    EXPECT_EQ(Mac(TP_MAC_ISO9797_1_ALG3, TP_MAC_PAD2, key + key.substr(0, 8), kIt, 8),
              Mac(TP_MAC_ISO9797_1_ALG3, TP_MAC_PAD2, key, kIt, 8));
    EXPECT_NE(Mac(TP_MAC_ISO9797_1_ALG3, TP_MAC_PAD2, key + key.substr(8, 8), kIt, 8),
              Mac(TP_MAC_ISO9797_1_ALG3, TP_MAC_PAD2, key, kIt, 8));
}

TEST(MacVectors, KeyCheckValues)
{
    unsigned char kcv[16];
    // The classic check value of the double-length key 0123...EF FEDC...10.
    const std::string kk = Unhex(kKK);
    ASSERT_EQ(TpKeyCheckValue(TP_KCV_ENCRYPT_ZEROS, TP_MAC_ISO9797_1_ALG3, kk.data(), 16, kcv, 3), 0);
    EXPECT_EQ(Hex(kcv, 3), "08 D7 B4");
    // CMAC check values are the CMAC of one zero block: SP 800-38B's
    // subkey example e(0) for RFC 4493's key is 7DF76B0C..., and the CMAC
    // of a whole zero block is what TpMac gives.
    const std::string aes = Unhex(kAes128);
    ASSERT_EQ(TpKeyCheckValue(TP_KCV_ENCRYPT_ZEROS, TP_MAC_AES_CMAC, aes.data(), 16, kcv, 16), 0);
    EXPECT_EQ(Hex(kcv, 16), Spaced("7DF76B0C1AB899B33E42F047B91B546F"));
    ASSERT_EQ(TpKeyCheckValue(TP_KCV_CMAC, TP_MAC_AES_CMAC, aes.data(), 16, kcv, 5), 0);
    EXPECT_EQ(Hex(kcv, 5), Mac(TP_MAC_AES_CMAC, 0, aes, std::string(16, '\0'), 5));
    ASSERT_EQ(TpKeyCheckValue(TP_KCV_CMAC, TP_MAC_TDES_CMAC, kk.data(), 16, kcv, 8), 0);
    EXPECT_EQ(Hex(kcv, 8), Mac(TP_MAC_TDES_CMAC, 0, kk, std::string(8, '\0'), 8));
}

TEST(MacArguments, WrongArgumentsAreRefusedAndNothingIsWritten)
{
    const std::string key(32, '\x5A');
    const char data[] = "data";
    // kcv: what TpKeyCheckValue makes of the same key (3 bytes wanted).
    const struct {
        const char *what;
        int algorithm, padding, keyLen;
        const void *data;
        int dataLen, macLen;
        bool nullKey, nullMac;
        int kcv;
    } cases[] = {
        {"unknown algorithm", 2, 1, 16, data, 4, 8, false, false, -1},
        {"negative algorithm", -1, 1, 16, data, 4, 8, false, false, -1},
        {"padding 0 for alg 1", TP_MAC_ISO9797_1_ALG1, 0, 16, data, 4, 8, false, false, 0},
        {"padding 3 for alg 3", TP_MAC_ISO9797_1_ALG3, 3, 16, data, 4, 8, false, false, 0},
        {"legacy key of 16", TP_MAC_LEGACY, 1, 16, data, 4, 8, false, false, -1},
        {"alg 1 key of 32", TP_MAC_ISO9797_1_ALG1, 1, 32, data, 4, 8, false, false, -1},
        {"alg 3 key of 8", TP_MAC_ISO9797_1_ALG3, 1, 8, data, 4, 8, false, false, -1},
        {"TDES-CMAC key of 8", TP_MAC_TDES_CMAC, 1, 8, data, 4, 8, false, false, -1},
        {"AES-CMAC key of 8", TP_MAC_AES_CMAC, 1, 8, data, 4, 8, false, false, -1},
        {"AES-CMAC key of 20", TP_MAC_AES_CMAC, 1, 20, data, 4, 8, false, false, -1},
        {"negative data length", TP_MAC_TDES_CMAC, 1, 16, data, -1, 8, false, false, 0},
        {"NULL data with a length", TP_MAC_TDES_CMAC, 1, 16, nullptr, 4, 8, false, false, 0},
        {"MAC length 0", TP_MAC_TDES_CMAC, 1, 16, data, 4, 0, false, false, 0},
        {"MAC length 9 for DES", TP_MAC_ISO9797_1_ALG3, 1, 16, data, 4, 9, false, false, 0},
        {"MAC length 17 for AES", TP_MAC_AES_CMAC, 1, 16, data, 4, 17, false, false, 0},
        {"NULL key", TP_MAC_AES_CMAC, 1, 16, data, 4, 8, true, false, -1},
        {"NULL mac", TP_MAC_AES_CMAC, 1, 16, data, 4, 8, false, true, 0},
    };
    for (const auto &c : cases) {
        unsigned char mac[20];
        std::memset(mac, 0xEE, sizeof mac);
        const void *k = c.nullKey ? nullptr : key.data();
        EXPECT_EQ(TpMac(c.algorithm, c.padding, k, c.keyLen, c.data, c.dataLen, c.nullMac ? nullptr : mac, c.macLen),
                  -1)
            << c.what;
        EXPECT_EQ(Hex(mac, sizeof mac), Hex(std::string(20, '\xEE').data(), 20)) << c.what;
        EXPECT_EQ(TpKeyCheckValue(TP_KCV_ENCRYPT_ZEROS, c.algorithm, k, c.keyLen, mac, 3), c.kcv) << c.what;
        if (c.kcv != 0)
            EXPECT_EQ(Hex(mac, sizeof mac), Hex(std::string(20, '\xEE').data(), 20)) << c.what;
    }
    // What is right is taken: padding is ignored where it plays no part,
    // and NULL data of length 0 is the empty text.
    unsigned char mac[16];
    EXPECT_EQ(TpMac(TP_MAC_AES_CMAC, 99, key.data(), 32, nullptr, 0, mac, 16), 0);
    EXPECT_EQ(TpMac(TP_MAC_LEGACY, -4, key.data(), 8, data, 4, mac, 1), 0);
    EXPECT_EQ(TpKeyCheckValue(3, TP_MAC_AES_CMAC, key.data(), 16, mac, 3), -1);
    EXPECT_EQ(TpKeyCheckValue(TP_KCV_CMAC, TP_MAC_AES_CMAC, key.data(), 16, mac, 17), -1);
    EXPECT_EQ(TpKeyCheckValue(TP_KCV_CMAC, TP_MAC_TDES_CMAC, key.data(), 16, mac, 9), -1);
}

// The library's own MAC over the longest text an int can count: 2^31 - 1
// zero bytes fold to the fold of nothing, so the MAC is that of the empty
// text. The fold's loops must not step past the end on the way (a count
// of offset + 32 overflows for the last turns).
TEST(MacArguments, LegacyOverTheLongestTextAnIntCounts)
{
    // Pages of zeros that are only read, so the system commits none.
    const size_t size = static_cast<size_t>(INT_MAX);
    std::unique_ptr<void, decltype(&std::free)> zeros(sizeof(void *) >= 8 ? std::calloc(size, 1) : nullptr, &std::free);
    if (!zeros)
        GTEST_SKIP() << "no room for 2 GiB of zeros";
    const std::string key = Unhex("133457799BBCDFF1");
    unsigned char empty[8], mac[8];
    ASSERT_EQ(TpMac(TP_MAC_LEGACY, 0, key.data(), 8, nullptr, 0, empty, 8), 0);
    ASSERT_EQ(TpMac(TP_MAC_LEGACY, 0, key.data(), 8, zeros.get(), INT_MAX, mac, 8), 0);
    EXPECT_EQ(Hex(mac, 8), Hex(empty, 8));
}

}  // namespace
}  // namespace tranpak::test
