// Text access to every field type (TpSetCellText, TpGetCellText), the
// description of a built and of a received message (TpDescribe, text and
// JSON) and the one rule by which values are shown (TpShowValue).
#include "api/session.h"
#include "support/scratch_dir.h"
#include "support/text_session.h"
#include "tranpak.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

namespace tranpak::test {
namespace {

const unsigned char kKey[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};

// Every type, fixed and variable, card data among them.
const char kDefinitions[] =
    "PAN       N     19,2    2\n"
    "PROCCODE  N     6       3\n"
    "AMOUNT    NF    12      4\n"
    "COUNT     NI    11      5\n"
    "EXPIRY    N     4       14\n"
    "TRACK2    ANS   37,2    35\n"
    "RRN       AN    12      37\n"
    "TERMID    ANS   8       41\n"
    "HOLDER    A     20,2    43\n"
    "PINBLOCK  B     8       52\n"
    "MAC       B     8       64\n";

std::unique_ptr<TpSession> Ready() { return ReadyOn(kDefinitions); }

using CellTextTest = ScratchTest;

struct TextCase {
    int field;
    const char *in;
    const char *out;      // TpGetCellText afterwards; nullptr: refused
    const char *refusal;  // the log line of a refusal
};

const TextCase kTextCases[] = {
    {0, "0200", "0200", ""},
    {0, "020", nullptr, "tranpak: TpSetCellText() field 0: message type 020 is not 4 characters"},
    {3, " 123 ", "123", ""},
    {3, "1.5", nullptr, "tranpak: TpSetCellText() field 3: 1.5 is not N"},
    {37, "AB12 cd", "AB12 cd", ""},
    {37, "AB-12", nullptr, "tranpak: TpSetCellText() field 37: AB-12 is not AN"},
    {43, "\tJO SMITH  ", "JO SMITH", ""},
    {43, "JO5", nullptr, "tranpak: TpSetCellText() field 43: JO5 is not A"},
    {41, "  any\x01", "any\x01", ""},
    // NI: the 32-bit limits and nothing but a signed integer.
    {5, "2147483647", "2147483647", ""},
    {5, "-2147483648", "-2147483648", ""},
    {5, "+0012", "12", ""},
    {5, "2147483648", nullptr, "tranpak: TpSetCellText() field 5: 2147483648 is outside -2147483648 to 2147483647"},
    {5, "-2147483649", nullptr, "tranpak: TpSetCellText() field 5: -2147483649 is outside -2147483648 to 2147483647"},
    {5, "99999999999999999999", nullptr,
     "tranpak: TpSetCellText() field 5: ****************9999 is outside -2147483648 to 2147483647"},
    {5, "12a", nullptr, "tranpak: TpSetCellText() field 5: 12a is not a decimal integer"},
    {5, " 12", nullptr, "tranpak: TpSetCellText() field 5:  12 is not a decimal integer"},
    {5, "-", nullptr, "tranpak: TpSetCellText() field 5: - is not a decimal integer"},
    {5, "", nullptr, "tranpak: TpSetCellText() field 5:  is not a decimal integer"},
    // NF: at most two decimals, never rounded.
    {4, "12.50", "12.50", ""},
    {4, "12.5", "12.50", ""},
    {4, "12", "12.00", ""},
    {4, "-0.07", "-0.07", ""},
    {4, "+007.5", "7.50", ""},
    {4, "-0.00", "0.00", ""},
    {4, "0.125", nullptr, "tranpak: TpSetCellText() field 4: 0.125 has more than 2 decimals"},
    {4, "12.", nullptr, "tranpak: TpSetCellText() field 4: 12. is not an amount"},
    {4, ".5", nullptr, "tranpak: TpSetCellText() field 4: .5 is not an amount"},
    {4, "1,5", nullptr, "tranpak: TpSetCellText() field 4: 1,5 is not an amount"},
    {4, "1e3", nullptr, "tranpak: TpSetCellText() field 4: 1e3 is not an amount"},
    // B: exactly 2 x maxlen hexadecimal digits, either case.
    {64, "0123456789abcdef", "0123456789ABCDEF", ""},
    {64, "0123456789ABCDE", nullptr,
     "tranpak: TpSetCellText() field 64: B takes exactly 16 hexadecimal digits, not fewer"},
    {64, "0123456789ABCDEF0", nullptr,
     "tranpak: TpSetCellText() field 64: B takes exactly 16 hexadecimal digits, not more"},
    {64, "0123456789ABCDEG", nullptr, "tranpak: TpSetCellText() field 64: character 16 is not a hexadecimal digit"},
    // Fields that cannot take a value.
    {6, "x", nullptr, "tranpak: TpSetCellText() field 6: not in the field definitions"},
    {129, "x", nullptr, "tranpak: TpSetCellText() field 129: no such field"},
    {-1, "x", nullptr, "tranpak: TpSetCellText() field -1: no such field"},
};

TEST_F(CellTextTest, EveryTypeInAndOutAsText)
{
    auto s = Ready();
    for (const TextCase &c : kTextCases) {
        ASSERT_EQ(TpResetMesg(s.get()), 0);
        // A value set before, which a refusal must leave as it was.
        const bool defined = c.field >= 0 && c.field <= 64 && c.field != 6;
        const std::map<int, std::string> kBefore = {{4, "1.00"}, {5, "1"}, {43, "OLD"}, {64, "FFFFFFFFFFFFFFFF"}};
        const std::string before = kBefore.count(c.field) ? kBefore.at(c.field) : "0110";
        if (defined)
            ASSERT_EQ(TpSetCellText(s.get(), c.field, before.c_str()), 0) << c.field;
        const int rc = TpSetCellText(s.get(), c.field, c.in);
        if (c.out != nullptr) {
            EXPECT_EQ(rc, 0) << c.field << " " << c.in << ": " << LastText(s.get());
            EXPECT_EQ(Text(s.get(), c.field), c.out) << c.field << " " << c.in;
        } else {
            EXPECT_EQ(rc, -1) << c.field << " " << c.in;
            EXPECT_EQ(LastText(s.get()), c.refusal) << c.field << " " << c.in;
            if (defined)
                EXPECT_EQ(Text(s.get(), c.field), before) << c.field << " " << c.in;
        }
    }
}

// A value is refused at the set, not only when the message is packed, when
// it is longer than its field can travel: a fixed field's length, a
// variable field's greatest length or what its length prefix can count.
TEST_F(CellTextTest, ValuesTooLongToTravelAreRefusedAtTheSet)
{
    WriteFile("long.txt",
              "PAN     N    19,2   2\n"
              "AMOUNT  NF   12     4\n"
              "COUNT   NI   5      5\n"
              "TERMID  ANS  8      41\n"
              "ADDDATA ANS  150,2  48\n"
              "RESERVE ANS  399,3  60\n"
              "MAC     B    8      64\n");
    auto s = std::make_unique<TpSession>();
    TpSettings settings{};
    settings.errFile = "errlog.txt";
    settings.bmpFile = "long.txt";
    ASSERT_EQ(TpInit8583With(s.get(), &settings), 0);
    const struct {
        int field;
        std::string in, refusal;  // refusal empty: taken
    } cases[] = {
        // Fixed text: its length.
        {41, "12345678", ""},
        {41, "123456789", "field 41: 9 characters, the field holds 8"},
        {41, "  12345678  ", ""},  // trimmed as stored
        // Variable: its greatest length, or what the prefix counts to.
        {2, "4761739001010119123", ""},
        {2, "47617390010101191234", "field 2: 20 characters, the field holds 19"},
        {48, std::string(99, 'a'), ""},
        {48, std::string(100, 'a'), "field 48: 100 characters, the field holds 99"},
        {60, std::string(399, 'r'), ""},
        // NI: the digits as stored, with the sign where there is one.
        {5, "99999", ""},
        {5, "+00099999", ""},
        {5, "123456", "field 5: 123456 needs 6 digits, the field holds 5"},
        {5, "-1234", ""},
        {5, "-12345", "field 5: -12345 needs 6 characters with its sign, the field holds 5"},
        // NF: hundredths as stored.
        {4, "9999999999.99", ""},
        {4, "99999999999.99", "field 4: 99999999999.99 needs 13 digits, the field holds 12"},
        {4, "99999999999", "field 4: 99999999999 needs 13 digits, the field holds 12"},
        {4, "-999999999.99", ""},
        {4, "-9999999999.99", "field 4: -9999999999.99 needs 13 characters with its sign, the field holds 12"},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(TpResetMesg(s.get()), 0);
        const std::string before = c.field == 4 ? "1.00" : c.field == 5 ? "7" : "11";
        ASSERT_EQ(TpSetCellText(s.get(), c.field, before.c_str()), 0) << c.field;
        const int rc = TpSetCellText(s.get(), c.field, c.in.c_str());
        if (c.refusal.empty()) {
            EXPECT_EQ(rc, 0) << c.field << " " << c.in << ": " << LastText(s.get());
            // What is taken also travels.
            unsigned char frame[4096];
            int frameLen = 0;
            ASSERT_EQ(TpSetCellText(s.get(), 0, "0200"), 0);
            EXPECT_EQ(TpPackMesg(s.get(), kKey, frame, sizeof frame, &frameLen), 0) << c.field << " " << c.in;
            continue;
        }
        EXPECT_EQ(rc, -1) << c.field << " " << c.in;
        EXPECT_EQ(LastText(s.get()), "tranpak: TpSetCellText() " + c.refusal) << c.field << " " << c.in;
        EXPECT_EQ(LastErr(), "tranpak: TpSetCellText() " + c.refusal) << c.field << " " << c.in;
        TpError err{};
        err.size = sizeof err;
        EXPECT_EQ(TpGetLastError(s.get(), &err), TRANPAK_ERR_ARGUMENT);
        EXPECT_EQ(err.field, c.field);
        EXPECT_EQ(err.detail, c.refusal);
        EXPECT_EQ(Text(s.get(), c.field), before) << c.field << " " << c.in;  // left as it was
    }
}

TEST_F(CellTextTest, AmountsAreStoredAsSetCellStoresTheSameAmount)
{
    auto s = Ready();
    struct {
        const char *text;
        double amount;
    } cases[] = {{"12.50", 12.5},  {"12.5", 12.5}, {"0.05", 0.05},
                 {"-0.07", -0.07}, {"100", 100.0}, {"-3", -3.0},
                 {"0", 0.0},       {"-0", -0.0},   {"999999999.99", 999999999.99}};
    const auto stored = [&] { return std::string(reinterpret_cast<Session *>(s.get())->mesg.cells[3].buf); };
    for (const auto &c : cases) {
        ASSERT_EQ(TpSetCell(s.get(), 4, &c.amount), 0);
        const std::string bySetCell = stored();
        ASSERT_EQ(TpSetCellText(s.get(), 4, c.text), 0) << c.text;
        EXPECT_EQ(stored(), bySetCell) << c.text;
        double back = 0;
        ASSERT_EQ(TpGetCell(s.get(), 4, &back), 0);
        EXPECT_EQ(back, c.amount == 0 ? 0.0 : c.amount) << c.text;
    }
}

TEST_F(CellTextTest, SizeOneShortIsRefusedWithNothingWritten)
{
    auto s = Ready();
    const struct {
        int field;
        const char *in;
        const char *out;
    } cases[] = {{0, "0200", "0200"},
                 {2, "4761739001010119", "4761739001010119"},
                 {4, "-0.07", "-0.07"},
                 {5, "-2147483648", "-2147483648"},
                 {52, "00ff00ff00ff00ff", "00FF00FF00FF00FF"}};
    for (const auto &c : cases) {
        ASSERT_EQ(TpSetCellText(s.get(), c.field, c.in), 0);
        const int need = static_cast<int>(std::strlen(c.out)) + 1;
        char out[64];
        std::memset(out, '#', sizeof out);
        EXPECT_EQ(TpGetCellText(s.get(), c.field, out, need - 1), -1) << c.field;
        EXPECT_EQ(std::string(out, sizeof out), std::string(sizeof out, '#')) << c.field;
        EXPECT_EQ(LastText(s.get()), "tranpak: TpGetCellText() field " + std::to_string(c.field) + " needs " +
                                         std::to_string(need) + " bytes, size is " + std::to_string(need - 1));
        EXPECT_EQ(TpGetCellText(s.get(), c.field, out, need), 0) << c.field;
        EXPECT_EQ(std::string(out, need), std::string(c.out) + '\0');
        EXPECT_EQ(out[need], '#') << c.field;
    }
    char out[16];
    EXPECT_EQ(TpGetCellText(s.get(), 11, out, sizeof out), -1);
    EXPECT_EQ(LastText(s.get()), "tranpak: TpGetCellText() field 11 is not in use");
}

TEST_F(CellTextTest, ReceivedValuesComeOutAsTheirTypeGivesThem)
{
    auto a = Ready(), b = Ready();
    for (auto [field, text] : {std::pair{0, "0200"}, {3, "123"}, {4, "-12.5"}, {5, "-12"}, {41, "T1"}})
        ASSERT_EQ(TpSetCellText(a.get(), field, text), 0);
    unsigned char frame[2048];
    int len = 0;
    ASSERT_EQ(TpPackMesg(a.get(), kKey, frame, sizeof frame, &len), 0);
    ASSERT_EQ(TpUnpackMesg(b.get(), frame, len), 0);
    // Fixed fields travel filled: "000123", "-00000001250", "-0000000012", "T1      ".
    EXPECT_EQ(Text(b.get(), 3), "000123");
    EXPECT_EQ(Text(b.get(), 4), "-12.50");
    EXPECT_EQ(Text(b.get(), 5), "-12");
    EXPECT_EQ(Text(b.get(), 41), "T1      ");
    std::string mac = Hex(frame + len - 9, 8);  // "0A 1B ..."
    mac.erase(std::remove(mac.begin(), mac.end(), ' '), mac.end());
    EXPECT_EQ(Text(b.get(), 64), mac);
}

TEST_F(CellTextTest, UndefinedFieldsAreToldFromAnsFields)
{
    auto s = Ready();
    TpCellDef def{};
    EXPECT_EQ(TpGetCellDef(s.get(), 41, &def), 0);  // TERMID, ANS
    EXPECT_EQ(def.type, CELL_ANS);
    EXPECT_EQ(TpGetCellDef(s.get(), 6, &def), 1);  // not listed
    EXPECT_EQ(def.type, CELL_ANS);
    EXPECT_EQ(TpGetCellType(s.get(), 6), CELL_ANS);  // the classic answer stays
    EXPECT_EQ(TpGetCellDef(s.get(), 129, &def), -1);
}

// A tiny reader for what TpDescribe writes: objects and strings only.
struct Json {
    bool object = false;
    std::string text;
    std::map<std::string, Json> members;
};

class JsonReader {
public:
    explicit JsonReader(const std::string &t) : t_(t) {}
    bool Read(Json *out)
    {
        if (!Value(out))
            return false;
        Space();
        return p_ == t_.size();
    }

private:
    void Space()
    {
        while (p_ < t_.size() && (t_[p_] == ' ' || t_[p_] == '\n'))
            ++p_;
    }
    bool Eat(char c)
    {
        Space();
        if (p_ < t_.size() && t_[p_] == c) {
            ++p_;
            return true;
        }
        return false;
    }
    bool String(std::string *out)
    {
        if (!Eat('"'))
            return false;
        while (p_ < t_.size() && t_[p_] != '"') {
            char c = t_[p_++];
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F)
                return false;  // the writer escapes these
            if (c == '\\') {
                if (p_ >= t_.size())
                    return false;
                c = t_[p_++];
                if (c != '"' && c != '\\' && c != '/')
                    return false;
            }
            *out += c;
        }
        return Eat('"');
    }
    bool Value(Json *out)
    {
        Space();
        if (p_ < t_.size() && t_[p_] == '"')
            return String(&out->text);
        if (!Eat('{'))
            return false;
        out->object = true;
        if (Eat('}'))
            return true;
        do {
            std::string key;
            if (!String(&key) || !Eat(':') || !Value(&out->members[key]))
                return false;
        } while (Eat(','));
        return Eat('}');
    }

    const std::string &t_;
    size_t p_ = 0;
};

std::string Describe(TpSession *s, int flags)
{
    int len = -1;
    TpDescribe(s, flags, nullptr, 0, &len);
    std::string out(static_cast<size_t>(len) + 1, '#');
    EXPECT_EQ(TpDescribe(s, flags, out.data(), len + 1, &len), 0) << LastText(s);
    out.resize(static_cast<size_t>(len));
    return out;
}

// The message of the description tests: card data, an amount, an integer
// and a terminal id with an escape sequence, a backslash and a byte 0x80.
void Build(TpSession *s)
{
    for (auto [field, text] : {std::pair{0, "0200"},
                               {2, "4761739001010119"},
                               {3, "123"},
                               {4, "12.5"},
                               {5, "-12"},
                               {14, "2512"},
                               {35, "4761739001010119=2512"},
                               {41, "TE\x1B\\\x80"},
                               {52, "0123456789abcdef"}})
        ASSERT_EQ(TpSetCellText(s, field, text), 0) << field;
}

const char kBuiltMasked[] =
    "type 0200\n"
    "field  name      type  value\n"
    "    2  PAN       N     ************0119\n"
    "    3  PROCCODE  N     123\n"
    "    4  AMOUNT    NF    12.50\n"
    "    5  COUNT     NI    -12\n"
    "   14  EXPIRY    N     ****\n"
    "   35  TRACK2    ANS   *****************2512\n"
    "   41  TERMID    ANS   TE\\x1B\\\\\\x80\n"
    "   52  PINBLOCK  B     ************CDEF\n";

TEST_F(CellTextTest, DescribeABuiltMessageAsText)
{
    auto s = Ready();
    Build(s.get());
    EXPECT_EQ(Describe(s.get(), 0), kBuiltMasked);
    std::string clear = kBuiltMasked;
    for (auto [masked, value] : {std::pair{"************0119", "4761739001010119"},
                                 {"****\n", "2512\n"},
                                 {"*****************2512", "4761739001010119=2512"},
                                 {"************CDEF", "0123456789ABCDEF"}})
        clear.replace(clear.find(masked), std::strlen(masked), value);
    EXPECT_EQ(Describe(s.get(), TP_DESCRIBE_UNMASKED), clear);
    EXPECT_EQ(DescribeMesg(0, nullptr, 0, nullptr), -1);  // the default session: no room given
}

TEST_F(CellTextTest, DescribeOneShortIsRefusedAndExactFits)
{
    auto s = Ready();
    Build(s.get());
    const int need = static_cast<int>(std::strlen(kBuiltMasked)) + 1;
    std::string out(need + 8, '#');
    int len = -1;
    EXPECT_EQ(TpDescribe(s.get(), 0, out.data(), need - 1, &len), -1);
    EXPECT_EQ(len, need - 1);
    EXPECT_EQ(out, std::string(need + 8, '#'));
    EXPECT_EQ(LastText(s.get()),
              "tranpak: TpDescribe() needs " + std::to_string(need) + " bytes, size is " + std::to_string(need - 1));
    len = -1;
    EXPECT_EQ(TpDescribe(s.get(), 0, out.data(), need, &len), 0);
    EXPECT_EQ(len, need - 1);
    EXPECT_EQ(out, std::string(kBuiltMasked) + '\0' + std::string(8, '#'));
    EXPECT_EQ(TpDescribe(s.get(), 8, out.data(), need, &len), -1);
    EXPECT_EQ(LastText(s.get()), "tranpak: TpDescribe() flags 0x8: unknown flags");

    // NULL and 0 with a place for the length only measure: no failure, and
    // the last failure is the measuring call's (none), not a "needs" line.
    len = -1;
    EXPECT_EQ(TpDescribe(s.get(), 0, nullptr, 0, &len), 0);
    EXPECT_EQ(len, need - 1);
    EXPECT_EQ(LastText(s.get()), "");
    EXPECT_EQ(TpDescribe(s.get(), 0, nullptr, 0, nullptr), -1);  // nothing asked, nothing given
    EXPECT_EQ(TpDescribe(s.get(), 0, nullptr, need, &len), -1);  // room said, none given
}

TEST_F(CellTextTest, DescribeAReceivedMessageAsJsonMaskedAndNot)
{
    auto a = Ready(), b = Ready();
    Build(a.get());
    unsigned char frame[2048];
    int len = 0;
    ASSERT_EQ(TpPackMesg(a.get(), kKey, frame, sizeof frame, &len), 0);
    ASSERT_EQ(TpUnpackMesg(b.get(), frame, len), 0);
    const std::string mac = Text(b.get(), 64);
    ASSERT_EQ(mac.size(), 16u);

    struct Want {
        const char *field, *name, *type, *masked, *clear;
    };
    const Want want[] = {
        {"2", "PAN", "N", "************0119", "4761739001010119"},
        {"3", "PROCCODE", "N", "000123", "000123"},
        {"4", "AMOUNT", "NF", "12.50", "12.50"},
        {"5", "COUNT", "NI", "-12", "-12"},
        {"14", "EXPIRY", "N", "****", "2512"},
        {"35", "TRACK2", "ANS", "*****************2512", "4761739001010119=2512"},
        {"41", "TERMID", "ANS", "TE\\x1B\\\\\\x80   ", "TE\\x1B\\\\\\x80   "},
        {"52", "PINBLOCK", "B", "************CDEF", "0123456789ABCDEF"},
        {"64", "MAC", "B", mac.c_str(), mac.c_str()},
    };
    for (int flags : {TP_DESCRIBE_JSON, TP_DESCRIBE_JSON | TP_DESCRIBE_UNMASKED}) {
        const std::string text = Describe(b.get(), flags);
        Json json;
        ASSERT_TRUE(JsonReader(text).Read(&json)) << text;
        ASSERT_TRUE(json.object);
        EXPECT_EQ(json.members["type"].text, "0200");
        const Json &fields = json.members["fields"];
        ASSERT_TRUE(fields.object) << text;
        EXPECT_EQ(fields.members.size(), std::size(want)) << text;
        for (const Want &w : want) {
            auto it = fields.members.find(w.field);
            ASSERT_NE(it, fields.members.end()) << w.field;
            std::map<std::string, Json> m = it->second.members;
            EXPECT_EQ(m.size(), 3u);
            EXPECT_EQ(m["name"].text, w.name);
            EXPECT_EQ(m["type"].text, w.type);
            EXPECT_EQ(m["value"].text, (flags & TP_DESCRIBE_UNMASKED) ? w.clear : w.masked) << w.field;
        }
    }
    // Text names the received values the same way.
    EXPECT_NE(Describe(b.get(), 0).find("   41  TERMID    ANS   TE\\x1B\\\\\\x80   \n"), std::string::npos);
}

TEST_F(CellTextTest, ReceivedNumbersThatAreNoneAreRefusedNotShownAsOne)
{
    // Variable-length numbers, so a host can send any count of digits.
    WriteFile("numbers.txt", "AMOUNT NF 12,2 4\nCOUNT NI 11,2 5\nMAC B 8 64\n");
    TpSettings settings{};
    settings.errFile = "errlog.txt";
    settings.bmpFile = "numbers.txt";
    auto s = std::make_unique<TpSession>();
    ASSERT_EQ(TpInit8583With(s.get(), &settings), 0);
    const struct {
        int field;
        const char *received;  // length prefix and value
        const char *text;      // TpGetCellText; nullptr: refused
        const char *line;      // the description's line of the field
    } cases[] = {
        {5, "102147483647", "2147483647", "    5  COUNT  NI    2147483647"},
        {5, "11-2147483648", "-2147483648", "    5  COUNT  NI    -2147483648"},
        {5, "05+0012", "12", "    5  COUNT  NI    12"},
        {5, "102147483648", nullptr, "    5  COUNT  NI    2147483648"},
        {5, "11-2147483649", nullptr, "    5  COUNT  NI    -2147483649"},
        {5, "1199999999999", nullptr, "    5  COUNT  NI    99999999999"},
        {5, "00", nullptr, "    5  COUNT  NI    "},
        {5, "01-", nullptr, "    5  COUNT  NI    -"},
        {4, "03-12", "-0.12", "    4  AMOUNT  NF    -0.12"},
        {4, "00", nullptr, "    4  AMOUNT  NF    "},
        {4, "01+", nullptr, "    4  AMOUNT  NF    +"},
    };
    for (const auto &c : cases) {
        // The field and the MAC (not checked here).
        const std::string data = std::string(c.received) + "MACBYTES";
        const std::string frame =
            "\x02"
            "00" +
            std::to_string(12 + data.size()) + "0210" + Unhex(c.field == 4 ? "1000000000000001" : "0800000000000001") +
            data + "\x03";
        ASSERT_EQ(TpUnpackMesg(s.get(), reinterpret_cast<const unsigned char *>(frame.data()),
                               static_cast<int>(frame.size())),
                  0)
            << c.received << ": " << LastText(s.get());
        const std::string value = c.received + 2;
        const std::string refusal = "<refused: tranpak: TpGetCellText() field " + std::to_string(c.field) +
                                    ": stored " + value +
                                    (c.field == 4 ? " is not an amount>" : " is not a 32-bit integer>");
        EXPECT_EQ(Text(s.get(), c.field), c.text != nullptr ? c.text : refusal) << c.received;
        EXPECT_NE(Describe(s.get(), 0).find(std::string(c.line) + "\n"), std::string::npos) << c.received;
    }
}

TEST_F(CellTextTest, OneRuleForEveryValueShown)
{
    const struct {
        int field, flags;
        std::string value, shown;
    } cases[] = {
        {2, 0, "4761739001010119", "************0119"},
        {2, 0, "0119", "****"},
        {2, 0, "19", "**"},
        {2, 0, "", ""},
        {2, TP_DESCRIBE_UNMASKED, "4761739001010119", "4761739001010119"},
        {3, 0, "4761739001010119", "4761739001010119"},
        {3, TP_SHOW_MASKED, "4761739001010119", "************0119"},
        {45, 0, "B4761\x1B\n\x7F\xFF", "*****\\x1B\\x0A\\x7F\\xFF"},
        {41, 0, std::string("a\\b\0c", 5), "a\\\\b\\x00c"},
    };
    for (const auto &c : cases) {
        char out[64];
        int len = -1;
        ASSERT_EQ(
            TpShowValue(c.field, c.flags, c.value.data(), static_cast<int>(c.value.size()), out, sizeof out, &len), 0);
        EXPECT_EQ(std::string(out), c.shown) << c.field << " " << c.value;
        EXPECT_EQ(len, static_cast<int>(c.shown.size()));
        const int exact = len + 1;
        EXPECT_EQ(TpShowValue(c.field, c.flags, c.value.data(), static_cast<int>(c.value.size()), out, exact - 1, &len),
                  -1);
    }
    char out[8];
    EXPECT_EQ(TpShowValue(2, TP_SHOW_MASKED | TP_DESCRIBE_UNMASKED, "1", 1, out, sizeof out, nullptr), -1);
    EXPECT_EQ(TpShowValue(2, 0, nullptr, 1, out, sizeof out, nullptr), -1);
}

TEST_F(CellTextTest, DefaultSessionTwins)
{
    ASSERT_EQ(InitWith(kExampleDefinitions), 0);
    ResetMesg();
    EXPECT_EQ(SetCellText(0, "0200"), 0);
    EXPECT_EQ(SetCellText(4, "12.5"), 0);
    EXPECT_EQ(SetCellText(2, "12345678x"), -1);
    TpError err{};
    err.size = sizeof err;
    EXPECT_EQ(GetLastErrInfo(&err), TRANPAK_ERR_ARGUMENT);
    EXPECT_EQ(err.field, 2);
    EXPECT_STREQ(err.text, "tranpak: TpSetCellText() field 2: *****678x is not N");
    char text[16];
    EXPECT_EQ(GetCellText(4, text, sizeof text), 0);
    EXPECT_STREQ(text, "12.50");
    char out[256];
    int len = 0;
    ASSERT_EQ(DescribeMesg(TP_DESCRIBE_JSON, out, sizeof out, &len), 0);
    EXPECT_STREQ(
        out,
        "{\"type\": \"0200\", \"fields\": {\"4\": {\"name\": \"AMOUNT\", \"type\": \"NF\", \"value\": \"12.50\"}}}");
}

}  // namespace
}  // namespace tranpak::test
