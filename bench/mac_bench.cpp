// Time per MAC of TpMac for every algorithm, over the worked example's 28
// covered bytes and over a full data area of 2029 bytes, next to OpenSSL's
// equivalent in the same run: its DES calls for the library's own MAC and
// for ISO/IEC 9797-1 algorithms 1 and 3 (a fresh key schedule each time,
// as TpMac does), and its CMAC (EVP_MAC, keyed each time) for the CMACs.
// AES-CMAC runs on the AES instructions where the processor has them; the
// "-portable" cases force the bit-sliced path.
//   BM_TpMac/<case>/<bytes>        the library
//   BM_OpenSslMac/<case>/<bytes>   OpenSSL
#include "bench_support.h"

#include "codec/mac.h"
#include "crypto/fold.h"
#include "crypto/mac_algorithms.h"
#include "crypto/secret.h"
#include "tranpak.h"

#include <benchmark/benchmark.h>
#include <openssl/des.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <cstring>
#include <vector>

namespace {

struct MacCase {
    const char *name;
    int algorithm, padding, keyLen;
    const char *cipher;     // OpenSSL's CMAC cipher, for the CMACs
    bool portable = false;  // AES-CMAC on the portable path, where TpMac would take the instructions
};

const MacCase kMacCases[] = {
    {"legacy", TP_MAC_LEGACY, 0, 8, nullptr},
    {"alg1-des", TP_MAC_ISO9797_1_ALG1, TP_MAC_PAD1, 8, nullptr},
    {"alg1-tdes2", TP_MAC_ISO9797_1_ALG1, TP_MAC_PAD1, 16, nullptr},
    {"alg3-16", TP_MAC_ISO9797_1_ALG3, TP_MAC_PAD1, 16, nullptr},
    {"tdes-cmac-24", TP_MAC_TDES_CMAC, 0, 24, "DES-EDE3-CBC"},
    {"aes-cmac-16", TP_MAC_AES_CMAC, 0, 16, "AES-128-CBC"},
    {"aes-cmac-24", TP_MAC_AES_CMAC, 0, 24, "AES-192-CBC"},
    {"aes-cmac-32", TP_MAC_AES_CMAC, 0, 32, "AES-256-CBC"},
    {"aes-cmac-16-portable", TP_MAC_AES_CMAC, 0, 16, "AES-128-CBC", true},
    {"aes-cmac-32-portable", TP_MAC_AES_CMAC, 0, 32, "AES-256-CBC", true},
};

constexpr int kFullData = 2029;
const unsigned char kMacKey[32] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xFE, 0xDC, 0xBA,
                                   0x98, 0x76, 0x54, 0x32, 0x10, 0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x23,
                                   0x45, 0x67, 0x60, 0x3D, 0xEB, 0x10, 0x15, 0xCA, 0x71, 0xBE};

std::vector<unsigned char> Text(int n)
{
    std::vector<unsigned char> text(static_cast<size_t>(n));
    static const char kExample[] = "0812345678000123000000001000";
    for (int i = 0; i < n; ++i)
        text[static_cast<size_t>(i)] =
            n == 28 ? static_cast<unsigned char>(kExample[i]) : static_cast<unsigned char>(i * 7);
    return text;
}

void BM_Mac(benchmark::State &state, MacCase c)
{
    const std::vector<unsigned char> text = Text(static_cast<int>(state.range(0)));
    unsigned char mac[16];
    const int macLen = c.algorithm == TP_MAC_AES_CMAC ? 16 : 8;
    if (c.portable) {
        // What TpMac does for AES-CMAC, on the path chosen here.
        for (auto _ : state) {
            tranpak::AesKey k;
            tranpak::AesKeyScheduleOn(tranpak::AesPath::kPortable, kMacKey, c.keyLen, k);
            tranpak::AesCmac(k, text.data(), static_cast<int>(text.size()), mac);
            tranpak::WipeSecret(&k, sizeof k);
            benchmark::DoNotOptimize(mac);
        }
        return;
    }
    for (auto _ : state) {
        TpMac(c.algorithm, c.padding, kMacKey, c.keyLen, text.data(), static_cast<int>(text.size()), mac, macLen);
        benchmark::DoNotOptimize(mac);
    }
}

DES_key_schedule Schedule(const unsigned char *key)
{
    DES_cblock block;
    std::memcpy(block, key, 8);
    DES_key_schedule ks;
    DES_set_key_unchecked(&block, &ks);
    return ks;
}

// CBC over the whole blocks and the zero-padded last one (method 1), the
// last block of the chain into h; single DES or two-key triple DES.
void OpenSslCbc(const unsigned char *key, int keyLen, const unsigned char *text, int n, unsigned char *scratch,
                DES_cblock *h)
{
    DES_key_schedule k1 = Schedule(key), k2;
    if (keyLen > 8)
        k2 = Schedule(key + 8);
    std::memset(h, 0, 8);
    const int whole = n / 8 * 8;
    unsigned char last[8] = {};
    std::memcpy(last, text + whole, static_cast<size_t>(n - whole));
    const bool extra = n == 0 || n > whole;
    for (int pass = 0; pass < (extra ? 2 : 1); ++pass) {
        const unsigned char *in = pass == 0 ? text : last;
        const long len = pass == 0 ? whole : 8;
        if (len == 0)
            continue;
        if (keyLen > 8)
            DES_ede3_cbc_encrypt(in, scratch, len, &k1, &k2, &k1, h, DES_ENCRYPT);
        else
            DES_ncbc_encrypt(in, scratch, len, &k1, h, DES_ENCRYPT);
    }
}

void BM_MacOpenSSL(benchmark::State &state, MacCase c)
{
    const std::vector<unsigned char> text = Text(static_cast<int>(state.range(0)));
    const int n = static_cast<int>(text.size());
    std::vector<unsigned char> scratch(text.size() + 8);
    EVP_MAC *mac = EVP_MAC_fetch(nullptr, "CMAC", nullptr);
    EVP_MAC_CTX *ctx = EVP_MAC_CTX_new(mac);
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string("cipher", const_cast<char *>(c.cipher ? c.cipher : ""), 0),
                           OSSL_PARAM_construct_end()};
    for (auto _ : state) {
        DES_cblock h, out;
        unsigned char tag[16];
        size_t tagLen = 0;
        switch (c.algorithm) {
        case TP_MAC_LEGACY: {
            unsigned char acc[8];
            tranpak::FoldMac(text.data(), n, acc);
            DES_key_schedule ks = Schedule(kMacKey);
            DES_ecb_encrypt(reinterpret_cast<DES_cblock *>(acc), &out, &ks, DES_ENCRYPT);
            benchmark::DoNotOptimize(out);
            break;
        }
        case TP_MAC_ISO9797_1_ALG1:
            OpenSslCbc(kMacKey, c.keyLen, text.data(), n, scratch.data(), &h);
            benchmark::DoNotOptimize(h);
            break;
        case TP_MAC_ISO9797_1_ALG3: {
            OpenSslCbc(kMacKey, 8, text.data(), n, scratch.data(), &h);
            DES_key_schedule k1 = Schedule(kMacKey), k2 = Schedule(kMacKey + 8);
            DES_ecb_encrypt(&h, &out, &k2, DES_DECRYPT);
            DES_ecb_encrypt(&out, &h, &k1, DES_ENCRYPT);
            benchmark::DoNotOptimize(h);
            break;
        }
        default:
            EVP_MAC_init(ctx, kMacKey, static_cast<size_t>(c.keyLen), params);
            EVP_MAC_update(ctx, text.data(), text.size());
            EVP_MAC_final(ctx, tag, &tagLen, sizeof tag);
            benchmark::DoNotOptimize(tag);
        }
    }
    EVP_MAC_CTX_free(ctx);
    EVP_MAC_free(mac);
}

int RegisterMacBenchmarks()
{
    for (const MacCase &c : kMacCases) {
        for (int n : {28, kFullData}) {
            benchmark::RegisterBenchmark((std::string("BM_TpMac/") + c.name).c_str(), BM_Mac, c)->Arg(n);
            benchmark::RegisterBenchmark((std::string("BM_OpenSslMac/") + c.name).c_str(), BM_MacOpenSSL, c)->Arg(n);
        }
    }
    return 0;
}

const int kRegistered = RegisterMacBenchmarks();

}  // namespace
