// The client: replies checked against the request, the load mode's
// figures and sessions, failure reasons and the fetch's temporary files.
#include "tools/client/failure.h"
#include "tools/client/fetch.h"
#include "tools/client/load_report.h"
#include "tools/client/reply.h"
#include "tools/client/request.h"
#include "tools/client/settings_view.h"
#include "support/scratch_dir.h"
#include "support/tool_fixtures.h"
#include "tranpak.h"

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace tranpak::test {
namespace {

// A reply as the client receives it: its type and field 41 (when given)
// packed into a frame by the public codec and taken back from it.
void Receive(TpSession *s, const char *type, const char *terminal)
{
    TpResetMesg(s);
    ASSERT_EQ(TpSetCell(s, 0, type), 0);
    if (terminal != nullptr)
        ASSERT_EQ(TpSetCell(s, 41, terminal), 0);
    const unsigned char key[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
    unsigned char frame[2048];
    int len = 0;
    ASSERT_EQ(TpPackMesg(s, key, frame, sizeof frame, &len), 0);
    ASSERT_EQ(TpUnpackMesg(s, frame, len), 0);
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
        Receive(&session_, c.type, c.terminal);
        EXPECT_EQ(tools::ReplyMismatch(&session_, request, c.fixed), c.says) << c.type;
    }
}

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
        {1000, 0, 10}, {1000, 500, 5000}, {1000, 900, 9000}, {1000, 999, 9990}, {1000, 1000, 10000},
        {10, 900, 90}, {10, 999, 100},    {3, 500, 20},      {1, 999, 10},      {0, 500, 0},
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
        {1, 0, 6, "000001"},      {1, 41, 6, "000042"}, {999999, 1, 6, "000000"},
        {999998, 5, 6, "000003"}, {7, 3, 1, "0"},       {123, 1000000, 6, "000123"},
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
    const char *keys[] = {
        "{\"requested\":40,",
        "\"connections\":2,",
        "\"connect_each\":false,",
        "\"connected\":2,",
        "\"done\":30,",
        "\"failed\":10,",
        "\"failures\":{\"peer closed\":2,\"MAC\":7,\"does not answer\":1},",
        "\"duplicates\":0,",
        "\"stopped\":false,",
        "\"gave_up\":false,",
        "\"in_flight\":0,",
        "\"seconds\":2.000,",
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
        {4, 4, false, "4 connections kept open\n"}, {4, 0, false, "4 connections, none made\n"},
        {1, 0, false, "1 connection, none made\n"}, {4, 3, false, "3 of 4 connections made, kept open\n"},
        {4, 0, true, "4 connections, none made\n"}, {4, 1, true, "4 connections, connecting for each exchange\n"},
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
                        "unfinished\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("stopped"), std::string::npos) << text;
    const std::string json = tools::SummaryJson(r);
    EXPECT_NE(json.find("\"duplicates\":3,\"stopped\":false,\"gave_up\":true,\"in_flight\":4,"), std::string::npos)
        << json;
    r.stopped = true;
    text = tools::SummaryText(r);
    EXPECT_NE(text.find("\nstopped: by Ctrl-C after 50 of 1000 exchanges, 4 in flight left unfinished\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("ended:"), std::string::npos) << text;
}

// The client's sessions wait a bounded time for each reply: the command
// line's limit, else the settings' RECV, else the client's own default;
// the rest is the settings' as the library reads them.
TEST_F(ScratchTest, ExchangesAlwaysHaveAReceiveLimit)
{
    struct {
        const char *timeouts;  // the [Com Timeout] section's lines
        int option;            // --recv-timeout, 0 when not given
        int recv, connect;
    } cases[] = {
        {"", 0, tools::kRecvSeconds, 0},
        {"RECV=0\n", 0, tools::kRecvSeconds, 0},
        {"RECV=\nCONNECT=3\n", 0, tools::kRecvSeconds, 3},
        {"RECV=25\n", 0, 25, 0},
        {"RECV=25\n", 2, 2, 0},
        {"", 7, 7, 0},
        {"RECV=999999\n", 0, 86400, 0},
    };
    for (auto &c : cases) {
        WriteSettings(std::string("[Com Trace Flag]\nGCODEFLAG=1\n[Error Log File]\nERRFILE=e.txt\n"
                                  "[Com Trace File]\nCTRACEFILE=t.txt\n[Com Timeout]\n") +
                      c.timeouts);
        const tools::SettingsView view = tools::ViewSettings();
        const TpSettings s = tools::ExchangeSettings(view, c.option);
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
    const TpSettings s = tools::ExchangeSettings(view, 0);
    EXPECT_EQ(s.recvLimit, tools::kRecvSeconds);
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
        {std::string("12\xC2\x9B"
                     "34",
                     6),
         "12\\xC2\\x9B34"},
        {std::string("12\x1B"
                     "345",
                     6),
         "12\\x1B345"},
    };
    for (auto &c : cases) {
        const std::string frame = std::string(
                                      "\x02"
                                      "0026"
                                      "0210"
                                      "\x20\0\0\0\0\x80\0\0",
                                      17) +
                                  c.value + "TERM0001\x03";
        ASSERT_NE(TpUnpackMesg(&session_, reinterpret_cast<const unsigned char *>(frame.data()),
                               static_cast<int>(frame.size())),
                  0);
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
    const char *names[] = {"tranpak-123456.part",  "tranpak-000000.part", "tranpak-12345.part",
                           "tranpak-1234567.part", "tranpak-12345a.part", "tranpak-123456.partx",
                           "xtranpak-123456.part", "tranpak-123456.tmp"};
    for (const char *name : names)
        std::ofstream(dir_ / name) << "x";
    EXPECT_EQ(tools::TemporaryFetchFiles(dir_.string()),
              (std::vector<std::string>{"tranpak-000000.part", "tranpak-123456.part"}));
    EXPECT_TRUE(tools::TemporaryFetchFiles((dir_ / "missing").string()).empty());
}

}  // namespace
}  // namespace tranpak::test
