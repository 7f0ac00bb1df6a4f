// The library's one piece of state: the message being built or received,
// its 64 field records, a one-level backup of both, and the settings.
// It lives in static storage, is all zero when the library is loaded, and
// is never handed out by pointer to callers: values pass by copying.
#ifndef TRANPAK_CORE_MESG_STATE_H
#define TRANPAK_CORE_MESG_STATE_H

#include <cstdint>

namespace tranpak {

// Field records: index i (0 to 63) belongs to field i+1.
inline constexpr int kCellCount = 64;
// Value of one field: NUL-terminated text, or maxlen raw bytes for B.
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
// Index of field 64, which always carries the MAC.
inline constexpr int kMacCell = 63;
inline constexpr int kMacSize = 8;

// Settings paths, at most 159 characters each.
inline constexpr int kPathSize = 160;

inline constexpr unsigned char kStartByte = 0x02;
inline constexpr unsigned char kStopByte = 0x03;

// Field type codes, as mapped from the definition file's type texts.
enum CellTypeCode : int32_t {
    kTypeANS = 0,
    kTypeNI = 1,
    kTypeNF = 2,
    kTypeA = 3,
    kTypeAN = 4,
    kTypeN = 5,
    kTypeB = 6,
};

struct Packet {
    unsigned char start;                 // 0x02, or the byte received
    int32_t len;                         // 12 + length of the packed data
    char txcode[kTxcodeSize];            // message type, NUL-terminated
    unsigned char bitmap[kBitmapSize];   // bit of field n: byte (n-1)/8, mask 0x80 >> (n-1)%8
    unsigned char data[kDataAreaSize];   // packed fields in ascending order
    unsigned char stop;                  // 0x03, or the byte received
};

struct BMPCell {
    char buf[kCellBufSize];    // value: text with NUL, or maxlen bytes for B
    char name[kCellNameSize];  // from the definition file, for reference only
    int32_t used;              // 1 while the field holds a value
    int32_t type;              // CellTypeCode
    int32_t varlen;            // digits of the length prefix; 0 for fixed length
    int32_t maxlen;            // fixed length, or greatest variable length
};

struct MesgBackup {
    Packet packet;
    BMPCell cells[kCellCount];
};

struct LibSettings {
    int32_t traceflag;
    char errfile[kPathSize];
    char bmpfile[kPathSize];
    char ctracefile[kPathSize];
    // [Com Timeout], in seconds; 0 is no limit.
    int32_t connectLimit;
    int32_t sendLimit;
    int32_t recvLimit;
};

struct MesgState {
    Packet packet;
    BMPCell cells[kCellCount];
    MesgBackup backup;
    LibSettings settings;
};

extern MesgState g_mesg;

// True when the record's definition lies within what buf and the data
// area can hold: type 0 to 6, maxlen up to 399 (400 for B), varlen up to 11.
bool CellDefinitionFits(const BMPCell &cell);

// Length of the text in a record's buf, never more than 399 even when the
// buf holds no NUL (as after raw bytes).
int CellTextLength(const BMPCell &cell);

}  // namespace tranpak

#endif
