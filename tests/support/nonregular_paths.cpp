#include "support/nonregular_paths.h"

#include "message/settings.h"
#include "os_programs.h"
#include "tranpak.h"

#include <algorithm>
#include <chrono>

namespace tranpak::test {

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
        os::SetEnvVar(kSettingsEnvVar, c.settingsFile);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(::Init8583(), -1) << c.message;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << c.message;
        char text[300];
        EXPECT_EQ(GetLastErrMesg(text, sizeof text), TRANPAK_ERR_SETTINGS) << c.message;
        EXPECT_STREQ(text, c.message);
        os::SetEnvVar(kSettingsEnvVar, "");
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
