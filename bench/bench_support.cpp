#include "bench_support.h"

#include "api/session.h"
#include "message/bmpfile.h"
#include "message/mesg_state.h"
#include "message/settings.h"
#include "codec/packet.h"
#include "tranpak.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace tranpak::bench {

const unsigned char kKey[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};

namespace {

const std::string &DefinitionPath()
{
    static const std::string path = [] {
        auto d = std::filesystem::temp_directory_path() / "tranpak-bench";
        std::filesystem::create_directories(d);
        return (d / "bitmap.txt").string();
    }();
    return path;
}

}  // namespace

void Define(const std::string &definitions)
{
    const std::string &path = DefinitionPath();
    std::ofstream(path) << definitions;
    ClearCellTable(DefaultMesg());
    std::snprintf(DefaultMesg().settings.bmpfile, kPathSize, "%s", path.c_str());
    DefaultMesg().settings.errfile[0] = '\0';
    DefaultMesg().settings.traceflag = 0;
    if (ReadBMPFile(DefaultMesg()) != 0)
        std::abort();
    ResetMesg();
}

const char kExampleDefinitions[] = "PAN N 19,2 2\nPROCCODE N 6 3\nAMOUNT NF 12 4\nMAC B 8 64\n";

void DefineExample() { Define(kExampleDefinitions); }

void SetExampleValues()
{
    ResetMesg();
    SetCell(0, "0200");
    SetCell(2, "12345678");
    SetCell(3, "123");
    double amount = 10.0;
    SetCell(4, &amount);
}

void SetExample()
{
    DefineExample();
    SetExampleValues();
}

void SetExampleSession(TpSession *s)
{
    // A file of its own, written once, so that threads may call this at once.
    static const std::string path = [] {
        const std::string p = DefinitionPath() + ".example";
        std::ofstream(p) << kExampleDefinitions;
        return p;
    }();
    TpSettings settings{};
    settings.errFile = "";
    settings.bmpFile = path.c_str();
    if (TpInit8583With(s, &settings) != 0)
        std::abort();
    TpSetCell(s, 0, "0200");
    TpSetCell(s, 2, "12345678");
    TpSetCell(s, 3, "123");
    double amount = 10.0;
    TpSetCell(s, 4, &amount);
}

void DefineFull()
{
    std::string defs;
    for (int f = 2; f <= 6; ++f)
        defs += "F ANS 399 " + std::to_string(f) + "\n";
    Define(defs + "G ANS 26 7\nMAC B 8 64\n");
}

void SetFullValues()
{
    ResetMesg();
    SetCell(0, "0200");
    const std::string text(295, 'x');  // the longest text SetCell takes
    for (int f = 2; f <= 6; ++f)
        SetCell(f, text.c_str());
    SetCell(7, "tail");
}

void SetFull()
{
    DefineFull();
    SetFullValues();
}

std::string CurrentFrame()
{
    unsigned char frame[kFrameBufSize];
    int len = 0;
    if (BuildPacket(DefaultMesg(), DefaultDes(), frame, kKey, &len) != 0)
        return "";
    return std::string(reinterpret_cast<char *>(frame), static_cast<size_t>(len));
}

}  // namespace tranpak::bench
