#include "codec/mac.h"

#include "codec/packet.h"
#include "crypto/fold.h"
#include "crypto/mac_algorithms.h"
#include "crypto/secret.h"
#include "tranpak.h"

#include <cstdint>
#include <cstring>

namespace tranpak {

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
void MesgMac(const MesgState &m, DesContext &des, const unsigned char *key, int n, unsigned char out[kMacSize])
{
    if (m.settings.macAlgorithm != TP_MAC_LEGACY) {
        StandardMac(m, key, n, out);
        return;
    }
    // The fold is of data that travels in clear, so it needs no wipe.
    unsigned char acc[kMacSize];
    FoldMac(m.packet.data, n, acc);
    DesBlock(des, acc, out, key);
}

}  // namespace

int CalcMac(MesgState &m, DesContext &des, const unsigned char key[kMacSize], int n)
{
    if (n < 0)
        n = 0;
    if (n > kDataAreaSize)
        n = kDataAreaSize;
    NoteCellWrite(m, kMacCell, kMacSize);
    MesgMac(m, des, key, n, reinterpret_cast<unsigned char *>(m.cells[kMacCell].buf));
    return 0;
}

int CheckMesgMac(MesgState &m, DesContext &des, const void *key)
{
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
        WriteErrLog(m.LogField(kMacCell + 1, kDataAt + covered), kErrMac,
                    "tranpak: mac is not in the end 8 bytes of rev packet");
        return -1;
    }
    // Computed aside: field 64 keeps what was received, and a MAC that
    // the key gives for bytes a sender chose is handed to no one. One word
    // holds it, so that a single store the compiler must keep wipes it.
    static_assert(sizeof(uint64_t) == kMacSize);
    uint64_t computed;
    unsigned char *computedBytes = reinterpret_cast<unsigned char *>(&computed);
    MesgMac(m, des, static_cast<const unsigned char *>(key), covered, computedBytes);
    const bool same = SameBytes(computedBytes, received, kMacSize);
    *static_cast<volatile uint64_t *>(&computed) = 0;
    if (!same) {
        WriteErrLog(m.LogField(kMacCell + 1, kDataAt + covered), kErrMac, "tranpak: mac check error");
        return -1;
    }
    return 0;
}

}  // namespace tranpak
