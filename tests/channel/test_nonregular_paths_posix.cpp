// Special local paths that only POSIX systems have: devices, pipes, links,
// unreadable regions and files the caller may not write.
#include "os.h"
#include "support/peer.h"
#include "support/nonregular_paths.h"
#include "tranpak.h"

#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tranpak::test {
namespace {

TEST_F(SpecialFilesTest, ReadErrorEndsASendWithoutTheEndFrame)
{
    // Reading /proc/self/mem at offset 0 fails: nothing is mapped there.
    for (bool binary : {false, true}) {
        ScriptedPeer host({ReadToEnd()});
        int rc = binary ? SockSendBinFile("127.0.0.1", host.port(), "/proc/self/mem", "req")
                        : SockSendFile("127.0.0.1", host.port(), "/proc/self/mem", "req");
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(LastErr(), "tranpak: read /proc/self/mem error (Input/output error)");
        EXPECT_EQ(host.Received(), FileFrame('0', "req"));
    }
}

TEST_F(SpecialFilesTest, SettingsAndDefinitionsThatAreDevicesOrPipes)
{
    ASSERT_EQ(mkfifo("fifo", 0600), 0);
    ExpectInitRefuses({{"/dev/zero", "", "tranpak: settings file /dev/zero is not a regular file"},
                       {"fifo", "", "tranpak: settings file fifo is not a regular file"},
                       {"", "/dev/zero", "tranpak: ReadBMPFile() open BMPfile fail"},
                       {"", "fifo", "tranpak: ReadBMPFile() open BMPfile fail"}});
}

TEST_F(SpecialFilesTest, FetchThroughALinkThatLeadsNowhereYet)
{
    std::filesystem::create_directory("sub");
    const struct {
        const char *link, *target, *created;
    } cases[] = {
        {"link", "fetched.dat", "fetched.dat"},
        {"sub/link", "../fetched2.dat", "fetched2.dat"},
        {"chain", "sub/link3", "sub/end.dat"},  // chain -> sub/link3 -> end.dat
    };
    std::filesystem::create_symlink("end.dat", "sub/link3");
    for (const auto &c : cases) {
        std::filesystem::create_symlink(c.target, c.link);
        ScriptedPeer host({Read(9), Send(FileFrame('2', "new") + FileFrame('4', "")), ReadToEnd()});
        EXPECT_EQ(SockRecvBinFile("127.0.0.1", host.port(), "req", c.link), 0) << c.link << ": " << LastErr();
        EXPECT_TRUE(std::filesystem::is_symlink(c.link)) << c.link;
        EXPECT_EQ(ReadFile(c.created), "new") << c.link;
    }
}

// Checks of write permission as a user other than root, in this thread
// only (the file system user id is per thread on Linux).
class AsUnprivileged {
public:
    static constexpr uid_t kNobody = 65534;
    AsUnprivileged() : previous_(geteuid() == 0 ? setfsuid(kNobody) : -1) {}
    ~AsUnprivileged()
    {
        if (previous_ >= 0)
            setfsuid(static_cast<uid_t>(previous_));
    }
    static uid_t Owner() { return geteuid() == 0 ? kNobody : geteuid(); }

private:
    int previous_;
};

TEST_F(SpecialFilesTest, FetchRefusesAFileTheCallerMayNotWrite)
{
    WriteFile("readonly.dat", "old");
    WriteFile("errlog.txt", "");
    ASSERT_EQ(chown("readonly.dat", AsUnprivileged::Owner(), static_cast<gid_t>(-1)), 0);
    ASSERT_EQ(chmod("readonly.dat", 0444), 0);
    ASSERT_EQ(chmod("errlog.txt", 0666), 0);
    ScriptedPeer host({}, AcceptNobody());
    {
        AsUnprivileged user;
        EXPECT_EQ(SockRecvBinFile("127.0.0.1", host.port(), "req", "readonly.dat"), -1);
    }
    EXPECT_EQ(LastErr(), "tranpak: open readonly.dat error");
    EXPECT_FALSE(host.WasConnected());
    EXPECT_EQ(ReadFile("readonly.dat"), "old");
}

// Only a settings file that is not there means the defaults; one that is
// there (or cannot even be looked at) but cannot be read fails, naming the
// reason and the file.
TEST_F(SpecialFilesTest, SettingsFileThatIsThereButCannotBeRead)
{
    WriteFile("locked.ini", "[Com Trace Flag]\nGCODEFLAG=1\n");
    ASSERT_EQ(chmod("locked.ini", 0), 0);
    const std::string longName(300, 'n');
    const std::string longMessage =
        ("tranpak: settings file cannot be read (File name too long): " + longName).substr(0, 255);
    AsUnprivileged user;  // root reads a file of mode 0000 all the same
    ExpectInitRefuses({{"locked.ini", "", "tranpak: settings file cannot be read (Permission denied): locked.ini"},
                       {longName.c_str(), "", longMessage.c_str()}});
}

}  // namespace
}  // namespace tranpak::test
