// TpTlvCheck, TpTlvItems, TpTlvFind, TpTlvAppend, TpTlvOpen, TpTlvClose
// and TpTlvDescribe. They take no session: a failure goes to the caller's
// TpError record, when one is given, and to no log.
#include "diag/errlog.h"
#include "message/tlv.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace tranpak {
namespace {

// The prefix every log text starts with; the detail is the text without it.
constexpr const char kPrefix[] = "tranpak: ";
// The placeholder TpTlvOpen writes for a length TpTlvClose fills in.
constexpr unsigned char kOpenLength[kTlvMaxLengthLen] = {0x82, 0x00, 0x00};

// The caller's record, filled as TpGetLastError fills one.
class Report {
public:
    explicit Report(TpError *err) : err_(err) { Clear(); }

    // A wrong argument: the text as a log line of the function.
    int Argument(const char *format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
    {
        va_list args;
        va_start(args, format);
        Set(kErrArgument, -1, format, args);
        va_end(args);
        return -1;
    }

    // A list that breaks the format.
    int Malformed(const TlvFault &fault)
    {
        char text[kTlvFaultTextSize];
        TlvFaultText(fault, text);
        return Fill(kErrMalformed, fault.offset, text);
    }

    // A fault the TLV routines report; those without an offset concern an
    // argument of the function named.
    int Fault(const char *function, const TlvFault &fault)
    {
        if (fault.offset >= 0)
            return Malformed(fault);
        return Argument("tranpak: %s() %s", function, fault.reason);
    }

    // The call ends without failing.
    int Done()
    {
        Clear();
        return 0;
    }

private:
    void Clear()
    {
        last_.category = 0;
        last_.text[0] = '\0';
        last_.detail[0] = '\0';
        last_.field = -1;
        last_.offset = -1;
        if (err_ != nullptr)
            CopyLastError(last_, err_);
    }

    void Set(ErrCategory category, int offset, const char *format, va_list args)
    {
        char text[kErrMesgSize];
        if (std::vsnprintf(text, sizeof text, format, args) < 0)
            text[0] = '\0';
        Fill(category, offset, text);
    }

    int Fill(ErrCategory category, int offset, const char *text)
    {
        last_.category = category;
        last_.field = -1;
        last_.offset = offset;
        std::snprintf(last_.text, sizeof last_.text, "%s", text);
        const size_t prefix = std::strlen(kPrefix);
        const char *detail = std::strncmp(text, kPrefix, prefix) == 0 ? text + prefix : text;
        std::snprintf(last_.detail, sizeof last_.detail, "%s", detail);
        if (err_ != nullptr)
            CopyLastError(last_, err_);
        return -1;
    }

    TpError *err_;
    LastErr last_{};
};

bool ListArguments(const void *data, int len) { return len >= 0 && (data != nullptr || len == 0); }

const unsigned char *Bytes(const void *data) { return static_cast<const unsigned char *>(data); }

// The bytes of the tag at p (within n bytes): 1 to 3, or 0 when they do
// not end within that.
int TagAt(const unsigned char *p, int n)
{
    if (n < 1)
        return 0;
    if ((p[0] & 0x1F) != 0x1F)
        return 1;
    for (int k = 1; k < n && k < kTlvMaxTagLen; ++k)
        if ((p[k] & 0x80) == 0)
            return k + 1;
    return 0;
}

// What keeps a well-formed list from being the value of a constructed tag
// built here: a TLV that would then lie deeper than kTlvMaxDepth (a list
// TpTlvCheck refuses), or a tag TpTlvOpen opened and not closed yet
// (closing the outer first would leave it empty, its TLVs beside it).
// True with the TLV's offset and why in fault when there is one.
bool ContentsFault(const unsigned char *bytes, int len, TlvFault &fault)
{
    TlvWalker walker(bytes, len);
    TlvItem item;
    while (walker.Next(item) == 1) {
        if (!item.constructed)
            continue;
        fault.offset = item.offset;
        if (item.len > 0 && item.depth == kTlvMaxDepth - 1) {
            std::snprintf(fault.reason, sizeof fault.reason, "constructed tags would nest deeper than %d",
                          kTlvMaxDepth);
            return true;
        }
        const int lenLen = item.valueOffset - item.offset - item.tagLen;
        if (lenLen == kTlvMaxLengthLen &&
            std::memcmp(bytes + item.offset + item.tagLen, kOpenLength, sizeof kOpenLength) == 0) {
            std::snprintf(fault.reason, sizeof fault.reason, "tag opened inside is still open (close it first)");
            return true;
        }
    }
    fault = TlvFault{};
    return false;
}

}  // namespace
}  // namespace tranpak

using namespace tranpak;

extern "C" TRANPAK_API int TRANPAK_CALL TpTlvCheck(const void *data, int len, int *faultOffset, TpError *err)
{
    Report report(err);
    if (faultOffset != nullptr)
        *faultOffset = -1;
    if (!ListArguments(data, len))
        return report.Argument("tranpak: TpTlvCheck() len = %d%s", len, data == nullptr ? " and data is NULL" : "");
    TlvFault fault;
    if (CheckTlv(Bytes(data), len, fault) != 0) {
        if (faultOffset != nullptr)
            *faultOffset = fault.offset;
        return report.Malformed(fault);
    }
    return report.Done();
}

extern "C" TRANPAK_API int TRANPAK_CALL TpTlvItems(const void *data, int len, TpTlvItem *items, int maxItems,
                                                   int *count, TpError *err)
{
    Report report(err);
    if (!ListArguments(data, len))
        return report.Argument("tranpak: TpTlvItems() len = %d%s", len, data == nullptr ? " and data is NULL" : "");
    if (maxItems < 0 || (items == nullptr && maxItems > 0))
        return report.Argument("tranpak: TpTlvItems() maxItems = %d%s", maxItems,
                               items == nullptr ? " and items is NULL" : "");
    TlvFault fault;
    if (CheckTlv(Bytes(data), len, fault) != 0)
        return report.Malformed(fault);
    TlvWalker walker(Bytes(data), len);
    TlvItem item;
    int n = 0;
    while (walker.Next(item) == 1)
        ++n;
    if (count != nullptr)
        *count = n;
    if (items == nullptr && maxItems == 0 && count != nullptr)
        return report.Done();
    if (n > maxItems)
        return report.Argument("tranpak: TpTlvItems() %d TLVs, room for %d", n, maxItems);
    TlvWalker again(Bytes(data), len);
    for (int k = 0; again.Next(item) == 1; ++k)
        items[k] = TpTlvItem{item.tag, item.depth, item.constructed ? 1 : 0, item.offset, item.valueOffset, item.len};
    return report.Done();
}

extern "C" TRANPAK_API int TRANPAK_CALL TpTlvFind(const void *data, int len, int tag, unsigned char *value, int size,
                                                  int *valueLen, TpError *err)
{
    Report report(err);
    if (valueLen != nullptr)
        *valueLen = 0;
    if (!ListArguments(data, len))
        return report.Argument("tranpak: TpTlvFind() len = %d%s", len, data == nullptr ? " and data is NULL" : "");
    if (TlvTagLength(tag) == 0)
        return report.Argument("tranpak: TpTlvFind() tag 0x%X is no tag", static_cast<unsigned>(tag));
    if (size < 0 || (value == nullptr && size > 0))
        return report.Argument("tranpak: TpTlvFind() size = %d%s", size, value == nullptr ? " and value is NULL" : "");
    TlvItem item;
    TlvFault fault;
    const int found = FindTlv(Bytes(data), len, tag, item, fault);
    if (found < 0)
        return report.Malformed(fault);
    if (found == 0) {
        report.Done();
        return 1;
    }
    if (valueLen != nullptr)
        *valueLen = item.len;
    if (value == nullptr && size == 0 && valueLen != nullptr)
        return report.Done();
    if (item.len > size)
        return report.Argument("tranpak: TpTlvFind() tag %X has %d bytes, size is %d", static_cast<unsigned>(tag),
                               item.len, size);
    if (item.len > 0)
        std::memcpy(value, item.value, static_cast<size_t>(item.len));
    return report.Done();
}

extern "C" TRANPAK_API int TRANPAK_CALL TpTlvAppend(unsigned char *buf, int size, int *used, int tag, const void *value,
                                                    int valueLen, TpError *err)
{
    Report report(err);
    if (buf == nullptr || used == nullptr || size < 0 || *used < 0 || *used > size)
        return report.Argument("tranpak: TpTlvAppend() buf, size or used wrong (size %d, used %d)", size,
                               used != nullptr ? *used : -1);
    const int tagLen = TlvTagLength(tag);
    if (tagLen == 0)
        return report.Argument("tranpak: TpTlvAppend() tag 0x%X is no tag", static_cast<unsigned>(tag));
    if (valueLen < 0 || valueLen > kTlvMaxValueLen || (value == nullptr && valueLen > 0))
        return report.Argument("tranpak: TpTlvAppend() valueLen = %d%s, at most %d", valueLen,
                               value == nullptr && valueLen > 0 ? " and value is NULL" : "", kTlvMaxValueLen);
    unsigned char head[kTlvMaxTagLen + kTlvMaxLengthLen];
    const int headLen = PutTlvHead(head, tag, valueLen);
    if (valueLen > size - *used - headLen)
        return report.Argument("tranpak: TpTlvAppend() tag %X needs %d bytes, %d left", static_cast<unsigned>(tag),
                               headLen + valueLen, size - *used);
    TlvFault fault;
    if ((head[0] & 0x20) != 0 &&
        (CheckTlv(Bytes(value), valueLen, fault) != 0 || ContentsFault(Bytes(value), valueLen, fault)))
        return report.Argument("tranpak: TpTlvAppend() value of constructed tag %X is no TLV list: at offset %d: %s",
                               static_cast<unsigned>(tag), fault.offset, fault.reason);
    std::memcpy(buf + *used, head, static_cast<size_t>(headLen));
    if (valueLen > 0)
        std::memcpy(buf + *used + headLen, value, static_cast<size_t>(valueLen));
    *used += headLen + valueLen;
    return report.Done();
}

extern "C" TRANPAK_API int TRANPAK_CALL TpTlvOpen(unsigned char *buf, int size, int *used, int tag, int *mark,
                                                  TpError *err)
{
    Report report(err);
    if (buf == nullptr || used == nullptr || mark == nullptr || size < 0 || *used < 0 || *used > size)
        return report.Argument("tranpak: TpTlvOpen() buf, size, used or mark wrong (size %d, used %d)", size,
                               used != nullptr ? *used : -1);
    const int tagLen = TlvTagLength(tag);
    if (tagLen == 0)
        return report.Argument("tranpak: TpTlvOpen() tag 0x%X is no tag", static_cast<unsigned>(tag));
    unsigned char head[kTlvMaxTagLen + kTlvMaxLengthLen];
    PutTlvHead(head, tag, 0);
    if ((head[0] & 0x20) == 0)
        return report.Argument("tranpak: TpTlvOpen() tag %X is not constructed", static_cast<unsigned>(tag));
    if (tagLen + kTlvMaxLengthLen > size - *used)
        return report.Argument("tranpak: TpTlvOpen() tag %X needs %d bytes, %d left", static_cast<unsigned>(tag),
                               tagLen + kTlvMaxLengthLen, size - *used);
    std::memcpy(buf + *used, head, static_cast<size_t>(tagLen));
    std::memcpy(buf + *used + tagLen, kOpenLength, sizeof kOpenLength);
    *mark = *used;
    *used += tagLen + kTlvMaxLengthLen;
    return report.Done();
}

extern "C" TRANPAK_API int TRANPAK_CALL TpTlvClose(unsigned char *buf, int size, int *used, int mark, TpError *err)
{
    Report report(err);
    if (buf == nullptr || used == nullptr || size < 0 || *used < 0 || *used > size)
        return report.Argument("tranpak: TpTlvClose() buf, size or used wrong (size %d, used %d)", size,
                               used != nullptr ? *used : -1);
    // The mark is checked against used before any sum with it, so a mark
    // near INT_MAX is refused too.
    const int tagLen = mark >= 0 && mark < *used ? TagAt(buf + mark, *used - mark) : 0;
    if (tagLen == 0 || (buf[mark] & 0x20) == 0 || tagLen + kTlvMaxLengthLen > *used - mark ||
        std::memcmp(buf + mark + tagLen, kOpenLength, sizeof kOpenLength) != 0)
        return report.Argument("tranpak: TpTlvClose() mark %d is no open constructed tag", mark);
    const int start = mark + tagLen + kTlvMaxLengthLen;
    const int contentLen = *used - start;
    if (contentLen > kTlvMaxValueLen)
        return report.Argument("tranpak: TpTlvClose() %d bytes inside, at most %d", contentLen, kTlvMaxValueLen);
    TlvFault fault;
    if (CheckTlv(buf + start, contentLen, fault) != 0 || ContentsFault(buf + start, contentLen, fault))
        return report.Argument("tranpak: TpTlvClose() contents are no TLV list: at offset %d: %s", fault.offset,
                               fault.reason);
    int tag = 0;
    for (int k = 0; k < tagLen; ++k)
        tag = tag << 8 | buf[mark + k];
    unsigned char head[kTlvMaxTagLen + kTlvMaxLengthLen];
    const int headLen = PutTlvHead(head, tag, contentLen);
    std::memmove(buf + mark + headLen, buf + start, static_cast<size_t>(contentLen));
    std::memcpy(buf + mark, head, static_cast<size_t>(headLen));
    *used = mark + headLen + contentLen;
    return report.Done();
}

extern "C" TRANPAK_API int TRANPAK_CALL TpTlvDescribe(const void *data, int len, int flags, char *out, int size,
                                                      int *outLen, TpError *err)
{
    Report report(err);
    if (!ListArguments(data, len))
        return report.Argument("tranpak: TpTlvDescribe() len = %d%s", len, data == nullptr ? " and data is NULL" : "");
    if ((flags & ~(TP_DESCRIBE_JSON | TP_DESCRIBE_UNMASKED)) != 0)
        return report.Argument("tranpak: TpTlvDescribe() flags 0x%X: unknown flags", static_cast<unsigned>(flags));
    // out NULL, size 0 and a place for the length: the caller only asks
    // how long (as TpDescribe), which is no failure.
    const bool measuring = out == nullptr && size == 0 && outLen != nullptr;
    TlvFault fault;
    if (DescribeTlv(Bytes(data), len, out, size, flags, 0, outLen, fault) != 0 && !(measuring && fault.offset < 0))
        return report.Fault("TpTlvDescribe", fault);
    return report.Done();
}
