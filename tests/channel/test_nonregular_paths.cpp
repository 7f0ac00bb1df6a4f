// Local paths that are not plain files: directories given to a send or
// as settings, and names near the file system's limit given to a fetch.
#include "os.h"
#include "support/peer.h"
#include "support/nonregular_paths.h"
#include "tranpak.h"

namespace tranpak::test {
namespace {

TEST_F(SpecialFilesTest, ADirectoryIsNeverSentAsAFile)
{
    std::filesystem::create_directory("adir");
    using SendFn = int (*)(const char *, int, const char *, const char *);
    for (SendFn send : {&SockSendFile, &SockSendBinFile}) {
        ScriptedPeer host({}, AcceptNobody());
        EXPECT_EQ(send("127.0.0.1", host.port(), "adir", "stored.txt"), -1);
        EXPECT_EQ(LastErr(), "tranpak: open adir error");
        EXPECT_FALSE(host.WasConnected());
    }
}

TEST_F(SpecialFilesTest, SettingsAndDefinitionsThatAreDirectories)
{
    std::filesystem::create_directory("adir");
    ExpectInitRefuses({{"adir", "", "tranpak: settings file adir is not a regular file"},
                       {"", "adir", "tranpak: ReadBMPFile() open BMPfile fail"}});
}

TEST_F(SpecialFilesTest, FetchIntoANameNearTheLimitOfTheFileSystem)
{
    const std::string name(250, 'n');
    for (bool exists : {false, true}) {
        if (exists)
            WriteFile(name, "old");
        ScriptedPeer host({Read(9), Send(FileFrame('2', "new") + FileFrame('4', "")), ReadToEnd()});
        EXPECT_EQ(SockRecvBinFile("127.0.0.1", host.port(), "req", name.c_str()), 0) << LastErr();
        EXPECT_EQ(ReadFile(name), "new");
        EXPECT_EQ(FilesBesides(), std::vector<std::string>({name}));
    }
}

// A name longer than the file system takes can never be put in place:
// refused before connecting, and nothing is left behind.
TEST_F(SpecialFilesTest, FetchRefusesANameTheSystemCannotCreate)
{
    ASSERT_EQ(InitWith(kExampleDefinitions, false, "[Com Timeout]\nRECV=1\n"), 0);
    std::filesystem::create_directory("sub");
    const std::string tooLong(256, 'n');
    using FetchFn = int (*)(const char *, int, const char *, const char *);
    for (const std::string &name : {tooLong, "sub/" + tooLong, std::string(300, 'n')}) {
        for (FetchFn fetch : {&SockRecvFile, &SockRecvBinFile}) {
            ScriptedPeer host({}, AcceptNobody());
            EXPECT_EQ(fetch("127.0.0.1", host.port(), "req", name.c_str()), -1) << name.size();
            EXPECT_EQ(LastErr(), ("tranpak: open " + name + " error").substr(0, 255)) << name.size();
            EXPECT_FALSE(host.WasConnected()) << name.size();
            EXPECT_EQ(FilesBesides(), std::vector<std::string>({"sub"})) << name.size();
            EXPECT_TRUE(std::filesystem::is_empty("sub")) << name.size();
        }
    }
}

}  // namespace
}  // namespace tranpak::test
