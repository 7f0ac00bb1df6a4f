// TpMac and TpKeyCheckValue against OpenSSL's libcrypto on random keys and
// texts of 0 to 2,029 bytes (the largest data area a frame carries), for
// every algorithm, padding and key length. OpenSSL supplies the ciphers and
// the chaining: DES and triple-DES CBC for ISO/IEC 9797-1, its CMAC for
// the CMACs. AES is held to it on each of its paths.
#include "crypto/aes.h"
#include "crypto/mac_algorithms.h"
#include "support/scratch_dir.h"
#include "tranpak.h"

#include <openssl/des.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace tranpak::test {
namespace {

using Bytes = std::vector<unsigned char>;

constexpr int kLargestText = 2029;
constexpr int kRounds = 1500;         // random keys and texts per algorithm, padding and key length
constexpr int kAesPathRounds = 1000;  // per AES path and key length

DES_key_schedule Schedule(const unsigned char *key)
{
    DES_cblock block;
    std::memcpy(block, key, 8);
    DES_key_schedule ks;
    DES_set_key_unchecked(&block, &ks);
    return ks;
}

Bytes Pad(const Bytes &data, int padding)
{
    Bytes padded = data;
    if (padding == TP_MAC_PAD2)
        padded.push_back(0x80);
    while (padded.size() % 8 != 0 || padded.empty())
        padded.push_back(0);
    return padded;
}

// The last block of the CBC encryption of the padded text: single DES
// under an 8-byte key, or triple DES (K1 K2 K1 for 16 bytes).
Bytes CbcLast(const Bytes &key, const Bytes &text)
{
    Bytes out(text.size());
    DES_cblock iv = {};
    DES_key_schedule k1 = Schedule(key.data());
    if (key.size() == 8) {
        DES_ncbc_encrypt(text.data(), out.data(), static_cast<long>(text.size()), &k1, &iv, DES_ENCRYPT);
    } else {
        DES_key_schedule k2 = Schedule(key.data() + 8);
        DES_key_schedule k3 = key.size() == 24 ? Schedule(key.data() + 16) : k1;
        DES_ede3_cbc_encrypt(text.data(), out.data(), static_cast<long>(text.size()), &k1, &k2, &k3, &iv, DES_ENCRYPT);
    }
    return Bytes(out.end() - 8, out.end());
}

Bytes Retail(const Bytes &key, const Bytes &text)
{
    Bytes h = CbcLast(Bytes(key.begin(), key.begin() + 8), text);
    DES_key_schedule k2 = Schedule(key.data() + 8);
    DES_key_schedule k3 = Schedule(key.data() + (key.size() == 24 ? 16 : 0));
    DES_cblock a, b;
    std::memcpy(a, h.data(), 8);
    DES_ecb_encrypt(&a, &b, &k2, DES_DECRYPT);
    DES_ecb_encrypt(&b, &a, &k3, DES_ENCRYPT);
    return Bytes(a, a + 8);
}

Bytes Legacy(const Bytes &key, const Bytes &data)
{
    Bytes fold(8, '0');
    for (size_t i = 0; i < data.size(); ++i)
        fold[i % 8] ^= data[i];
    DES_key_schedule ks = Schedule(key.data());
    DES_cblock in, out;
    std::memcpy(in, fold.data(), 8);
    DES_ecb_encrypt(&in, &out, &ks, DES_ENCRYPT);
    return Bytes(out, out + 8);
}

Bytes Cmac(const Bytes &key, const Bytes &data, bool aes)
{
    Bytes k = key;
    const char *cipher = "DES-EDE3-CBC";
    if (aes)
        cipher = key.size() == 16 ? "AES-128-CBC" : key.size() == 24 ? "AES-192-CBC" : "AES-256-CBC";
    else if (key.size() == 16)
        k.insert(k.end(), key.begin(), key.begin() + 8);  // K1 K2 K1
    EVP_MAC *mac = EVP_MAC_fetch(nullptr, "CMAC", nullptr);
    EVP_MAC_CTX *ctx = EVP_MAC_CTX_new(mac);
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string("cipher", const_cast<char *>(cipher), 0),
                           OSSL_PARAM_construct_end()};
    unsigned char out[16];
    size_t outLen = 0;
    const bool ok = EVP_MAC_init(ctx, k.data(), k.size(), params) == 1 &&
                    EVP_MAC_update(ctx, data.data(), data.size()) == 1 &&
                    EVP_MAC_final(ctx, out, &outLen, sizeof out) == 1;
    EVP_MAC_CTX_free(ctx);
    EVP_MAC_free(mac);
    return ok ? Bytes(out, out + outLen) : Bytes();
}

Bytes AesEcb(const Bytes &key, const Bytes &block)
{
    const EVP_CIPHER *cipher = key.size() == 16   ? EVP_aes_128_ecb()
                               : key.size() == 24 ? EVP_aes_192_ecb()
                                                  : EVP_aes_256_ecb();
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    unsigned char out[32];
    int outLen = 0;
    const bool ok = EVP_EncryptInit_ex(ctx, cipher, nullptr, key.data(), nullptr) == 1 &&
                    EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
                    EVP_EncryptUpdate(ctx, out, &outLen, block.data(), static_cast<int>(block.size())) == 1;
    EVP_CIPHER_CTX_free(ctx);
    return ok ? Bytes(out, out + outLen) : Bytes();
}

struct Case {
    const char *name;
    int algorithm, padding, keyLen;
};

const Case kCases[] = {
    {"LEGACY", TP_MAC_LEGACY, 0, 8},
    {"ALG1 DES pad 1", TP_MAC_ISO9797_1_ALG1, TP_MAC_PAD1, 8},
    {"ALG1 DES pad 2", TP_MAC_ISO9797_1_ALG1, TP_MAC_PAD2, 8},
    {"ALG1 TDES-2 pad 1", TP_MAC_ISO9797_1_ALG1, TP_MAC_PAD1, 16},
    {"ALG1 TDES-2 pad 2", TP_MAC_ISO9797_1_ALG1, TP_MAC_PAD2, 16},
    {"ALG1 TDES-3 pad 1", TP_MAC_ISO9797_1_ALG1, TP_MAC_PAD1, 24},
    {"ALG1 TDES-3 pad 2", TP_MAC_ISO9797_1_ALG1, TP_MAC_PAD2, 24},
    {"ALG3 16 pad 1", TP_MAC_ISO9797_1_ALG3, TP_MAC_PAD1, 16},
    {"ALG3 16 pad 2", TP_MAC_ISO9797_1_ALG3, TP_MAC_PAD2, 16},
    {"ALG3 24 pad 1", TP_MAC_ISO9797_1_ALG3, TP_MAC_PAD1, 24},
    {"ALG3 24 pad 2", TP_MAC_ISO9797_1_ALG3, TP_MAC_PAD2, 24},
    {"TDES-CMAC 16", TP_MAC_TDES_CMAC, 0, 16},
    {"TDES-CMAC 24", TP_MAC_TDES_CMAC, 0, 24},
    {"AES-CMAC 16", TP_MAC_AES_CMAC, 0, 16},
    {"AES-CMAC 24", TP_MAC_AES_CMAC, 0, 24},
    {"AES-CMAC 32", TP_MAC_AES_CMAC, 0, 32},
};

Bytes Reference(const Case &c, const Bytes &key, const Bytes &data)
{
    switch (c.algorithm) {
    case TP_MAC_LEGACY:
        return Legacy(key, data);
    case TP_MAC_ISO9797_1_ALG1:
        return CbcLast(key, Pad(data, c.padding));
    case TP_MAC_ISO9797_1_ALG3:
        return Retail(key, Pad(data, c.padding));
    default:
        return Cmac(key, data, c.algorithm == TP_MAC_AES_CMAC);
    }
}

TEST(MacAgainstOpenSsl, RandomKeysAndTextsAgree)
{
    std::mt19937 random(20290829);
    // The block edges first, then lengths drawn from the whole range.
    const int edges[] = {0, 1, 7, 8, 9, 15, 16, 17, 31, 32, 33, kLargestText};
    for (const Case &c : kCases) {
        int failed = 0;
        for (int round = 0; round < kRounds && failed < 5; ++round) {
            const int len = round < static_cast<int>(std::size(edges))
                                ? edges[round]
                                : std::uniform_int_distribution<int>(0, kLargestText)(random);
            Bytes key(static_cast<size_t>(c.keyLen)), data(static_cast<size_t>(len));
            for (unsigned char &b : key)
                b = static_cast<unsigned char>(random());
            for (unsigned char &b : data)
                b = static_cast<unsigned char>(random());
            const Bytes want = Reference(c, key, data);
            Bytes got(want.size());
            ASSERT_EQ(TpMac(c.algorithm, c.padding, key.data(), c.keyLen, data.data(), len, got.data(),
                            static_cast<int>(got.size())),
                      0)
                << c.name;
            if (got != want) {
                ++failed;
                ADD_FAILURE() << c.name << ", key " << Hex(key.data(), key.size()) << ", length " << len << ": "
                              << Hex(got.data(), got.size()) << ", OpenSSL " << Hex(want.data(), want.size());
            }
        }
        EXPECT_EQ(failed, 0) << c.name;
    }
}

// TpMac takes the AES path this processor prefers; here each path is
// forced, block and CMAC, on random keys and texts of every key length.
TEST(MacAgainstOpenSsl, EveryAesPathAgrees)
{
    std::vector<AesPath> paths = {AesPath::kPortable};
    if (AesInstructionsAvailable())
        paths.push_back(AesPath::kInstructions);
    std::mt19937 random(197);
    const int edges[] = {0, 1, 15, 16, 17, 31, 32, 33, kLargestText};
    for (AesPath path : paths) {
        const char *name = path == AesPath::kPortable ? "portable" : "instructions";
        for (int keyLen : {16, 24, 32}) {
            int failed = 0;
            for (int round = 0; round < kAesPathRounds && failed < 5; ++round) {
                const int len = round < static_cast<int>(std::size(edges))
                                    ? edges[round]
                                    : std::uniform_int_distribution<int>(0, kLargestText)(random);
                Bytes key(static_cast<size_t>(keyLen)), data(static_cast<size_t>(len)), block(16);
                for (Bytes *b : {&key, &data, &block})
                    for (unsigned char &x : *b)
                        x = static_cast<unsigned char>(random());
                AesKey k;
                ASSERT_TRUE(AesKeyScheduleOn(path, key.data(), keyLen, k)) << name;
                unsigned char mac[16], encrypted[16];
                AesCmac(k, data.data(), len, mac);
                AesEncrypt(k, block.data(), encrypted);
                const Bytes wantMac = Cmac(key, data, true), wantBlock = AesEcb(key, block);
                if (Bytes(mac, mac + 16) != wantMac || Bytes(encrypted, encrypted + 16) != wantBlock) {
                    ++failed;
                    ADD_FAILURE() << name << ", key " << Hex(key.data(), key.size()) << ", length " << len << ": "
                                  << Hex(mac, 16) << " / " << Hex(encrypted, 16) << ", OpenSSL "
                                  << Hex(wantMac.data(), wantMac.size()) << " / "
                                  << Hex(wantBlock.data(), wantBlock.size());
                }
            }
            EXPECT_EQ(failed, 0) << name << ", key of " << keyLen;
        }
    }
}

TEST(MacAgainstOpenSsl, KeyCheckValuesAgree)
{
    std::mt19937 random(9797);
    const Bytes zeros(16, 0);
    for (const Case &c : kCases) {
        for (int round = 0; round < 50; ++round) {
            Bytes key(static_cast<size_t>(c.keyLen));
            for (unsigned char &b : key)
                b = static_cast<unsigned char>(random());
            const bool aes = c.algorithm == TP_MAC_AES_CMAC;
            const size_t block = aes ? 16 : 8;
            unsigned char kcv[16];
            // Encrypting one zero block is the CBC-MAC of it.
            ASSERT_EQ(TpKeyCheckValue(TP_KCV_ENCRYPT_ZEROS, c.algorithm, key.data(), c.keyLen, kcv, 3), 0);
            const Bytes encrypted = aes ? AesEcb(key, zeros) : CbcLast(key, Bytes(8, 0));
            EXPECT_EQ(Hex(kcv, 3), Hex(encrypted.data(), 3)) << c.name;
            ASSERT_EQ(TpKeyCheckValue(TP_KCV_CMAC, c.algorithm, key.data(), c.keyLen, kcv, static_cast<int>(block)), 0);
            // A single DES key's CMAC is triple DES with three equal keys.
            Bytes tripled = key;
            if (c.keyLen == 8)
                tripled.insert(tripled.end(), {key[0], key[1], key[2], key[3], key[4], key[5], key[6], key[7], key[0],
                                               key[1], key[2], key[3], key[4], key[5], key[6], key[7]});
            const Bytes cmac = Cmac(tripled, Bytes(zeros.begin(), zeros.begin() + static_cast<long>(block)), aes);
            EXPECT_EQ(Hex(kcv, block), Hex(cmac.data(), cmac.size())) << c.name;
        }
    }
}

}  // namespace
}  // namespace tranpak::test
