// The two frames on the wire, written and read in this one place by the
// library, its tools, the tests, the benchmarks and the fuzz targets.
//
// A Packet, one message:
//   02 <4 digits: len> <len bytes: txcode, bitmap, data> 03
//   len counts txcode (4), bitmap (8) and data; the frame is len + 6 bytes.
// A file frame:
//   06 <type '0'..'4'> <4 digits: n> <n body bytes, 0 to 1024>
//
// The digits are ASCII decimal filled on the left with '0': len 48 is
// 30 30 34 38. Reading a frame is incremental: ScanPacket and ScanFile
// look at the bytes of a frame received so far and say "need more" (with
// the least the frame can still be), "complete" (with its length) or "bad"
// (with why); a FrameReader takes bytes out of a stream up to a frame's end
// and no further (wire_socket.h does the same from a socket, for the
// programs). Nothing here allocates.
#ifndef TRANPAK_KIT_WIRE_H
#define TRANPAK_KIT_WIRE_H

namespace tranpak::wire {

inline constexpr int kLenDigits = 4;

inline constexpr unsigned char kPacketStart = 0x02;
inline constexpr unsigned char kPacketStop = 0x03;
// Start byte and length digits.
inline constexpr int kPacketHeadSize = 1 + kLenDigits;
// Start byte, length digits and stop byte around the len bytes.
inline constexpr int kPacketOverhead = kPacketHeadSize + 1;
// The len a receiver takes: txcode and bitmap (12 bytes) and field 64's
// MAC (8) at least; at most what its 2048 bytes after the head hold.
inline constexpr int kMinPacketLen = 20;
inline constexpr int kMaxPacketLen = 2047;
inline constexpr int kMinPacketSize = kMinPacketLen + kPacketOverhead;
// Room for the longest Packet a receiver takes.
inline constexpr int kPacketBufSize = kMaxPacketLen + kPacketOverhead;

inline constexpr unsigned char kFileStart = 0x06;
// Start byte, type and length digits.
inline constexpr int kFileHeadSize = 2 + kLenDigits;
inline constexpr int kFileBodySize = 1024;
inline constexpr int kFileBufSize = kFileHeadSize + kFileBodySize;
// File frame types.
inline constexpr char kFileSendRequest = '0';
inline constexpr char kFileFetchRequest = '1';
inline constexpr char kFileData = '2';
inline constexpr char kFileRefused = '3';
inline constexpr char kFileEnd = '4';

// The larger of the two frames.
inline constexpr int kAnyBufSize = kPacketBufSize > kFileBufSize ? kPacketBufSize : kFileBufSize;

// Writes value (0 to 9999) as four digits, '0'-filled; no NUL.
inline void PutDigits(unsigned char digits[kLenDigits], int value)
{
    // Inline: every frame sent writes its head, and the call cost as much
    // as the four digits.
    for (int k = kLenDigits - 1; k >= 0; --k) {
        digits[k] = static_cast<unsigned char>('0' + value % 10);
        value /= 10;
    }
}
// The value of four ASCII decimal digits, or -1 when one is not a digit.
int ReadDigits(const unsigned char digits[kLenDigits]);
// 02 and len as four digits (len 0 to 9999).
void PutPacketHead(unsigned char head[kPacketHeadSize], int len);
// 06, the type and the body length n as four digits (n 0 to 9999).
void PutFileHead(unsigned char head[kFileHeadSize], char type, int n);

enum class Kind : unsigned char { kPacket, kFile, kAny };
enum class Status : unsigned char { kNeedMore, kComplete, kBad };
enum class Fault : unsigned char {
    kNone,
    kStart,   // the first byte starts no frame of the kind
    kDigits,  // the length digits are not four decimal digits
    kShort,   // a Packet's len below 20
    kLong,    // a Packet's len above 2047, a file body above 1024
    kStop,    // no 03 after a Packet's len bytes
    kRoom,    // a frame larger than a reader's buffer
};

// What the bytes of a frame received so far say.
struct Scan {
    Status status;
    Fault fault;  // kBad: why; else kNone
    // kNeedMore: the fewest bytes the whole frame can have, as far as is
    // known (before the length digits: the smallest frame of the kind),
    // so a read of size minus what is held never passes the frame's end;
    // kComplete: the frame's length; kBad: 0.
    int size;
    // The value of the length digits once they are known and are digits
    // (a Packet's len, a file frame's body length), else -1.
    int len;
    // kAny: the kind the first byte named, once it came.
    Kind kind;
};

// A Packet's len against the smallest and the largest: kShort, kLong or
// kNone. The scanner's rule, for a len read some other way too.
Fault JudgePacketLen(int len);

// Looks at the first count bytes of a frame. The start byte is judged as
// soon as it is there; the length when all four digits are; a Packet's
// stop byte when the whole frame is. Bytes beyond the frame's end are not
// looked at. A file frame's type is the caller's to judge.
Scan ScanPacket(const unsigned char *bytes, int count);
Scan ScanFile(const unsigned char *bytes, int count);
// Either frame, as its first byte says.
Scan ScanFrame(Kind kind, const unsigned char *bytes, int count);

// A short reason in words: "no frame starts with this byte", ...
const char *FaultText(Fault fault);

// Collects one frame of a kind at a time into the caller's buffer, from
// bytes that come in pieces of any size; a byte past the frame's end is
// never taken, so what follows stays with the caller.
class FrameReader {
public:
    // room: the buffer's size; a frame that would not fit is bad (kRoom).
    FrameReader(Kind kind, unsigned char *buf, int room);
    // Takes bytes of the frame from bytes[0, count) until it is complete
    // or bad; *taken receives how many. Once it is, nothing more is taken
    // until Restart.
    Scan Feed(const unsigned char *bytes, int count, int *taken);
    // For a receive straight into the buffer: where the next byte goes,
    // and how many bytes may be received there now without passing the
    // frame's end (0 once it is complete or bad)...
    unsigned char *Tail() const { return buf_ + held_; }
    int Wanted() const;
    // ...and then how many were: n is at most Wanted().
    Scan Took(int n);
    Scan Result() const { return scan_; }
    int Held() const { return held_; }
    const unsigned char *Bytes() const { return buf_; }
    // Forgets the frame, to read the next one.
    void Restart();

private:
    Scan Rescan();
    Kind kind_;
    unsigned char *buf_;
    int room_;
    int held_ = 0;
    Scan scan_;
};

}  // namespace tranpak::wire

#endif
