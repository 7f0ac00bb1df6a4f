// File transfer dialogues against scripted hosts on loopback.
#include "channel/file_transfer.h"
#include "support/peer.h"
#include "support/scratch_dir.h"
#include "tranpak.h"

#include <algorithm>

namespace tranpak::test {
namespace {

const std::string kStop = FileFrame('4', "");

class FileTransferTest : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        ASSERT_EQ(InitWith(kExampleDefinitions), 0);
    }
    // Sends the file with a host that reads `expected` bytes and answers
    // with `answer`; returns the call's result and checks the bytes.
    static int SendWith(bool binary, const std::string &content, const std::string &expected,
                        const std::string &answer = kStop)
    {
        WriteFile("local.dat", content);
        ScriptedPeer host({Read(static_cast<int>(expected.size())), Send(answer), ReadToEnd()});
        int rc = binary ? ::SockSendBinFile("127.0.0.1", host.port(), "local.dat", "abc")
                        : ::SockSendFile("127.0.0.1", host.port(), "local.dat", "abc");
        std::string got = host.Received();
        EXPECT_EQ(Hex(got.data(), got.size()), Hex(expected.data(), expected.size()));
        return rc;
    }
    // Fetches "req" into fetched.dat from a host that sends `frames`.
    static int FetchWith(bool binary, const std::string &frames)
    {
        ScriptedPeer host({Read(9), Send(frames), Close()});
        int rc = binary ? ::SockRecvBinFile("127.0.0.1", host.port(), "req", "fetched.dat")
                        : ::SockRecvFile("127.0.0.1", host.port(), "req", "fetched.dat");
        EXPECT_EQ(host.Received(), FileFrame('1', "req"));
        return rc;
    }
    // What the directory holds besides the settings, definitions and log.
    static std::vector<std::string> OtherFiles()
    {
        std::vector<std::string> names;
        for (const auto &e : std::filesystem::directory_iterator("."))
            names.push_back(e.path().filename().string());
        std::erase_if(names, [](const std::string &n) { return n == "bitmap.txt" || n == "c:" || n == "errlog.txt"; });
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(FileTransferTest, WorkedExampleOnTheWire)
{
    std::string expected =
        Unhex("06 30 30 30 30 33 61 62 63") + Unhex("06 32 30 30 30 33 68 69 0A") + Unhex("06 34 30 30 30 30");
    EXPECT_EQ(SendWith(false, "hi\r\n", expected), 0) << LastErr();
    EXPECT_TRUE(ErrLog().empty());
}

TEST_F(FileTransferTest, TextFileGoesInBlocksOf1024)
{
    std::string content(1500, 'x');
    std::string expected =
        FileFrame('0', "abc") + FileFrame('2', std::string(1024, 'x')) + FileFrame('2', std::string(476, 'x')) + kStop;
    EXPECT_EQ(SendWith(false, content, expected), 0) << LastErr();
}

TEST_F(FileTransferTest, TextSendDropsEveryCrAndStopsAtCtrlZ)
{
    EXPECT_EQ(SendWith(false, "a\r\nb\rc", FileFrame('0', "abc") + FileFrame('2', "a\nbc") + kStop), 0);
    EXPECT_EQ(SendWith(false,
                       "ab\x1A"
                       "cd",
                       FileFrame('0', "abc") + FileFrame('2', "ab") + kStop),
              0);
    EXPECT_EQ(SendWith(false,
                       "\x1A"
                       "cd",
                       FileFrame('0', "abc") + kStop),
              0);
}

TEST_F(FileTransferTest, LastBlockOfOnlyCrsStillGoesOut)
{
    std::string expected = FileFrame('0', "abc") + FileFrame('2', std::string(1024, 'x')) + FileFrame('2', "") + kStop;
    EXPECT_EQ(SendWith(false, std::string(1024, 'x') + "\r\r\r", expected), 0) << LastErr();
}

TEST_F(FileTransferTest, EmptyFileSendsRequestAndEndOnly)
{
    EXPECT_EQ(SendWith(false, "", FileFrame('0', "abc") + kStop), 0);
    EXPECT_EQ(SendWith(true, "", FileFrame('0', "abc") + kStop), 0);
}

std::string AllByteValues()
{
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes += static_cast<char>(i);
    return bytes;
}

TEST_F(FileTransferTest, BinaryFileTravelsUnchangedBothWays)
{
    const std::string bytes = AllByteValues() + "\r\n\r\x1A\n";
    EXPECT_EQ(SendWith(true, bytes, FileFrame('0', "abc") + FileFrame('2', bytes) + kStop), 0) << LastErr();
    EXPECT_EQ(FetchWith(true, FileFrame('2', bytes) + kStop), 0) << LastErr();
    EXPECT_EQ(ReadFile("fetched.dat"), bytes);
}

// Files of one frame, of several and of none go to a host that keeps them
// and come back from a host that serves them.
TEST_F(FileTransferTest, FilesGoToAHostAndComeBack)
{
    std::string lines, bytes;
    for (int i = 0; i < 300; ++i)
        lines += "line " + std::to_string(i) + "\r\n";
    for (int i = 0; i < 3000; ++i)
        bytes += static_cast<char>(i * 37 + i / 251);
    std::string stripped = lines;
    std::erase(stripped, '\r');
    struct {
        bool binary;
        std::string content, stored;
    } cases[] = {
        {true, "", ""},
        {true, bytes.substr(0, 1024), bytes.substr(0, 1024)},
        {true, bytes.substr(0, 1025), bytes.substr(0, 1025)},
        {true, bytes, bytes},
        {false, lines, stripped},
    };
    for (const auto &c : cases) {
        const std::string name = std::to_string(c.content.size()) + (c.binary ? " bytes" : " of text");
        WriteFile("out.dat", c.content);
        ScriptedPeer store({Store()});
        EXPECT_EQ((c.binary ? ::SockSendBinFile : ::SockSendFile)("127.0.0.1", store.port(), "out.dat", "in/kept.dat"),
                  0)
            << name << ": " << LastErr();
        EXPECT_TRUE(store.Played()) << name;
        EXPECT_EQ(store.FileRequest(), "in/kept.dat") << name;
        EXPECT_EQ(store.Stored(), c.stored) << name;

        ScriptedPeer serve({Serve(c.stored)});
        EXPECT_EQ((c.binary ? ::SockRecvBinFile : ::SockRecvFile)("127.0.0.1", serve.port(), "in/kept.dat", "back.dat"),
                  0)
            << name << ": " << LastErr();
        EXPECT_TRUE(serve.Played()) << name;
        EXPECT_EQ(serve.FileRequest(), "in/kept.dat") << name;
        EXPECT_EQ(ReadFile("back.dat"), c.content) << name;
    }
}

TEST_F(FileTransferTest, TextFetchPutsACrBeforeEveryLf)
{
    EXPECT_EQ(FetchWith(false, FileFrame('2', "a\nb") + FileFrame('2', "\r\n") + FileFrame('2', "") + kStop), 0);
    EXPECT_EQ(ReadFile("fetched.dat"), "a\r\nb\r\r\n");
    // A block of 1024 line feeds doubles.
    EXPECT_EQ(FetchWith(false, FileFrame('2', std::string(1024, '\n')) + kStop), 0);
    std::string doubled;
    for (int i = 0; i < 1024; ++i)
        doubled += "\r\n";
    EXPECT_EQ(ReadFile("fetched.dat"), doubled);
}

TEST_F(FileTransferTest, UnknownFrameTypesAreSkipped)
{
    EXPECT_EQ(FetchWith(true, FileFrame('0', "x") + FileFrame('1', "y") + FileFrame('9', "z") + FileFrame('2', "data") +
                                  kStop),
              0);
    EXPECT_EQ(ReadFile("fetched.dat"), "data");
}

// How a fetch ends for what the host sends. A failed fetch leaves the
// local file byte for byte as it was, and nothing beside it.
struct FetchCase {
    const char *name;
    std::string frames;
    const char *message;
};

TEST_F(FileTransferTest, FetchFailures)
{
    const FetchCase cases[] = {
        {"host refuses", FileFrame('2', "part") + FileFrame('3', "no such file"), "tranpak: receive rest_msg"},
        {"frame of 1025",
         "\x06"
         "21025" +
             std::string(1025, 'x'),
         "tranpak: recv len 1025, too large"},
        {"negative length",
         "\x06"
         "2-001"
         "x",
         "tranpak: recv len -1, negative"},
        {"wrong start byte", "X20001x", "tranpak: recv stx:X"},
        {"closed before the end", FileFrame('2', "abc"), "tranpak: recv file_mesg_head rc:0"},
        {"closed before any frame", "", "tranpak: recv file_mesg_head rc:0"},
        {"short header",
         "\x06"
         "20",
         "tranpak: recv file_mesg_head rc:3"},
        {"short body",
         "\x06"
         "20010abc",
         "tranpak: recv file_mesg_buf rc:3, len:10"},
    };
    const std::string old("old\r\nbytes\0", 11);
    for (const FetchCase &c : cases) {
        WriteFile("fetched.dat", old);
        EXPECT_EQ(FetchWith(true, c.frames), -1) << c.name;
        EXPECT_EQ(LastErr(), c.message) << c.name;
        EXPECT_EQ(ReadFile("fetched.dat"), old) << c.name;
        EXPECT_EQ(OtherFiles(), std::vector<std::string>({"fetched.dat"})) << c.name;
        std::filesystem::remove("fetched.dat");
        EXPECT_EQ(FetchWith(false, c.frames), -1) << c.name;
        EXPECT_FALSE(std::filesystem::exists("fetched.dat")) << c.name;
    }
    // A whole fetch replaces the old file.
    WriteFile("fetched.dat", old);
    EXPECT_EQ(FetchWith(false, FileFrame('2', "new") + kStop), 0);
    EXPECT_EQ(ReadFile("fetched.dat"), "new");
    EXPECT_EQ(OtherFiles(), std::vector<std::string>({"fetched.dat"}));
}

TEST_F(FileTransferTest, LenientLengthsConvertLikeAtoi)
{
    // " 003" is 3, "3abc" is 3: the body is the next three bytes.
    EXPECT_EQ(FetchWith(true, std::string("\x06"
                                          "2 003"
                                          "xyz") +
                                  "\x06"
                                  "23abcdef" +
                                  kStop),
              0)
        << LastErr();
    EXPECT_EQ(ReadFile("fetched.dat"), "xyzdef");
}

TEST_F(FileTransferTest, HostThatClosesBeforeItsEndFrame)
{
    WriteFile("local.dat", "hello");
    ScriptedPeer host({Read(6 + 3 + 6 + 5 + 6), Close()});
    EXPECT_EQ(::SockSendFile("127.0.0.1", host.port(), "local.dat", "abc"), -1);
    auto log = ErrLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "tranpak: recv file_mesg_head rc:0");
    EXPECT_EQ(log[1], "send ok, receive stop msg error");
}

TEST_F(FileTransferTest, HostThatAnswersWithAnotherFrame)
{
    std::string expected = FileFrame('0', "abc") + FileFrame('2', "x") + kStop;
    EXPECT_EQ(SendWith(false, "x", expected, FileFrame('2', "")), -1);
    auto log = ErrLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "tranpak: stop_msg error mesg_type 2");
    EXPECT_EQ(log[1], "send ok, receive stop msg error");
}

TEST_F(FileTransferTest, LocalFilesThatCannotBeOpened)
{
    EXPECT_EQ(::SockSendFile("127.0.0.1", 1, "missing.dat", "abc"), -1);
    EXPECT_EQ(LastErr(), "tranpak: open missing.dat error");
    EXPECT_EQ(::SockRecvBinFile("127.0.0.1", 1, "abc", "no/dir/out.dat"), -1);
    EXPECT_EQ(LastErr(), "tranpak: open no/dir/out.dat error");
}

TEST_F(FileTransferTest, OverlongRequestIsRefusedBeforeAnythingIsOpened)
{
    WriteFile("keep.dat", "precious");
    std::string request(1025, 'r');
    EXPECT_EQ(::SockRecvFile("127.0.0.1", 1, request.c_str(), "keep.dat"), -1);
    EXPECT_EQ(LastErr(), "tranpak: request text has over 1024 characters");
    EXPECT_EQ(ReadFile("keep.dat"), "precious");
    EXPECT_EQ(::SockSendFile("127.0.0.1", 1, "keep.dat", nullptr), -1);
}

TEST_F(FileTransferTest, RequestOf1024CharactersFitsOneFrame)
{
    std::string request(1024, 'r');
    ScriptedPeer host({Read(1030), Send(kStop), ReadToEnd()});
    EXPECT_EQ(::SockRecvFile("127.0.0.1", host.port(), request.c_str(), "out.dat"), 0) << LastErr();
    EXPECT_EQ(host.Received(), FileFrame('1', request));
}

TEST_F(FileTransferTest, FailedConnectionShowsAsAFailedSend)
{
    WriteFile("local.dat", "x");
    EXPECT_EQ(::SockSendFile("1..2.3", 1, "local.dat", "abc"), -1);
    auto log = ErrLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "tranpak: get host 1..2.3 by addr error");
    EXPECT_EQ(log[1], "tranpak: send_file_msg rc: -1");
}

TEST_F(FileTransferTest, CrConversions)
{
    struct {
        std::string in, stripped, added;
    } cases[] = {
        {"a\r\nb", "a\nb", "a\r\r\nb"},
        {"\r\r", "", "\r\r"},
        {"\n", "\n", "\r\n"},
        {"", "", ""},
    };
    for (auto &c : cases) {
        char out[16];
        int n = -1;
        StripCR(c.in.data(), static_cast<int>(c.in.size()), out, &n);
        EXPECT_EQ(std::string(out, static_cast<size_t>(n)), c.stripped);
        AddCR(c.in.data(), static_cast<int>(c.in.size()), out, &n);
        EXPECT_EQ(std::string(out, static_cast<size_t>(n)), c.added);
    }
}

}  // namespace
}  // namespace tranpak::test
