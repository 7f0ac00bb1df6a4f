// The state of one message: the message being built or received, its 128
// field records, a one-level backup of both, the settings and the record
// of the last failure. It is part of a session, which the caller owns (or
// the library's one default session); all zero is its state before the
// first initialisation. Values pass to callers by copying.
#ifndef TRANPAK_MESSAGE_MESG_STATE_H
#define TRANPAK_MESSAGE_MESG_STATE_H

#include <cstdint>
#include <cstring>

#include "diag/errlog.h"
#include "kit/settings_file.h"
#include "kit/wire.h"
#include "kit/wire_format.h"

namespace tranpak {

// Field records: index i (0 to 127) belongs to field i+1. Records 0 to 63
// are the fields of the primary bitmap and of the classic functions;
// records 64 to 127 those of a secondary bitmap, reached through the text
// functions.
inline constexpr int kCellCount = 128;
inline constexpr int kClassicCellCount = 64;
// Words of 64 bits that hold one bit per record.
inline constexpr int kCellWords = kCellCount / 64;
// Value of one field: NUL-terminated text, or raw bytes for B (maxlen of
// them for a fixed field, binlen for a variable one).
inline constexpr int kCellBufSize = 400;
// Field name from the definition file, at most 29 characters.
inline constexpr int kCellNameSize = 30;
// Greatest maxlen of a text field (value plus NUL fits buf) and of a B field.
inline constexpr int kTextMaxLen = kCellBufSize - 1;
inline constexpr int kBinMaxLen = kCellBufSize;
// Greatest number of digits of a variable field's length prefix.
inline constexpr int kMaxVarLen = 11;

// Message type: 4 characters and a NUL.
inline constexpr int kTxcodeSize = 5;
inline constexpr int kTxcodeLen = kTxcodeSize - 1;
inline constexpr int kBitmapSize = 8;
// Packed fields of one message.
inline constexpr int kDataAreaSize = 2048;
// Index of field 64, which carries the MAC of a message with one bitmap,
// and of field 128, which carries it when a secondary bitmap is sent.
inline constexpr int kMacCell = 63;
inline constexpr int kMacCell2 = 127;
inline constexpr int kMacSize = 8;

// Settings paths, at most 159 characters each.
inline constexpr int kPathSize = 160;

// Field type codes, as mapped from the definition file's type texts.
enum CellTypeCode : int32_t {
    kTypeANS = 0,
    kTypeNI = 1,
    kTypeNF = 2,
    kTypeA = 3,
    kTypeAN = 4,
    kTypeN = 5,
    kTypeB = 6,
    kTypeZ = 7,  // track 2 data: digits and a '=' or 'D' separator
};

struct Packet {
    unsigned char start;                 // 0x02, or the byte received
    int32_t len;                         // 12 + length of the packed data
    char txcode[kTxcodeSize];            // message type, NUL-terminated
    unsigned char bitmap[kBitmapSize];   // bit of field n: byte (n-1)/8, mask 0x80 >> (n-1)%8
    unsigned char data[kDataAreaSize];   // packed fields in ascending order
    unsigned char stop;                  // 0x03, or the byte received
    unsigned char bitmap2[kBitmapSize];  // secondary bitmap: field 65 + n in bit n, as in bitmap
};

struct BMPCell {
    char buf[kCellBufSize];    // value: text with NUL, or raw bytes for B
    char name[kCellNameSize];  // from the definition file, for reference only
    int32_t used;              // 1 while the field holds a value
    int32_t type;              // CellTypeCode
    int32_t varlen;            // digits of the length prefix; 0 for fixed length
    int32_t maxlen;            // fixed length, or greatest variable length
    int32_t binlen;            // bytes of a variable B value in buf; 0 otherwise
};

// The settings a message runs under: the [Com Timeout] limits (ComLimits,
// the kit's one record of them: connectLimit, sendLimit, recvLimit,
// transferLimit), then the rest of the settings file.
struct LibSettings : ComLimits {
    int32_t traceflag;
    char errfile[kPathSize];
    char bmpfile[kPathSize];  // the definition file (named so in the log's texts)
    char ctracefile[kPathSize];
    // [MAC]: field 64's algorithm (TpMacAlgorithm; 0, all zero, is the
    // library's own), its padding and the bytes of key it reads.
    int32_t macAlgorithm;
    int32_t macPadding;
    int32_t macKeyLen;
    // What it covers: TP_MAC_COVERS_MESSAGE (type, bitmap and the data
    // area before field 64), else (TP_MAC_COVERS_DATA, or 0 as all zero
    // leaves it) the data area before field 64 only.
    int32_t macCovers;
    // [Wire Format]: the dialect of every frame; all zero, the seed's.
    wire::WireFormat wire;
    int32_t dialect;  // 1 when wire is not the seed's format
};

// Bytes of the type and bitmaps of a message as they travel: a type of 4
// characters and two bitmaps of 16 hexadecimal characters at most.
inline constexpr int kWireHeadSize = 4 + 2 * 16;

// What a frame in a dialect other than the seed's, or with a secondary
// bitmap, leaves beside the Packet: where its parts lie, for the MAC and
// for the offsets the log names, and the header last received, which a
// reply answers. ResetMesg leaves it; a pack or a receive rewrites it.
struct WireState {
    unsigned char head[kWireHeadSize];  // type and bitmaps as on the wire
    int32_t headLen;
    int32_t dataAt;                              // frame offset of the first field
    int32_t dataLen;                             // bytes of fields, the MAC field's included
    int32_t macAt;                               // data offset of the MAC field's value; -1: none came
    int32_t macCell;                             // record of the MAC field: 63, or 127 under a secondary bitmap
    int32_t dialect;                             // 1 when the last frame went through the dialect codec
    unsigned char header[wire::kMaxHeaderSize];  // the header received
    int32_t headerLen;                           // 0 until a frame with one came
};

// Which records hold anything, so that clearing the message costs what the
// message used rather than 128 records of 400 bytes. A record whose bit
// is clear has used 0, binlen 0 and a buf of zero bytes; a record whose bit
// is set has zero bytes in buf from extent on. Every write into a record's
// buf, used or binlen notes itself here first; a backup keeps the notes of the records it
// copies, and a restore takes them back with them.
struct WrittenCells {
    uint64_t mask[kCellWords];    // bit i%64 of word i/64: record i may hold something
    uint16_t extent[kCellCount];  // bytes at the start of buf that may be non-zero
};

struct MesgBackup {
    Packet packet;
    BMPCell cells[kCellCount];
    WrittenCells written;  // which of these records may hold anything
};

struct MesgState {
    Packet packet;
    BMPCell cells[kCellCount];
    MesgBackup backup;
    LibSettings settings;
    WrittenCells written;
    // Fields the definitions give the type TLV: B whose bytes are a BER-TLV
    // list, which TpDescribe shows tag by tag (bit i%64 of word i/64).
    uint64_t tlvFields[kCellWords];
    WireState wireState;
    LastErr lastErr;

    // Where this message's failures are logged and kept.
    ErrSink Log() { return ErrSink{settings.errfile, &lastErr}; }
    // The same for a failure that concerns field `field` (0 to 128), and
    // where known the byte offset in the received frame where it lies.
    ErrSink LogField(int field, int offset = -1) { return ErrSink{settings.errfile, &lastErr, field, offset}; }
};

// Notes that record i may hold non-zero bytes in its first `bytes` bytes
// (at most 400) and may be used.
inline void NoteCellWrite(MesgState &m, int i, int bytes)
{
    WrittenCells &w = m.written;
    // Unsigned: a shift and a mask, on the path of every field received.
    const unsigned u = static_cast<unsigned>(i);
    w.mask[u >> 6] |= uint64_t{1} << (u & 63);
    if (w.extent[i] < bytes)
        w.extent[i] = static_cast<uint16_t>(bytes);
}

inline bool IsTlvField(const MesgState &m, int i) { return (m.tlvFields[i / 64] >> (i % 64) & 1u) != 0; }

// Sets used to 0 and buf to zero bytes in every record, by clearing only
// what was written since the last clear.
void ClearWrittenCells(MesgState &m);

// True when the record's definition lies within what buf and the data
// area can hold: type 0 to 7, maxlen up to 399 (400 for B), varlen up to 11.
inline bool CellDefinitionFits(const BMPCell &cell)
{
    if (cell.type < kTypeANS || cell.type > kTypeZ)
        return false;
    const int limit = cell.type == kTypeB ? kBinMaxLen : kTextMaxLen;
    return cell.maxlen >= 0 && cell.maxlen <= limit && cell.varlen >= 0 && cell.varlen <= kMaxVarLen;
}

// Bytes of a B value: maxlen for a fixed field, binlen (0 to maxlen) for
// a variable one, whose prefix counts bytes.
inline int CellBinaryLength(const BMPCell &cell) { return cell.varlen == 0 ? cell.maxlen : cell.binlen; }

// Length of the text in a record's buf, never more than 399 even when the
// buf holds no NUL (as after raw bytes).
inline int CellTextLength(const BMPCell &cell)
{
    const void *nul = std::memchr(cell.buf, 0, kTextMaxLen);
    return nul == nullptr ? kTextMaxLen : static_cast<int>(static_cast<const char *>(nul) - cell.buf);
}

}  // namespace tranpak

#endif
