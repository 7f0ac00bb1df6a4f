// Failures as values (TpGetLastError: category, field number, frame
// offset) and card numbers kept out of the error log and GetLastErrMesg.
#include "os.h"
#include "os_programs.h"
#include "support/peer.h"
#include "support/scratch_dir.h"
#include "tranpak.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>

namespace tranpak::test {
namespace {

const unsigned char kKey[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
const unsigned char kOtherKey[8] = {1, 2, 3, 4, 5, 6, 7, 8};

const char kDefinitions[] =
    "PAN       N     19,2    2\n"
    "PROCCODE  N     6       3\n"
    "AMOUNT    NF    12      4\n"
    "TERMID    ANS   8       41\n"
    "MAC       B     8       64\n";

std::unique_ptr<TpSession> Ready(int recvLimit = 0, const char *defs = kDefinitions)
{
    WriteFile("defs.txt", defs);
    auto s = std::make_unique<TpSession>();
    TpSettings settings{};
    settings.errFile = "errlog.txt";
    settings.bmpFile = "defs.txt";
    settings.recvLimit = recvLimit;
    TpInit8583With(s.get(), &settings);
    return s;
}

TpError LastError(TpSession *s)
{
    TpError err{};
    err.size = sizeof err;
    err.category = -2;
    EXPECT_EQ(TpGetLastError(s, &err), err.category);
    return err;
}

int ReceiveFrom(TpSession *s, const std::vector<PeerStep> &script)
{
    ScriptedPeer peer(script);
    int sock = TpSockConnect(s, "127.0.0.1", peer.port());
    int rc = TpSockRecvMesg(s, sock);
    os::SockCloseHandle(sock);
    return rc;
}

// "\x02", len, type 0200, the bitmap (16 hex digits), the data, "\x03".
std::string Frame(const char *bitmapHex, const std::string &data)
{
    char len[8];
    std::snprintf(len, sizeof len, "%04d", static_cast<int>(12 + data.size()));
    return "\x02" + std::string(len) + "0200" + Unhex(bitmapHex) + data + "\x03";
}

int Unpack(TpSession *s, const std::string &frame)
{
    return TpUnpackMesg(s, reinterpret_cast<const unsigned char *>(frame.data()), static_cast<int>(frame.size()));
}

void ReceiveDefault(const std::string &frame)
{
    ScriptedPeer peer({Send(frame), Close()});
    int sock = SockConnect("127.0.0.1", peer.port());
    SockRecvMesg(sock, 0);
    os::SockCloseHandle(sock);
}

struct ErrorCase {
    const char *name;
    std::function<void(TpSession *)> failingCall;  // on a ready session
    int category, field, offset;
    const char *text;  // a regular expression
};

using ErrorValuesTest = ScratchTest;

TEST_F(ErrorValuesTest, EachCategoryWithItsFieldAndOffset)
{
    const std::string pan =
        "08"
        "12345678";  // field 2 at frame offset 17, 10 bytes
    const ErrorCase cases[] = {
        {"field value", [](TpSession *s) { TpSetCellText(s, 4, "1.234"); }, TRANPAK_ERR_ARGUMENT, 4, -1,
         "tranpak: TpSetCellText\\(\\) field 4: 1.234 has more than 2 decimals"},
        {"field too long to pack",
         [](TpSession *s) {
             TpSetCell(s, 41, "123456789");
             unsigned char frame[2048];
             int len;
             TpPackMesg(s, kKey, frame, sizeof frame, &len);
         },
         TRANPAK_ERR_ARGUMENT, 41, -1, "tranpak: BMPCell\\[40\\].buf = 123456789, too long"},
        {"packing a field not in the definitions",
         [](TpSession *s) {
             TpSetCell(s, 5, "kept");
             unsigned char frame[2048];
             int len;
             TpPackMesg(s, kKey, frame, sizeof frame, &len);
         },
         TRANPAK_ERR_ARGUMENT, 5, -1, "tranpak: BMPCell\\[4\\] undefined"},
        {"field 64 defined as no MAC",
         [](TpSession *s) {
             WriteFile("textmac.txt", "MAC ANS 8 64\n");
             TpSettings settings{};
             settings.errFile = "errlog.txt";
             settings.bmpFile = "textmac.txt";
             TpInit8583With(s, &settings);
             unsigned char frame[2048];
             int len;
             TpPackMesg(s, kKey, frame, sizeof frame, &len);
         },
         TRANPAK_ERR_SETTINGS, 64, -1, "tranpak: PktData\\(F\\) BMPCell\\[63\\] cannot carry the MAC .*"},
        {"nobody listening", [](TpSession *s) { TpSockConnect(s, "127.0.0.1", ClosedPort()); }, TRANPAK_ERR_CONNECT, -1,
         -1, "tranpak: connect error"},
        {"recv time limit",
         [](TpSession *s) {
             ReceiveFrom(s, {Pause(2500), Close()});
         },
         TRANPAK_ERR_TIME_LIMIT, -1, -1, "tranpak: recv time limit of 1 s passed"},
        {"peer closes mid-header",
         [](TpSession *s) {
             ReceiveFrom(s, {Send("\x02"
                                  "00"),
                             Close()});
         },
         TRANPAK_ERR_PEER_CLOSED, -1, -1, "tranpak: read mesg_head rc = 3"},
        {"bad start byte",
         [](TpSession *s) {
             Unpack(s,
                    "\x82"
                    "0020");
         },
         TRANPAK_ERR_MALFORMED, -1, 0, "tranpak: Packet.start = 0x82"},
        {"length digits",
         [](TpSession *s) {
             Unpack(s,
                    "\x02"
                    "00x0" +
                        std::string(15, '0'));
         },
         TRANPAK_ERR_MALFORMED, -1, 1, "tranpak: Packet.len not number, buf:00x0"},
        {"stop byte",
         [](TpSession *s) {
             std::string f = Frame("0000000000000001", std::string(8, 'M'));
             f.back() = '\x04';
             Unpack(s, f);
         },
         TRANPAK_ERR_MALFORMED, -1, 25, "tranpak: Packet.stop = 0x04"},
        {"length prefix", [](TpSession *s) { Unpack(s, Frame("4000000000000001", "x8" + std::string(16, '1'))); },
         TRANPAK_ERR_MALFORMED, 2, 17, "tranpak: BMPCell\\[1\\] len prefix x8 not number"},
        {"length above maxlen", [](TpSession *s) { Unpack(s, Frame("4000000000000001", "20" + std::string(28, '1'))); },
         TRANPAK_ERR_MALFORMED, 2, 17, "tranpak: BMPCell\\[1\\] len = 20, too long"},
        {"second field's value",
         [pan](TpSession *s) { Unpack(s, Frame("6000000000000001", pan + "12a456" + std::string(8, 'M'))); },
         TRANPAK_ERR_MALFORMED, 3, 27, "tranpak: BMPCell\\[2\\].buf: 12a456 not number\\(N\\)"},
        {"variable value", [](TpSession *s) { Unpack(s, Frame("4000000000000001", "041x34" + std::string(8, 'M'))); },
         TRANPAK_ERR_MALFORMED, 2, 19, "tranpak: BMPCell\\[1\\].buf: \\*\\*\\*\\* not number\\(N\\)"},
        {"NUL byte",
         [pan](TpSession *s) {
             Unpack(s, Frame("4000000000800001", pan + std::string("TE\0M0001", 8) + std::string(8, 'M')));
         },
         TRANPAK_ERR_MALFORMED, 41, 29, "tranpak: BMPCell\\[40\\].buf holds a NUL byte at 2"},
        {"undefined field", [pan](TpSession *s) { Unpack(s, Frame("4400000000000001", pan + "xx")); },
         TRANPAK_ERR_MALFORMED, 6, 27, "tranpak: BMPCell\\[5\\] undefined"},
        {"field past the data", [pan](TpSession *s) { Unpack(s, Frame("6000000000000000", pan + "123")); },
         TRANPAK_ERR_MALFORMED, 3, 27, "tranpak: BMPCell\\[2\\] needs 6 bytes at offset 10, received data has 13"},
        {"wrong MAC",
         [](TpSession *s) {
             TpSetCellText(s, 0, "0200");
             TpSetCellText(s, 3, "123");
             unsigned char frame[2048];
             int len = 0;
             TpPackMesg(s, kKey, frame, sizeof frame, &len);
             TpUnpackMesg(s, frame, len);
             TpCheckMesgMac(s, kOtherKey);
         },
         TRANPAK_ERR_MAC, 64, 23, "tranpak: mac check error"},
        {"missing local file", [](TpSession *s) { TpSockSendFile(s, "127.0.0.1", 1, "missing.dat", "req"); },
         TRANPAK_ERR_LOCAL_FILE, -1, -1, "tranpak: open missing.dat error"},
        {"host refuses a fetch",
         [](TpSession *s) {
             ScriptedPeer host({Read(9), Send(FileFrame('3', "no")), Close()});
             TpSockRecvBinFile(s, "127.0.0.1", host.port(), "req", "fetched.dat");
         },
         TRANPAK_ERR_HOST_REFUSED, -1, -1, "tranpak: receive rest_msg"},
    };
    for (const ErrorCase &c : cases) {
        auto s = Ready(1);
        c.failingCall(s.get());
        const TpError err = LastError(s.get());
        EXPECT_EQ(err.category, c.category) << c.name;
        EXPECT_EQ(err.field, c.field) << c.name;
        EXPECT_EQ(err.offset, c.offset) << c.name;
        EXPECT_TRUE(std::regex_match(err.text, std::regex(c.text))) << c.name << ": " << err.text;
    }

    // The definition file: the field whose line is refused.
    for (auto [line, field] : {std::pair{"X ANS 10,12 5\n", 5}, {"X QQ 10 7\n", 7}}) {
        auto s = std::make_unique<TpSession>();
        WriteFile("bad.txt", line);
        TpSettings settings{};
        settings.errFile = "errlog.txt";
        settings.bmpFile = "bad.txt";
        ASSERT_EQ(TpInit8583With(s.get(), &settings), -1) << line;
        const TpError err = LastError(s.get());
        EXPECT_EQ(err.category, TRANPAK_ERR_SETTINGS) << line;
        EXPECT_EQ(err.field, field) << line;
        EXPECT_EQ(err.offset, -1) << line;
    }
}

TEST_F(ErrorValuesTest, ARecordTooSmallOrNoneIsRefusedAndASuccessClearsIt)
{
    auto s = Ready();
    EXPECT_EQ(TpSetCellText(s.get(), 3, "12x"), -1);
    TpError err{};
    err.size = TP_ERROR_MIN_SIZE - 1;
    EXPECT_EQ(TpGetLastError(s.get(), &err), -1);
    EXPECT_EQ(err.category, 0);  // nothing written
    EXPECT_EQ(TpGetLastError(s.get(), nullptr), -1);
    EXPECT_EQ(GetLastErrInfo(nullptr), -1);
    err.size = sizeof err;
    EXPECT_EQ(TpGetLastError(s.get(), &err), TRANPAK_ERR_ARGUMENT);
    EXPECT_EQ(err.field, 3);
    EXPECT_EQ(TpSetCellText(s.get(), 3, "12"), 0);
    EXPECT_EQ(TpGetLastError(s.get(), &err), TRANPAK_ERR_NONE);
    EXPECT_EQ(err.field, -1);
    EXPECT_EQ(err.offset, -1);
    EXPECT_STREQ(err.text, "");
}

// What and where: the detail, the system's error number and the
// definition file's line of one failure of each kind.
TEST_F(ErrorValuesTest, EachFailureSaysWhatAndWhere)
{
    const int port = ClosedPort();
    char refused[os::kErrorTextSize] = "";
    struct DetailCase {
        const char *name;
        std::function<int(TpSession *)> failingCall;  // on a ready session
        int category, field, line;
        std::function<std::string()> detail;
        std::function<bool(int)> osError;
    };
    const DetailCase cases[] = {
        {"nobody listening", [&](TpSession *s) { return TpSockConnect(s, "127.0.0.1", port); }, TRANPAK_ERR_CONNECT, -1,
         0, [&] { return "connect to 127.0.0.1:" + std::to_string(port) + ": " + refused; },
         [&](int e) {
             os::SocketErrorText(e, refused, sizeof refused);
             return e != 0;
         }},
        {"definition line 7",
         [](TpSession *s) {
             std::filesystem::create_directories("etc");
             WriteFile("etc/bitmap.txt", "# fields\nPAN N 19,2 2\n\nPROCCODE N 6 3\nAMOUNT NF 12 4\n\nX NQ 5 7\n");
             TpSettings settings{};
             settings.errFile = "errlog.txt";
             settings.bmpFile = "etc/bitmap.txt";
             return TpInit8583With(s, &settings);
         },
         TRANPAK_ERR_SETTINGS, 7, 7,
         [] {
             return std::string(
                 "definitions etc/bitmap.txt line 7: type \"NQ\" is not one of ANS, NI, NF, A, AN, N, B, Z");
         },
         [](int e) { return e == 0; }},
        {"missing definition file",
         [](TpSession *s) {
             TpSettings settings{};
             settings.bmpFile = "etc/none.txt";
             return TpInit8583With(s, &settings);
         },
         TRANPAK_ERR_SETTINGS, -1, 0, [] { return std::string("definitions etc/none.txt: No such file or directory"); },
         [](int e) { return e == ENOENT; }},
        {"missing settings file", [](TpSession *s) { return TpInit8583(s, "run/nope.ini"); }, TRANPAK_ERR_SETTINGS, -1,
         0, [] { return std::string("settings file run/nope.ini: No such file or directory"); },
         [](int e) { return e == ENOENT; }},
        {"missing local file", [](TpSession *s) { return TpSockSendFile(s, "127.0.0.1", 1, "missing.dat", "req"); },
         TRANPAK_ERR_LOCAL_FILE, -1, 0, [] { return std::string("local file missing.dat: No such file or directory"); },
         [](int e) { return e == ENOENT; }},
        {"amount too long", [](TpSession *s) { return TpSetCellText(s, 4, "99999999999.99"); }, TRANPAK_ERR_ARGUMENT, 4,
         0, [] { return std::string("field 4: 99999999999.99 needs 13 digits, the field holds 12"); },
         [](int e) { return e == 0; }},
        {"no detail of its own: the log line", [](TpSession *s) { return TpSetCellText(s, 3, "12x"); },
         TRANPAK_ERR_ARGUMENT, 3, 0, [] { return std::string("TpSetCellText() field 3: 12x is not N"); },
         [](int e) { return e == 0; }},
        {"card data masked", [](TpSession *s) { return TpSetCellText(s, 2, "4761 7390 0101 0119"); },
         TRANPAK_ERR_ARGUMENT, 2, 0,
         [] { return std::string("TpSetCellText() field 2: ***************0119 is not N"); },
         [](int e) { return e == 0; }},
    };
    for (const DetailCase &c : cases) {
        auto s = Ready();
        EXPECT_EQ(c.failingCall(s.get()), -1) << c.name;
        const TpError err = LastError(s.get());
        EXPECT_EQ(err.category, c.category) << c.name;
        EXPECT_EQ(err.field, c.field) << c.name;
        EXPECT_EQ(err.line, c.line) << c.name;
        EXPECT_TRUE(c.osError(err.osError)) << c.name << ": " << err.osError;
        EXPECT_EQ(std::string(err.detail), c.detail()) << c.name;
    }
    // The default session's record says the same.
    auto s = Ready();
    ASSERT_EQ(InitWith(kDefinitions), 0);
    EXPECT_EQ(SetCellText(4, "-9999999999.99"), -1);
    TpError err{};
    err.size = sizeof err;
    EXPECT_EQ(GetLastErrInfo(&err), TRANPAK_ERR_ARGUMENT);
    EXPECT_STREQ(err.detail, "field 4: -9999999999.99 needs 13 characters with its sign, the field holds 12");
    EXPECT_STREQ(err.text,
                 "tranpak: TpSetCellText() field 4: -9999999999.99 needs 13 characters with its sign, the field "
                 "holds 12");
    // A call that fails in nothing leaves nothing of it.
    EXPECT_EQ(SetCellText(4, "1.00"), 0);
    EXPECT_EQ(GetLastErrInfo(&err), TRANPAK_ERR_NONE);
    EXPECT_STREQ(err.detail, "");
    EXPECT_EQ(err.osError, 0);
    EXPECT_EQ(err.line, 0);
}

// A caller built against the header before osError, line and detail passes
// the smaller record: it gets what it has room for, and not a byte more is
// written.
TEST_F(ErrorValuesTest, ARecordOfAnEarlierHeaderGetsWhatFits)
{
    struct EarlierError {
        int size, category, field, offset;
        char text[256];
    };
    static_assert(sizeof(EarlierError) == TP_ERROR_MIN_SIZE);
    auto s = Ready();
    ASSERT_EQ(TpSetCellText(s.get(), 3, "12x"), -1);
    ASSERT_EQ(TpSockConnect(s.get(), "127.0.0.1", ClosedPort()), -1);  // a failure with osError set
    const int sizes[] = {TP_ERROR_MIN_SIZE,
                         TP_ERROR_MIN_SIZE + 3,
                         TP_ERROR_MIN_SIZE + 4,
                         TP_ERROR_MIN_SIZE + 8,
                         static_cast<int>(sizeof(TpError)) - 1,
                         static_cast<int>(sizeof(TpError))};
    for (const int size : sizes) {
        // The record at the start of a buffer of guard bytes.
        alignas(TpError) unsigned char buffer[sizeof(TpError) + 16];
        std::memset(buffer, 0xA5, sizeof buffer);
        auto *err = reinterpret_cast<TpError *>(buffer);
        err->size = size;
        EXPECT_EQ(TpGetLastError(s.get(), err), TRANPAK_ERR_CONNECT) << size;
        EXPECT_EQ(err->field, -1) << size;
        EXPECT_EQ(err->offset, -1) << size;
        EXPECT_STREQ(err->text, "tranpak: connect error") << size;
        for (size_t k = static_cast<size_t>(size); k < sizeof buffer; ++k)
            ASSERT_EQ(buffer[k], 0xA5) << "byte " << k << " written beyond size " << size;
        if (size >= TP_ERROR_MIN_SIZE + 4)
            EXPECT_NE(err->osError, 0) << size;
        if (size == static_cast<int>(sizeof(TpError)))
            EXPECT_EQ(std::string(err->detail).rfind("connect to 127.0.0.1:", 0), 0u) << err->detail;
    }
    EarlierError earlier{};
    earlier.size = sizeof earlier;
    EXPECT_EQ(TpGetLastError(s.get(), reinterpret_cast<TpError *>(&earlier)), TRANPAK_ERR_CONNECT);
    EXPECT_STREQ(earlier.text, "tranpak: connect error");
    EXPECT_EQ(GetLastErrInfo(reinterpret_cast<TpError *>(&earlier)), TRANPAK_ERR_NONE);
}

// Every run of 13 or more digits in a text.
std::vector<std::string> LongDigitRuns(const std::string &text)
{
    std::vector<std::string> runs;
    std::regex run("[0-9]{13,}");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), run); it != std::sregex_iterator(); ++it)
        runs.push_back(it->str());
    return runs;
}

TEST_F(ErrorValuesTest, NoCardNumberInTheLogOrTheLastError)
{
    const std::string pan16 = "4761739001010119", pan19 = "4761739001010119123";
    ASSERT_EQ(InitWith(kDefinitions), 0);
    // A line is cut after 255 characters; these values put a card number
    // across the cut, its first 12 digits before it.
    const std::string before41(216, 'x'), before3(209, 'x');
    const struct {
        std::function<void()> failingCall;
        std::string line;
    } cases[] = {
        // Card-data fields: the value shows only its last four characters.
        {[&] { SetCell(2, (pan16 + "X").c_str()); }, "tranpak: SetField BMPCell[1].buf: *************119X not N"},
        {[&] { SetCellText(2, (pan19 + "X").c_str()); },
         "tranpak: TpSetCellText() field 2: ****************123X is not N"},
        {[&] { ReceiveDefault(Frame("4000000000000001", "19" + pan16 + "abc" + std::string(8, 'M'))); },
         "tranpak: BMPCell[1].buf: ***************9abc not number(N)"},
        // Any other value: runs of 13 or more digits show their last four.
        {[&] { SetCell(0, pan16.c_str()); }, "tranpak: SetField: txcode is ************0119"},
        {[&] { SetCell(3, ("x" + pan19).c_str()); }, "tranpak: SetField BMPCell[2].buf: x***************9123 not N"},
        {[&] {
             ResetMesg();
             SetCell(41, ("T " + pan16).c_str());
             SockSendMesg(-1, kKey);
         },
         "tranpak: BMPCell[40].buf = T ************0119, too long"},
        {[&] { SetCell(3, "12345678901234567890x"); }, "tranpak: SetField BMPCell[2].buf: ****************7890x not N"},
        // Cut inside the number: the digits before the cut are masked too.
        {[&] {
             ResetMesg();
             SetCell(41, (before41 + pan16).c_str());
             SockSendMesg(-1, kKey);
         },
         "tranpak: BMPCell[40].buf = " + before41 + std::string(12, '*')},
        {[&] { SetCellText(3, (before3 + pan19 + "x").c_str()); },
         "tranpak: TpSetCellText() field 3: " + before3 + std::string(12, '*')},
    };
    std::string lastErrors;
    for (const auto &c : cases) {
        c.failingCall();
        char text[300];
        GetLastErrMesg(text, sizeof text);
        EXPECT_EQ(std::string(text), c.line);
        EXPECT_EQ(LastErr(), c.line);
        lastErrors += text;
        lastErrors += '\n';
    }
    const std::string log = ReadTextFile("errlog.txt");
    for (const std::string &text : {log, lastErrors}) {
        EXPECT_EQ(text.find(pan16.substr(0, 12)), std::string::npos) << text;
        for (const std::string &run : LongDigitRuns(text))
            ADD_FAILURE() << "a run of 13 or more digits in clear: " << run;
    }
}

}  // namespace
}  // namespace tranpak::test
