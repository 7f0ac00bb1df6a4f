#include "codec/mac.h"
#include "crypto/mac_algorithms.h"
#include "codec/packet.h"
#include "crypto/secret.h"
#include "tranpak.h"

#include <cstdint>
#include <cstring>

namespace tranpak {

int XorBlock(unsigned char acc[kMacSize], const unsigned char block[kMacSize])
{
    for (int i = 0; i < kMacSize; ++i)
        acc[i] ^= block[i];
    return 0;
}

void FoldMac(const unsigned char *data, int n, unsigned char acc[kMacSize])
{
    // XOR works byte by byte, so eight bytes fold as one word in any byte order.
    uint64_t word = 0x3030303030303030u;  // "00000000"
    uint64_t block;
    int offset = 0;
    // Four blocks a turn into four words, so the turns do not wait on each other.
    // The bytes left are counted as n - offset, which cannot overflow the
    // way offset + 32 does for a length within 32 of INT_MAX (TpMac takes
    // any length).
    uint64_t more[3] = {};
    for (; n - offset >= 4 * kMacSize; offset += 4 * kMacSize) {
        uint64_t four[4];
        std::memcpy(four, data + offset, sizeof four);
        word ^= four[0];
        more[0] ^= four[1];
        more[1] ^= four[2];
        more[2] ^= four[3];
    }
    word ^= more[0] ^ more[1] ^ more[2];
    for (; n - offset >= kMacSize; offset += kMacSize) {
        std::memcpy(&block, data + offset, kMacSize);
        word ^= block;
    }
    if (offset < n) {
        // The last partial block is filled with zero bytes.
        block = 0;
        std::memcpy(&block, data + offset, static_cast<size_t>(n - offset));
        word ^= block;
    }
    std::memcpy(acc, &word, kMacSize);
}

namespace {

// The bytes a MAC over the whole message covers, as they travel: type,
// bitmap, then the data area before field 64.
inline constexpr int kCoveredMesgSize = kLenHeader + kDataAreaSize;

// A standard algorithm's MAC of the first n bytes of the data area, or of
// the type, the bitmap and those n bytes, into out.
void StandardMac(const MesgState &m, const unsigned char *key, int n, unsigned char out[kMacSize])
{
    const LibSettings &set = m.settings;
    const Packet &p = m.packet;
    const unsigned char *covered = p.data;
    int len = n;
    unsigned char whole[kCoveredMesgSize];
    if (set.macCovers == TP_MAC_COVERS_MESSAGE) {
        std::memcpy(whole, p.txcode, kTxcodeLen);
        std::memcpy(whole + kTxcodeLen, p.bitmap, kBitmapSize);
        std::memcpy(whole + kLenHeader, p.data, static_cast<size_t>(n));
        covered = whole;
        len = kLenHeader + n;
    }
    // Under keyLen bytes of key: its leftmost 8 bytes.
    unsigned char full[kMacMaxBlock];
    ComputeMac(set.macAlgorithm, set.macPadding, key, set.macKeyLen, covered, len, full);
    std::memcpy(out, full, kMacSize);
    WipeSecret(full, sizeof full);
}

// The MAC of the message under the session's algorithm, n bytes of its
// data area covered (n within the data area), into out.
void MesgMac(Session &s, const unsigned char *key, int n, unsigned char out[kMacSize])
{
    const MesgState &m = s.mesg;
    if (m.settings.macAlgorithm != TP_MAC_LEGACY) {
        StandardMac(m, key, n, out);
        return;
    }
    // The fold is of data that travels in clear, so it needs no wipe.
    unsigned char acc[kMacSize];
    FoldMac(m.packet.data, n, acc);
    DesBlock(s.des, acc, out, key);
}

}  // namespace

int CalcMac(Session &s, const unsigned char key[kMacSize], int n)
{
    MesgState &m = s.mesg;
    if (n < 0)
        n = 0;
    if (n > kDataAreaSize)
        n = kDataAreaSize;
    NoteCellWrite(m, kMacCell, kMacSize);
    MesgMac(s, key, n, reinterpret_cast<unsigned char *>(m.cells[kMacCell].buf));
    return 0;
}

int CheckMesgMac(Session &s, const void *key)
{
    MesgState &m = s.mesg;
    if (key == nullptr) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: CheckMesgMac() key is NULL");
        return -1;
    }
    const int len = m.packet.len;
    // Field 64 is the last 8 bytes of a received data area of len - 12.
    if (len < 12 + kMacSize || len - 12 > kDataAreaSize) {
        WriteErrLog(m.LogField(kMacCell + 1), kErrMac, "tranpak: CheckMesgMac() Packet.len = %d, no received mac", len);
        return -1;
    }
    const int covered = len - 12 - kMacSize;
    const unsigned char *received = reinterpret_cast<const unsigned char *>(m.cells[kMacCell].buf);
    if (std::memcmp(received, m.packet.data + covered, kMacSize) != 0) {
        WriteErrLog(m.LogField(kMacCell + 1, kDataAt + covered), kErrMac, "tranpak: mac is not in the end 8 bytes of rev packet");
        return -1;
    }
    // Computed aside: field 64 keeps what was received, and a MAC that
    // the key gives for bytes a sender chose is handed to no one. One word
    // holds it, so that a single store the compiler must keep wipes it.
    static_assert(sizeof(uint64_t) == kMacSize);
    uint64_t computed;
    unsigned char *computedBytes = reinterpret_cast<unsigned char *>(&computed);
    MesgMac(s, static_cast<const unsigned char *>(key), covered, computedBytes);
    const bool same = SameBytes(computedBytes, received, kMacSize);
    *static_cast<volatile uint64_t *>(&computed) = 0;
    if (!same) {
        WriteErrLog(m.LogField(kMacCell + 1, kDataAt + covered), kErrMac, "tranpak: mac check error");
        return -1;
    }
    return 0;
}

}  // namespace tranpak
