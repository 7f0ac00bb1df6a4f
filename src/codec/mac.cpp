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
// bitmaps, then the data area before the MAC field.
inline constexpr int kCoveredMesgSize = kWireHeadSize + kDataAreaSize;

// A standard algorithm's MAC of the first n bytes of the data area, or of
// the head given (type and bitmaps as they travel) and those n bytes, into
// out.
void StandardMac(const MesgState &m, const unsigned char *key, const unsigned char *head, int headLen, int n,
                 unsigned char out[kMacSize])
{
    const LibSettings &set = m.settings;
    const Packet &p = m.packet;
    const unsigned char *covered = p.data;
    int len = n;
    unsigned char whole[kCoveredMesgSize];
    if (set.macCovers == TP_MAC_COVERS_MESSAGE) {
        std::memcpy(whole, head, static_cast<size_t>(headLen));
        std::memcpy(whole + headLen, p.data, static_cast<size_t>(n));
        covered = whole;
        len = headLen + n;
    }
    // Under keyLen bytes of key: its leftmost 8 bytes.
    unsigned char full[kMacMaxBlock];
    ComputeMac(set.macAlgorithm, set.macPadding, key, set.macKeyLen, covered, len, full);
    std::memcpy(out, full, kMacSize);
    WipeSecret(full, sizeof full);
}

// The MAC of the message under the session's algorithm, n bytes of its
// data area covered (n within the data area), into out. head: the type
// and bitmaps as they travel, for a MAC that covers them.
void MesgMac(const MesgState &m, DesContext &des, const unsigned char *key, const unsigned char *head, int headLen,
             int n, unsigned char out[kMacSize])
{
    if (m.settings.macAlgorithm != TP_MAC_LEGACY) {
        StandardMac(m, key, head, headLen, n, out);
        return;
    }
    // The fold is of data that travels in clear, so it needs no wipe.
    unsigned char acc[kMacSize];
    FoldMac(m.packet.data, n, acc);
    DesBlock(des, acc, out, key);
}

// The seed frame's head: the type and the one binary bitmap.
void SeedHead(const Packet &p, unsigned char head[kLenHeader])
{
    std::memcpy(head, p.txcode, kTxcodeLen);
    std::memcpy(head + kTxcodeLen, p.bitmap, kBitmapSize);
}

// Compares the MAC computed for the n covered bytes with the one received
// in record macCell, field 64's record keeping what came.
int CompareMac(MesgState &m, DesContext &des, const void *key, const unsigned char *head, int headLen, int n,
               int macCell, int frameOffset)
{
    const unsigned char *received = reinterpret_cast<const unsigned char *>(m.cells[macCell].buf);
    // Computed aside: the MAC record keeps what was received, and a MAC that
    // the key gives for bytes a sender chose is handed to no one. One word
    // holds it, so that a single store the compiler must keep wipes it.
    static_assert(sizeof(uint64_t) == kMacSize);
    uint64_t computed;
    unsigned char *computedBytes = reinterpret_cast<unsigned char *>(&computed);
    MesgMac(m, des, static_cast<const unsigned char *>(key), head, headLen, n, computedBytes);
    const bool same = SameBytes(computedBytes, received, kMacSize);
    *static_cast<volatile uint64_t *>(&computed) = 0;
    if (!same) {
        WriteErrLog(m.LogField(macCell + 1, frameOffset), kErrMac, "tranpak: mac check error");
        return -1;
    }
    return 0;
}

// The check of a frame the dialect codec read: the MAC field must be the
// last, its value where the fields end.
int CheckDialectMac(MesgState &m, DesContext &des, const void *key)
{
    const WireState &ws = m.wireState;
    const int macCell = ws.macCell;
    if (ws.macAt < 0) {
        WriteErrLog(m.LogField(macCell + 1), kErrMac, "tranpak: CheckMesgMac() Packet.len = %d, no received mac",
                    m.packet.len);
        return -1;
    }
    const int end = ws.macAt + (m.settings.wire.binary == wire::BinaryCode::kHex ? 2 * kMacSize : kMacSize);
    if (end != ws.dataLen) {
        WriteErrLog(m.LogField(macCell + 1, ws.dataAt + ws.macAt), kErrMac,
                    "tranpak: mac is not in the end 8 bytes of rev packet");
        return -1;
    }
    return CompareMac(m, des, key, ws.head, ws.headLen, ws.macAt, macCell, ws.dataAt + ws.macAt);
}

}  // namespace

int CalcMac(MesgState &m, DesContext &des, const unsigned char key[kMacSize], int n)
{
    if (n < 0)
        n = 0;
    if (n > kDataAreaSize)
        n = kDataAreaSize;
    unsigned char head[kLenHeader];
    SeedHead(m.packet, head);
    NoteCellWrite(m, kMacCell, kMacSize);
    MesgMac(m, des, key, head, kLenHeader, n, reinterpret_cast<unsigned char *>(m.cells[kMacCell].buf));
    return 0;
}

void CalcMacOver(MesgState &m, DesContext &des, const unsigned char *key, const unsigned char *head, int headLen, int n,
                 int macCell)
{
    NoteCellWrite(m, macCell, kMacSize);
    MesgMac(m, des, key, head, headLen, n, reinterpret_cast<unsigned char *>(m.cells[macCell].buf));
}

int CheckMesgMac(MesgState &m, DesContext &des, const void *key)
{
    if (key == nullptr) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: CheckMesgMac() key is NULL");
        return -1;
    }
    if (m.wireState.dialect)
        return CheckDialectMac(m, des, key);
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
    unsigned char head[kLenHeader];
    SeedHead(m.packet, head);
    return CompareMac(m, des, key, head, kLenHeader, covered, kMacCell, kDataAt + covered);
}

}  // namespace tranpak
