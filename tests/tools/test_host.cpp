// The host simulator: its reply type, directory confinement and rules,
// the frame reader of a connection, the served directory, its log and its
// serving of message connections.
#include "tools/host/client_link.h"
#include "tools/host/host.h"
#include "tools/host/log_line.h"
#include "tools/host/log_writer.h"
#include "tools/common/shown_text.h"
#include "tools/common/tool_support.h"
#include "support/peer.h"
#include "support/scratch_dir.h"
#include "support/tool_fixtures.h"
#include "tranpak.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace tranpak::test {
namespace {

using tools::ConfinedRequest;

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
        {"batch.txt", true},   {"sub/batch.txt", true}, {"a.b-c_d", true}, {"", false},     {"../x", false},
        {"a/../../x", false},  {"/etc/passwd", false},  {"./x", false},    {"a//b", false}, {"c:x", false},
        {"a\\..\\x", false},   {"x/", false},           {"..", false},     {"a\nb", false}, {"NUL", false},
        {"x/com1.txt", false}, {"nul.txt", false},      {"LPT9", false},   {"COM10", true}, {"console", true},
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

TEST(HostLog, EveryLineIsWholeNamedAndEscaped)
{
    struct {
        long connection;
        std::string text;
        const char *line;
    } cases[] = {
        {0, "listening", "tranpak-host: listening\n"},
        {12, "message 0200", "tranpak-host: #12 message 0200\n"},
        {3, std::string("a\nforged\r\x1b[2J\x7f\x80\xff\0z", 18),
         "tranpak-host: #3 a\\x0Aforged\\x0D\\x1B[2J\\x7F\\x80\\xFF\\x00z\n"},
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
    } cases[] = {{"12345678", 10.00, true}, {"12345678", 9.99, false}, {"99345678", 50.0, false}, {"1234", 1e6, true}};
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
        {"4>=1e3 : 39=00", "1e3 is not an amount"},
        {"4<nan : 39=00", "nan is not an amount"},
        {"4<=12.505 : 39=00", "12.505 has more than 2 decimals"},
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

TEST_F(HostRulesTest, ThePinOfARuleIsNeverShown)
{
    struct {
        const char *rule;
        bool parses;
        const char *shown;  // the rule's text, or the reason it is refused
    } cases[] = {
        {"pin=73915846 : 39=55", true, "pin=**** : 39=55"},
        {"pin= 73915846 : 39=55", true, "pin=**** : 39=55"},
        {"pin!=\t73915846  , 4>1: 39=55", true, "pin!=****  , 4>1: 39=55"},
        {"pin!=73915846, pin=73915846 : 39=55", true, "pin!=****, pin=**** : 39=55"},
        {"pin=73915846, 48=pin : 39=55", true, "pin=****, 48=pin : 39=55"},
        {"pin=73915846 : 39", false, "rule \"pin=**** : 39\": \"39\" is not FIELD=VALUE"},
        {"pin=73915846", false, "rule \"pin=****\" has no ':' between its conditions and its fields"},
    };
    for (auto &c : cases) {
        tools::Rule rule;
        std::string why;
        EXPECT_EQ(tools::ParseRule(c.rule, &rule, &why), c.parses) << c.rule << ": " << why;
        EXPECT_EQ(c.parses ? rule.text : why, c.shown) << c.rule;
        EXPECT_EQ((rule.text + why).find("73915846"), std::string::npos) << c.rule;
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
        *millis = static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count());
        ::SockClose(sock);
        peer.Received();
        if (packet != nullptr)
            *packet =
                std::string(reinterpret_cast<const char *>(link.Packet()), static_cast<size_t>(link.PacketLength()));
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
         R::kTimedOut,
         1200,
         ""},
        {"silence", {Pause(1500)}, R::kTimedOut, 1100, ""},
        {"closed mid-frame",
         {Send("\x02"
               "00"),
          Close()},
         R::kClosed,
         400,
         ""},
        {"packet length out of range",
         {Send("\x02"
               "0019"),
          Pause(100)},
         R::kMalformed,
         400,
         "is not 20 to 2047"},
        {"file length out of range",
         {Send("\x06"
               "2"
               "1025"),
          Pause(100)},
         R::kMalformed,
         400,
         "is not 0 to 1024"},
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
    } cases[] = {{"all at once", stream.size()},
                 {"cut in the first length", 3},
                 {"cut after the first packet", packet.size()},
                 {"cut in the file frame", packet.size() + 4},
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
            EXPECT_EQ(std::string(reinterpret_cast<const char *>(link.Packet()), link.PacketLength()), packet)
                << c.name;
            ASSERT_EQ(link.ReadFrame(&first, &why), tools::LinkResult::kOk) << c.name << ": " << why;
            EXPECT_EQ(first, 0x06) << c.name;
            EXPECT_EQ(link.FileType(), '1') << c.name;
            EXPECT_EQ(std::string(link.FileBody(), link.FileLength()), "x.txt") << c.name;
            ASSERT_EQ(link.ReadFrame(&first, &why), tools::LinkResult::kOk) << c.name << ": " << why;
            EXPECT_EQ(std::string(reinterpret_cast<const char *>(link.Packet()), link.PacketLength()), packet)
                << c.name;
            ASSERT_EQ(link.ReadFrame(&first, &why), tools::LinkResult::kOk) << c.name << ": " << why;
            EXPECT_EQ(first, 0x07) << c.name;
        }
        ::SockClose(sock);
        peer.Received();
    }
}

// A dialect's wire format from [Wire Format] lines "KEY=VALUE".
wire::WireFormat Dialect(std::initializer_list<std::pair<const char *, const char *>> keys)
{
    wire::WireFormat f{};
    for (const auto &[key, value] : keys)
        EXPECT_EQ(wire::SetWireFormatKey(&f, key, value), 0) << key << "=" << value;
    return f;
}

// Messages in a dialect: read by its length, whole; file frames kept apart
// by their 06 where a message has no start byte of its own.
TEST_F(ClientLinkTest, MessagesAreReadInTheDialectAndFileFramesKeptApart)
{
    const wire::WireFormat bare = Dialect({{"LENGTH", "BINARY2"}, {"ENVELOPE", "NONE"}});
    const wire::WireFormat bareLe = Dialect({{"LENGTH", "BINARY2LE"}, {"ENVELOPE", "NONE"}});
    const wire::WireFormat ascii4 = Dialect({{"LENGTH", "ASCII4"}, {"ENVELOPE", "NONE"}});
    const wire::WireFormat enveloped = Dialect({{"LENGTH", "BINARY2"}});
    const wire::WireFormat tpdu = Dialect(
        {{"LENGTH", "BINARY2"}, {"LENGTHCOUNTS", "HEADER"}, {"ENVELOPE", "NONE"}, {"HEADER", "TPDU:6000030000"}});
    const std::string body = "0200" + std::string(8, '\0') + "000000";  // 18 bytes
    // A body of 0x0630 bytes: its 2-byte length starts 06 30, its type
    // "0200" makes it look like a file frame's head "06 '0' 0200".
    const std::string big = "0200" + std::string(0x0630 - 4, 'x');
    const std::string file = FileFrame('1', "x.txt");
    using K = tools::FrameKind;
    struct Read {
        K kind;
        std::string bytes;  // the message, or the file frame's body
    };
    struct {
        const char *name;
        wire::WireFormat format;
        std::string stream;
        std::vector<Read> reads;
    } cases[] = {
        {"2-byte length, two messages",
         bare,
         Unhex("00 12") + body + Unhex("00 12") + body,
         {{K::kPacket, Unhex("00 12") + body}, {K::kPacket, Unhex("00 12") + body}}},
        {"a file frame first", bare, file, {{K::kFile, "x.txt"}}},
        {"a length starting 06 first, its next bytes no file head",
         bare,
         Unhex("06 00") + std::string(0x600, 'y'),
         {{K::kPacket, Unhex("06 00") + std::string(0x600, 'y')}}},
        {"06 later in the connection is a length",
         bare,
         Unhex("00 12") + body + Unhex("06 30") + big,
         {{K::kPacket, Unhex("00 12") + body}, {K::kPacket, Unhex("06 30") + big}}},
        // The one ambiguity, resolved as documented: a connection's first
        // bytes 06 '0'..'4' and four digits are a file frame's head.
        {"06 30 and four digits first: a file frame", bare, Unhex("06 30") + big, {{K::kFile, big.substr(4, 200)}}},
        {"little-endian length starting 06",
         bareLe,
         Unhex("06 01") + std::string(0x106, 'z'),
         {{K::kPacket, Unhex("06 01") + std::string(0x106, 'z')}}},
        {"4 digits without envelope",
         ascii4,
         "0018" + body + "0018" + body,
         {{K::kPacket, "0018" + body}, {K::kPacket, "0018" + body}}},
        {"4 digits without envelope, a file frame first", ascii4, file, {{K::kFile, "x.txt"}}},
        {"2-byte length in an envelope",
         enveloped,
         "\x02" + Unhex("00 12") + body + "\x03" + file,
         {{K::kPacket, "\x02" + Unhex("00 12") + body + "\x03"}, {K::kFile, "x.txt"}}},
        {"a length that counts the TPDU",
         tpdu,
         Unhex("00 17 60 00 03 00 00") + body,
         {{K::kPacket, Unhex("00 17 60 00 03 00 00") + body}}},
    };
    volatile std::sig_atomic_t stop = 0;
    for (auto &c : cases) {
        ScriptedPeer peer({Send(c.stream), Pause(300)});
        const int sock = ::SockConnect("127.0.0.1", peer.port());
        ASSERT_GE(sock, 0);
        {
            tools::ClientLink link(sock, 2000, &stop);
            link.SpeakDialect(c.format);
            for (const Read &want : c.reads) {
                unsigned char first = 0;
                std::string why;
                ASSERT_EQ(link.ReadFrame(&first, &why), tools::LinkResult::kOk) << c.name << ": " << why;
                ASSERT_EQ(link.Kind(), want.kind) << c.name;
                const std::string got = want.kind == K::kFile
                                            ? std::string(link.FileBody(), static_cast<size_t>(link.FileLength()))
                                            : std::string(reinterpret_cast<const char *>(link.Packet()),
                                                          static_cast<size_t>(link.PacketLength()));
                EXPECT_EQ(got, want.bytes) << c.name;
            }
        }
        ::SockClose(sock);
        peer.Received();
    }
}

// A dialect frame whose length is none, or out of range, or whose stop
// byte is missing, is refused with the reason.
TEST_F(ClientLinkTest, ABrokenDialectFrameIsNamed)
{
    struct {
        const char *name;
        wire::WireFormat format;
        std::string stream;
        const char *why;
    } cases[] = {
        {"digits that are none", Dialect({{"LENGTH", "ASCII4"}, {"ENVELOPE", "NONE"}}), "00x9",
         "length 30 30 78 39 is no ASCII4 length"},
        {"a body too short", Dialect({{"LENGTH", "BINARY2"}, {"ENVELOPE", "NONE"}}), Unhex("00 09") + "123456789",
         "length 00 09 says a body of 9 bytes, not 10 to 2084"},
        {"a body too long", Dialect({{"LENGTH", "BINARY2"}, {"ENVELOPE", "NONE"}}), Unhex("08 25"),
         "length 08 25 says a body of 2085 bytes, not 10 to 2084"},
        {"no stop byte", Dialect({{"LENGTH", "BINARY2"}}), "\x02" + Unhex("00 0A") + "0200123456" + "\x04",
         "no stop byte 0x03 after the frame"},
    };
    volatile std::sig_atomic_t stop = 0;
    for (auto &c : cases) {
        ScriptedPeer peer({Send(c.stream), Pause(300)});
        const int sock = ::SockConnect("127.0.0.1", peer.port());
        ASSERT_GE(sock, 0);
        {
            tools::ClientLink link(sock, 2000, &stop);
            link.SpeakDialect(c.format);
            unsigned char first = 0;
            std::string why;
            EXPECT_EQ(link.ReadFrame(&first, &why), tools::LinkResult::kMalformed) << c.name;
            EXPECT_EQ(link.Kind(), tools::FrameKind::kPacket) << c.name;
            EXPECT_EQ(why, c.why) << c.name;
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
    EXPECT_EQ(Listing("served"), std::set<std::string>({"served/in.txt", "served/sub", "served/sub/new.txt"}));
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

TEST_F(HostRulesTest, IntegerFieldsTakeThirtyTwoBitsOnly)
{
    const std::string defs = (dir_ / "ni.txt").string();
    std::ofstream(defs) << "STAN NI 11 11\n";  // room for -2147483648
    ASSERT_TRUE(tools::LoadDefinitions(&session_, defs, ""));
    struct {
        const char *text;
        bool taken;
    } cases[] = {{"2147483647", true},  {"-2147483648", true},
                 {"2147483648", false}, {"-2147483649", false},
                 {"4294967297", false}, {"0", true},
                 {" 5", false},         {"5x", false},
                 {"", false},           {"99999999999999999999", false}};
    for (auto &c : cases) {
        std::string why;
        EXPECT_EQ(tools::SetFieldText(&session_, 11, c.text, &why) == 0, c.taken) << c.text;
        EXPECT_EQ(why.empty(), c.taken) << c.text;
        if (c.taken)
            EXPECT_EQ(tools::FieldText(&session_, 11), std::to_string(std::stol(c.text))) << c.text;
    }
}

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

// Until a MAC verifies on a connection, --client-timeout from its start
// covers all it sends, however it spaces its messages, each in time; the
// first verified MAC lifts that limit.
TEST_F(HostServeTest, UntilAMacVerifiesOneLimitCoversTheConnection)
{
    options_.clientTimeoutMillis = 2000;
    const int port = StartHost();
    unsigned char other[8];
    ASSERT_TRUE(tools::ParseKey("1111111111111111", other));
    const auto pause = std::chrono::milliseconds(1300);
    struct {
        const unsigned char *laterKey;
        bool thirdAnswered;
    } cases[] = {{other, false}, {options_.mac.key, true}};
    for (auto &c : cases) {
        const int sock = ::SockConnect("127.0.0.1", port);
        ASSERT_GE(sock, 0);
        EXPECT_TRUE(Exchange(sock, other));
        std::this_thread::sleep_for(pause);
        EXPECT_TRUE(Exchange(sock, c.laterKey));
        std::this_thread::sleep_for(pause);
        EXPECT_EQ(Exchange(sock, c.laterKey), c.thirdAnswered) << (c.thirdAnswered ? "key holder" : "keyless");
        ::SockClose(sock);
    }
    EXPECT_TRUE(Logged("#1 connection dropped: no verified MAC within 2 s of connecting")) << Log();
}

}  // namespace
}  // namespace tranpak::test
