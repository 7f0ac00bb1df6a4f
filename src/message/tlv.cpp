// BER-TLV: the walker every other routine here stands on, the tag names,
// the description.
#include "message/tlv.h"

#include <cstdarg>
#include <cstdio>

namespace tranpak {
namespace {

// Six hex digits of a three-byte tag and a NUL.
constexpr int kTagHexSize = 2 * kTlvMaxTagLen + 1;
// Bits of a tag's first byte: more tag bytes follow (all five low bits
// set), the value is a list of TLVs.
constexpr unsigned char kTagNumberBits = 0x1F;
constexpr unsigned char kConstructedBit = 0x20;
// Bit of a later tag byte saying another follows.
constexpr unsigned char kTagMoreBit = 0x80;
// Length bytes: below 0x80 the length itself; 0x81, 0x82 one or two
// length bytes follow; 0x80 (indefinite) and above 0x82 are not taken.
constexpr unsigned char kLongLength = 0x80;
constexpr unsigned char kLongLengthMax = 0x82;
// Bytes that fill space between or after TLVs; never a tag's first byte.
constexpr unsigned char kFillZero = 0x00;
constexpr unsigned char kFillOnes = 0xFF;
// Spaces of indent for each constructed tag around a TLV.
constexpr int kIndentStep = 2;

constexpr char kHexDigits[] = "0123456789ABCDEF";

struct TagName {
    int tag;
    const char *name;
    bool cardData;
};

// The common tags of EMV chip data, in tag order.
constexpr TagName kTagNames[] = {
    {0x4F, "application identifier", false},
    {0x50, "application label", false},
    {0x56, "track 1 equivalent data", true},
    {0x57, "track 2 equivalent data", true},
    {0x5A, "application PAN", true},
    {0x61, "application template", false},
    {0x6F, "FCI template", false},
    {0x70, "record template", false},
    {0x71, "issuer script template 1", false},
    {0x72, "issuer script template 2", false},
    {0x77, "response message template format 2", false},
    {0x80, "response message template format 1", false},
    {0x82, "application interchange profile", false},
    {0x84, "dedicated file name", false},
    {0x86, "issuer script command", false},
    {0x87, "application priority indicator", false},
    {0x88, "short file identifier", false},
    {0x8A, "authorisation response code", false},
    {0x8C, "CDOL1", false},
    {0x8D, "CDOL2", false},
    {0x8E, "CVM list", false},
    {0x8F, "CA public key index", false},
    {0x91, "issuer authentication data", false},
    {0x94, "application file locator", false},
    {0x95, "terminal verification results", false},
    {0x9A, "transaction date", false},
    {0x9B, "transaction status information", false},
    {0x9C, "transaction type", false},
    {0xA5, "FCI proprietary template", false},
    {0x5F20, "cardholder name", true},
    {0x5F24, "application expiration date", true},
    {0x5F25, "application effective date", false},
    {0x5F28, "issuer country code", false},
    {0x5F2A, "transaction currency code", false},
    {0x5F2D, "language preference", false},
    {0x5F34, "PAN sequence number", false},
    {0x9F02, "amount authorised", false},
    {0x9F03, "amount other", false},
    {0x9F06, "application identifier (terminal)", false},
    {0x9F07, "application usage control", false},
    {0x9F08, "application version number", false},
    {0x9F09, "application version number (terminal)", false},
    {0x9F0D, "issuer action code default", false},
    {0x9F0E, "issuer action code denial", false},
    {0x9F0F, "issuer action code online", false},
    {0x9F10, "issuer application data", false},
    {0x9F11, "issuer code table index", false},
    {0x9F12, "application preferred name", false},
    {0x9F1A, "terminal country code", false},
    {0x9F1E, "interface device serial number", false},
    {0x9F1F, "track 1 discretionary data", true},
    {0x9F20, "track 2 discretionary data", true},
    {0x9F21, "transaction time", false},
    {0x9F26, "application cryptogram", false},
    {0x9F27, "cryptogram information data", false},
    {0x9F33, "terminal capabilities", false},
    {0x9F34, "CVM results", false},
    {0x9F35, "terminal type", false},
    {0x9F36, "application transaction counter", false},
    {0x9F37, "unpredictable number", false},
    {0x9F39, "POS entry mode", false},
    {0x9F40, "additional terminal capabilities", false},
    {0x9F41, "transaction sequence counter", false},
    {0x9F53, "transaction category code", false},
    {0x9F5B, "issuer script results", false},
    {0x9F6B, "track 2 data", true},
    {0x9F6E, "form factor indicator", false},
    {0x9F7C, "customer exclusive data", false},
    {0xBF0C, "FCI issuer discretionary data", false},
};

const TagName *FindName(int tag)
{
    for (const TagName &t : kTagNames)
        if (t.tag == tag)
            return &t;
    return nullptr;
}

// A tag's bytes as hex, two digits a byte.
void TagHex(int tag, char out[kTagHexSize])
{
    const int bytes = tag > 0xFFFF ? 3 : tag > 0xFF ? 2 : 1;
    int n = 0;
    for (int k = bytes - 1; k >= 0; --k) {
        const int b = (tag >> (8 * k)) & 0xFF;
        out[n++] = kHexDigits[b >> 4];
        out[n++] = kHexDigits[b & 0x0F];
    }
    out[n] = '\0';
}

bool IsFill(unsigned char b) { return b == kFillZero || b == kFillOnes; }

}  // namespace

TlvWalker::TlvWalker(const unsigned char *bytes, int len) : bytes_(bytes), len_(len > 0 && bytes != nullptr ? len : 0)
{
}

int TlvWalker::Fail(int offset, const char *format, ...)
{
    failed_ = true;
    fault_.offset = offset;
    va_list args;
    va_start(args, format);
    if (std::vsnprintf(fault_.reason, sizeof fault_.reason, format, args) < 0)
        fault_.reason[0] = '\0';
    va_end(args);
    return -1;
}

// Fill bytes where a tag should start: all the rest of the list or
// constructed value (trailing padding), or fill among TLVs.
bool TlvWalker::StrayBytes(int end)
{
    const unsigned char first = bytes_[pos_];
    if (!IsFill(first))
        return false;
    int n = 0;
    while (pos_ + n < end && IsFill(bytes_[pos_ + n]))
        ++n;
    if (pos_ + n == end)
        Fail(pos_, "%d trailing byte%s of padding (0x%02X), not a TLV", n, n == 1 ? "" : "s", first);
    else
        Fail(pos_, "byte 0x%02X is padding, not a tag", first);
    return true;
}

int TlvWalker::Next(TlvItem &item)
{
    if (failed_)
        return -1;
    while (depth_ > 0 && pos_ == ends_[depth_ - 1])
        --depth_;
    if (depth_ == 0 && pos_ == len_)
        return 0;
    const int end = End();
    const int start = pos_;
    if (StrayBytes(end))
        return -1;

    int tag = bytes_[start];
    int tagLen = 1;
    bool more = (bytes_[start] & kTagNumberBits) == kTagNumberBits;
    while (more) {
        if (tagLen == kTlvMaxTagLen)
            return Fail(start, "tag longer than %d bytes", kTlvMaxTagLen);
        if (start + tagLen >= end)
            return Fail(start, "tag cut short (%d byte%s left)", end - start, end - start == 1 ? "" : "s");
        const unsigned char b = bytes_[start + tagLen];
        tag = tag << 8 | b;
        ++tagLen;
        more = (b & kTagMoreBit) != 0;
    }
    char hex[kTagHexSize];
    TagHex(tag, hex);

    const int at = start + tagLen;
    if (at >= end)
        return Fail(start, "length cut short (tag %s, no length byte)", hex);
    const unsigned char first = bytes_[at];
    int len = first;
    int lenLen = 1;
    if (first == kLongLength)
        return Fail(start, "indefinite length (0x80) not taken");
    if (first > kLongLengthMax)
        return Fail(start, "length form 0x%02X not taken (at most 0x82, two length bytes)", first);
    if (first > kLongLength) {
        lenLen = 1 + (first & 0x7F);
        if (at + lenLen > end)
            return Fail(start, "length cut short (0x%02X and %d of %d length bytes)", first, end - at - 1, lenLen - 1);
        len = 0;
        for (int k = 1; k < lenLen; ++k)
            len = len << 8 | bytes_[at + k];
    }
    const int valueOffset = at + lenLen;
    if (len > end - valueOffset) {
        if (depth_ == 0)
            return Fail(start, "length %d runs past the end (%d byte%s left)", len, end - valueOffset,
                        end - valueOffset == 1 ? "" : "s");
        char outer[kTagHexSize];
        TagHex(tags_[depth_ - 1], outer);
        return Fail(start, "length %d runs past the end of %s (%d byte%s left)", len, outer, end - valueOffset,
                    end - valueOffset == 1 ? "" : "s");
    }

    const bool constructed = (bytes_[start] & kConstructedBit) != 0;
    if (constructed && len > 0) {
        if (depth_ == kTlvMaxDepth)
            return Fail(valueOffset, "constructed tags nested deeper than %d", kTlvMaxDepth);
        ends_[depth_] = valueOffset + len;
        tags_[depth_] = tag;
    }
    item.tag = tag;
    item.tagLen = tagLen;
    item.depth = depth_;
    item.constructed = constructed;
    item.offset = start;
    item.valueOffset = valueOffset;
    item.len = len;
    item.value = bytes_ + valueOffset;
    if (constructed && len > 0) {
        ++depth_;
        pos_ = valueOffset;
    } else {
        pos_ = valueOffset + len;
    }
    return 1;
}

int CheckTlv(const unsigned char *bytes, int len, TlvFault &fault)
{
    TlvWalker walker(bytes, len);
    TlvItem item;
    int got;
    while ((got = walker.Next(item)) == 1) {
    }
    fault = walker.fault();
    return got;
}

void TlvFaultText(const TlvFault &fault, char out[kTlvFaultTextSize])
{
    std::snprintf(out, kTlvFaultTextSize, "tranpak: TLV at offset %d: %s", fault.offset, fault.reason);
}

int FindTlv(const unsigned char *bytes, int len, int tag, TlvItem &item, TlvFault &fault)
{
    if (CheckTlv(bytes, len, fault) != 0)
        return -1;
    TlvWalker walker(bytes, len);
    while (walker.Next(item) == 1)
        if (item.tag == tag)
            return 1;
    return 0;
}

int TlvTagLength(int tag)
{
    if (tag <= 0 || tag > 0xFFFFFF)
        return 0;
    const int n = tag > 0xFFFF ? 3 : tag > 0xFF ? 2 : 1;
    const unsigned char first = static_cast<unsigned char>(tag >> (8 * (n - 1)));
    if (IsFill(first))
        return 0;
    for (int k = 0; k < n; ++k) {
        const unsigned char b = static_cast<unsigned char>(tag >> (8 * (n - 1 - k)));
        const bool more = k == 0 ? (b & kTagNumberBits) == kTagNumberBits : (b & kTagMoreBit) != 0;
        if (more != (k < n - 1))
            return 0;
    }
    return n;
}

int TlvLengthLength(int len)
{
    if (len < 0 || len > kTlvMaxValueLen)
        return 0;
    return len < kLongLength ? 1 : len <= 0xFF ? 2 : 3;
}

int PutTlvHead(unsigned char *out, int tag, int len)
{
    const int tagLen = TlvTagLength(tag);
    int n = 0;
    for (int k = tagLen - 1; k >= 0; --k)
        out[n++] = static_cast<unsigned char>(tag >> (8 * k));
    const int lenLen = TlvLengthLength(len);
    if (lenLen > 1)
        out[n++] = static_cast<unsigned char>(kLongLength + lenLen - 1);
    for (int k = lenLen > 1 ? lenLen - 2 : 0; k >= 0; --k)
        out[n++] = static_cast<unsigned char>(len >> (8 * k));
    return n;
}

const char *TlvTagName(int tag)
{
    const TagName *t = FindName(tag);
    return t != nullptr ? t->name : nullptr;
}

bool TlvTagIsCardData(int tag)
{
    const TagName *t = FindName(tag);
    return t != nullptr && t->cardData;
}

namespace {

// A value as hex, masked as a card-data field's value is: all but the
// last four digits as '*'.
void PutHexValue(TextSink &sink, const TlvItem &item, MaskRule rule)
{
    const bool masked = rule == MaskRule::kAlways || (rule == MaskRule::kCardFields && TlvTagIsCardData(item.tag));
    const int digits = 2 * item.len;
    const int hidden = !masked ? 0 : digits <= kClearTail ? digits : digits - kClearTail;
    for (int k = 0; k < digits; ++k) {
        const unsigned char b = item.value[k / 2];
        sink.Put(k < hidden ? '*' : kHexDigits[k % 2 == 0 ? b >> 4 : b & 0x0F]);
    }
}

void PutLine(TextSink &sink, const TlvItem &item, MaskRule rule, int indent)
{
    for (int k = 0; k < indent + kIndentStep * item.depth; ++k)
        sink.Put(' ');
    char hex[kTagHexSize];
    TagHex(item.tag, hex);
    sink.Put(hex);
    if (const char *name = TlvTagName(item.tag)) {
        sink.Put(' ');
        sink.Put(name);
    }
    if (!item.constructed) {
        sink.Put(':');
        if (item.len > 0)
            sink.Put(' ');
        PutHexValue(sink, item, rule);
    }
    sink.Put('\n');
}

// One object of the JSON array; a constructed tag's stays open for the
// TLVs inside it when it has any.
void PutObject(TextSink &sink, const TlvItem &item, MaskRule rule)
{
    char hex[kTagHexSize];
    TagHex(item.tag, hex);
    sink.Raw("{\"tag\": \"");
    sink.Raw(hex);
    sink.Raw("\"");
    if (const char *name = TlvTagName(item.tag)) {
        sink.Raw(", \"name\": \"");
        sink.Raw(name);
        sink.Raw("\"");
    }
    if (item.constructed) {
        sink.Raw(item.len > 0 ? ", \"tags\": [" : ", \"tags\": []}");
        return;
    }
    sink.Raw(", \"value\": \"");
    PutHexValue(sink, item, rule);
    sink.Raw("\"}");
}

}  // namespace

int PutTlvList(TextSink &sink, const unsigned char *bytes, int len, MaskRule rule, bool json, int indent,
               TlvFault &fault)
{
    // A list with a fault puts nothing, so a caller can show it otherwise.
    if (CheckTlv(bytes, len, fault) != 0)
        return -1;
    TlvWalker walker(bytes, len);
    TlvItem item;
    int got;
    int open = 0;  // JSON arrays of constructed tags open
    bool first = true;
    if (json)
        sink.Raw("[");
    while ((got = walker.Next(item)) == 1) {
        if (!json) {
            PutLine(sink, item, rule, indent);
            continue;
        }
        for (; open > item.depth; --open) {
            sink.Raw("]}");
            first = false;
        }
        if (!first)
            sink.Raw(", ");
        PutObject(sink, item, rule);
        first = item.constructed && item.len > 0;
        if (first)
            ++open;
    }
    fault = walker.fault();
    if (got != 0)
        return -1;
    if (json) {
        for (; open > 0; --open)
            sink.Raw("]}");
        sink.Raw("]");
    }
    return 0;
}

int DescribeTlv(const unsigned char *bytes, int len, char *out, int room, int flags, int indent, int *outLen,
                TlvFault &fault)
{
    fault = TlvFault{};
    if ((flags & ~(TP_DESCRIBE_JSON | TP_DESCRIBE_UNMASKED)) != 0) {
        std::snprintf(fault.reason, sizeof fault.reason, "flags 0x%X: unknown flags", static_cast<unsigned>(flags));
        return -1;
    }
    const MaskRule rule = (flags & TP_DESCRIBE_UNMASKED) != 0 ? MaskRule::kNone : MaskRule::kCardFields;
    const bool json = (flags & TP_DESCRIBE_JSON) != 0;
    TextSink measure{nullptr, 0, 0};
    if (PutTlvList(measure, bytes, len, rule, json, indent, fault) != 0)
        return -1;
    if (outLen != nullptr)
        *outLen = measure.len;
    if (out == nullptr || measure.len + 1 > room) {
        std::snprintf(fault.reason, sizeof fault.reason, "needs %d bytes, size is %d%s", measure.len + 1, room,
                      out == nullptr ? " and out is NULL" : "");
        return -1;
    }
    out[0] = '\0';
    TextSink sink{out, room, 0};
    return PutTlvList(sink, bytes, len, rule, json, indent, fault);
}

}  // namespace tranpak
