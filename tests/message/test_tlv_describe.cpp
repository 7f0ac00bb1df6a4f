// A field the definitions give the type TLV: a B field on the wire,
// described by TpDescribe tag by tag, its card data masked in the tag
// lines and in its hex alike.
#include "support/scratch_dir.h"
#include "support/text_session.h"
#include "tranpak.h"

#include <memory>
#include <string>

namespace tranpak::test {
namespace {

class TlvDescribeTest : public ScratchTest {
protected:
    static std::unique_ptr<TpSession> Ready(const char *definitions) { return ReadyOn(definitions); }
    static std::string Describe(TpSession *s, int flags)
    {
        char out[4096] = {};
        int len = 0;
        return TpDescribe(s, flags, out, sizeof out, &len) == 0 ? out : "(refused)";
    }
};

constexpr char kDefinitions[] = "AMOUNT NF 12 4\nICC TLV 255,3 55\nMAC B 8 64\n";
// Amount authorised, the PAN, a cryptogram of one byte.
constexpr char kList[] = "9F02060000000012505A0847617390010101199F260111";

TEST_F(TlvDescribeTest, TagsUnderTheHexWithCardDataMasked)
{
    auto s = Ready(kDefinitions);
    ASSERT_NE(s, nullptr) << LastErr();
    TpCellDef def{};
    ASSERT_EQ(TpGetCellDef(s.get(), 55, &def), 0);
    EXPECT_EQ(def.type, CELL_B);  // on the wire and to every other call, B
    ASSERT_EQ(TpSetCellText(s.get(), 0, "0200"), 0);
    ASSERT_EQ(TpSetCellText(s.get(), 55, kList), 0);
    EXPECT_EQ(Describe(s.get(), 0),
              "type 0200\n"
              "field  name  type  value\n"
              "   55  ICC   B     9F02060000000012505A08************01199F260111\n"
              "        9F02 amount authorised: 000000001250\n"
              "        5A application PAN: ************0119\n"
              "        9F26 application cryptogram: 11\n");
    EXPECT_EQ(Describe(s.get(), TP_DESCRIBE_UNMASKED), std::string("type 0200\n"
                                                                   "field  name  type  value\n"
                                                                   "   55  ICC   B     ") +
                                                           kList +
                                                           "\n"
                                                           "        9F02 amount authorised: 000000001250\n"
                                                           "        5A application PAN: 4761739001010119\n"
                                                           "        9F26 application cryptogram: 11\n");
    EXPECT_EQ(
        Describe(s.get(), TP_DESCRIBE_JSON),
        "{\"type\": \"0200\", \"fields\": {\"55\": {\"name\": \"ICC\", \"type\": \"B\", \"value\": "
        "\"9F02060000000012505A08************01199F260111\", \"tags\": [{\"tag\": \"9F02\", \"name\": \"amount "
        "authorised\", \"value\": \"000000001250\"}, {\"tag\": \"5A\", \"name\": \"application PAN\", \"value\": "
        "\"************0119\"}, {\"tag\": \"9F26\", \"name\": \"application cryptogram\", \"value\": \"11\"}]}}}");
}

// One field's value as the description shows it, for programs with their
// own layout: the same masking.
TEST_F(TlvDescribeTest, OneCellAsTheDescriptionShowsIt)
{
    auto s = Ready(kDefinitions);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(TpSetCellText(s.get(), 0, "0200"), 0);
    ASSERT_EQ(TpSetCellText(s.get(), 4, "12.50"), 0);
    ASSERT_EQ(TpSetCellText(s.get(), 55, kList), 0);
    const struct {
        int field, flags;
        const char *shown;
    } cases[] = {
        {55, 0, "9F02060000000012505A08************01199F260111"},
        {55, TP_DESCRIBE_UNMASKED, kList},
        {4, 0, "12.50"},
        {0, 0, "0200"},
    };
    for (const auto &c : cases) {
        char out[256] = {};
        int len = 0;
        ASSERT_EQ(TpDescribeCell(s.get(), c.field, c.flags, nullptr, 0, &len), 0) << c.field;
        EXPECT_EQ(len, static_cast<int>(std::string(c.shown).size())) << c.field;
        ASSERT_EQ(TpDescribeCell(s.get(), c.field, c.flags, out, sizeof out, &len), 0) << c.field;
        EXPECT_STREQ(out, c.shown) << c.field;
    }
    char small[8];
    EXPECT_EQ(TpDescribeCell(s.get(), 55, 0, small, sizeof small, nullptr), -1);
    EXPECT_EQ(TpDescribeCell(s.get(), 64, 0, small, sizeof small, nullptr), -1);  // not in use
    EXPECT_EQ(TpDescribeCell(s.get(), 129, 0, small, sizeof small, nullptr), -1);
    EXPECT_EQ(TpDescribeCell(s.get(), 4, TP_DESCRIBE_JSON, small, sizeof small, nullptr), -1);
}

// A list with a fault is hex only, all but its last four digits hidden:
// where card data lies in it cannot be told.
TEST_F(TlvDescribeTest, ABrokenListIsHexOnlyAndHidden)
{
    auto s = Ready(kDefinitions);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(TpSetCellText(s.get(), 0, "0200"), 0);
    ASSERT_EQ(TpSetCellText(s.get(), 55, "5A0847617390010101"), 0);  // the PAN cut short
    EXPECT_EQ(Describe(s.get(), 0),
              "type 0200\n"
              "field  name  type  value\n"
              "   55  ICC   B     **************0101\n");
    const std::string json = Describe(s.get(), TP_DESCRIBE_JSON);
    EXPECT_EQ(json.find("tags"), std::string::npos) << json;
}

// The same bytes under a B definition stay as they always were shown.
TEST_F(TlvDescribeTest, APlainBFieldIsNotDescribedAsTags)
{
    auto s = Ready("ICC B 255,3 55\nMAC B 8 64\n");
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(TpSetCellText(s.get(), 0, "0200"), 0);
    ASSERT_EQ(TpSetCellText(s.get(), 55, kList), 0);
    EXPECT_EQ(Describe(s.get(), 0), std::string("type 0200\n"
                                                "field  name  type  value\n"
                                                "   55  ICC   B     ") +
                                        kList + "\n");
    // A later line for the field without TLV takes the form back.
    auto t = Ready("ICC TLV 255,3 55\nICC B 255,3 55\nMAC B 8 64\n");
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(TpSetCellText(t.get(), 55, kList), 0);
    EXPECT_EQ(Describe(t.get(), 0).find("amount authorised"), std::string::npos);
}

}  // namespace
}  // namespace tranpak::test
