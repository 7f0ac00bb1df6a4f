// The kit's wire module: the heads it writes, what it says of the bytes of
// a frame received so far, a reader fed in pieces of any size, the reader
// over a socket; and the library's receive, which takes a frame that has
// come whole with one receive and never a byte of the next.
#include "api/session.h"
#include "kit/wire_socket.h"
#include "codec/frame.h"
#include "channel/mesg_exchange.h"
#include "channel/net.h"
#include "os.h"
#include "support/peer.h"
#include "support/scratch_dir.h"
#include "tranpak.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <regex>

namespace tranpak::test {
namespace {

using wire::Fault;
using wire::Kind;
using wire::Status;

std::string Bytes(const unsigned char *p, int n) { return std::string(reinterpret_cast<const char *>(p), n); }

const unsigned char *U(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.data()); }

// A Packet of len 48 (the worked example's size) with any content.
std::string Packet48(char stop = '\x03')
{
    return "\x02"
           "0048"
           "0210" +
           std::string(44, 'd') + std::string(1, stop);
}

TEST(WireHeads, AreWrittenAsTheyTravel)
{
    unsigned char head[wire::kFileHeadSize];
    wire::PutPacketHead(head, 48);
    EXPECT_EQ(Bytes(head, wire::kPacketHeadSize),
              "\x02"
              "0048");
    wire::PutPacketHead(head, 2041);
    EXPECT_EQ(Bytes(head, wire::kPacketHeadSize),
              "\x02"
              "2041");
    wire::PutFileHead(head, wire::kFileData, 3);
    EXPECT_EQ(Bytes(head, wire::kFileHeadSize),
              "\x06"
              "20003");
    wire::PutFileHead(head, wire::kFileEnd, 0);
    EXPECT_EQ(Bytes(head, wire::kFileHeadSize),
              "\x06"
              "40000");
    wire::PutFileHead(head, wire::kFileData, 1024);
    EXPECT_EQ(Bytes(head, wire::kFileHeadSize),
              "\x06"
              "21024");
    const struct {
        const char *digits;
        int value;
    } reads[] = {{"0000", 0},  {"0048", 48}, {"9999", 9999}, {"12a4", -1}, {" 048", -1},
                 {"+048", -1}, {"-001", -1}, {"00/0", -1},   {"00:0", -1}};
    for (const auto &r : reads)
        EXPECT_EQ(wire::ReadDigits(reinterpret_cast<const unsigned char *>(r.digits)), r.value) << r.digits;
}

// The bytes of a frame received so far, and what they say. taken is what
// a FrameReader fed these bytes takes: up to where the frame ends or is
// found bad, never further.
struct ScanCase {
    const char *name;
    Kind kind;
    std::string bytes;
    Status status;
    Fault fault;
    int size;
    int len;
    Kind seen;
    int taken;
};

const Status kNeed = Status::kNeedMore, kDone = Status::kComplete, kBad = Status::kBad;

std::vector<ScanCase> ScanCases()
{
    const std::string p = Packet48();
    const std::string smallest =
        "\x02"
        "0020"
        "0810" +
        std::string(16, 'm') + "\x03";
    return {
        {"packet: nothing", Kind::kPacket, "", kNeed, Fault::kNone, 26, -1, Kind::kPacket, 0},
        {"packet: start byte", Kind::kPacket, "\x02", kNeed, Fault::kNone, 26, -1, Kind::kPacket, 1},
        {"packet: start 0x82", Kind::kPacket,
         "\x82"
         "0048",
         kBad, Fault::kStart, 0, -1, Kind::kPacket, 1},
        {"packet: three digits", Kind::kPacket,
         "\x02"
         "004",
         kNeed, Fault::kNone, 26, -1, Kind::kPacket, 4},
        {"packet: head", Kind::kPacket,
         "\x02"
         "0048",
         kNeed, Fault::kNone, 54, 48, Kind::kPacket, 5},
        {"packet: all but the stop", Kind::kPacket, p.substr(0, 53), kNeed, Fault::kNone, 54, 48, Kind::kPacket, 53},
        {"packet: whole", Kind::kPacket, p, kDone, Fault::kNone, 54, 48, Kind::kPacket, 54},
        {"packet: whole, the next behind it", Kind::kPacket, p + p.substr(0, 30), kDone, Fault::kNone, 54, 48,
         Kind::kPacket, 54},
        {"packet: stop 0x07", Kind::kPacket, Packet48('\x07') + "\x02", kBad, Fault::kStop, 0, 48, Kind::kPacket, 54},
        {"packet: len 20", Kind::kPacket, smallest, kDone, Fault::kNone, 26, 20, Kind::kPacket, 26},
        {"packet: len 19", Kind::kPacket,
         "\x02"
         "0019" +
             std::string(30, '0'),
         kBad, Fault::kShort, 0, 19, Kind::kPacket, 5},
        {"packet: len 2047", Kind::kPacket,
         "\x02"
         "2047"
         "0200",
         kNeed, Fault::kNone, 2053, 2047, Kind::kPacket, 9},
        {"packet: len 2048", Kind::kPacket,
         "\x02"
         "2048"
         "0200",
         kBad, Fault::kLong, 0, 2048, Kind::kPacket, 5},
        {"packet: len 12a4", Kind::kPacket,
         "\x02"
         "12a4",
         kBad, Fault::kDigits, 0, -1, Kind::kPacket, 5},
        {"packet: len with a blank", Kind::kPacket,
         "\x02"
         " 048",
         kBad, Fault::kDigits, 0, -1, Kind::kPacket, 5},
        {"packet: len with a sign", Kind::kPacket,
         "\x02"
         "+048",
         kBad, Fault::kDigits, 0, -1, Kind::kPacket, 5},
        {"file: nothing", Kind::kFile, "", kNeed, Fault::kNone, 6, -1, Kind::kFile, 0},
        {"file: start and type", Kind::kFile,
         "\x06"
         "2",
         kNeed, Fault::kNone, 6, -1, Kind::kFile, 2},
        {"file: start 0x07", Kind::kFile,
         "\x07"
         "20003",
         kBad, Fault::kStart, 0, -1, Kind::kFile, 1},
        {"file: head", Kind::kFile,
         "\x06"
         "20003",
         kNeed, Fault::kNone, 9, 3, Kind::kFile, 6},
        {"file: whole", Kind::kFile,
         "\x06"
         "20003"
         "abc",
         kDone, Fault::kNone, 9, 3, Kind::kFile, 9},
        {"file: end frame, the next behind it", Kind::kFile,
         "\x06"
         "40000"
         "\x06"
         "4",
         kDone, Fault::kNone, 6, 0, Kind::kFile, 6},
        {"file: body 1024", Kind::kFile,
         "\x06"
         "21024"
         "x",
         kNeed, Fault::kNone, 1030, 1024, Kind::kFile, 7},
        {"file: body 1025", Kind::kFile,
         "\x06"
         "21025"
         "x",
         kBad, Fault::kLong, 0, 1025, Kind::kFile, 6},
        {"file: length -001", Kind::kFile,
         "\x06"
         "2-001"
         "x",
         kBad, Fault::kDigits, 0, -1, Kind::kFile, 6},
        {"file: length with a blank", Kind::kFile,
         "\x06"
         "2 003"
         "xyz",
         kBad, Fault::kDigits, 0, -1, Kind::kFile, 6},
        // The type is the caller's to judge.
        {"file: type 9", Kind::kFile,
         "\x06"
         "90001"
         "z",
         kDone, Fault::kNone, 7, 1, Kind::kFile, 7},
        {"any: nothing", Kind::kAny, "", kNeed, Fault::kNone, 6, -1, Kind::kAny, 0},
        {"any: a Packet", Kind::kAny, p, kDone, Fault::kNone, 54, 48, Kind::kPacket, 54},
        {"any: a file frame", Kind::kAny,
         "\x06"
         "1"
         "0002"
         "rq",
         kDone, Fault::kNone, 8, 2, Kind::kFile, 8},
        {"any: 0x41", Kind::kAny, "A0048", kBad, Fault::kStart, 0, -1, Kind::kAny, 1},
    };
}

void ExpectScan(const wire::Scan &s, const ScanCase &c, const std::string &how)
{
    EXPECT_EQ(s.status, c.status) << c.name << how;
    EXPECT_EQ(s.fault, c.fault) << c.name << how;
    EXPECT_EQ(s.size, c.size) << c.name << how;
    EXPECT_EQ(s.len, c.len) << c.name << how;
    EXPECT_EQ(s.kind, c.seen) << c.name << how;
}

TEST(WireScan, SaysWhatTheBytesSoFarAre)
{
    for (const ScanCase &c : ScanCases())
        ExpectScan(wire::ScanFrame(c.kind, U(c.bytes), static_cast<int>(c.bytes.size())), c, "");
}

TEST(WireReader, PiecesOfAnySizeGiveTheSameFrameAndTakeNoBytePastIt)
{
    for (const ScanCase &c : ScanCases()) {
        for (int piece : {1, 2, 3, 5, 7, 64, 100000}) {
            unsigned char buf[wire::kAnyBufSize];
            wire::FrameReader reader(c.kind, buf, sizeof buf);
            int taken = 0;
            for (size_t at = 0; at < c.bytes.size();) {
                const int n = static_cast<int>(std::min<size_t>(piece, c.bytes.size() - at));
                int took = 0;
                reader.Feed(U(c.bytes) + at, n, &took);
                taken += took;
                at += static_cast<size_t>(n);
                if (took < n)
                    break;  // the frame ended or went bad in this piece
            }
            const std::string how = ", pieces of " + std::to_string(piece);
            ExpectScan(reader.Result(), c, how);
            EXPECT_EQ(taken, c.taken) << c.name << how;
            EXPECT_EQ(reader.Held(), c.taken) << c.name << how;
            EXPECT_EQ(Bytes(reader.Bytes(), reader.Held()), c.bytes.substr(0, static_cast<size_t>(c.taken)))
                << c.name << how;
            int more = -1;
            reader.Feed(U(c.bytes), static_cast<int>(c.bytes.size()), &more);
            if (c.status != kNeed)
                EXPECT_EQ(more, 0) << c.name << how << ": a frame that ended takes nothing more";
        }
    }
}

TEST(WireReader, ReadsFramesOneAfterAnotherFromOneStream)
{
    const std::string frames[] = {Packet48(),
                                  "\x06"
                                  "20003"
                                  "abc",
                                  "\x06"
                                  "40000",
                                  Packet48()};
    std::string stream;
    for (const std::string &f : frames)
        stream += f;
    for (int piece : {1, 4, 9, 1000}) {
        unsigned char buf[wire::kAnyBufSize];
        wire::FrameReader reader(Kind::kAny, buf, sizeof buf);
        std::vector<std::string> got;
        for (size_t at = 0; at < stream.size();) {
            const int n = static_cast<int>(std::min<size_t>(piece, stream.size() - at));
            int took = 0;
            const wire::Scan s = reader.Feed(U(stream) + at, n, &took);
            at += static_cast<size_t>(took);
            if (s.status == Status::kComplete) {
                got.push_back(Bytes(reader.Bytes(), s.size));
                reader.Restart();
            }
            ASSERT_NE(s.status, Status::kBad) << "pieces of " << piece;
        }
        EXPECT_EQ(got, std::vector<std::string>(std::begin(frames), std::end(frames))) << "pieces of " << piece;
    }
}

TEST(WireReader, AFrameLargerThanTheBufferIsBadOnceItsHeadSaysSo)
{
    unsigned char buf[40];
    wire::FrameReader reader(Kind::kPacket, buf, sizeof buf);
    int taken = 0;
    const std::string p = Packet48();
    const wire::Scan s = reader.Feed(U(p), static_cast<int>(p.size()), &taken);
    EXPECT_EQ(s.status, Status::kBad);
    EXPECT_EQ(s.fault, Fault::kRoom);
    EXPECT_EQ(taken, wire::kPacketHeadSize);
    EXPECT_EQ(reader.Wanted(), 0);
}

// ReadFrame against a scripted peer: how it ends, and what is left in the
// socket after it.
struct SocketCase {
    const char *name;
    std::vector<PeerStep> peer;
    Kind kind;
    int millis;
    wire::End end;
    Fault fault;
    std::string frame;  // kFrame: the frame; otherwise the bytes held
    std::string after;  // read from the socket after ReadFrame (kFrame only)
};

int ConnectTo(int port)
{
    const int sock = os::SockOpenTcp();
    const unsigned char loopback[4] = {127, 0, 0, 1};
    return os::SockConnectIPv4(sock, loopback, port) == 0 ? sock : -1;
}

TEST(WireSocket, ReadsOneFrameWithinItsTimeAndLeavesTheNext)
{
    const std::string p = Packet48();
    const std::string next =
        "\x02"
        "0020"
        "0810";
    using wire::End;
    const SocketCase cases[] = {
        {"whole, the next behind it",
         {Send(p + next), ReadToEnd()},
         Kind::kPacket,
         0,
         End::kFrame,
         Fault::kNone,
         p,
         next},
        {"in pieces",
         {Send(p.substr(0, 3)), Pause(50), Send(p.substr(3, 30)), Pause(50), Send(p.substr(33) + next), ReadToEnd()},
         Kind::kPacket,
         5000,
         End::kFrame,
         Fault::kNone,
         p,
         next},
        {"file frame, the end frame behind it",
         {Send("\x06"
               "20003"
               "abc"
               "\x06"
               "40000"),
          ReadToEnd()},
         Kind::kAny,
         0,
         End::kFrame,
         Fault::kNone,
         "\x06"
         "20003"
         "abc",
         "\x06"
         "40000"},
        {"closed mid-frame",
         {Send(p.substr(0, 3)), Close()},
         Kind::kPacket,
         5000,
         End::kClosed,
         Fault::kNone,
         p.substr(0, 3),
         ""},
        {"bad length",
         {Send("\x02"
               "0019"),
          ReadToEnd()},
         Kind::kPacket,
         5000,
         End::kBad,
         Fault::kShort,
         "\x02"
         "0019",
         ""},
        {"time passes",
         {Send(p.substr(0, 10)), Pause(3000)},
         Kind::kPacket,
         300,
         End::kTimedOut,
         Fault::kNone,
         p.substr(0, 10),
         ""},
    };
    for (const SocketCase &c : cases) {
        ScriptedPeer peer(c.peer);
        const int sock = ConnectTo(peer.port());
        ASSERT_GE(sock, 0) << c.name;
        unsigned char buf[wire::kAnyBufSize];
        const auto start = std::chrono::steady_clock::now();
        const wire::SocketRead r = wire::ReadFrame(sock, c.kind, buf, sizeof buf, c.millis);
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(r.end, c.end) << c.name;
        EXPECT_EQ(r.scan.fault, c.fault) << c.name;
        EXPECT_EQ(Bytes(buf, r.held), c.frame) << c.name;
        if (c.end == End::kTimedOut) {
            EXPECT_GE(took, 0.25) << c.name;
            EXPECT_LT(took, 2.5) << c.name;
        }
        if (!c.after.empty()) {
            unsigned char rest[64] = {};
            const int n = static_cast<int>(c.after.size());
            EXPECT_EQ(RecvAll(sock, rest, n), n) << c.name;
            EXPECT_EQ(Bytes(rest, n), c.after) << c.name;
        }
        os::SockCloseHandle(sock);
    }
}

// The library's receive takes a frame whole when it has all come and reads
// it in two parts when it comes in pieces; either way the same trace, the
// same message, and the next frame's bytes left in the socket.
class WireReceiveTest : public ScratchTest {};

std::vector<std::pair<std::string, int>> TraceLabels()
{
    std::vector<std::pair<std::string, int>> labels;
    const std::string text = ReadTextFile("ctrace.txt");
    const std::regex header(R"(\{\d\d-\d\d \d\d:\d\d:\d\d ([a-z ]+)\} \[len = (\d+)\])");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), header); it != std::sregex_iterator(); ++it)
        labels.emplace_back((*it)[1], std::stoi((*it)[2]));
    return labels;
}

TEST_F(WireReceiveTest, AFrameIsTakenWholeOrInPartsAndNeverPastItsEnd)
{
    const unsigned char key[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
    for (const char *limit : {"", "[Com Timeout]\nRECV=5\n"}) {
        ASSERT_EQ(InitWith(kExampleDefinitions, true, limit), 0);
        SetWorkedExample();
        SetCell(0, "0210");
        unsigned char frame[wire::kPacketBufSize];
        int len = 0;
        ASSERT_EQ(PackFrame(DefaultMesg(), DefaultDes(), key, frame, sizeof frame, &len), 0) << LastErr();
        const std::string reply = Bytes(frame, len);
        const std::string next =
            "\x02"
            "0020"
            "08";
        const std::vector<std::vector<PeerStep>> peers = {
            {Send(reply + next), ReadToEnd()},
            {Send(reply.substr(0, 5)), Pause(100), Send(reply.substr(5) + next), ReadToEnd()},
            {Send(reply.substr(0, 2)), Pause(100), Send(reply.substr(2, 20)), Pause(100), Send(reply.substr(22) + next),
             ReadToEnd()},
        };
        for (size_t k = 0; k < peers.size(); ++k) {
            const std::string name = std::string(*limit ? "RECV=5" : "no limit") + ", peer " + std::to_string(k);
            std::filesystem::remove("ctrace.txt");
            ResetMesg();
            ScriptedPeer peer(peers[k]);
            const int sock = ::SockConnect("127.0.0.1", peer.port());
            ASSERT_GE(sock, 0) << name;
            EXPECT_EQ(::SockRecvMesg(sock, 0), 0) << name << ": " << LastErr();
            char type[8] = {};
            GetCell(0, type);
            EXPECT_STREQ(type, "0210") << name;
            EXPECT_EQ(::CheckMesgMac(key), 0) << name;
            EXPECT_EQ(TraceLabels(),
                      (std::vector<std::pair<std::string, int>>{{"recv mesg head", 5}, {"recv mesg data", len - 5}}))
                << name;
            unsigned char rest[16] = {};
            EXPECT_EQ(RecvAll(sock, rest, static_cast<int>(next.size())), static_cast<int>(next.size())) << name;
            EXPECT_EQ(Bytes(rest, static_cast<int>(next.size())), next) << name;
            ::SockClose(sock);
        }
    }
}

}  // namespace
}  // namespace tranpak::test
