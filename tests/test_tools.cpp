// The tools' own rules: the host's reply type and directory confinement,
// and the trace decoder.
#include "../tools/client/failure.h"
#include "../tools/client/fetch.h"
#include "../tools/client/load_report.h"
#include "../tools/client/reply.h"
#include "../tools/client/request.h"
#include "../tools/client/settings_view.h"
#include "../tools/common/cli.h"
#include "../tools/common/shown_text.h"
#include "../tools/common/tool_support.h"
#include "../tools/host/client_link.h"
#include "../tools/host/host.h"
#include "../tools/host/log_line.h"
#include "../tools/host/log_writer.h"
#include "../tools/trace/decode.h"
#include "../tools/trace/trace_stream.h"
#include "api/session.h"
#include "core/mesg_state.h"
#include "diag/ctrace.h"
#include "packet/packet.h"
#include "net/file_transfer.h"
#include "support/peer.h"
#include "support/scratch_dir.h"
#include "tranpak.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <new>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace tranpak::test {
namespace {

namespace os = tools::os;
using tools::ConfinedRequest;
using tools::DecodeOptions;
using tools::DescribeFrame;

// The message of a session, for setting up what a reply looks like.
MesgState &MessageOf(TpSession &s) { return std::launder(reinterpret_cast<Session *>(&s))->mesg; }

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
        {"..", false},         {"a\nb", false},        {"NUL", false},        {"x/com1.txt", false},
        {"nul.txt", false},    {"LPT9", false},         {"COM10", true},       {"console", true},
    };
    for (auto &c : cases)
        EXPECT_EQ(ConfinedRequest(c.request), c.allowed) << c.request;
    const std::string longest(tools::kMaxRequestSize, 'a');
    EXPECT_TRUE(ConfinedRequest(longest));
    EXPECT_FALSE(ConfinedRequest(longest + "a"));
}

TEST(HostRules, FaultNames)
{
    tools::Fault f;
    for (const char *name : {"none", "late", "close", "bad-mac", "bad-len", "no-stop", "garbage", "duplicate"})
        EXPECT_TRUE(tools::ParseFault(name, &f)) << name;
    EXPECT_FALSE(tools::ParseFault("crash", &f));
}

class DecoderTest : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        ASSERT_EQ(InitWith(kExampleDefinitions), 0);
        ASSERT_EQ(TpInit8583(&session_, nullptr), 0);
        options_.definitions = &session_;
        ASSERT_TRUE(tools::ParseKey("133457799BBCDFF1", options_.mac.key));
        options_.haveKey = true;
    }
    // The worked example's frame, built by the library itself.
    static std::string ExampleFrame(const unsigned char key[8])
    {
        SetWorkedExample();
        unsigned char frame[2048];
        int len = 0;
        EXPECT_EQ(BuildPacket(DefaultSession().mesg, DefaultSession().des, frame, key, &len), 0);
        return std::string(reinterpret_cast<char *>(frame), static_cast<size_t>(len));
    }
    TpSession session_{};
    DecodeOptions options_;
};

TEST_F(DecoderTest, ExampleFrameDecodesWithMaskAndMac)
{
    std::string report = DescribeFrame(ExampleFrame(options_.mac.key), options_);
    EXPECT_NE(report.find("framing: start 0x02 ok, length digits \"0048\" match the 48 bytes that follow, stop 0x03 ok"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("message type: 0200"), std::string::npos);
    EXPECT_NE(report.find("bitmap: 70 00 00 00 00 00 00 01 -> fields 2 3 4 64"), std::string::npos);
    EXPECT_NE(report.find("08     ****5678"), std::string::npos) << report;
    EXPECT_NE(report.find("000000001000"), std::string::npos);
    EXPECT_NE(report.find("MAC: verified with the given key"), std::string::npos);
    options_.unmask = true;
    EXPECT_NE(DescribeFrame(ExampleFrame(options_.mac.key), options_).find("08     12345678"), std::string::npos);
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
        {"prefix", 17, "0x", "field 2 (PAN) does not decode at data offset 0 (frame offset 17): length prefix is not a number"},
        {"too long", 17, "20", "length prefix is above the field's maximum 19"},
        {"content", 28, "A", "field 3 (PROCCODE) does not decode at data offset 10 (frame offset 27): value \"0A0123\" is not N"},
        {"length digits", 1, "0047", "length digits \"0047\" do NOT match the 48 bytes that follow"},
        {"stop", 53, "\x04", "stop 0x04 WRONG"},
    };
    for (auto &c : cases) {
        std::string frame = ExampleFrame(options_.mac.key);
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
    std::string frame = ExampleFrame(options_.mac.key);
    WriteComTrace("ctrace.txt", "send mesg body", frame.data(), static_cast<int>(frame.size()));
    WriteComTrace("ctrace.txt", "recv mesg head", frame.data(), 5);
    WriteComTrace("ctrace.txt", "recv mesg data", frame.data() + 5, static_cast<int>(frame.size()) - 5);
    WriteComTrace("ctrace.txt", "recv mesg head", "\x02" "00", 3);
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

TEST(ToolCommandLine, OptionsValuesAndOperands)
{
    const std::vector<tools::OptionSpec> specs = {{"port", true}, {"json", false}};
    struct {
        std::vector<const char *> args;
        bool ok;
        const char *error_or_items;  // the error, or the items as name=value;...
    } cases[] = {
        {{"--port", "5"}, true, "port=5;"},
        {{"--port=5", "x"}, true, "port=5;=x;"},
        {{"--port=", "--json"}, true, "port=;json=;"},
        {{"--json", "--", "--port"}, true, "json=;=--port;"},
        {{"-"}, true, "=-;"},
        {{"--bogus"}, false, "unknown option --bogus"},
        {{"-p"}, false, "unknown option -p"},
        {{"--json=1"}, false, "option --json takes no value"},
        {{"--port"}, false, "option --port needs a value"},
    };
    for (auto &c : cases) {
        std::vector<char *> argv{const_cast<char *>("tool")};
        for (const char *a : c.args)
            argv.push_back(const_cast<char *>(a));
        std::vector<tools::CliItem> items;
        std::string error, got;
        const bool ok = tools::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), specs, &items, &error);
        for (const auto &it : items)
            got += it.name + "=" + it.value + ";";
        EXPECT_EQ(ok, c.ok) << c.error_or_items;
        EXPECT_EQ(ok ? got : error, c.error_or_items);
    }
}

TEST(ToolCommandLine, NumbersAreRangeChecked)
{
    struct {
        const char *text;
        long min, max;
        bool ok;
        long value;
    } cases[] = {
        {"0", 0, 65535, true, 0},       {"65535", 0, 65535, true, 65535}, {"65536", 0, 65535, false, 0},
        {"-1", 0, 65535, false, 0},     {"-1", -5, 5, true, -1},          {"", 0, 9, false, 0},
        {" 1", 0, 9, false, 0},         {"1x", 0, 9, false, 0},           {"0x1", 0, 9, false, 0},
        {"99999999999999999999", 0, 9, false, 0},
    };
    for (auto &c : cases) {
        long v = -99;
        EXPECT_EQ(tools::ParseInteger(c.text, c.min, c.max, &v), c.ok) << c.text;
        if (c.ok)
            EXPECT_EQ(v, c.value) << c.text;
    }
    std::set<int> fields;
    EXPECT_TRUE(tools::ParseFieldList("41,2,64", &fields));
    EXPECT_EQ(fields, (std::set<int>{2, 41, 64}));
    for (const char *bad : {"", "0", "65", "2,,3", "2, 3", "a", "2,"})
        EXPECT_FALSE(tools::ParseFieldList(bad, &fields)) << bad;
}

TEST(ToolShownText, EscapedAndJson)
{
    EXPECT_EQ(tools::Escaped(std::string("a\x1b[2J\n\\\x7f\xff", 9)), "a\\x1B[2J\\x0A\\\\\\x7F\\xFF");
    EXPECT_EQ(tools::JsonString(std::string("q\"\\\x01\xe9", 5)), "\"q\\\"\\\\\\u0001\\u00E9\"");
}

TEST(HostLog, EveryLineIsWholeNamedAndEscaped)
{
    struct {
        long connection;
        std::string text;
        const char *line;
    } cases[] = {
        {0, "listening", "tranpak-host: listening\n"},
        {12, "message 0200", "tranpak-host: #12 message 0200\n"},
        {3, std::string("a\nforged\r\x1b[2J\x7f\x80\xff\0z", 18), "tranpak-host: #3 a\\x0Aforged\\x0D\\x1B[2J\\x7F\\x80\\xFF\\x00z\n"},
        {7, tools::Escaped("\x1b\\"), "tranpak-host: #7 \\x1B\\\\\n"},  // escapes already made stay single
    };
    for (auto &c : cases)
        EXPECT_EQ(tools::LogLine(c.connection, c.text), c.line) << c.line;
}

class HostRulesTest : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        ASSERT_EQ(InitWith(kExampleDefinitions), 0);
        ASSERT_EQ(TpInit8583(&session_, nullptr), 0);
    }
    TpSession session_{};
};

TEST_F(HostRulesTest, RulesMatchTheReceivedRequest)
{
    tools::Rule rule;
    std::string why;
    ASSERT_TRUE(tools::ParseRule(" 2=1234*, 4>=10 : 3=999999", &rule, &why)) << why;
    ASSERT_TRUE(tools::CheckRule(&session_, rule, &why)) << why;
    struct {
        const char *card;
        double amount;
        bool matches;
    } cases[] = {{"12345678", 10.00, true}, {"12345678", 9.99, false}, {"99345678", 50.0, false},
                 {"1234", 1e6, true}};
    for (auto &c : cases) {
        TpResetMesg(&session_);
        ASSERT_EQ(TpSetCell(&session_, 2, c.card), 0);
        ASSERT_EQ(TpSetCell(&session_, 4, &c.amount), 0);
        EXPECT_EQ(tools::RuleMatches(&session_, rule), c.matches) << c.card << " " << c.amount;
    }
    TpResetMesg(&session_);
    EXPECT_FALSE(tools::RuleMatches(&session_, rule)) << "a field the request lacks never matches";
}

TEST_F(HostRulesTest, BadRulesAndValuesAreNamed)
{
    struct {
        const char *rule;
        const char *says;
    } cases[] = {
        {"2=1 39=00", "has no ':'"},
        {"x=1 : 39=00", "condition \"x=1\" is not FIELD=VALUE"},
        {"2>1 : 39=00", "only NI and NF fields compare"},
        {"4=12* : 39=00", "a prefix ('*') is for text fields"},
        {"4<ten : 39=00", "\"ten\" is not a number"},
        {"5=1 : 39=00", "field 5 is not defined"},
        {"2=1 : 39=000", "field 39=000"},
        {"2=1 : 64=00", "is the MAC"},
        {"2=1 : 3=12x", "field 3=12x"},
        {"2=1 : 41=TERMINAL9", "field 41 is ANS, exactly 8"},
        {"41=TERMINAL9 : 3=1", "field 41 is ANS, exactly 8"},
        {"2=1 : 2=12345678901234567890", "field 2 is N, at most 19"},
    };
    for (auto &c : cases) {
        tools::Rule rule;
        std::string why;
        EXPECT_FALSE(tools::ParseRule(c.rule, &rule, &why) && tools::CheckRule(&session_, rule, &why)) << c.rule;
        EXPECT_NE(why.find(c.says), std::string::npos) << c.rule << ": " << why;
    }
}

TEST_F(DecoderTest, MaskedBytesNeverShowInRawDumps)
{
    // Field 2 decodes, field 3 does not: the card number's bytes are
    // hidden in the raw dump, and so is everything after field 3 (it could
    // hold field 64, not masked, but masked fields before it are known).
    std::string frame = ExampleFrame(options_.mac.key);
    frame[28] = 'A';
    for (bool unmask : {false, true}) {
        options_.unmask = unmask;
        const std::string report = DescribeFrame(frame, options_);
        EXPECT_EQ(report.find("31 32 33 34 35 36 37 38") == std::string::npos, !unmask) << report;
        EXPECT_EQ(report.find("  01 30 38 ** ** ** ** ** ** ** ** 30 41") != std::string::npos, !unmask) << report;
    }
    // A masked field that does not decode hides all that follows it.
    options_.unmask = false;
    frame = ExampleFrame(options_.mac.key);
    frame[17] = 'x';
    const std::string report = DescribeFrame(frame, options_);
    EXPECT_NE(report.find("length prefix is not a number"), std::string::npos) << report;
    EXPECT_EQ(report.find("31 32 33 34"), std::string::npos) << report;
}

TEST(DecoderTrace, HostileHeadersAreSkippedNotThrown)
{
    const std::string text = "{12-07 10:31:02 a} [len = 99999999999999999999]\n"
                             "{12-07 10:31:02 b} [len = -5]\n"
                             "{1x-07 10:31:02 c} [len = 5]\n" +
                             std::string(100000, '{') + "\n{12-07 10:31:02 ok} [len = 2]\r\n0000 : 41-42\n";
    auto blocks = tools::ParseTrace(text);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].label, "ok");
    EXPECT_EQ(blocks[0].bytes, "AB");
}

// The frames and notes of a trace fed to a TraceStream in pieces of size bytes.
struct Streamed {
    std::vector<tools::TracedFrame> frames;
    std::vector<std::string> notes;
};

Streamed StreamInPieces(const std::string &text, size_t size)
{
    Streamed s;
    tools::TraceStream stream([&](const tools::TracedFrame &f) { s.frames.push_back(f); },
                              [&](const std::string &note) { s.notes.push_back(note); });
    for (size_t at = 0; at < text.size(); at += size)
        stream.Feed(text.data() + at, std::min(size, text.size() - at));
    stream.Finish();
    return s;
}

TEST(DecoderTrace, StreamedInPiecesOfAnySize)
{
    // A header of exactly the longest line kept, and a line one byte longer.
    const std::string label(tools::kTraceLineMax - std::strlen("{12-07 10:31:03 } [len = 002]"), 'L');
    const std::string text = "{12-07 10:31:02 recv mesg head} [len = 005]\r\n0000 : 02-30-30-30 33\n"
                             "{12-07 10:31:02 recv mesg data} [len = 004]\n0000 : 41-42-43-03\n" +
                             std::string(tools::kTraceLineMax + 1, 'x') + "\n{12-07 10:31:03 " + label +
                             "} [len = 002]\n0000 : 44-45\n{12-07 10:31:04 recv mesg head} [len = 001]\n0000 : 02";
    for (size_t size : {size_t{1}, size_t{2}, size_t{7}, size_t{75}, tools::kTraceChunkSize}) {
        const Streamed s = StreamInPieces(text, size);
        ASSERT_EQ(s.frames.size(), 3u) << size;
        EXPECT_EQ(s.frames[0].label, "received");
        EXPECT_EQ(s.frames[0].bytes, "\x02" "0003ABC\x03");
        EXPECT_EQ(s.frames[1].label, label);
        EXPECT_EQ(s.frames[1].bytes, "DE");
        EXPECT_EQ(s.frames[2].time, "12-07 10:31:04");
        EXPECT_EQ(s.frames[2].bytes, "\x02");
        EXPECT_EQ(s.notes, std::vector<std::string>{"line 5: not a trace line (" +
                                                    std::to_string(tools::kTraceLineMax + 1) + " bytes)"});
    }
}

TEST(DecoderTrace, BlockLongerThanAnyFrameIsCut)
{
    const size_t lines = tools::kTraceBlockMax / 16 + 2;
    std::string text = "{12-07 10:31:02 send mesg body} [len = 999]\n";
    for (size_t k = 0; k < lines; ++k)
        text += "0000 : 41-41-41-41 41-41-41-41 41-41-41-41 41-41-41-41 || AAAAAAAAAAAAAAAA\n";
    text += "{12-07 10:31:03 send mesg body} [len = 001]\n0000 : 42\n";
    const Streamed s = StreamInPieces(text, tools::kTraceChunkSize);
    ASSERT_EQ(s.frames.size(), 2u);
    EXPECT_EQ(s.frames[0].bytes, std::string(tools::kTraceBlockMax, 'A'));
    EXPECT_EQ(s.frames[1].bytes, "B");
    EXPECT_EQ(s.notes, std::vector<std::string>{"line 1: block \"send mesg body\" is longer than any frame: " +
                                                std::to_string(lines * 16 - tools::kTraceBlockMax) +
                                                " bytes after its first " + std::to_string(tools::kTraceBlockMax) +
                                                " not kept"});
    tools::DecodeOptions options;
    EXPECT_FALSE(tools::DecodeFrame(s.frames[0].bytes, options).ok());
}

TEST_F(DecoderTest, RepliesAreCheckedAgainstTheRequest)
{
    TpResetMesg(&session_);
    ASSERT_EQ(TpSetCell(&session_, 0, "0200"), 0);
    ASSERT_EQ(TpSetCell(&session_, 41, "TERM0001"), 0);
    const tools::RequestEcho request = tools::RememberRequest(&session_, "0200");
    struct {
        const char *type, *terminal, *fixed;
        const char *says;
    } cases[] = {
        {"0210", "TERM0001", "", ""},
        {"0210", "TERM0001  ", "", ""},
        {"0200", "TERM0001", "", "reply type 0200 does not answer 0200 (expected 0210)"},
        {"0230", "TERM0001", "0230", ""},
        {"0210", "TERM0002", "", "field 41 came back as TERM0002, sent as TERM0001"},
        {"0210", nullptr, "", "field 41 was sent as TERM0001 but is missing from the reply"},
    };
    for (auto &c : cases) {
        TpResetMesg(&session_);
        std::strcpy(MessageOf(session_).packet.txcode, c.type);
        if (c.terminal != nullptr) {
            ASSERT_EQ(TpSetCell(&session_, 41, c.terminal), 0);
            MessageOf(session_).packet.bitmap[5] = 0x80;
        }
        EXPECT_EQ(tools::ReplyMismatch(&session_, request, c.fixed), c.says) << c.type;
    }
}

class ClientLinkTest : public DecoderTest {
protected:
    // Plays the script on a peer, reads one frame from it with the given
    // deadline; the result, with the time it took in *millis.
    static tools::LinkResult ReadFrom(std::vector<PeerStep> script, int timeout, long *millis,
                                      volatile std::sig_atomic_t *stop, std::string *why, std::string *packet = nullptr)
    {
        ScriptedPeer peer(std::move(script));
        const int sock = ::SockConnect("127.0.0.1", peer.port());
        EXPECT_GE(sock, 0);
        tools::ClientLink link(sock, timeout, stop);
        unsigned char first = 0;
        const auto t0 = std::chrono::steady_clock::now();
        const tools::LinkResult r = link.ReadFrame(&first, why);
        *millis = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - t0).count());
        ::SockClose(sock);
        peer.Received();
        if (packet != nullptr)
            *packet = std::string(reinterpret_cast<const char *>(link.Packet()), static_cast<size_t>(link.PacketLength()));
        return r;
    }
};

TEST_F(ClientLinkTest, EachFrameHasOneDeadline)
{
    const std::string packet = ExampleFrame(options_.mac.key);
    using R = tools::LinkResult;
    struct {
        const char *name;
        std::vector<PeerStep> script;
        R result;
        long atMost;  // milliseconds
        const char *why;
    } cases[] = {
        {"whole packet", {Send(packet), Pause(100)}, R::kOk, 400, ""},
        {"file frame", {Send(FileFrame('1', "x.txt")), Pause(100)}, R::kOk, 400, ""},
        {"trickled packet",
         {Send("\x02"), Pause(250), Send("0"), Pause(250), Send("0"), Pause(250), Send("4"), Pause(250), Send("8"),
          Pause(900)},
         R::kTimedOut, 1200, ""},
        {"silence", {Pause(1500)}, R::kTimedOut, 1100, ""},
        {"closed mid-frame", {Send("\x02" "00"), Close()}, R::kClosed, 400, ""},
        {"packet length out of range", {Send("\x02" "0019"), Pause(100)}, R::kMalformed, 400, "is not 20 to 2047"},
        {"file length out of range", {Send("\x06" "2" "1025"), Pause(100)}, R::kMalformed, 400, "is not 0 to 1024"},
    };
    volatile std::sig_atomic_t stop = 0;
    for (auto &c : cases) {
        long millis = 0;
        std::string why;
        EXPECT_EQ(ReadFrom(c.script, 800, &millis, &stop, &why), c.result) << c.name;
        EXPECT_LE(millis, c.atMost) << c.name;
        EXPECT_NE(why.find(c.why), std::string::npos) << c.name << ": " << why;
    }
    long millis = 0;
    std::string why;
    std::string read;
    ReadFrom({Send(packet), Pause(100)}, 800, &millis, &stop, &why, &read);
    EXPECT_EQ(read.substr(5, 4), "0200");
    stop = 1;
    EXPECT_EQ(ReadFrom({Pause(1500)}, 5000, &millis, &stop, &why), R::kStopped);
    EXPECT_LE(millis, 300);
}

// One receive may take more than the frame being read: the rest is the
// next frame's, and reads of it come out whole and in order, however the
// bytes were cut on the way.
TEST_F(ClientLinkTest, FramesSentTogetherOrCutAnywhereAreReadInOrder)
{
    const std::string packet = ExampleFrame(options_.mac.key);
    const std::string stream = packet + FileFrame('1', "x.txt") + packet + "\x07";
    struct {
        const char *name;
        size_t cut;  // the stream is sent in two pieces, cut here
    } cases[] = {{"all at once", stream.size()}, {"cut in the first length", 3},
                 {"cut after the first packet", packet.size()}, {"cut in the file frame", packet.size() + 4},
                 {"cut before the last byte", stream.size() - 1}};
    volatile std::sig_atomic_t stop = 0;
    for (auto &c : cases) {
        ScriptedPeer peer({Send(stream.substr(0, c.cut)), Pause(50), Send(stream.substr(c.cut)), Pause(300)});
        const int sock = ::SockConnect("127.0.0.1", peer.port());
        ASSERT_GE(sock, 0);
        {
            tools::ClientLink link(sock, 2000, &stop);
            unsigned char first = 0;
            std::string why;
            ASSERT_EQ(link.ReadFrame(&first, &why), tools::LinkResult::kOk) << c.name << ": " << why;
            EXPECT_EQ(std::string(reinterpret_cast<const char *>(link.Packet()), link.PacketLength()), packet) << c.name;
            ASSERT_EQ(link.ReadFrame(&first, &why), tools::LinkResult::kOk) << c.name << ": " << why;
            EXPECT_EQ(first, 0x06) << c.name;
            EXPECT_EQ(link.FileType(), '1') << c.name;
            EXPECT_EQ(std::string(link.FileBody(), link.FileLength()), "x.txt") << c.name;
            ASSERT_EQ(link.ReadFrame(&first, &why), tools::LinkResult::kOk) << c.name << ": " << why;
            EXPECT_EQ(std::string(reinterpret_cast<const char *>(link.Packet()), link.PacketLength()), packet) << c.name;
            ASSERT_EQ(link.ReadFrame(&first, &why), tools::LinkResult::kOk) << c.name << ": " << why;
            EXPECT_EQ(first, 0x07) << c.name;
        }
        ::SockClose(sock);
        peer.Received();
    }
}

// A request as the host takes it, through a served directory looked up
// with openat2 (links inside followed) or one component at a time (no
// link followed; Windows too). "" is taken, anything else a part of why not.
struct ServedCase {
    const char *request;
    const char *fetch, *store;          // with openat2
    const char *walkFetch, *walkStore;  // without it
};

std::set<std::string> Listing(const char *dir)
{
    std::set<std::string> names;
    for (const auto &e : std::filesystem::recursive_directory_iterator(dir))
        names.insert(e.path().generic_string());
    return names;
}

// Every case both ways; a fetch that is taken reads "in". Every store is
// abandoned, so "served" is left as it was.
void ExpectServed(const std::vector<ServedCase> &cases)
{
    const std::set<std::string> before = Listing("served");
    for (auto lookup : {os::ServedDir::Lookup::kBest, os::ServedDir::Lookup::kWalk}) {
        os::ServedDir dir;
        ASSERT_TRUE(dir.Open("served", lookup));
        const bool beneath = dir.FollowsLinksInside();
        if (lookup == os::ServedDir::Lookup::kWalk)
            ASSERT_FALSE(beneath);
        for (auto &c : cases) {
            const std::string fetch = beneath ? c.fetch : c.walkFetch, store = beneath ? c.store : c.walkStore;
            std::string why;
            const int fd = tools::OpenFetch(dir, c.request, &why);
            EXPECT_EQ(fd >= 0, fetch.empty()) << c.request << ": " << why;
            EXPECT_NE(why.find(fetch), std::string::npos) << c.request << ": " << why;
            char bytes[8] = {};
            if (fd >= 0) {
                EXPECT_EQ(std::string(bytes, os::ReadBytes(fd, bytes, sizeof bytes)), "in") << c.request;
                os::CloseFile(fd);
            }
            why.clear();
            os::PendingStore pending;
            EXPECT_EQ(tools::BeginStore(dir, c.request, &pending, &why), store.empty()) << c.request << ": " << why;
            EXPECT_NE(why.find(store), std::string::npos) << c.request << ": " << why;
            EXPECT_EQ(pending.Fd() >= 0, store.empty()) << c.request;
        }
        EXPECT_EQ(Listing("served"), before) << "a temporary file left behind";
    }
}

// Stores request with its own text as the bytes.
void Store(const os::ServedDir &dir, const char *request)
{
    os::PendingStore pending;
    std::string why;
    ASSERT_TRUE(tools::BeginStore(dir, request, &pending, &why)) << request << ": " << why;
    ASSERT_TRUE(os::WriteBytes(pending.Fd(), request, static_cast<int>(std::strlen(request))));
    ASSERT_TRUE(pending.SyncAndClose());
    ASSERT_TRUE(pending.Commit()) << request;
}

TEST_F(HostRulesTest, ServedDirectoryTakesRegularFilesAndNewNames)
{
    std::filesystem::create_directories("served/sub");
    WriteFile("served/in.txt", "in");
    ExpectServed({
        {"in.txt", "", "", "", ""},
        {"new.txt", "no such file", "", "no such file", ""},
        {"sub/new.txt", "no such file", "", "no such file", ""},
        {"sub", "a directory", "a directory", "a directory", "a directory"},
        {"missing/new.txt", "no such directory", "no such directory", "no such directory", "no such directory"},
        {"in.txt/x", "not a directory", "not a directory", "not a directory", "not a directory"},
        {"aux.log", "reserved device name", "reserved device name", "reserved device name", "reserved device name"},
        {"../served/in.txt", "outside the served", "outside the served", "outside the served", "outside the served"},
        {"/etc/passwd", "outside the served", "outside the served", "outside the served", "outside the served"},
        {"sub//in.txt", "outside the served", "outside the served", "outside the served", "outside the served"},
        // Refused for what they hold, which the answer names.
        {"", "an empty name", "an empty name", "an empty name", "an empty name"},
        {"in\x1b.txt", "control byte", "control byte", "control byte", "control byte"},
        {"sub\\in.txt", "backslash", "backslash", "backslash", "backslash"},
        {"c:in.txt", "colon", "colon", "colon", "colon"},
    });
    const std::string tooLong(tools::kMaxRequestSize + 1, 'a');
    ExpectServed({{tooLong.c_str(), "over 200 characters", "over 200 characters", "over 200 characters",
                   "over 200 characters"}});
    os::ServedDir dir;
    ASSERT_TRUE(dir.Open("served"));
    Store(dir, "sub/new.txt");
    Store(dir, "in.txt");
    EXPECT_EQ(ReadFile("served/sub/new.txt"), "sub/new.txt");
    EXPECT_EQ(ReadFile("served/in.txt"), "in.txt");
    EXPECT_EQ(Listing("served"),
              std::set<std::string>({"served/in.txt", "served/sub", "served/sub/new.txt"}));
}

TEST_F(ClientLinkTest, ATransferHasOneDeadlineOverAllItsFrames)
{
    // Empty frames, each well within its own deadline, for longer than
    // the transfer may take.
    std::vector<PeerStep> script;
    for (int i = 0; i < 12; ++i) {
        script.push_back(Send(FileFrame('2', "")));
        script.push_back(Pause(150));
    }
    ScriptedPeer peer(std::move(script));
    const int sock = ::SockConnect("127.0.0.1", peer.port());
    ASSERT_GE(sock, 0);
    volatile std::sig_atomic_t stop = 0;
    tools::ClientLink link(sock, 800, &stop);
    link.LimitTransfer(600);
    const auto t0 = std::chrono::steady_clock::now();
    int frames = 0;
    std::string why;
    tools::LinkResult r;
    while ((r = link.ReadFileFrame(&why)) == tools::LinkResult::kOk)
        ++frames;
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    ::SockClose(sock);
    peer.Received();
    EXPECT_EQ(r, tools::LinkResult::kTooLong);
    EXPECT_GE(frames, 3);
    EXPECT_GE(millis, 550);
    EXPECT_LE(millis, 900);
}

TEST_F(HostRulesTest, ServedDirectoryKeepsLinksInside)
{
    namespace fs = std::filesystem;
    fs::create_directories("served/sub");
    fs::create_directories("outside");
    WriteFile("outside/secret.txt", "SECRET");
    WriteFile("served/in.txt", "in");
    std::error_code ec;
    fs::create_symlink("../outside/secret.txt", "served/out", ec);
    if (ec)
        GTEST_SKIP() << "no symbolic links here: " << ec.message();
    fs::create_symlink("../outside/none.txt", "served/dangling");
    fs::create_symlink("none.txt", "served/nowhere");
    fs::create_symlink(fs::absolute("served/in.txt"), "served/absolute");
    fs::create_directory_symlink("../outside", "served/dirlink");
    fs::create_symlink("in.txt", "served/inlink");
    fs::create_symlink("../in.txt", "served/sub/uplink");
    // A target name of 250 bytes leaves no room to add to it: the
    // temporary file beside it must have a name of its own.
    const std::string longName(250, 'n');
    fs::create_symlink(longName, "served/longlink");
    const char *link = "a symbolic link (not followed";
    ExpectServed({
        {"inlink", "", "", link, link},
        {"sub/uplink", "", "", link, link},
        {"nowhere", "a dangling symbolic link", "", link, link},
        {"out", "leads outside", "leads outside", link, link},
        {"dangling", "leads outside", "leads outside", link, link},
        {"absolute", "leads outside", "leads outside", link, link},
        {"dirlink/secret.txt", "leads outside", "leads outside", link, link},
        {"dirlink/new.txt", "leads outside", "leads outside", link, link},
    });
    // A store through a link inside replaces the link's target, or creates
    // a missing one; the link stays.
    os::ServedDir dir;
    ASSERT_TRUE(dir.Open("served"));
    if (!dir.FollowsLinksInside())
        return;
    for (const char *request : {"inlink", "nowhere", "sub/uplink", "longlink"}) {
        Store(dir, request);
        EXPECT_TRUE(fs::is_symlink(std::string("served/") + request)) << request;
    }
    EXPECT_EQ(ReadFile("served/in.txt"), "sub/uplink");
    EXPECT_EQ(ReadFile("served/none.txt"), "nowhere");
    EXPECT_EQ(ReadFile("served/" + longName), "longlink");
    EXPECT_EQ(Listing("outside"), std::set<std::string>({"outside/secret.txt"}));
}

TEST_F(DecoderTest, JsonHasOneObjectPerFrame)
{
    const tools::FrameReport r = tools::DecodeFrame(ExampleFrame(options_.mac.key), options_);
    const std::string json = tools::FrameJson(r, "12-07 10:31:02", "sent");
    EXPECT_EQ(json.find('\n'), std::string::npos);
    for (const char *part : {"{\"time\":\"12-07 10:31:02\",\"direction\":\"sent\",\"bytes\":54,\"ok\":true",
                             "\"type\":\"0200\"", "{\"number\":2,\"name\":\"PAN\",\"type\":\"N\",\"prefix\":\"08\",\"value\":\"****5678\"}",
                             "\"mac\":\"verified\"}"})
        EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
    // A label is the trace's own text: escaped as in the text output, so a
    // program printing the decoded string shows no ESC and no C2 9B.
    const std::string hostile = tools::FrameJson(r, "12-07 10:31:02", std::string("a\x1b[2J\xc2\x9b", 7));
    EXPECT_NE(hostile.find("\"direction\":\"a\\\\x1B[2J\\\\xC2\\\\x9B\","), std::string::npos) << hostile;
}

}  // namespace
}  // namespace tranpak::test

namespace tranpak::test {
namespace {

TEST(ClientLoad, PercentilesByNearestRank)
{
    std::vector<long long> values;
    for (long long v = 1; v <= 1000; ++v)
        values.push_back(v * 10);
    struct {
        size_t count;
        int perMille;
        long long want;
    } cases[] = {
        {1000, 0, 10},  {1000, 500, 5000}, {1000, 900, 9000}, {1000, 999, 9990}, {1000, 1000, 10000},
        {10, 900, 90},  {10, 999, 100},    {3, 500, 20},      {1, 999, 10},      {0, 500, 0},
    };
    for (auto &c : cases) {
        const std::vector<long long> first(values.begin(), values.begin() + static_cast<long>(c.count));
        EXPECT_EQ(tools::NearestRank(first, c.perMille), c.want) << c.count << " values, " << c.perMille;
    }
}

TEST(ClientLoad, TraceNumbersCountUpWithinTheirWidth)
{
    struct {
        unsigned long long first, n;
        int width;
        const char *want;
    } cases[] = {
        {1, 0, 6, "000001"},   {1, 41, 6, "000042"},      {999999, 1, 6, "000000"},
        {999998, 5, 6, "000003"}, {7, 3, 1, "0"},         {123, 1000000, 6, "000123"},
    };
    for (auto &c : cases)
        EXPECT_EQ(tools::NthTraceNumber(c.first, c.n, c.width), c.want) << c.first << "+" << c.n;
}

TEST(ClientLoad, SummaryKeysAndFailureNames)
{
    tools::LoadResult r;
    r.requested = 40;
    r.connections = 2;
    r.connected = 2;
    r.done = 30;
    r.failed = 10;
    r.failures[tools::kFailMac] = 7;
    r.failures[tools::KindOfCategory(TRANPAK_ERR_PEER_CLOSED)] = 2;
    r.failures[tools::kFailNoAnswer] = 1;
    r.seconds = 2.0;
    for (long long v = 30; v >= 1; --v)
        r.latencyMicros.insert(r.latencyMicros.begin(), v * 100);
    const std::string json = tools::SummaryJson(r);
    EXPECT_EQ(json.find('\n'), std::string::npos);
    const char *keys[] = {"{\"requested\":40,", "\"connections\":2,", "\"connect_each\":false,", "\"connected\":2,",
                          "\"done\":30,", "\"failed\":10,",
                          "\"failures\":{\"peer closed\":2,\"MAC\":7,\"does not answer\":1},", "\"duplicates\":0,",
                          "\"stopped\":false,", "\"gave_up\":false,", "\"in_flight\":0,", "\"seconds\":2.000,",
                          "\"per_second\":15.0,",
                          "\"latency_us\":{\"min\":100,\"p50\":1500,\"p90\":2700,\"p99\":3000,\"p99.9\":3000,\"max\":3000}}"};
    size_t at = 0;
    for (const char *key : keys) {
        const size_t found = json.find(key, at);
        EXPECT_EQ(found, at) << key << " in " << json;
        at = found == std::string::npos ? at : found + std::strlen(key);
    }
    EXPECT_EQ(at, json.size()) << json;
    const std::string text = tools::SummaryText(r);
    EXPECT_NE(text.find("failures: peer closed 2, MAC 7, does not answer 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("rate: 15 exchanges per second over 2.000 s, 2 connections kept open\n"), std::string::npos);
    EXPECT_EQ(text.find("stopped"), std::string::npos);
    r.latencyMicros.clear();
    r.stopped = true;
    EXPECT_NE(tools::SummaryJson(r).find("\"stopped\":true,"), std::string::npos);
    EXPECT_NE(tools::SummaryJson(r).find("\"min\":null"), std::string::npos);
    EXPECT_NE(tools::SummaryText(r).find("stopped: by Ctrl-C after 40 of 40"), std::string::npos);
    for (int kind = 0; kind < tools::kFailureKinds; ++kind)
        EXPECT_STRNE(tools::FailureName(kind), tools::FailureName(kind + 1 < tools::kFailureKinds ? kind + 1 : 0));
}

// What the summary says of connections that were never made, of a load
// that ended early, and of replies read past.
TEST(ClientLoad, SummaryOfConnectionsMadeAndOfAnEarlyEnd)
{
    struct {
        int connections, connected;
        bool connectEach;
        const char *says;
    } cases[] = {
        {4, 4, false, "4 connections kept open\n"},
        {4, 0, false, "4 connections, none made\n"},
        {1, 0, false, "1 connection, none made\n"},
        {4, 3, false, "3 of 4 connections made, kept open\n"},
        {4, 0, true, "4 connections, none made\n"},
        {4, 1, true, "4 connections, connecting for each exchange\n"},
    };
    for (auto &c : cases) {
        tools::LoadResult r;
        r.connections = c.connections;
        r.connected = c.connected;
        r.connectEach = c.connectEach;
        const std::string text = tools::SummaryText(r);
        EXPECT_NE(text.find(std::string(" s, ") + c.says), std::string::npos) << c.says << " in " << text;
    }
    tools::LoadResult r;
    r.requested = 1000;
    r.done = 30;
    r.failed = 20;
    r.failures[tools::KindOfCategory(TRANPAK_ERR_CONNECT)] = 20;
    r.duplicates = 3;
    r.inFlight = 4;
    r.gaveUpSeconds = 5;
    std::string text = tools::SummaryText(r);
    EXPECT_NE(text.find("\nduplicates: 3 replies repeated the previous exchange's, read past\n"), std::string::npos);
    EXPECT_NE(text.find("\nended: no connection could be made for 5 s, after 50 of 1000 exchanges, 4 in flight left "
                        "unfinished\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("stopped"), std::string::npos) << text;
    const std::string json = tools::SummaryJson(r);
    EXPECT_NE(json.find("\"duplicates\":3,\"stopped\":false,\"gave_up\":true,\"in_flight\":4,"), std::string::npos)
        << json;
    r.stopped = true;
    text = tools::SummaryText(r);
    EXPECT_NE(text.find("\nstopped: by Ctrl-C after 50 of 1000 exchanges, 4 in flight left unfinished\n"),
              std::string::npos) << text;
    EXPECT_EQ(text.find("ended:"), std::string::npos) << text;
}

// A load's sessions wait a bounded time for each reply: the command line's
// limit, else the settings' RECV, else the client's own default; the rest
// is the settings' as the library reads them.
TEST_F(ScratchTest, LoadSessionsAlwaysHaveAReceiveLimit)
{
    struct {
        const char *timeouts;  // the [Com Timeout] section's lines
        int option;            // --recv-timeout, 0 when not given
        int recv, connect;
    } cases[] = {
        {"", 0, tools::kLoadRecvSeconds, 0},
        {"RECV=0\n", 0, tools::kLoadRecvSeconds, 0},
        {"RECV=\nCONNECT=3\n", 0, tools::kLoadRecvSeconds, 3},
        {"RECV=25\n", 0, 25, 0},
        {"RECV=25\n", 2, 2, 0},
        {"", 7, 7, 0},
        {"RECV=999999\n", 0, 86400, 0},
    };
    for (auto &c : cases) {
        WriteSettings(std::string("[Com Trace Flag]\nGCODEFLAG=1\n[Error Log File]\nERRFILE=e.txt\n"
                                  "[Com Trace File]\nCTRACEFILE=t.txt\n[Com Timeout]\n") + c.timeouts);
        const tools::SettingsView view = tools::ViewSettings();
        const TpSettings s = tools::LoadSessionSettings(view, c.option);
        EXPECT_EQ(s.recvLimit, c.recv) << c.timeouts << " with " << c.option;
        EXPECT_EQ(s.connectLimit, c.connect) << c.timeouts;
        EXPECT_EQ(s.traceFlag, 1);
        EXPECT_STREQ(s.errFile, "e.txt");
        EXPECT_STREQ(s.bmpFile, "../etc/bitmap.txt");
        EXPECT_STREQ(s.ctraceFile, "t.txt");
    }
    // No settings file at all: the library's own defaults.
    RemoveSettings();
    const tools::SettingsView view = tools::ViewSettings();
    const TpSettings s = tools::LoadSessionSettings(view, 0);
    EXPECT_EQ(s.recvLimit, tools::kLoadRecvSeconds);
    EXPECT_EQ(s.traceFlag, 0);
    EXPECT_STREQ(s.errFile, "../run/errlog.txt");
}

TEST_F(DecoderTest, FailureReasonsQuoteNoRawHostBytes)
{
    // A 0210 whose field 3 (N, 6) holds C2 9B, a terminal control in UTF-8,
    // or ESC, which the library's reason already shows as \x1B (and which
    // is not escaped again); field 41 brings it to the shortest length a
    // Packet has.
    struct {
        std::string value, shown;
    } cases[] = {
        {std::string("12\xC2\x9B" "34", 6), "12\\xC2\\x9B34"},
        {std::string("12\x1B" "345", 6), "12\\x1B345"},
    };
    for (auto &c : cases) {
        const std::string frame = std::string("\x02" "0026" "0210" "\x20\0\0\0\0\x80\0\0", 17) + c.value + "TERM0001\x03";
        ASSERT_NE(TpUnpackMesg(&session_, reinterpret_cast<const unsigned char *>(frame.data()),
                               static_cast<int>(frame.size())), 0);
        const tools::Failure f = tools::LastFailure(&session_);
        EXPECT_EQ(f.category, TRANPAK_ERR_MALFORMED);
        EXPECT_NE(f.reason.find(c.shown), std::string::npos) << f.reason;
        EXPECT_EQ(f.reason.find("\\\\"), std::string::npos) << f.reason;
        for (unsigned char ch : f.reason)
            EXPECT_TRUE(ch >= 0x20 && ch < 0x7F) << f.reason;
    }
}

TEST_F(ScratchTest, TemporaryFetchFilesByName)
{
    const char *names[] = {"tranpak-123456.part", "tranpak-000000.part", "tranpak-12345.part",
                           "tranpak-1234567.part", "tranpak-12345a.part", "tranpak-123456.partx",
                           "xtranpak-123456.part", "tranpak-123456.tmp"};
    for (const char *name : names)
        std::ofstream(dir_ / name) << "x";
    EXPECT_EQ(tools::TemporaryFetchFiles(dir_.string()),
              (std::vector<std::string>{"tranpak-000000.part", "tranpak-123456.part"}));
    EXPECT_TRUE(tools::TemporaryFetchFiles((dir_ / "missing").string()).empty());
}

TEST_F(HostRulesTest, IntegerFieldsTakeThirtyTwoBitsOnly)
{
    const std::string defs = (dir_ / "ni.txt").string();
    std::ofstream(defs) << "STAN NI 10 11\n";
    ASSERT_TRUE(tools::LoadDefinitions(&session_, defs, ""));
    struct {
        const char *text;
        bool taken;
    } cases[] = {{"2147483647", true},   {"-2147483648", true}, {"2147483648", false}, {"-2147483649", false},
                 {"4294967297", false},  {"0", true},           {" 5", false},         {"5x", false},
                 {"", false},            {"99999999999999999999", false}};
    for (auto &c : cases) {
        std::string why;
        EXPECT_EQ(tools::SetFieldText(&session_, 11, c.text, &why) == 0, c.taken) << c.text;
        EXPECT_EQ(why.empty(), c.taken) << c.text;
        if (c.taken)
            EXPECT_EQ(tools::FieldText(&session_, 11), std::to_string(std::stol(c.text))) << c.text;
    }
}

}  // namespace
}  // namespace tranpak::test

namespace tranpak::test {
namespace {

// A log sink that can be held, as a terminal's pager or a log shipper
// holds standard output when it stops reading.
struct HeldSink {
    std::mutex m;
    std::condition_variable cv;
    bool held = true, entered = false;
    std::string written;

    tools::LogWriter::Sink Sink()
    {
        return [this](const std::string &bytes) {
            std::unique_lock<std::mutex> lock(m);
            entered = true;
            cv.notify_all();
            cv.wait(lock, [this] { return !held; });
            written += bytes;
            return true;
        };
    }
    void WaitEntered()
    {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [this] { return entered; });
    }
    std::string Written()
    {
        std::lock_guard<std::mutex> lock(m);
        return written;
    }
    void Release()
    {
        std::lock_guard<std::mutex> lock(m);
        held = false;
        cv.notify_all();
    }
};

long long MillisSince(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
}

TEST(HostLog, AStalledReaderCostsLinesNotService)
{
    HeldSink sink;
    // Room for ten lines of ten bytes.
    tools::LogWriter log(sink.Sink(), 100);
    log.Start();
    // A connection's thread puts thirty lines while the reader stalls in
    // the first.
    std::string queued;
    std::atomic<bool> put{false};
    std::thread connection([&] {
        log.Put("first....\n");
        sink.WaitEntered();
        for (int i = 0; i < 30; ++i) {
            char line[16];
            std::snprintf(line, sizeof line, "line %02d..\n", i);
            log.Put(line);
            if (i < 10)
                queued += line;
        }
        put = true;
    });
    for (int i = 0; i < 100 && !put; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(put) << "putting a line waited for the reader";
    EXPECT_EQ(log.Dropped(), 20);
    sink.Release();
    connection.join();
    // Once the reader has taken the queue, lines are kept again, after a
    // line that tells the gap.
    for (int i = 0; i < 250 && sink.Written().find("line 09") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    log.Put("after....\n");
    ASSERT_TRUE(log.Finish(5000));
    EXPECT_EQ(sink.written, "first....\n" + queued +
                                "tranpak-host: 20 log lines dropped while standard output was not read\n"
                                "after....\n");
    EXPECT_TRUE(log.Works());
}

TEST(HostLog, FinishDoesNotWaitForAReaderThatNeverComes)
{
    HeldSink sink;
    tools::LogWriter log(sink.Sink());
    log.Start();
    log.Put("stopped\n");
    sink.WaitEntered();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(log.Finish(200));
    EXPECT_LE(MillisSince(t0), 2000);
    EXPECT_GE(MillisSince(t0), 150);
    // Only so this test can end its writer: a host ends its process here.
    sink.Release();
    EXPECT_TRUE(log.Finish(5000));
    EXPECT_EQ(sink.written, "stopped\n");
}

TEST(HostLog, AFailedWriteIsToldAndNothingFollows)
{
    std::string written;
    int calls = 0;
    tools::LogWriter log([&](const std::string &bytes) {
        written += bytes;
        return ++calls < 2;
    });
    log.Start();
    for (const char *line : {"one\n", "two\n", "three\n"})
        log.Put(line);
    ASSERT_TRUE(log.Finish(5000));
    EXPECT_FALSE(log.Works());
    EXPECT_EQ(written, "one\ntwo\n");
}

// A host on a free port in this process, its log kept in lines.
class HostServeTest : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        ASSERT_EQ(InitWith(kExampleDefinitions), 0);
        ASSERT_TRUE(tools::ParseKey("0123456789ABCDEF", options_.mac.key));
        options_.mac.keyLen = 8;
        options_.definitions = "bitmap.txt";
        options_.errlog = "host-errlog.txt";
        options_.log = [this](const std::string &line) {
            std::lock_guard<std::mutex> hold(logLock_);
            log_ += line;
            return true;
        };
    }
    void TearDown() override
    {
        if (host_) {
            stop_ = 1;
            server_.join();
            EXPECT_TRUE(host_->Finish(5000));
            host_.reset();
        }
        ScratchTest::TearDown();
    }
    int StartHost()
    {
        host_ = std::make_unique<tools::HostSimulator>(options_);
        std::string why;
        const int port = host_->Start(&why);
        EXPECT_GT(port, 0) << why;
        server_ = std::thread([this] { host_->Serve(&stop_); });
        return port;
    }
    // One request of the worked example on the connection, with the key;
    // true when its answer came.
    static bool Exchange(int sock, const unsigned char key[8])
    {
        SetWorkedExample();
        return ::SockSendMesg(sock, key) == 0 && ::SockRecvMesg(sock, 0) == 0;
    }
    std::string Log()
    {
        std::lock_guard<std::mutex> hold(logLock_);
        return log_;
    }
    // The log has the text within a few seconds (it is written by a thread
    // of its own).
    bool Logged(const std::string &text)
    {
        for (int i = 0; i < 250 && Log().find(text) == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return Log().find(text) != std::string::npos;
    }

    tools::HostOptions options_;
    std::unique_ptr<tools::HostSimulator> host_;
    volatile std::sig_atomic_t stop_ = 0;
    std::thread server_;
    std::mutex logLock_;
    std::string log_;
};

TEST_F(HostServeTest, OnlyAKeyHolderKeepsAMessageConnection)
{
    options_.clientTimeoutMillis = 300;
    options_.idleTimeoutMillis = 2000;
    const int port = StartHost();
    unsigned char other[8];
    ASSERT_TRUE(tools::ParseKey("1111111111111111", other));

    // The key holder may pause between messages beyond the frame deadline,
    // up to the idle limit.
    int sock = ::SockConnect("127.0.0.1", port);
    ASSERT_GE(sock, 0);
    EXPECT_TRUE(Exchange(sock, options_.mac.key));
    std::this_thread::sleep_for(std::chrono::milliseconds(900));
    EXPECT_TRUE(Exchange(sock, options_.mac.key)) << Log();
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    EXPECT_FALSE(Exchange(sock, options_.mac.key)) << "an idle connection was kept";
    ::SockClose(sock);
    EXPECT_TRUE(Logged("connection ended: no message for 2 s")) << Log();

    // Without the key: answered three times, then let go.
    sock = ::SockConnect("127.0.0.1", port);
    ASSERT_GE(sock, 0);
    for (int i = 0; i < tools::kRefusedMacsInARow; ++i)
        EXPECT_TRUE(Exchange(sock, other)) << i;
    EXPECT_FALSE(Exchange(sock, other)) << "a fourth refused MAC was answered";
    ::SockClose(sock);
    EXPECT_TRUE(Logged("connection ended: 3 refused MACs in a row")) << Log();

    // Until a MAC verified, a pause between messages is held to the frame
    // deadline.
    sock = ::SockConnect("127.0.0.1", port);
    ASSERT_GE(sock, 0);
    EXPECT_TRUE(Exchange(sock, other));
    std::this_thread::sleep_for(std::chrono::milliseconds(900));
    EXPECT_FALSE(Exchange(sock, other)) << "a keyless client kept its connection idle";
    ::SockClose(sock);
}

}  // namespace
}  // namespace tranpak::test
