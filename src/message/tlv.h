// BER-TLV lists, as field 55 carries a chip card's data: walked, searched,
// built and described in the caller's storage, nothing allocated.
//
//   9F02 06 000000001250   tag 9F02, 6 bytes: amount authorised
//   70 81 90 ...           constructed tag 70, 144 bytes of TLVs inside
//
// A tag is one to three bytes (the first byte's low five bits all ones
// say that more follow, and each later byte with its top bit set says the
// same). A length is one byte up to 127, or 0x81 and one byte, or 0x82 and
// two bytes (up to kTlvMaxValueLen); a constructed tag (bit 6 of its first
// byte) holds a list of TLVs. A list is refused at the first fault, with
// the offset of the TLV (or of the stray bytes) where it lies:
//
//   tranpak: TLV at offset 12: length 40 runs past the end (30 bytes left)
#ifndef TRANPAK_MESSAGE_TLV_H
#define TRANPAK_MESSAGE_TLV_H

#include "diag/mask.h"
#include "tranpak.h"

namespace tranpak {

// Bytes of the longest tag taken.
inline constexpr int kTlvMaxTagLen = 3;
// The longest value a length can say: 0x82 and two bytes. Far beyond the
// 400 bytes any field holds.
inline constexpr int kTlvMaxValueLen = 0xFFFF;
// Bytes of the longest length: 0x82 and two bytes.
inline constexpr int kTlvMaxLengthLen = 3;
// Constructed tags nest at most this deep: a TLV inside more constructed
// tags than this is refused (TP_TLV_MAX_DEPTH of the public header).
inline constexpr int kTlvMaxDepth = TP_TLV_MAX_DEPTH;
// A fault's reason, NUL included.
inline constexpr int kTlvReasonSize = 96;

// One TLV as the walker meets it. Offsets count from the list's first
// byte; value points into the caller's bytes.
struct TlvItem {
    int tag;           // the tag's bytes, big-endian: 0x9F02
    int tagLen;        // 1 to 3
    int depth;         // constructed tags around it: 0 at the top level
    bool constructed;  // its value is a list of TLVs, walked next
    int offset;        // of its tag
    int valueOffset;   // of its value
    int len;           // of its value
    const unsigned char *value;
};

// Where a list breaks and why ("length cut short").
struct TlvFault {
    int offset = -1;
    char reason[kTlvReasonSize] = {};
};

// Walks a list in order, a constructed tag before the TLVs inside it.
class TlvWalker {
public:
    TlvWalker(const unsigned char *bytes, int len);
    // 1 with the next TLV in item, 0 after the last one, -1 at a fault
    // (then fault() says where and why, and every later call is -1).
    int Next(TlvItem &item);
    const TlvFault &fault() const { return fault_; }

private:
    int Fail(int offset, const char *format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;
    // The end of the list or constructed value the walker is in.
    int End() const { return depth_ > 0 ? ends_[depth_ - 1] : len_; }
    bool StrayBytes(int end);

    const unsigned char *bytes_;
    int len_;
    int pos_ = 0;
    int depth_ = 0;
    bool failed_ = false;
    // The ends of the constructed values the walker is inside, and their tags.
    int ends_[kTlvMaxDepth] = {};
    int tags_[kTlvMaxDepth] = {};
    TlvFault fault_;
};

// Walks the whole list: 0 when it is well formed, else -1 and the fault.
int CheckTlv(const unsigned char *bytes, int len, TlvFault &fault);

// The log line of a fault: "tranpak: TLV at offset 12: <reason>".
inline constexpr int kTlvFaultTextSize = 32 + kTlvReasonSize;
void TlvFaultText(const TlvFault &fault, char out[kTlvFaultTextSize]);

// The first TLV with this tag in the whole list (inside constructed ones
// too), once the whole list has been found well formed: 1 with it in
// item, 0 when no TLV has the tag, -1 at a fault.
int FindTlv(const unsigned char *bytes, int len, int tag, TlvItem &item, TlvFault &fault);

// Bytes tag takes, 1 to 3, or 0 when it is no tag: its bytes must say
// where it ends (more follow exactly while they say so), and its first
// byte is neither 0x00 nor 0xFF.
int TlvTagLength(int tag);
// Bytes the length of a value of len bytes takes, 1 to 3 (0 above
// kTlvMaxValueLen).
int TlvLengthLength(int len);
// Writes tag's bytes and the length len at out (room for
// kTlvMaxTagLen + kTlvMaxLengthLen bytes); the bytes written.
int PutTlvHead(unsigned char *out, int tag, int len);

// The name of a common EMV tag ("amount authorised"), nullptr for others.
const char *TlvTagName(int tag);
// Whether a tag's value is card data, shown masked as a card-data
// field's: 5A (PAN), 57 and 9F6B (track 2), 56 (track 1), 5F20
// (cardholder name), 5F24 (expiry), 9F1F and 9F20 (track discretionary
// data).
bool TlvTagIsCardData(int tag);

// The list described, one TLV a line, indent spaces before each and two
// more for each constructed tag around it, values as upper-case hex:
//
//   9F02 amount authorised: 000000001250
//   5A application PAN: ************0119
//   70 record template
//     57 track 2 equivalent data: ****************************4899
//
// Card data (TlvTagIsCardData) shows only its last four hex digits
// unless rule is MaskRule::kNone (kAlways masks every value). With json,
// one JSON array instead, no line feed:
//   [{"tag": "9F02", "name": "amount authorised", "value": "000000001250"},
//    {"tag": "70", "name": "record template", "tags": [...]}]
// ("name" only for the tags the table names). -1 at a fault of the list
// (checked whole first), with nothing put.
int PutTlvList(TextSink &sink, const unsigned char *bytes, int len, MaskRule rule, bool json, int indent,
               TlvFault &fault);

// PutTlvList into out (room bytes, NUL included); flags TP_DESCRIBE_JSON
// and TP_DESCRIBE_UNMASKED as TpDescribe takes them. *outLen (when not
// NULL) receives the text's length without the NUL, also when it does not
// fit. 0 when written; -1 at a fault of the list (fault says it; nothing
// written), for a text that does not fit in room (nothing written) or
// unknown flags. What TpDescribe shows for a field whose definition says
// its value is a TLV list, there with indent 8.
int DescribeTlv(const unsigned char *bytes, int len, char *out, int room, int flags, int indent, int *outLen,
                TlvFault &fault);

}  // namespace tranpak

#endif
