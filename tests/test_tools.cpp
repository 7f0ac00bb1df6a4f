// The tools' own rules: the host's reply type and directory confinement,
// and the trace decoder.
#include "../tools/common/tool_support.h"
#include "../tools/host/host.h"
#include "../tools/trace/decode.h"
#include "core/mesg_state.h"
#include "diag/ctrace.h"
#include "packet/packet.h"
#include "support/scratch_dir.h"
#include "tranpak.h"

#include <cstring>

namespace tranpak::test {
namespace {

using tools::ConfinedPath;
using tools::DecodeOptions;
using tools::DescribeFrame;

TEST(HostRules, ReplyTypeRaisesTheThirdDigitUnlessFixed)
{
    struct {
        const char *request, *fixed, *reply;
    } cases[] = {
        {"0200", "", "0210"}, {"0800", "", "0810"}, {"0100", "", "0110"},
        {"0420", "", "0430"}, {"0290", "", "0290"}, {"0200", "0230", "0230"},
    };
    for (auto &c : cases)
        EXPECT_EQ(tools::ReplyType(c.request, c.fixed), c.reply) << c.request;
}

TEST(HostRules, RequestTextsStayInsideTheServedDirectory)
{
    struct {
        const char *request;
        bool allowed;
    } cases[] = {
        {"batch.txt", true},   {"sub/batch.txt", true}, {"a.b-c_d", true},    {"", false},
        {"../x", false},       {"a/../../x", false},    {"/etc/passwd", false}, {"./x", false},
        {"a//b", false},       {"c:x", false},          {"a\\..\\x", false},  {"x/", false},
        {"..", false},         {"a\nb", false},
    };
    for (auto &c : cases) {
        std::string path;
        EXPECT_EQ(ConfinedPath("/srv/files", c.request, &path), c.allowed) << c.request;
        if (c.allowed)
            EXPECT_EQ(path, std::string("/srv/files/") + c.request);
    }
}

TEST(HostRules, FaultNames)
{
    tools::Fault f;
    for (const char *name : {"none", "late", "close", "bad-mac", "bad-len", "no-stop", "garbage"})
        EXPECT_TRUE(tools::ParseFault(name, &f)) << name;
    EXPECT_FALSE(tools::ParseFault("crash", &f));
}

class DecoderTest : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        ASSERT_EQ(InitWith(kExampleDefinitions), 0);
        ASSERT_TRUE(tools::ParseKey("133457799BBCDFF1", options_.key));
        options_.haveKey = true;
    }
    // The worked example's frame, built by the library itself.
    static std::string ExampleFrame(const unsigned char key[8])
    {
        SetWorkedExample();
        unsigned char frame[2048];
        int len = 0;
        EXPECT_EQ(BuildPacket(frame, key, &len), 0);
        return std::string(reinterpret_cast<char *>(frame), static_cast<size_t>(len));
    }
    DecodeOptions options_;
};

TEST_F(DecoderTest, ExampleFrameDecodesWithMaskAndMac)
{
    std::string report = DescribeFrame(ExampleFrame(options_.key), options_);
    EXPECT_NE(report.find("framing: start 0x02 ok, length digits \"0048\" match the 48 bytes that follow, stop 0x03 ok"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("message type: 0200"), std::string::npos);
    EXPECT_NE(report.find("bitmap: 70 00 00 00 00 00 00 01 -> fields 2 3 4 64"), std::string::npos);
    EXPECT_NE(report.find("08     ****5678"), std::string::npos) << report;
    EXPECT_NE(report.find("000000001000"), std::string::npos);
    EXPECT_NE(report.find("MAC: verified with the given key"), std::string::npos);
    options_.unmask = true;
    EXPECT_NE(DescribeFrame(ExampleFrame(options_.key), options_).find("08     12345678"), std::string::npos);
}

TEST_F(DecoderTest, OtherKeyDoesNotVerify)
{
    unsigned char other[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::string report = DescribeFrame(ExampleFrame(other), options_);
    EXPECT_NE(report.find("MAC: does NOT verify with the given key"), std::string::npos) << report;
}

TEST_F(DecoderTest, BrokenFramesAreDescribedUpToTheFailingField)
{
    struct {
        const char *name;
        int at;
        const char *with;
        const char *says;
    } cases[] = {
        {"prefix", 17, "0x", "field 2 (PAN) does not decode at data offset 0 (frame offset 17): length prefix \"0x\" is not a number"},
        {"too long", 17, "20", "length 20 is above the field's maximum 19"},
        {"content", 28, "A", "field 3 (PROCCODE) does not decode at data offset 10 (frame offset 27): value \"0A0123\" is not N"},
        {"length digits", 1, "0047", "length digits \"0047\" do NOT match the 48 bytes that follow"},
        {"stop", 53, "\x04", "stop 0x04 WRONG"},
    };
    for (auto &c : cases) {
        std::string frame = ExampleFrame(options_.key);
        frame.replace(static_cast<size_t>(c.at), std::strlen(c.with), c.with);
        std::string report = DescribeFrame(frame, options_);
        EXPECT_NE(report.find(c.says), std::string::npos) << c.name << "\n" << report;
    }
    std::string report = DescribeFrame("\x02" "00", options_);
    EXPECT_NE(report.find("incomplete frame: 3 bytes"), std::string::npos);
    EXPECT_NE(report.find("raw (3 bytes):\n  02 30 30"), std::string::npos) << report;
}

TEST_F(DecoderTest, TraceFileRoundTrip)
{
    std::strcpy(g_mesg.settings.ctracefile, "ctrace.txt");
    std::string frame = ExampleFrame(options_.key);
    WriteComTrace("send mesg body", frame.data(), static_cast<int>(frame.size()));
    WriteComTrace("recv mesg head", frame.data(), 5);
    WriteComTrace("recv mesg data", frame.data() + 5, static_cast<int>(frame.size()) - 5);
    WriteComTrace("recv mesg head", "\x02" "00", 3);
    auto blocks = tools::ParseTrace(ReadTextFile("ctrace.txt"));
    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_EQ(blocks[0].label, "send mesg body");
    EXPECT_EQ(blocks[0].count, 54);
    EXPECT_EQ(blocks[0].bytes, frame);
    auto frames = tools::JoinFrames(blocks);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].label, "sent");
    EXPECT_EQ(frames[1].label, "received");
    EXPECT_EQ(frames[1].bytes, frame);
    EXPECT_EQ(frames[2].bytes, std::string("\x02" "00"));
}

TEST(DecoderMask, KeepsTheLastFour)
{
    EXPECT_EQ(tools::Mask("4761739001010119"), "************0119");
    EXPECT_EQ(tools::Mask("1234"), "****");
    EXPECT_EQ(tools::Mask(""), "");
}

}  // namespace
}  // namespace tranpak::test
