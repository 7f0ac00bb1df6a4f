#include "support/nonregular_paths.h"

#include "core/settings.h"
#include "net/sock_init.h"
#include "platform/platform.h"
#include "tools/common/os.h"
#include "tranpak.h"

#include <algorithm>
#include <chrono>

namespace tranpak::test {

Listener::Listener()
{
    SockAppInit();
    sock_ = tools::os::SockListen("127.0.0.1", 0);
    port_ = tools::os::SockLocalPort(sock_);
}

Listener::~Listener() { plat::SockCloseHandle(sock_); }

bool Listener::WasConnected() const { return plat::SockWait(sock_, false, 200) == 1; }

void SpecialFilesTest::SetUp()
{
    ScratchTest::SetUp();
    ASSERT_EQ(InitWith(kExampleDefinitions), 0);
}

void SpecialFilesTest::ExpectInitRefuses(const std::vector<Refusal> &cases)
{
    for (const Refusal &c : cases) {
        InitWith(kExampleDefinitions, false, "");
        if (c.bmpFile[0] != '\0')
            WriteSettings(std::string("[Error Log File]\nERRFILE=errlog.txt\n[Bitmap Define File]\nBMPFILE=") +
                          c.bmpFile + "\n");
        plat::SetEnvVar(kSettingsEnvVar, c.settingsFile);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(::Init8583(), -1) << c.message;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << c.message;
        char text[300];
        EXPECT_EQ(GetLastErrMesg(text, sizeof text), TRANPAK_ERR_SETTINGS) << c.message;
        EXPECT_STREQ(text, c.message);
        plat::SetEnvVar(kSettingsEnvVar, "");
    }
}

std::vector<std::string> SpecialFilesTest::FilesBesides()
{
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator("."))
        names.push_back(e.path().filename().string());
    std::erase_if(names, [](const std::string &n) { return n == "bitmap.txt" || n == "c:" || n == "errlog.txt"; });
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace tranpak::test
