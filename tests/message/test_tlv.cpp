// BER-TLV: the walker's refusals with their offsets, lengths in each form,
// nesting, building through the public functions, finding, describing.
#include "message/tlv.h"
#include "support/tlv_sets.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace tranpak::test {
namespace {

std::vector<unsigned char> Bytes(const std::string &hex)
{
    std::string digits;
    for (char c : hex)
        if (c != ' ')
            digits += c;
    return HexBytes(digits);
}

// n constructed tags E1 around 5A 01 47.
std::vector<unsigned char> Nested(int n)
{
    std::vector<unsigned char> list = {0x5A, 0x01, 0x47};
    for (int k = 0; k < n; ++k) {
        list.insert(list.begin(), {0xE1, static_cast<unsigned char>(list.size())});
    }
    return list;
}

TpError Record()
{
    TpError err{};
    err.size = sizeof err;
    return err;
}

TEST(TlvWalk, EachRefusalWithItsOffsetAndReason)
{
    struct {
        const char *hex;
        int offset;
        const char *text;
    } cases[] = {
        {"9F02 06 000000", 0, "tranpak: TLV at offset 0: length 6 runs past the end (3 bytes left)"},
        {"5A 01 47 9F02 02 01", 3, "tranpak: TLV at offset 3: length 2 runs past the end (1 byte left)"},
        {"5A 01 47 9F", 3, "tranpak: TLV at offset 3: tag cut short (1 byte left)"},
        {"5A 01 47 DF81", 3, "tranpak: TLV at offset 3: tag cut short (2 bytes left)"},
        {"9F 81 81 01 00", 0, "tranpak: TLV at offset 0: tag longer than 3 bytes"},
        {"5A 01 47 5A", 3, "tranpak: TLV at offset 3: length cut short (tag 5A, no length byte)"},
        {"5A 81", 0, "tranpak: TLV at offset 0: length cut short (0x81 and 0 of 1 length bytes)"},
        {"9F02 82 01", 0, "tranpak: TLV at offset 0: length cut short (0x82 and 1 of 2 length bytes)"},
        {"5A 80 47 00 00", 0, "tranpak: TLV at offset 0: indefinite length (0x80) not taken"},
        {"5A 83 00 00 01 47", 0,
         "tranpak: TLV at offset 0: length form 0x83 not taken (at most 0x82, two length bytes)"},
        {"5A 01 47 00 00", 3, "tranpak: TLV at offset 3: 2 trailing bytes of padding (0x00), not a TLV"},
        {"5A 01 47 FF", 3, "tranpak: TLV at offset 3: 1 trailing byte of padding (0xFF), not a TLV"},
        {"5A 01 47 FF 5A 01 47", 3, "tranpak: TLV at offset 3: byte 0xFF is padding, not a tag"},
        {"00 5A 01 47", 0, "tranpak: TLV at offset 0: byte 0x00 is padding, not a tag"},
        // Inside a constructed tag, its end is the end.
        {"70 03 5A 05 47 47 47 47 47", 2, "tranpak: TLV at offset 2: length 5 runs past the end of 70 (1 byte left)"},
        {"70 04 5A 01 47 00", 5, "tranpak: TLV at offset 5: 1 trailing byte of padding (0x00), not a TLV"},
        {"70 01 9F 02 00", 2, "tranpak: TLV at offset 2: tag cut short (1 byte left)"},
        {"E1 05 BF0C 02 5A 01 47", 5, "tranpak: TLV at offset 5: length 1 runs past the end of BF0C (0 bytes left)"},
    };
    for (auto &c : cases) {
        const auto bytes = Bytes(c.hex);
        TlvFault fault;
        EXPECT_EQ(CheckTlv(bytes.data(), static_cast<int>(bytes.size()), fault), -1) << c.hex;
        EXPECT_EQ(fault.offset, c.offset) << c.hex;
        char text[kTlvFaultTextSize];
        TlvFaultText(fault, text);
        EXPECT_STREQ(text, c.text) << c.hex;

        TpError err = Record();
        int offset = -2;
        EXPECT_EQ(TpTlvCheck(bytes.data(), static_cast<int>(bytes.size()), &offset, &err), -1) << c.hex;
        EXPECT_EQ(offset, c.offset) << c.hex;
        EXPECT_EQ(err.category, TRANPAK_ERR_MALFORMED) << c.hex;
        EXPECT_EQ(err.offset, c.offset) << c.hex;
        EXPECT_EQ(err.field, -1) << c.hex;
        EXPECT_STREQ(err.text, c.text) << c.hex;
        EXPECT_STREQ(err.detail, c.text + std::strlen("tranpak: ")) << c.hex;
    }
}

TEST(TlvWalk, NestingUpToTheLimitAndNoDeeper)
{
    auto deepest = Nested(kTlvMaxDepth);
    TlvWalker walker(deepest.data(), static_cast<int>(deepest.size()));
    TlvItem item{};
    int n = 0, depth = -1;
    while (walker.Next(item) == 1) {
        ++n;
        depth = item.depth;
    }
    EXPECT_EQ(walker.fault().offset, -1);
    EXPECT_EQ(n, kTlvMaxDepth + 1);
    EXPECT_EQ(depth, kTlvMaxDepth);
    EXPECT_EQ(item.tag, 0x5A);

    const auto tooDeep = Nested(kTlvMaxDepth + 1);
    TlvFault fault;
    EXPECT_EQ(CheckTlv(tooDeep.data(), static_cast<int>(tooDeep.size()), fault), -1);
    EXPECT_EQ(fault.offset, 2 * (kTlvMaxDepth + 1));
    EXPECT_STREQ(fault.reason, "constructed tags nested deeper than 8");
    EXPECT_EQ(TP_TLV_MAX_DEPTH, 8);
}

TEST(TlvWalk, ItemsInOrderWithDepthsOffsetsAndSiblingsAfterANestedEnd)
{
    const auto list = Bytes("6F 0C 84 02 A000 A5 06 50 01 41 87 01 01 9F02 01 12");
    TlvWalker walker(list.data(), static_cast<int>(list.size()));
    struct {
        int tag, depth, offset, valueOffset, len;
        bool constructed;
    } want[] = {
        {0x6F, 0, 0, 2, 12, true},  {0x84, 1, 2, 4, 2, false},   {0xA5, 1, 6, 8, 6, true},
        {0x50, 2, 8, 10, 1, false}, {0x87, 2, 11, 13, 1, false}, {0x9F02, 0, 14, 17, 1, false},
    };
    TlvItem item{};
    for (auto &w : want) {
        ASSERT_EQ(walker.Next(item), 1);
        EXPECT_EQ(item.tag, w.tag);
        EXPECT_EQ(item.depth, w.depth) << std::hex << w.tag;
        EXPECT_EQ(item.offset, w.offset) << std::hex << w.tag;
        EXPECT_EQ(item.valueOffset, w.valueOffset) << std::hex << w.tag;
        EXPECT_EQ(item.len, w.len) << std::hex << w.tag;
        EXPECT_EQ(item.constructed, w.constructed) << std::hex << w.tag;
        EXPECT_EQ(item.value, list.data() + w.valueOffset);
    }
    EXPECT_EQ(walker.Next(item), 0);
    EXPECT_EQ(walker.Next(item), 0);
}

TEST(TlvWalk, LengthsInEveryFormTheyAreTakenIn)
{
    struct {
        const char *head;  // tag and length, the value follows
        int len;
    } cases[] = {
        {"5A 00", 0},         {"5A 7F", 127},       {"5A 81 80", 128}, {"5A 81 FF", 255},
        {"5A 82 01 00", 256}, {"5A 82 01 90", 400}, {"5A 81 01", 1},   {"5A 82 00 01", 1},  // longer than needed
    };
    for (auto &c : cases) {
        auto list = Bytes(c.head);
        const size_t head = list.size();
        list.insert(list.end(), static_cast<size_t>(c.len), 0x47);
        TlvWalker walker(list.data(), static_cast<int>(list.size()));
        TlvItem item{};
        ASSERT_EQ(walker.Next(item), 1) << c.head << ": " << walker.fault().reason;
        EXPECT_EQ(item.len, c.len) << c.head;
        EXPECT_EQ(item.valueOffset, static_cast<int>(head)) << c.head;
        EXPECT_EQ(walker.Next(item), 0) << c.head;
    }
}

TEST(TlvBuild, TagsAndTheLengthsWrittenTakeTheFewestBytes)
{
    struct {
        int tag, len;
        const char *head;
    } cases[] = {
        {0x5A, 0, "5A00"},
        {0x5A, 127, "5A7F"},
        {0x9F02, 128, "9F028180"},
        {0x9F02, 255, "9F0281FF"},
        {0xDF8101, 256, "DF8101820100"},
        {0x70, 400, "70820190"},
        {0xE1, 65535, "E182FFFF"},
    };
    for (auto &c : cases) {
        unsigned char head[kTlvMaxTagLen + kTlvMaxLengthLen];
        const int n = PutTlvHead(head, c.tag, c.len);
        EXPECT_EQ(HexText(head, static_cast<size_t>(n)), c.head);
    }
    struct {
        int tag, bytes;
    } tags[] = {
        {0x5A, 1},   {0x9F02, 2}, {0xDF8101, 3}, {0xBF0C, 2}, {0x1F, 0},       {0x9F, 0}, {0x9F81, 0},
        {0x5A01, 0}, {0x00, 0},   {0xFF, 0},     {0xFF01, 0}, {0x1F818101, 0}, {-1, 0},   {0x5F8101, 3},
    };
    for (auto &t : tags)
        EXPECT_EQ(TlvTagLength(t.tag), t.bytes) << std::hex << t.tag;
    EXPECT_EQ(TlvLengthLength(kTlvMaxValueLen + 1), 0);
}

TEST(TlvBuild, AppendOpenAndCloseWriteExactBytes)
{
    unsigned char buf[600];
    int used = 0, outer = -1, inner = -1;
    TpError err = Record();
    const std::vector<unsigned char> big(200, 0xAB);
    ASSERT_EQ(TpTlvAppend(buf, sizeof buf, &used, 0x9F02, "\x00\x00\x00\x00\x12\x50", 6, &err), 0);
    ASSERT_EQ(TpTlvOpen(buf, sizeof buf, &used, 0x70, &outer, &err), 0);
    EXPECT_EQ(outer, 9);
    ASSERT_EQ(TpTlvAppend(buf, sizeof buf, &used, 0x5A, "\x47\x61", 2, &err), 0);
    ASSERT_EQ(TpTlvOpen(buf, sizeof buf, &used, 0xBF0C, &inner, &err), 0);
    ASSERT_EQ(TpTlvAppend(buf, sizeof buf, &used, 0x9F10, big.data(), 200, &err), 0);
    ASSERT_EQ(TpTlvClose(buf, sizeof buf, &used, inner, &err), 0);
    ASSERT_EQ(TpTlvClose(buf, sizeof buf, &used, outer, &err), 0);
    EXPECT_EQ(err.category, 0);
    EXPECT_STREQ(err.text, "");
    const std::string want =
        "9F0206000000001250"
        "7081D4"
        "5A024761"
        "BF0C81CC"
        "9F1081C8" +
        std::string(400, 'X');
    std::string got = HexText(buf, static_cast<size_t>(used));
    for (size_t k = want.size() - 400; k < got.size(); ++k)
        got[k] = got[k] == 'A' || got[k] == 'B' ? 'X' : got[k];
    EXPECT_EQ(got, want);
    // An empty constructed tag closes to a length of 0.
    used = 0;
    ASSERT_EQ(TpTlvOpen(buf, sizeof buf, &used, 0xE1, &outer, &err), 0);
    ASSERT_EQ(TpTlvClose(buf, sizeof buf, &used, outer, &err), 0);
    EXPECT_EQ(HexText(buf, static_cast<size_t>(used)), "E100");
}

TEST(TlvBuild, RefusalsLeaveTheBufferAsItWas)
{
    unsigned char buf[16];
    std::memset(buf, 0xEE, sizeof buf);
    int used = 2;
    int mark = -1;
    const std::vector<unsigned char> huge(kTlvMaxValueLen + 1, 0);
    struct {
        const char *what;
        int rc;
        const char *text;
    } cases[] = {
        {"no tag", TpTlvAppend(buf, sizeof buf, &used, 0x9F, "\x01", 1, nullptr),
         "tranpak: TpTlvAppend() tag 0x9F is no tag"},
        {"no room", TpTlvAppend(buf, sizeof buf, &used, 0x5A, "0123456789ABC", 13, nullptr),
         "tranpak: TpTlvAppend() tag 5A needs 15 bytes, 14 left"},
        {"too long", TpTlvAppend(buf, sizeof buf, &used, 0x5A, huge.data(), kTlvMaxValueLen + 1, nullptr),
         "tranpak: TpTlvAppend() valueLen = 65536, at most 65535"},
        {"bad nested", TpTlvAppend(buf, sizeof buf, &used, 0x70, "\x5A\x05\x47", 3, nullptr),
         "tranpak: TpTlvAppend() value of constructed tag 70 is no TLV list: at offset 0: length 5 runs past the end "
         "(1 "
         "byte left)"},
        {"primitive opened", TpTlvOpen(buf, sizeof buf, &used, 0x9F02, &mark, nullptr),
         "tranpak: TpTlvOpen() tag 9F02 is not constructed"},
        {"no mark", TpTlvClose(buf, sizeof buf, &used, 0, nullptr),
         "tranpak: TpTlvClose() mark 0 is no open constructed tag"},
    };
    for (auto &c : cases) {
        EXPECT_EQ(c.rc, -1) << c.what;
        EXPECT_EQ(used, 2) << c.what;
        for (unsigned char b : buf)
            ASSERT_EQ(b, 0xEE) << c.what;
    }
    // The same calls again, for their texts.
    TpError err = Record();
    TpTlvAppend(buf, sizeof buf, &used, 0x9F, "\x01", 1, &err);
    EXPECT_STREQ(err.text, cases[0].text);
    TpTlvAppend(buf, sizeof buf, &used, 0x5A, "0123456789ABC", 13, &err);
    EXPECT_STREQ(err.text, cases[1].text);
    EXPECT_EQ(err.category, TRANPAK_ERR_ARGUMENT);
    EXPECT_EQ(err.offset, -1);
    TpTlvAppend(buf, sizeof buf, &used, 0x5A, huge.data(), kTlvMaxValueLen + 1, &err);
    EXPECT_STREQ(err.text, cases[2].text);
    TpTlvAppend(buf, sizeof buf, &used, 0x70, "\x5A\x05\x47", 3, &err);
    EXPECT_STREQ(err.text, cases[3].text);
    TpTlvOpen(buf, sizeof buf, &used, 0x9F02, &mark, &err);
    EXPECT_STREQ(err.text, cases[4].text);
    TpTlvClose(buf, sizeof buf, &used, 0, &err);
    EXPECT_STREQ(err.text, cases[5].text);

    // A closed tag is no longer open, and contents that are no list are
    // not closed over.
    unsigned char room[32];
    int n = 0, outer = -1;
    ASSERT_EQ(TpTlvOpen(room, sizeof room, &n, 0x70, &outer, nullptr), 0);
    room[n++] = 0x5A;
    EXPECT_EQ(TpTlvClose(room, sizeof room, &n, outer, &err), -1);
    EXPECT_STREQ(err.text,
                 "tranpak: TpTlvClose() contents are no TLV list: at offset 0: length cut short (tag 5A, no "
                 "length byte)");
    EXPECT_EQ(n, 5);
    room[n++] = 0x00;
    ASSERT_EQ(TpTlvClose(room, sizeof room, &n, outer, &err), 0);
    EXPECT_EQ(HexText(room, static_cast<size_t>(n)), "70025A00");
    EXPECT_EQ(TpTlvClose(room, sizeof room, &n, outer, &err), -1);
    EXPECT_STREQ(err.text, "tranpak: TpTlvClose() mark 0 is no open constructed tag");
}

TEST(TlvBuild, NothingBuiltThatTheReaderRefusesOrThatLosesItsNesting)
{
    TpError err = Record();
    // The outer tag closed while the inner one is open: refused, so the
    // inner tag cannot end up empty with its TLVs beside it.
    unsigned char buf[128];
    int used = 0, outer = -1, inner = -1;
    ASSERT_EQ(TpTlvOpen(buf, sizeof buf, &used, 0x70, &outer, &err), 0);
    ASSERT_EQ(TpTlvOpen(buf, sizeof buf, &used, 0x71, &inner, &err), 0);
    ASSERT_EQ(TpTlvAppend(buf, sizeof buf, &used, 0x5A, "\x11", 1, &err), 0);
    EXPECT_EQ(TpTlvClose(buf, sizeof buf, &used, outer, &err), -1);
    EXPECT_STREQ(err.text,
                 "tranpak: TpTlvClose() contents are no TLV list: at offset 0: tag opened inside is still open (close "
                 "it first)");
    EXPECT_EQ(used, 11);
    ASSERT_EQ(TpTlvClose(buf, sizeof buf, &used, inner, &err), 0);
    ASSERT_EQ(TpTlvClose(buf, sizeof buf, &used, outer, &err), 0);
    EXPECT_EQ(HexText(buf, static_cast<size_t>(used)), "700571035A0111");

    // Nine constructed tags deep, by Open and Close or by Append, would be
    // a list TpTlvCheck refuses: the ninth is refused, the eighth taken.
    for (int deep : {kTlvMaxDepth, kTlvMaxDepth + 1}) {
        used = 0;
        int marks[kTlvMaxDepth + 1];
        for (int k = 0; k < deep; ++k)
            ASSERT_EQ(TpTlvOpen(buf, sizeof buf, &used, 0xE1, &marks[k], &err), 0);
        ASSERT_EQ(TpTlvAppend(buf, sizeof buf, &used, 0x5A, "\x47", 1, &err), 0);
        for (int k = deep - 1; k > 0; --k)
            ASSERT_EQ(TpTlvClose(buf, sizeof buf, &used, marks[k], &err), 0) << deep << ": " << err.text;
        const int closed = TpTlvClose(buf, sizeof buf, &used, marks[0], &err);
        if (deep == kTlvMaxDepth) {
            EXPECT_EQ(closed, 0) << err.text;
            EXPECT_EQ(TpTlvCheck(buf, used, nullptr, &err), 0) << err.text;
            continue;
        }
        EXPECT_EQ(closed, -1);
        EXPECT_STREQ(err.text,
                     "tranpak: TpTlvClose() contents are no TLV list: at offset 14: constructed tags would nest deeper "
                     "than 8");
        EXPECT_EQ(used, 4 + 2 * kTlvMaxDepth + 3);
    }
    for (int deep : {kTlvMaxDepth - 1, kTlvMaxDepth}) {
        const auto value = Nested(deep);
        used = 0;
        const int rc = TpTlvAppend(buf, sizeof buf, &used, 0xE1, value.data(), static_cast<int>(value.size()), &err);
        if (deep < kTlvMaxDepth) {
            EXPECT_EQ(rc, 0) << err.text;
            EXPECT_EQ(TpTlvCheck(buf, used, nullptr, &err), 0) << err.text;
            continue;
        }
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(used, 0);
        EXPECT_STREQ(
            err.text,
            "tranpak: TpTlvAppend() value of constructed tag E1 is no TLV list: at offset 14: constructed tags "
            "would nest deeper than 8");
    }

    // A mark past anything written, up to INT_MAX, is no open tag (and no
    // sum with it overflows).
    used = 0;
    ASSERT_EQ(TpTlvOpen(buf, sizeof buf, &used, 0x70, &outer, &err), 0);
    for (int mark : {-1, 1, 4, 1000, INT_MAX - 2, INT_MAX}) {
        EXPECT_EQ(TpTlvClose(buf, sizeof buf, &used, mark, &err), -1) << mark;
        EXPECT_EQ(err.text, "tranpak: TpTlvClose() mark " + std::to_string(mark) + " is no open constructed tag");
    }
    EXPECT_EQ(used, 4);
}

TEST(TlvFind, FirstMatchAnywhereIntoCallerStorage)
{
    const auto list = Bytes("9F02 02 1250 70 08 5A 02 4761 9F02 01 99 E1 00 5F20 00");
    unsigned char value[8];
    int len = -1;
    TpError err = Record();
    struct {
        int tag, rc;
        const char *hex;
    } cases[] = {
        {0x9F02, 0, "1250"}, {0x5A, 0, "4761"}, {0x70, 0, "5A0247619F020199"},
        {0xE1, 0, ""},       {0x5F20, 0, ""},   {0x9F26, 1, ""},
    };
    for (auto &c : cases) {
        std::memset(value, 0xEE, sizeof value);
        EXPECT_EQ(TpTlvFind(list.data(), static_cast<int>(list.size()), c.tag, value, sizeof value, &len, &err), c.rc)
            << std::hex << c.tag;
        EXPECT_EQ(HexText(value, static_cast<size_t>(len)), c.hex) << std::hex << c.tag;
        EXPECT_EQ(err.category, 0);
    }
    // Measured, then refused without the room.
    EXPECT_EQ(TpTlvFind(list.data(), static_cast<int>(list.size()), 0x70, nullptr, 0, &len, &err), 0);
    EXPECT_EQ(len, 8);
    EXPECT_EQ(TpTlvFind(list.data(), static_cast<int>(list.size()), 0x70, value, 7, &len, &err), -1);
    EXPECT_EQ(len, 8);
    EXPECT_STREQ(err.text, "tranpak: TpTlvFind() tag 70 has 8 bytes, size is 7");
    // A fault after the tag found still refuses the list.
    const auto broken = Bytes("9F02 02 1250 00");
    EXPECT_EQ(TpTlvFind(broken.data(), static_cast<int>(broken.size()), 0x9F02, value, sizeof value, &len, &err), -1);
    EXPECT_EQ(err.offset, 5);
    EXPECT_EQ(err.category, TRANPAK_ERR_MALFORMED);
    EXPECT_EQ(TpTlvFind(list.data(), static_cast<int>(list.size()), 0x9F, value, sizeof value, &len, &err), -1);
    EXPECT_STREQ(err.text, "tranpak: TpTlvFind() tag 0x9F is no tag");
}

TEST(TlvItems, CountedThenListedAndRefusedWithoutRoom)
{
    const auto list = Bytes("70 05 5A 01 47 E1 00 9F02 00");
    int count = -1;
    TpError err = Record();
    ASSERT_EQ(TpTlvItems(list.data(), static_cast<int>(list.size()), nullptr, 0, &count, &err), 0);
    EXPECT_EQ(count, 4);
    TpTlvItem items[4];
    EXPECT_EQ(TpTlvItems(list.data(), static_cast<int>(list.size()), items, 3, &count, &err), -1);
    EXPECT_STREQ(err.text, "tranpak: TpTlvItems() 4 TLVs, room for 3");
    ASSERT_EQ(TpTlvItems(list.data(), static_cast<int>(list.size()), items, 4, &count, &err), 0);
    const TpTlvItem want[] = {
        {0x70, 0, 1, 0, 2, 5}, {0x5A, 1, 0, 2, 4, 1}, {0xE1, 1, 1, 5, 7, 0}, {0x9F02, 0, 0, 7, 10, 0}};
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(std::memcmp(&items[k], &want[k], sizeof want[k]), 0) << k;
    // An empty list has no items and is well formed.
    EXPECT_EQ(TpTlvItems(nullptr, 0, nullptr, 0, &count, &err), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(TpTlvCheck(nullptr, 0, nullptr, &err), 0);
    EXPECT_EQ(TpTlvCheck(nullptr, 3, nullptr, &err), -1);
    EXPECT_EQ(err.category, TRANPAK_ERR_ARGUMENT);
}

TEST(TlvDescribe, NamedIndentedAndCardDataMasked)
{
    const auto list = Bytes(
        "9F02 06 000000001250 9F26 08 8E19ED4F0B1D7F3A 5A 08 4761739001010119"
        "70 1A 57 11 4761739001010119D22122011143804489 5F20 04 4A4F484E"
        "DF01 00 E1 04 DF02 01 AB");
    struct {
        int flags;
        const char *text;
    } cases[] = {
        {0,
         "9F02 amount authorised: 000000001250\n"
         "9F26 application cryptogram: 8E19ED4F0B1D7F3A\n"
         "5A application PAN: ************0119\n"
         "70 record template\n"
         "  57 track 2 equivalent data: ******************************4489\n"
         "  5F20 cardholder name: ****484E\n"
         "DF01:\n"
         "E1\n"
         "  DF02: AB\n"},
        {TP_DESCRIBE_UNMASKED,
         "9F02 amount authorised: 000000001250\n"
         "9F26 application cryptogram: 8E19ED4F0B1D7F3A\n"
         "5A application PAN: 4761739001010119\n"
         "70 record template\n"
         "  57 track 2 equivalent data: 4761739001010119D22122011143804489\n"
         "  5F20 cardholder name: 4A4F484E\n"
         "DF01:\n"
         "E1\n"
         "  DF02: AB\n"},
        {TP_DESCRIBE_JSON,
         "[{\"tag\": \"9F02\", \"name\": \"amount authorised\", \"value\": \"000000001250\"}, "
         "{\"tag\": \"9F26\", \"name\": \"application cryptogram\", \"value\": \"8E19ED4F0B1D7F3A\"}, "
         "{\"tag\": \"5A\", \"name\": \"application PAN\", \"value\": \"************0119\"}, "
         "{\"tag\": \"70\", \"name\": \"record template\", \"tags\": ["
         "{\"tag\": \"57\", \"name\": \"track 2 equivalent data\", \"value\": \"******************************4489\"}, "
         "{\"tag\": \"5F20\", \"name\": \"cardholder name\", \"value\": \"****484E\"}]}, "
         "{\"tag\": \"DF01\", \"value\": \"\"}, {\"tag\": \"E1\", \"tags\": [{\"tag\": \"DF02\", \"value\": "
         "\"AB\"}]}]"},
    };
    for (auto &c : cases) {
        char out[1024];
        int len = -1;
        TpError err = Record();
        ASSERT_EQ(TpTlvDescribe(list.data(), static_cast<int>(list.size()), c.flags, out, sizeof out, &len, &err), 0)
            << err.text;
        EXPECT_STREQ(out, c.text);
        EXPECT_EQ(len, static_cast<int>(std::strlen(c.text)));
        // Measured, then refused one byte short with nothing written.
        int measured = -1;
        EXPECT_EQ(TpTlvDescribe(list.data(), static_cast<int>(list.size()), c.flags, nullptr, 0, &measured, &err), 0);
        EXPECT_EQ(measured, len);
        std::memset(out, 'x', sizeof out);
        EXPECT_EQ(TpTlvDescribe(list.data(), static_cast<int>(list.size()), c.flags, out, len, &measured, &err), -1);
        EXPECT_EQ(out[0], 'x');
        EXPECT_EQ(err.category, TRANPAK_ERR_ARGUMENT);
    }
    // The form TpDescribe takes: every line indented under the field.
    char out[256];
    TlvFault fault;
    const auto small = Bytes("70 03 5A 01 47");
    ASSERT_EQ(DescribeTlv(small.data(), static_cast<int>(small.size()), out, sizeof out, 0, 8, nullptr, fault), 0);
    EXPECT_STREQ(out, "        70 record template\n          5A application PAN: **\n");
    EXPECT_EQ(DescribeTlv(small.data(), 4, out, sizeof out, 0, 8, nullptr, fault), -1);
    EXPECT_EQ(fault.offset, 0);
    EXPECT_STREQ(fault.reason, "length 3 runs past the end (2 bytes left)");
    // A list with a fault further on puts nothing into a sink it shares.
    char shared[64] = "field 55";
    TextSink sink{shared, sizeof shared, 8};
    const auto late = Bytes("9F02 01 12 5A 01 47 00");
    EXPECT_EQ(PutTlvList(sink, late.data(), static_cast<int>(late.size()), MaskRule::kCardFields, false, 0, fault), -1);
    EXPECT_EQ(fault.offset, 7);
    EXPECT_EQ(sink.len, 8);
    EXPECT_STREQ(shared, "field 55");
    TpError err = Record();
    EXPECT_EQ(TpTlvDescribe(small.data(), 5, 8, out, sizeof out, nullptr, &err), -1);
    EXPECT_STREQ(err.text, "tranpak: TpTlvDescribe() flags 0x8: unknown flags");
}

TEST(TlvSets, EverySetBuildsAndReadsBackAsWritten)
{
    const auto sets = ReadTlvSets(std::string(TRANPAK_DATA_DIR) + "/emv_tlv_sets.txt");
    ASSERT_GE(sets.size(), 20u);
    for (const TlvSet &set : sets) {
        std::string why;
        const auto bytes = BuildTlvSet(set, &why);
        ASSERT_FALSE(bytes.empty()) << set.name << ": " << why;
        EXPECT_EQ(ParsedTlvText(bytes), TlvSetText(set)) << set.name;
        TlvFault fault;
        EXPECT_EQ(CheckTlv(bytes.data(), static_cast<int>(bytes.size()), fault), 0) << set.name;
    }
}

}  // namespace
}  // namespace tranpak::test
