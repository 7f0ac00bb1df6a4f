// Sessions: several in one thread, one per thread in many, and the codec
// without a socket against the socket functions.
#include "api/session.h"
#include "os/os.h"
#include "support/peer.h"
#include "support/scratch_dir.h"
#include "tranpak.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

namespace tranpak::test {
namespace {

const unsigned char kKey[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};

TpSettings SettingsOf(const char *bmpFile, bool trace = false)
{
    TpSettings s{};
    s.traceFlag = trace ? 1 : 0;
    s.errFile = "errlog.txt";
    s.bmpFile = bmpFile;
    s.ctraceFile = "ctrace.txt";
    s.recvLimit = 20;
    return s;
}

// A field's text, and every byte GetCell wrote (for amounts and B fields).
std::string Field(TpSession *s, int field)
{
    char out[512] = {};
    return TpGetCell(s, field, out) == 0 ? std::string(out) : "<unused>";
}
std::string RawField(TpSession *s, int field)
{
    char out[512] = {};
    return TpGetCell(s, field, out) == 0 ? std::string(out, sizeof out) : "<unused>";
}

std::string LastError(TpSession *s)
{
    char text[300] = {};
    const int category = TpGetLastErrMesg(s, text, sizeof text);
    return std::to_string(category) + " " + text;
}

// Sessions are big; tests keep theirs on the heap, as a program may.
std::unique_ptr<TpSession> NewSession() { return std::make_unique<TpSession>(); }

using SessionTest = ScratchTest;

TEST_F(SessionTest, SizeAndTheRefusalOfSessionsNotReady)
{
    EXPECT_EQ(TpSessionSize(), sizeof(TpSession));
    auto s = NewSession();
    std::memset(s.get(), 0, sizeof *s);
    char out[32];
    TpCellDef def;
    EXPECT_EQ(TpSetCell(nullptr, 0, "0200"), -1);
    EXPECT_EQ(TpSetCell(s.get(), 0, "0200"), -1);
    EXPECT_EQ(TpGetCell(s.get(), 0, out), -1);
    EXPECT_EQ(TpGetCellDef(s.get(), 2, &def), -1);
    EXPECT_EQ(TpWipe(nullptr), -1);
    EXPECT_FALSE(std::filesystem::exists("errlog.txt"));
}

// The eighteen and their session twins are made from one table, but the
// default session is never marked ready: each call below works on it before
// Init8583 and is refused on a session never initialised.
TEST_F(SessionTest, TheDefaultSessionNeedsNoInit8583WhereItsTwinsRefuse)
{
    os::SocketsStart();  // what loading the library does (Windows Sockets)
    ScriptedPeer listener({}, AcceptNobody());
    const int port = listener.port();
    ASSERT_GT(port, 0);
    auto s = NewSession();
    std::memset(s.get(), 0, sizeof *s);
    int sock = -1;
    const struct {
        const char *call;
        std::function<int()> onDefault;
        std::function<int(TpSession *)> onSession;
    } rows[] = {
        {"ResetMesg", [] { return ::ResetMesg(); }, [](TpSession *x) { return TpResetMesg(x); }},
        {"BackupMesg", [] { return ::BackupMesg(); }, [](TpSession *x) { return TpBackupMesg(x); }},
        {"RestoreMesg", [] { return ::RestoreMesg(); }, [](TpSession *x) { return TpRestoreMesg(x); }},
        {"SockConnect", [&] { return (sock = ::SockConnect("127.0.0.1", port)) >= 0 ? 0 : -1; },
         [&](TpSession *x) { return TpSockConnect(x, "127.0.0.1", port); }},
        {"SockClose", [&] { return ::SockClose(sock); }, [&](TpSession *x) { return TpSockClose(x, sock); }},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(row.onSession(s.get()), -1) << row.call;
        EXPECT_EQ(row.onDefault(), 0) << row.call;
    }
}

// Init8583 does not start the default session afresh as TpInit8583 does a
// session: the backup survives it. Reading the last failure opens no call,
// so reading it twice gives it twice.
TEST_F(SessionTest, DefaultInit8583KeepsTheBackupAndTheFailureReadsTwice)
{
    ASSERT_EQ(InitWith(kExampleDefinitions), 0);
    ASSERT_EQ(::SetCell(2, "4000123412341234"), 0);
    ASSERT_EQ(::BackupMesg(), 0);
    ASSERT_EQ(::Init8583(), 0);
    ASSERT_EQ(::RestoreMesg(), 0);
    char out[64] = {};
    ASSERT_EQ(::GetCell(2, out), 0);
    EXPECT_STREQ(out, "4000123412341234");

    EXPECT_EQ(::SetCell(200, "x"), -1);
    char first[300] = {}, second[300] = {};
    const int category = ::GetLastErrMesg(first, sizeof first);
    EXPECT_NE(category, 0);
    EXPECT_EQ(::GetLastErrMesg(second, sizeof second), category);
    EXPECT_STRNE(first, "");
    EXPECT_STREQ(second, first);
    TpError err{};
    err.size = sizeof err;
    EXPECT_EQ(::GetLastErrInfo(&err), category);
    EXPECT_EQ(err.category, category);
}

TEST_F(SessionTest, InitialisationStartsAfreshInStorageUsedBefore)
{
    WriteFile("bitmap.txt", kExampleDefinitions);
    auto s = NewSession();
    std::memset(s.get(), 0xA5, sizeof *s);  // storage may hold anything
    TpSettings settings = SettingsOf("bitmap.txt");
    ASSERT_EQ(TpInit8583With(s.get(), &settings), 0);
    ASSERT_EQ(TpSetCell(s.get(), 0, "0200"), 0);
    ASSERT_EQ(TpSetCell(s.get(), 2, "4761739001010119"), 0);
    ASSERT_EQ(TpBackupMesg(s.get()), 0);
    ASSERT_EQ(TpSetCell(s.get(), 2, "12x"), -1);

    // The same storage taken up again, as a thread's stack is: nothing of
    // the card number, the type or the last error comes back.
    ASSERT_EQ(TpInit8583With(s.get(), &settings), 0);
    EXPECT_EQ(LastError(s.get()), "0 ");
    EXPECT_EQ(TpRestoreMesg(s.get()), 0);
    EXPECT_EQ(Field(s.get(), 2), "<unused>");
    EXPECT_EQ(Field(s.get(), 0), "");

    // A refused initialisation still goes to the log named before.
    settings.recvLimit = -1;
    EXPECT_EQ(TpInit8583With(s.get(), &settings), -1);
    EXPECT_EQ(LastErr(), "tranpak: [Com Timeout] RECV=-1 is not a whole number of seconds");
}

// A refused re-initialisation leaves the session exactly as it was: its
// definitions, values and limits stay in force, and only the reason of the
// refusal is new (kept for TpGetLastErrMesg and logged where the earlier
// lines went).
TEST_F(SessionTest, RefusedReinitialisationLeavesTheSessionAsItWas)
{
    WriteFile("bitmap.txt", kExampleDefinitions);
    const std::string longPath(200, 'p');
    const struct {
        const char *name;
        void (*spoil)(TpSettings &, const std::string &);
        const char *message;
    } cases[] = {
        {"recv", [](TpSettings &t, const std::string &) { t.recvLimit = -1; },
         "tranpak: [Com Timeout] RECV=-1 is not a whole number of seconds"},
        {"transfer", [](TpSettings &t, const std::string &) { t.transferLimit = -5; },
         "tranpak: [Com Timeout] TRANSFER=-5 is not a whole number of seconds"},
        {"bmpFile", [](TpSettings &t, const std::string &p) { t.bmpFile = p.c_str(); },
         "tranpak: TpInit8583With() bmpFile has over 159 characters"},
    };
    auto s = NewSession();
    TpSettings settings = SettingsOf("bitmap.txt");
    settings.recvLimit = 1;
    ASSERT_EQ(TpInit8583With(s.get(), &settings), 0);
    ASSERT_EQ(TpSetCell(s.get(), 2, "4761739001010119"), 0);

    // Everything of the session but its record of the last failure.
    const Session &x = *reinterpret_cast<const Session *>(s.get());
    auto kept = [&x] {
        const auto *bytes = reinterpret_cast<const unsigned char *>(&x);
        const size_t lastErr = offsetof(Session, mesg) + offsetof(MesgState, lastErr);
        return std::string(bytes, bytes + lastErr) +
               std::string(bytes + offsetof(Session, des), bytes + sizeof(Session));
    };
    const std::string before = kept();
    for (const auto &c : cases) {
        TpSettings bad = settings;
        c.spoil(bad, longPath);
        EXPECT_EQ(TpInit8583With(s.get(), &bad), -1) << c.name;
        EXPECT_EQ(LastError(s.get()), std::string("1 ") + c.message) << c.name;
        EXPECT_EQ(LastErr(), c.message) << c.name;
        EXPECT_TRUE(kept() == before) << c.name << ": the session changed";
    }
    EXPECT_EQ(TpInit8583With(s.get(), nullptr), -1);
    EXPECT_EQ(LastError(s.get()), "2 tranpak: TpInit8583With() settings is NULL");
    EXPECT_TRUE(kept() == before) << "NULL settings: the session changed";
    EXPECT_EQ(Field(s.get(), 2), "4761739001010119");

    // The receive limit of 1 s is still in force against a silent peer.
    ScriptedPeer host({ReadToEnd()});
    const int sock = TpSockConnect(s.get(), "127.0.0.1", host.port());
    ASSERT_GE(sock, 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(TpSockRecvMesg(s.get(), sock), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(TpGetLastErrMesg(s.get(), nullptr, 0), TRANPAK_ERR_TIME_LIMIT);
    TpSockClose(s.get(), sock);
}

// Storage that is not aligned as a TpSession is refused, by initialisation
// and by every other function, before anything is read or written.
TEST_F(SessionTest, MisalignedStorageIsRefused)
{
    WriteFile("bitmap.txt", kExampleDefinitions);
    auto block = std::make_unique<unsigned char[]>(sizeof(TpSession) + alignof(TpSession));
    std::memset(block.get(), 0, sizeof(TpSession) + alignof(TpSession));
    auto *aligned = reinterpret_cast<unsigned char *>(
        (reinterpret_cast<uintptr_t>(block.get()) + alignof(TpSession) - 1) / alignof(TpSession) * alignof(TpSession));
    TpSettings settings = SettingsOf("bitmap.txt");
    for (size_t shift : {size_t{1}, size_t{4}, alignof(TpSession) / 2}) {
        auto *s = reinterpret_cast<TpSession *>(aligned + shift);
        EXPECT_EQ(TpInit8583With(s, &settings), -1) << shift;
        EXPECT_EQ(TpInit8583(s, nullptr), -1) << shift;
        EXPECT_EQ(TpSetCell(s, 0, "0200"), -1) << shift;
        EXPECT_EQ(TpGetLastErrMesg(s, nullptr, 0), -1) << shift;
        TpError err{};
        err.size = sizeof err;
        EXPECT_EQ(TpGetLastError(s, &err), -1) << shift;
        EXPECT_EQ(TpWipe(s), -1) << shift;
    }
    // Nothing was written into the storage.
    for (size_t i = 0; i < sizeof(TpSession) + alignof(TpSession); ++i)
        ASSERT_EQ(block[i], 0) << i;
    // The same storage, aligned, works.
    EXPECT_EQ(TpInit8583With(reinterpret_cast<TpSession *>(aligned), &settings), 0);
    EXPECT_EQ(TpWipe(reinterpret_cast<TpSession *>(aligned)), 0);
}

TEST_F(SessionTest, TwoLayoutsInOneThreadAndTheDefaultBeside)
{
    WriteFile("a.txt", kExampleDefinitions);
    WriteFile("b.txt",
              "PROCCODE  ANS   10      3\n"
              "AMOUNT    N     6,1     4\n"
              "MAC       B     8       64\n");
    ASSERT_EQ(InitWith(kExampleDefinitions), 0);
    auto a = NewSession(), b = NewSession();
    TpSettings sa = SettingsOf("a.txt"), sb = SettingsOf("b.txt");
    ASSERT_EQ(TpInit8583With(a.get(), &sa), 0);
    ASSERT_EQ(TpInit8583With(b.get(), &sb), 0);

    TpCellDef def{};
    ASSERT_EQ(TpGetCellDef(b.get(), 3, &def), 0);
    EXPECT_STREQ(def.name, "PROCCODE");
    EXPECT_EQ(def.type, CELL_ANS);
    EXPECT_EQ(def.maxlen, 10);
    EXPECT_EQ(def.varlen, 0);
    EXPECT_EQ(TpGetCellDef(a.get(), 3, &def), 0);
    EXPECT_EQ(def.type, CELL_N);
    // Layout b does not list field 2: its record is still given, all zero.
    EXPECT_EQ(TpGetCellDef(b.get(), 2, &def), 1);
    EXPECT_EQ(def.maxlen, 0);
    EXPECT_EQ(TpGetCellDef(b.get(), 129, &def), -1);

    // Alternating: each message keeps its own fields and packs by its own layout.
    // Field 4 is an amount (NF, a double) in layout a and digits in b.
    struct {
        TpSession *s;
        const char *proccode;
        double amount;
        const char *digits;
        const char *packed;  // data after the bitmap, before the MAC
    } rounds[] = {
        {a.get(), "123", 10.0, nullptr,
         "000123"
         "000000001000"},
        {b.get(), "PURCHASE", 0, "1000",
         "PURCHASE  "
         "41000"},
        {a.get(), "9", 0.5, nullptr,
         "000009"
         "000000000050"},
        {b.get(), "REFUND", 0, "50",
         "REFUND    "
         "250"},
    };
    for (auto &r : rounds) {
        ASSERT_EQ(TpResetMesg(r.s), 0);
        ASSERT_EQ(TpSetCell(r.s, 0, "0200"), 0);
        ASSERT_EQ(TpSetCell(r.s, 3, r.proccode), 0) << LastError(r.s);
        if (r.digits != nullptr)
            ASSERT_EQ(TpSetCell(r.s, 4, r.digits), 0) << LastError(r.s);
        else
            ASSERT_EQ(TpSetCell(r.s, 4, &r.amount), 0) << LastError(r.s);
        unsigned char frame[2048];
        int len = 0;
        ASSERT_EQ(TpPackMesg(r.s, kKey, frame, sizeof frame, &len), 0) << LastError(r.s);
        const std::string data(reinterpret_cast<char *>(frame) + 17, len - 17 - 9);
        EXPECT_EQ(data, r.packed);
        unsigned char bitmap[8];
        ASSERT_EQ(TpGetBitmap(r.s, bitmap), 0);
        EXPECT_EQ(Hex(bitmap, 8), "30 00 00 00 00 00 00 01");
    }
    EXPECT_EQ(Field(a.get(), 3), "9");
    EXPECT_EQ(Field(b.get(), 3), "REFUND");

    // The default session has neither message, and its errors are its own.
    char out[64];
    EXPECT_EQ(GetCell(3, out), -1);
    EXPECT_EQ(TpSetCell(b.get(), 4, "12x"), -1);
    EXPECT_EQ(LastError(b.get()), "2 tranpak: SetField BMPCell[3].buf: 12x not N");
    EXPECT_EQ(GetLastErrMesg(out, sizeof out), TRANPAK_ERR_ARGUMENT);
    EXPECT_STREQ(out, "tranpak: BMPCell[2] is not used");
    EXPECT_EQ(LastError(a.get()), "0 ");

    EXPECT_EQ(TpWipe(a.get()), 0);
    const TpSession zero{};
    EXPECT_EQ(std::memcmp(a.get(), &zero, sizeof zero), 0);
    EXPECT_EQ(TpGetCell(a.get(), 3, out), -1);
}

// A frame of the example layout and what a peer sends for each framing case.
struct FrameCase {
    const char *name;
    std::string frame;
};

TEST_F(SessionTest, PackAndUnpackDoWhatTheSocketFunctionsDo)
{
    ASSERT_EQ(InitWith(kExampleDefinitions), 0);
    TpSettings settings = SettingsOf("bitmap.txt");
    auto bySocket = NewSession(), byCodec = NewSession();
    ASSERT_EQ(TpInit8583With(bySocket.get(), &settings), 0);
    ASSERT_EQ(TpInit8583With(byCodec.get(), &settings), 0);

    // Packing: the bytes sent are the bytes packed, and a short room is refused.
    const double amount = 10.0;
    for (TpSession *s : {bySocket.get(), byCodec.get()}) {
        TpSetCell(s, 0, "0200");
        TpSetCell(s, 2, "12345678");
        TpSetCell(s, 3, "123");
        TpSetCell(s, 4, &amount);
        TpSetCell(s, 48, "additional data");
    }
    ScriptedPeer peer({ReadToEnd()});
    int sock = TpSockConnect(bySocket.get(), "127.0.0.1", peer.port());
    ASSERT_GE(sock, 0);
    ASSERT_EQ(TpSockSendMesg(bySocket.get(), sock, kKey), 0);
    TpSockClose(bySocket.get(), sock);
    const std::string sent = peer.Received();
    unsigned char frame[2048];
    int len = 0;
    ASSERT_EQ(TpPackMesg(byCodec.get(), kKey, frame, sizeof frame, &len), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(frame), len), sent);
    EXPECT_EQ(TpPackMesg(byCodec.get(), kKey, frame, len - 1, &len), -1);
    EXPECT_EQ(LastError(byCodec.get()), "2 tranpak: TpPackMesg() frame of " + std::to_string(sent.size()) +
                                            " bytes does not fit " + std::to_string(sent.size() - 1));
    EXPECT_FALSE(std::filesystem::exists("ctrace.txt"));

    // Unpacking: the same result, fields and reason as a receive.
    std::string bad = sent;
    bad[bad.size() - 2] ^= 0x01;  // the MAC's last byte: the frame unpacks, the check fails
    const FrameCase cases[] = {
        {"good", sent},
        {"changed MAC", bad},
        {"start byte", "\x01" + sent.substr(1)},
        {"length not a number",
         "\x02"
         "00x0" +
             sent.substr(5)},
        {"too short",
         "\x02"
         "0019"
         "0810" +
             std::string(8, '\0') + std::string(8, 'M') + "\x03"},
        {"too long",
         "\x02"
         "2048" +
             std::string(2044, '0')},
        {"stop byte", sent.substr(0, sent.size() - 1) + "\x04"},
        {"only the MAC",
         "\x02"
         "0020"
         "0810" +
             Unhex("0000000000000001") +
             "MACBYTES"
             "\x03"},
    };
    for (const FrameCase &c : cases) {
        ScriptedPeer sender({Send(c.frame), Close()});
        sock = TpSockConnect(bySocket.get(), "127.0.0.1", sender.port());
        ASSERT_GE(sock, 0);
        const int rcSocket = TpSockRecvMesg(bySocket.get(), sock);
        const std::string reason = LastError(bySocket.get());
        TpSockClose(bySocket.get(), sock);
        const int rcCodec = TpUnpackMesg(byCodec.get(), reinterpret_cast<const unsigned char *>(c.frame.data()),
                                         static_cast<int>(c.frame.size()));
        EXPECT_EQ(rcCodec, rcSocket) << c.name;
        EXPECT_EQ(LastError(byCodec.get()), reason) << c.name;
        EXPECT_EQ(TpCheckMesgMac(byCodec.get(), kKey), TpCheckMesgMac(bySocket.get(), kKey)) << c.name;
        for (int field = 0; field <= 64; ++field)
            EXPECT_EQ(RawField(byCodec.get(), field), RawField(bySocket.get(), field)) << c.name << " field " << field;
    }

    // A length other than the frame's own, and too little for a head.
    const auto *bytes = reinterpret_cast<const unsigned char *>(sent.data());
    const int n = static_cast<int>(sent.size());
    EXPECT_EQ(TpUnpackMesg(byCodec.get(), bytes, n - 1), -1);
    EXPECT_EQ(LastError(byCodec.get()),
              "2 tranpak: TpUnpackMesg() frameLen = " + std::to_string(n - 1) + ", the frame has " + std::to_string(n));
    EXPECT_EQ(TpUnpackMesg(byCodec.get(), bytes, 4), -1);
    EXPECT_EQ(LastError(byCodec.get()), "2 tranpak: TpUnpackMesg() frameLen = 4, shorter than a frame's head");
}

// Many threads, each with a session of its own and a host thread with
// another: the terminals log into one error log, the hosts trace into one
// trace file.
// TRANPAK_THREAD_ROUNDS lowers the rounds where every step is slow
// (Valgrind).
constexpr int kThreads = 8;
const int kRounds = [] {
    const char *text = std::getenv("TRANPAK_THREAD_ROUNDS");
    return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : 2000;
}();

void Host(int sock, std::atomic<int> *failures)
{
    auto s = NewSession();
    TpSettings settings = SettingsOf("bitmap.txt", true);
    if (TpInit8583With(s.get(), &settings) != 0) {
        ++*failures;
        return;
    }
    for (int round = 0; round < kRounds; ++round) {
        char termid[16];
        if (TpSockRecvMesg(s.get(), sock) != 0 || TpCheckMesgMac(s.get(), kKey) != 0) {
            ++*failures;
            break;
        }
        // The reply: the request's fields, a type of 0210 and a terminal
        // named for this host's round.
        std::snprintf(termid, sizeof termid, "H%07d", round);
        if (TpSetCell(s.get(), 0, "0210") != 0 || TpSetCell(s.get(), 41, termid) != 0 ||
            TpSockSendMesg(s.get(), sock, kKey) != 0) {
            ++*failures;
            break;
        }
    }
}

void Terminal(int thread, int port, std::atomic<int> *failures)
{
    auto s = NewSession();
    TpSettings settings = SettingsOf("bitmap.txt");
    if (TpInit8583With(s.get(), &settings) != 0) {
        ++*failures;
        return;
    }
    const int sock = TpSockConnect(s.get(), "127.0.0.1", port);
    for (int round = 0; round < kRounds && sock >= 0; ++round) {
        char pan[20], refused[16], termid[16];
        double amount = 10.0 + round, got = 0;
        std::snprintf(pan, sizeof pan, "4761%d%08d", thread, round);
        std::snprintf(refused, sizeof refused, "T%dR%05d", thread, round);
        std::snprintf(termid, sizeof termid, "H%07d", round);
        TpResetMesg(s.get());
        const bool sent = TpSetCell(s.get(), 0, "0200") == 0 && TpSetCell(s.get(), 2, pan) == 0 &&
                          TpSetCell(s.get(), 3, refused) == -1 && TpSetCell(s.get(), 4, &amount) == 0 &&
                          TpSockSendMesg(s.get(), sock, kKey) == 0;
        if (!sent || TpSockRecvMesg(s.get(), sock) != 0 || TpCheckMesgMac(s.get(), kKey) != 0 ||
            Field(s.get(), 0) != "0210" || Field(s.get(), 2) != pan || Field(s.get(), 41) != termid ||
            TpGetCell(s.get(), 4, &got) != 0 || got != amount) {
            ++*failures;
            break;
        }
    }
    if (sock < 0)
        ++*failures;
    TpSockClose(s.get(), sock);
}

TEST_F(SessionTest, ThreadsWithASessionEachShareALogAndATrace)
{
    WriteFile("bitmap.txt", kExampleDefinitions);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    std::vector<std::unique_ptr<ScriptedPeer>> hosts;
    // Each host is a session of the library on the peer's connection,
    // with no receive limit of the peer's on its socket.
    PeerOptions options;
    options.waitMillis = 0;
    for (int t = 0; t < kThreads; ++t) {
        hosts.push_back(std::make_unique<ScriptedPeer>(
            std::vector<PeerStep>{Call([&failures](int sock) { Host(sock, &failures); })}, options));
        ASSERT_GT(hosts.back()->port(), 0);
        threads.emplace_back(Terminal, t, hosts.back()->port(), &failures);
    }
    for (auto &th : threads)
        th.join();
    hosts.clear();  // each host has ended its last round
    EXPECT_EQ(failures.load(), 0);

    // Every refusal of every round is in the log once, each a whole line.
    const std::regex line(
        R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] tranpak: SetField BMPCell\[2\]\.buf: (T\dR\d{5}) not N)");
    std::map<std::string, int> seen;
    std::istringstream log(ReadTextFile("errlog.txt"));
    int malformed = 0;
    for (std::string text; std::getline(log, text);) {
        std::smatch m;
        if (std::regex_match(text, m, line))
            ++seen[m[1]];
        else if (++malformed < 5)
            ADD_FAILURE() << "not a whole line: " << text;
    }
    EXPECT_EQ(malformed, 0);
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kRounds));
    for (auto &[value, count] : seen)
        ASSERT_EQ(count, 1) << value;

    // Three blocks per round, the host's: the two parts of a receive and a
    // send; each block is whole.
    std::istringstream trace(ReadTextFile("ctrace.txt"));
    const std::regex head(
        R"(\{\d\d-\d\d \d\d:\d\d:\d\d (send mesg body|recv mesg head|recv mesg data)\} \[len = \d{3}\])");
    const std::regex dump(R"(\d{4} :[-0-9A-F ]{48} \|\| .{16})");
    int blocks = 0, bad = 0;
    bool inBlock = false;
    for (std::string text; std::getline(trace, text);) {
        if (text.empty()) {
            inBlock = false;
        } else if (!inBlock && std::regex_match(text, head)) {
            inBlock = true;
            ++blocks;
        } else if (!inBlock || !std::regex_match(text, dump)) {
            if (++bad < 5)
                ADD_FAILURE() << "not part of a whole block: " << text;
        }
    }
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(blocks, kThreads * kRounds * 3);
}

}  // namespace
}  // namespace tranpak::test
