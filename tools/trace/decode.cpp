// Decoding one frame against the loaded definitions:
//
//   02 30 30 34 38        start byte, len "0048"
//   30 32 30 30           message type "0200"
//   70 00 .. 01           bitmap: fields 2 3 4 64
//   31 36 34 37 ..        data area from frame offset 17
//   03                    stop byte
//
// Every byte of a masked field is noted while decoding, so that the raw
// dump of a frame that does not decode shows it as "**".
#include "../common/message_view.h"
#include "../common/tool_support.h"
#include "decode.h"
#include "text_class.h"
#include "wire.h"
#include "wire_format.h"

#include <cstdio>
#include <cstring>

namespace tranpak::tools {
namespace {

// After the head, the message type (4) and the bitmap (8).
constexpr size_t kDataAt = wire::kPacketHeadSize + 4 + 8;

bool ContentPasses(int type, const std::string &value)
{
    switch (type) {
    case CELL_NI:
    case CELL_NF:
    case CELL_N:
        return IsNumberText(value.c_str()) != 0;
    case CELL_A:
        return IsAlphaText(value.c_str()) != 0;
    case CELL_AN:
        return IsAlnumText(value.c_str()) != 0;
    default:
        return true;
    }
}

bool AllDigits(const std::string &s)
{
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return !s.empty();
}

// How digits travel in the bytes a raw dump shows: as ASCII characters,
// also as EBCDIC ones (F0 to F9), also two a byte (BCD).
struct DigitCodes {
    bool ebcdic = false;
    bool bcd = false;
};

// Hides every run of `least` or more bytes that `digit` takes, from byte
// `from` on, but its last `shown`.
template <typename IsDigit>
void HideRuns(const std::string &frame, size_t from, size_t least, size_t shown, IsDigit digit,
              std::vector<bool> *hidden)
{
    for (size_t i = from; i < frame.size();) {
        size_t end = i;
        while (end < frame.size() && digit(static_cast<unsigned char>(frame[end])))
            ++end;
        if (end - i >= least)
            for (size_t b = i; b < end - shown; ++b)
                (*hidden)[b] = true;
        i = end == i ? i + 1 : end;
    }
}

// Hides the digits of every run of 13 or more digits from byte `from` on
// but its last four: a card number in bytes no field decoded (trailing
// bytes, the rest of a frame that breaks off) stays as masked in the raw
// dump as the card-data fields are. Digits are ASCII, and EBCDIC or BCD
// where the dialect writes them so (13 BCD digits take 7 bytes).
void HideDigitRuns(const std::string &frame, size_t from, std::vector<bool> *hidden, DigitCodes codes = {})
{
    constexpr size_t kCardRunMin = 13, kShownDigits = 4;
    HideRuns(
        frame, from, kCardRunMin, kShownDigits, [](unsigned char b) { return b >= '0' && b <= '9'; }, hidden);
    if (codes.ebcdic)
        HideRuns(
            frame, from, kCardRunMin, kShownDigits, [](unsigned char b) { return b >= 0xF0 && b <= 0xF9; }, hidden);
    if (codes.bcd)
        HideRuns(
            frame, from, (kCardRunMin + 1) / 2, kShownDigits / 2,
            [](unsigned char b) { return (b >> 4) <= 9 && (b & 0x0F) <= 9; }, hidden);
}

// The frame as rows of 16 hex bytes, ** for a hidden one; the bytes from
// undecoded on are those no field took.
std::string RawRows(const std::string &frame, std::vector<bool> hidden, bool unmask, size_t undecoded,
                    DigitCodes codes = {})
{
    if (!unmask)
        HideDigitRuns(frame, undecoded, &hidden, codes);
    std::string rows;
    for (size_t i = 0; i < frame.size(); i += 16) {
        rows += " ";
        for (size_t j = i; j < frame.size() && j < i + 16; ++j)
            rows += " " + (hidden[j] ? std::string("**") : ToHex(frame.data() + j, 1));
        rows += "\n";
    }
    return rows;
}

// Why a field's bytes at offset do not decode, or "" with its prefix
// and value. Texts of masked fields never quote their bytes.
std::string DecodeField(const TpCellDef &cell, const std::string &data, size_t offset, bool masked, std::string *prefix,
                        std::string *value)
{
    size_t count = static_cast<size_t>(cell.maxlen);
    if (cell.varlen == 0 && cell.maxlen == 0)
        return "no definition for this field";
    if (cell.varlen > 0) {
        if (offset + static_cast<size_t>(cell.varlen) > data.size())
            return "length prefix runs past the data";
        *prefix = data.substr(offset, static_cast<size_t>(cell.varlen));
        if (!AllDigits(*prefix))
            return masked ? "length prefix is not a number"
                          : "length prefix \"" + Escaped(*prefix) + "\" is not a number";
        long n = 0;
        for (char c : *prefix)
            n = n > 100000 ? n : n * 10 + (c - '0');
        if (n > cell.maxlen)
            return "length " + (masked ? std::string("prefix") : *prefix) + " is above the field's maximum " +
                   std::to_string(cell.maxlen);
        count = static_cast<size_t>(n);
    }
    const size_t valueAt = offset + prefix->size();
    if (valueAt + count > data.size())
        return "value of " + std::to_string(count) + " bytes runs past the data";
    *value = data.substr(valueAt, count);
    if (cell.type != CELL_B && !ContentPasses(cell.type, *value))
        return masked ? "value of " + std::to_string(count) + " bytes is not " + TypeName(cell.type)
                      : "value \"" + Escaped(*value) + "\" is not " + TypeName(cell.type);
    return "";
}

void CheckMac(const std::string &frame, const std::string &data, const unsigned char bitmap[8],
              const DecodeOptions &options, FrameReport *r)
{
    if (!options.haveKey) {
        r->mac = MacStatus::kNotChecked;
    } else if (!BitSet(bitmap, 64) || data.size() < 8) {
        r->mac = MacStatus::kNone;
    } else {
        unsigned char mac[8];
        const MacChoice &c = options.mac;
        // The data area before field 64, after the type and the bitmap
        // when the MAC covers the whole message.
        const bool whole = MacCovers(c) == TP_MAC_COVERS_MESSAGE;
        const size_t from = whole ? wire::kPacketHeadSize : kDataAt;
        const auto *covered = reinterpret_cast<const unsigned char *>(frame.data() + from);
        const int n = static_cast<int>(kDataAt - from + data.size() - 8);
        // The library's own MAC takes the first 8 bytes of whatever key was given.
        const int keyLen = c.algorithm == TP_MAC_LEGACY ? 8 : c.keyLen;
        TpMac(c.algorithm, c.padding, c.key, keyLen, covered, n, mac, 8);
        r->mac = std::memcmp(mac, data.data() + data.size() - 8, 8) == 0 ? MacStatus::kVerified : MacStatus::kFailed;
    }
}

}  // namespace

FrameReport DecodeFrame(const std::string &frame, const DecodeOptions &options)
{
    if (options.wire != nullptr && !options.wire->seed)
        return DecodeDialectFrame(frame, options);
    FrameReport r;
    r.size = frame.size();
    std::vector<bool> hidden(frame.size(), false);
    const auto *bytes = reinterpret_cast<const unsigned char *>(frame.data());
    r.complete = frame.size() >= kDataAt;
    if (!r.complete) {
        r.raw = RawRows(frame, hidden, options.unmask, 0);
        return r;
    }
    r.start = bytes[0];
    r.startOk = r.start == wire::kPacketStart;
    const std::string digits = frame.substr(1, 4);
    r.digits = Escaped(digits);
    r.follow = static_cast<int>(frame.size()) - 6;
    r.digitsOk = wire::ReadDigits(bytes + 1) == r.follow;
    r.stop = bytes[frame.size() - 1];
    r.stopOk = r.stop == wire::kPacketStop;
    r.type = Escaped(frame.substr(5, 4));
    unsigned char bitmap[8];
    std::memcpy(bitmap, bytes + 9, 8);
    r.bitmap = ToHex(bitmap, 8, " ");
    for (int field = 1; field <= kFieldCount; ++field)
        if (BitSet(bitmap, field))
            r.bitmapFields.push_back(field);

    const std::string data = frame.size() > kDataAt ? frame.substr(kDataAt, frame.size() - kDataAt - 1) : "";
    // Track 2 data (Z) is card data whichever field carries it.
    const auto isMasked = [&](int field) {
        return !options.unmask &&
               (options.masked.count(field) != 0 || CellDef(options.definitions, field).type == CELL_Z);
    };
    size_t offset = 0;
    for (size_t k = 0; k < r.bitmapFields.size(); ++k) {
        const int field = r.bitmapFields[k];
        const TpCellDef cell = CellDef(options.definitions, field);
        FieldReport f{field, cell.name, TypeName(cell.type), "", ""};
        std::string value;
        const std::string reason = DecodeField(cell, data, offset, isMasked(field), &f.prefix, &value);
        if (!reason.empty()) {
            r.failure = "field " + std::to_string(field) + " (" + (cell.name[0] ? cell.name : "undefined") +
                        ") does not decode at data offset " + std::to_string(offset) + " (frame offset " +
                        std::to_string(offset + kDataAt) + "): " + reason;
            // Where this field and those after it lie is unknown: hide the
            // rest when any of them is masked.
            bool maskedAhead = false;
            for (size_t m = k; m < r.bitmapFields.size(); ++m)
                maskedAhead = maskedAhead || isMasked(r.bitmapFields[m]);
            for (size_t b = kDataAt + offset; maskedAhead && b < frame.size(); ++b)
                hidden[b] = true;
            break;
        }
        const size_t valueAt = offset + f.prefix.size();
        f.value = cell.type == CELL_B ? ToHex(value.data(), value.size()) : Escaped(value);
        // Bytes as the library shows them: a TLV field's card data masked.
        if (cell.type == CELL_B && !options.unmask && !isMasked(field))
            f.value = DescribedBytes(options.definitions, field, f.value);
        if (isMasked(field)) {
            f.value = Mask(cell.type == CELL_B ? f.value : value);
            for (size_t b = 0; b < value.size(); ++b)
                hidden[kDataAt + valueAt + b] = true;
        }
        r.fields.push_back(f);
        offset = valueAt + value.size();
    }
    if (r.failure.empty())
        r.trailing = data.size() - offset;
    CheckMac(frame, data, bitmap, options, &r);
    if (!r.ok())
        r.raw = RawRows(frame, hidden, options.unmask, kDataAt + offset);
    return r;
}

FrameReport DecodeDialectFrame(const std::string &frame, const DecodeOptions &options)
{
    const wire::WireFormat &f = options.wire->format;
    FrameReport r;
    r.dialect = WireSummary(*options.wire);
    r.size = frame.size();
    const auto *bytes = reinterpret_cast<const unsigned char *>(frame.data());
    const bool envelope = f.envelope == wire::EnvelopeCode::kStxEtx;
    r.envelope = envelope;
    const size_t head = static_cast<size_t>(wire::FrameHeadSize(f)), tail = static_cast<size_t>(wire::FrameTailSize(f));
    const DigitCodes codes{f.charset != wire::Charset::kAscii, f.numbers == wire::NumberCode::kBcd};
    r.least = head + wire::kMinBody + tail;
    r.complete = frame.size() >= r.least;
    if (!r.complete) {
        r.raw = RawRows(frame, std::vector<bool>(frame.size(), false), options.unmask, 0, codes);
        return r;
    }
    const size_t lengthAt = envelope ? 1 : 0, lengthSize = static_cast<size_t>(wire::LengthSize(f));
    r.start = bytes[0];
    r.startOk = !envelope || r.start == wire::kPacketStart;
    r.stop = bytes[frame.size() - 1];
    r.stopOk = !envelope || r.stop == wire::kPacketStop;
    r.digits = lengthSize > 0 ? ToHex(bytes + lengthAt, lengthSize, " ") : "";
    // What the length counts besides the body, and so what it should say.
    const int besideBody = f.counts == wire::LengthCounts::kBody     ? 0
                           : f.counts == wire::LengthCounts::kHeader ? f.headerLen
                                                                     : f.headerLen + static_cast<int>(lengthSize);
    r.follow = static_cast<int>(frame.size() - head - tail) + besideBody;
    r.lengthValue = lengthSize > 0 ? wire::ReadLength(f, bytes + lengthAt) : -1;
    r.digitsOk = lengthSize == 0 || r.lengthValue == r.follow;
    r.header = ToHex(bytes + head - f.headerLen, f.headerLen, " ");

    TpSession *s = options.definitions;
    if (TpUnpackMesg(s, bytes, static_cast<int>(frame.size())) != 0) {
        TpError err{};
        err.size = sizeof err;
        TpGetLastError(s, &err);
        r.failure = std::string("the frame does not decode: ") + ControlsEscaped(err.text);
        if (err.field >= 0 || err.offset >= 0)
            r.failure += " (" + (err.field >= 0 ? "field " + std::to_string(err.field) : std::string("the frame")) +
                         (err.offset >= 0 ? ", frame offset " + std::to_string(err.offset) : "") + ")";
        r.raw = RawRows(frame, std::vector<bool>(frame.size(), false), options.unmask, head, codes);
        return r;
    }
    r.type = Escaped(MessageType(s));
    unsigned char bitmap[8];
    Bitmap(s, bitmap);
    r.bitmap = ToHex(bitmap, 8, " ");
    const auto isMasked = [&](int field) { return !options.unmask && options.masked.count(field) != 0; };
    for (int field = 1; field <= kFieldCount; ++field) {
        if (!BitSet(bitmap, field))
            continue;
        r.bitmapFields.push_back(field);
        const TpCellDef cell = CellDef(s, field);
        if (!Defined(cell))
            continue;  // bit 1: the secondary bitmap's
        FieldReport fr{field, cell.name, TypeName(cell.type), "", FieldText(s, field)};
        if (cell.varlen > 0) {
            // What the prefix counts: characters, digits, or bytes of B.
            const size_t count = cell.type == CELL_B ? fr.value.size() / 2 : fr.value.size();
            std::string digits = std::to_string(count);
            fr.prefix =
                std::string(digits.size() < static_cast<size_t>(cell.varlen) ? cell.varlen - digits.size() : 0, '0') +
                digits;
        }
        // Bytes as the library shows them: a TLV field's card data masked.
        const std::string described = cell.type == CELL_B && !options.unmask ? DescribedValue(s, field) : "";
        fr.value = isMasked(field) ? Mask(fr.value) : !described.empty() ? described : Escaped(fr.value);
        r.fields.push_back(fr);
    }
    bool maskedThere = false;
    for (const FieldReport &fr : r.fields)
        maskedThere = maskedThere || isMasked(fr.number);
    if (options.haveKey)
        r.mac = !BitSet(bitmap, 64)                       ? MacStatus::kNone
                : TpCheckMesgMac(s, options.mac.key) == 0 ? MacStatus::kVerified
                                                          : MacStatus::kFailed;
    if (!r.ok()) {
        // Where a masked field's bytes lie is the library's to know: with
        // one in the message, all after the head is hidden.
        std::vector<bool> hidden(frame.size(), false);
        for (size_t b = head; maskedThere && b < frame.size(); ++b)
            hidden[b] = true;
        r.raw = RawRows(frame, hidden, options.unmask, head, codes);
    }
    return r;
}

std::string DescribeFrame(const std::string &frame, const DecodeOptions &options)
{
    return FrameText(DecodeFrame(frame, options));
}

}  // namespace tranpak::tools
