#include "support/scratch_dir.h"

#include "api/session.h"
#include "message/settings.h"
#include "tranpak.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace tranpak::test {

const char kExampleDefinitions[] =
    "#name     type  length  pos\n"
    "PAN       N     19,2    2\n"
    "PROCCODE  N     6       3\n"
    "AMOUNT    NF    12      4\n"
    "TERMID    ANS   8       41\n"
    "ADDDATA   ANS   120,3   48\n"
    "MAC       B     8       64\n";

void SetWorkedExample()
{
    ResetMesg();
    SetCell(0, "0200");
    SetCell(2, "12345678");
    SetCell(3, "123");
    double amount = 10.0;
    SetCell(4, &amount);
}

void ScratchTest::SetUp()
{
    static std::atomic<unsigned> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    previous_ = fs::current_path();
    dir_ = fs::temp_directory_path() / ("tranpak-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    fs::create_directories(dir_);
    fs::current_path(dir_);
    DefaultSession() = Session{};
    RemoveSettings();
}

void ScratchTest::TearDown()
{
    RemoveSettings();
    fs::current_path(previous_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

void ScratchTest::WriteSettings(const std::string &ini)
{
    fs::path p(kSettingsFile);
    if (p.has_parent_path())
        fs::create_directories(p.parent_path());
    WriteFile(p, ini);
}

void ScratchTest::RemoveSettings()
{
    std::error_code ec;
    fs::remove(fs::path(kSettingsFile), ec);
}

int ScratchTest::InitWith(const std::string &definitions, bool trace, const std::string &moreSettings)
{
    WriteSettings(std::string("[Com Trace Flag]\nGCODEFLAG=") + (trace ? "1" : "0") +
                  "\n[Error Log File]\nERRFILE=errlog.txt\n"
                  "[Bitmap Define File]\nBMPFILE=bitmap.txt\n"
                  "[Com Trace File]\nCTRACEFILE=ctrace.txt\n" +
                  moreSettings);
    WriteFile("bitmap.txt", definitions);
    return ::Init8583();
}

std::vector<std::string> ScratchTest::ErrLog(const std::string &path)
{
    std::vector<std::string> lines;
    std::istringstream in(ReadTextFile(path));
    std::string line;
    while (std::getline(in, line)) {
        // "[YYYY-MM-DD HH:MM:SS] " is 22 characters.
        lines.push_back(line.size() >= 22 && line[0] == '[' ? line.substr(22) : line);
    }
    return lines;
}

std::string ScratchTest::LastErr()
{
    auto lines = ErrLog();
    return lines.empty() ? std::string() : lines.back();
}

void WriteFile(const fs::path &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string ReadTextFile(const fs::path &path)
{
    // Text mode: the platform's line ends come back as "\n".
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Hex(const void *bytes, size_t count)
{
    static const char kDigits[] = "0123456789ABCDEF";
    const auto *b = static_cast<const unsigned char *>(bytes);
    std::string s;
    for (size_t i = 0; i < count; ++i) {
        if (i)
            s += ' ';
        s += kDigits[b[i] >> 4];
        s += kDigits[b[i] & 15];
    }
    return s;
}

std::string Unhex(const std::string &hex)
{
    std::string out;
    int high = -1;
    for (char c : hex) {
        int v = (c >= '0' && c <= '9')   ? c - '0'
                : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                         : -1;
        if (v < 0)
            continue;
        if (high < 0) {
            high = v;
        } else {
            out += static_cast<char>(high * 16 + v);
            high = -1;
        }
    }
    return out;
}

}  // namespace tranpak::test
