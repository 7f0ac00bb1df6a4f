// The Lua dissector of tranpak-trace --wireshark, run in Debian's tshark on
// captures written from frames the library produced: the demo's purchase,
// its reply, a message with track 2 and a secondary bitmap, and the demo's
// file send and fetch, in the seed's format and in every preset of
// docs/wire-formats.md. Each frame must show the type and every field as
// TpDescribe shows them (card data masked, or in clear with the
// preference), whole, split over segments and several in a segment; each
// broken frame its expert error, with the next frame decoded.
#include "support/peer.h"
#include "support/run_command.h"
#include "support/scratch_dir.h"
#include "tranpak.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace tranpak::test {
namespace {

const std::string kTrace = TRANPAK_TRACE_PROGRAM;
const std::string kDemoDefinitions = TRANPAK_EXAMPLE_DEFINITIONS;
const unsigned char kKey[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
// The port the captures use and the dissector is registered on (no socket
// is opened on it: the captures are written, not recorded).
constexpr int kPort = 5000;
constexpr int kFields = 128;

// The demo's definitions, and track 2, a field above 64 and the MAC of a
// secondary bitmap.
std::string Definitions()
{
    return ReadFile(kDemoDefinitions) +
           "TRACK2      Z     37,2    35\n"
           "NETCODE     N     3       70\n"
           "MAC2        B     8       128\n";
}

struct Preset {
    const char *name;
    const char *section;  // the [Wire Format] lines
};
const Preset kPresets[] = {
    {"seed", ""},
    {"binary2", "LENGTH=BINARY2\nENVELOPE=NONE\n"},
    {"tpdu-bcd",
     "LENGTH=BINARY2\nLENGTHCOUNTS=HEADER\nENVELOPE=NONE\nHEADER=TPDU:6000030000\nMTI=BCD\nNUMBERS=BCD\n"
     "PREFIX=BCD\n"},
    {"ascii4", "LENGTH=ASCII4\nENVELOPE=NONE\n"},
    {"ebcdic", "LENGTH=BINARY2\nENVELOPE=NONE\nMTI=EBCDIC\nBITMAP=HEX\nCHARSET=EBCDIC037\n"},
};

Ran Shell(const std::string &command) { return RunShell(command); }

std::vector<std::string> Split(const std::string &text, char sep)
{
    std::vector<std::string> out;
    std::string item;
    std::istringstream in(text);
    while (std::getline(in, item, sep))
        out.push_back(item);
    return out;
}

// What one frame must show: a message's type and values, or a file frame.
struct Expected {
    std::string mti;
    std::map<int, std::string> values;
    std::string fileType, fileRequest, fileLength;
};

// The values of TpDescribe's JSON in order ("value": "..."), unescaped
// from JSON only (the \xHH of the description stay as they are).
std::vector<std::string> JsonValues(const std::string &json, const std::string &key)
{
    std::vector<std::string> out;
    const std::string mark = "\"" + key + "\": \"";
    for (size_t at = json.find(mark); at != std::string::npos; at = json.find(mark, at)) {
        at += mark.size();
        std::string v;
        for (; at < json.size() && json[at] != '"'; ++at) {
            if (json[at] == '\\')
                ++at;
            v += json[at];
        }
        out.push_back(v);
    }
    return out;
}

// The message the session received, as TpDescribe shows it.
Expected Described(TpSession *s, bool unmasked)
{
    char text[8192];
    int len = 0;
    EXPECT_EQ(TpDescribe(s, TP_DESCRIBE_JSON | (unmasked ? TP_DESCRIBE_UNMASKED : 0), text, sizeof text, &len), 0);
    const std::string json(text, static_cast<size_t>(len));
    Expected e;
    e.mti = JsonValues(json, "type").at(0);
    // Fields are described in order of their numbers.
    const std::vector<std::string> values = JsonValues(json, "value");
    size_t k = 0;
    for (int n = 1; n <= kFields; ++n) {
        TpCellDef def{};
        if (TpGetCellDef(s, n, &def) >= 0 && def.used == 1 && k < values.size())
            e.values[n] = values[k++];
    }
    EXPECT_EQ(k, values.size()) << json;
    return e;
}

using Session = std::unique_ptr<TpSession>;

Session Start(const std::string &settings)
{
    Session s = std::make_unique<TpSession>();
    EXPECT_EQ(TpInit8583(s.get(), settings.c_str()), 0) << settings;
    return s;
}

std::string Pack(TpSession *s)
{
    unsigned char frame[4096];
    int len = 0;
    EXPECT_EQ(TpPackMesg(s, kKey, frame, sizeof frame, &len), 0);
    return std::string(reinterpret_cast<char *>(frame), static_cast<size_t>(len));
}

void Set(TpSession *s, const std::vector<std::pair<int, std::string>> &fields)
{
    for (const auto &[n, text] : fields)
        EXPECT_EQ(TpSetCellText(s, n, text.c_str()), 0) << n << "=" << text;
}

// The frames of one dialect and what each must show.
struct Capture {
    std::vector<std::string> frames;
    std::vector<Expected> masked, clear;
};

void Received(TpSession *to, const std::string &frame, Capture *c)
{
    ASSERT_EQ(TpUnpackMesg(to, reinterpret_cast<const unsigned char *>(frame.data()), static_cast<int>(frame.size())),
              0);
    c->frames.push_back(frame);
    c->masked.push_back(Described(to, false));
    c->clear.push_back(Described(to, true));
}

void AddFileFrame(Capture *c, char type, const std::string &body)
{
    const std::string frame = FileFrame(type, body);
    ASSERT_EQ(frame.substr(0, 2), std::string("\x06") + type);
    Expected e;
    const char *names[] = {"send request", "fetch request", "data", "refused", "end"};
    e.fileType = std::string(1, type) + " " + names[type - '0'];
    e.fileLength = std::to_string(body.size());
    if (type == '0' || type == '1')
        e.fileRequest = body;
    c->frames.push_back(frame);
    c->masked.push_back(e);
    c->clear.push_back(e);
}

// The demo: a purchase and its reply, a message with track 2 and field 70
// (a secondary bitmap, the MAC in field 128), then the file sent and
// fetched back, the client's frames as the library sent them.
Capture Demo(const std::string &settings)
{
    Capture c;
    Session terminal = Start(settings), host = Start(settings);
    Set(terminal.get(), {{0, "0200"},
                         {2, "4761739001010119"},
                         {3, "000000"},
                         {4, "12.50"},
                         {11, "000001"},
                         {41, "TERM0001"},
                         {42, "MERCHANT0000001"},
                         {49, "978"}});
    Received(host.get(), Pack(terminal.get()), &c);
    Set(host.get(), {{0, "0210"}, {39, "00"}, {38, "A1B2C3"}, {37, "000000123456"}});
    Received(terminal.get(), Pack(host.get()), &c);
    EXPECT_EQ(TpResetMesg(terminal.get()), 0);
    Set(terminal.get(), {{0, "0200"},
                         {3, "000000"},
                         {4, "-0.07"},
                         {35, "4761739001010119=2512"},
                         {41, "TERM 01\\"},
                         {48, "note \\ 1"},
                         {70, "301"}});
    Received(host.get(), Pack(terminal.get()), &c);

    const std::string batch = "settlement batch 0001\r\ntotal 12.50\r\n";
    WriteFile("batch.txt", batch);
    {
        ScriptedPeer peer({Store()});
        EXPECT_EQ(TpSockSendFile(terminal.get(), "127.0.0.1", peer.port(), "batch.txt", "batch-0001.txt"), 0);
        peer.Wait();
        const std::string sent = peer.Received();
        // The request, the data (a text file: its lines end in LF on the
        // wire) and the end frame as the library sent them.
        const std::string lines = "settlement batch 0001\ntotal 12.50\n";
        EXPECT_EQ(sent, FileFrame('0', "batch-0001.txt") + FileFrame('2', lines) + FileFrame('4', ""));
        AddFileFrame(&c, '0', "batch-0001.txt");
        AddFileFrame(&c, '2', lines);
        AddFileFrame(&c, '4', "");
        AddFileFrame(&c, '4', "");
    }
    {
        ScriptedPeer peer({Serve(batch)});
        EXPECT_EQ(TpSockRecvFile(terminal.get(), "127.0.0.1", peer.port(), "batch-0001.txt", "back.txt"), 0);
        peer.Wait();
        EXPECT_EQ(peer.Received(), FileFrame('1', "batch-0001.txt"));
        AddFileFrame(&c, '1', "batch-0001.txt");
        AddFileFrame(&c, '2', batch);
        AddFileFrame(&c, '4', "");
    }
    return c;
}

// The TCP payloads of a capture, written for text2pcap.
void WritePcap(const std::vector<std::string> &packets, const std::string &pcap)
{
    std::string dump;
    char line[16];
    for (const std::string &p : packets) {
        for (size_t at = 0; at < p.size(); at += 16) {
            std::snprintf(line, sizeof line, "%06zx", at);
            dump += line;
            for (size_t k = at; k < at + 16 && k < p.size(); ++k) {
                std::snprintf(line, sizeof line, " %02x", static_cast<unsigned char>(p[k]));
                dump += line;
            }
            dump += "\n";
        }
    }
    WriteFile("dump.txt", dump);
    ASSERT_EQ(Shell("text2pcap -q -T 40000," + std::to_string(kPort) + " dump.txt " + pcap + " 2>&1").status, 0);
}

enum class Cut { kWhole, kSplit, kAllInOne, kChunks };

std::vector<std::string> Packets(const std::vector<std::string> &frames, Cut cut)
{
    std::vector<std::string> out;
    std::string all;
    for (const std::string &f : frames) {
        all += f;
        if (cut == Cut::kWhole) {
            out.push_back(f);
        } else if (cut == Cut::kSplit) {
            // The first byte alone (not even the length is there), then halves.
            const size_t half = (f.size() - 1) / 2;
            out.push_back(f.substr(0, 1));
            if (half > 0)
                out.push_back(f.substr(1, half));
            out.push_back(f.substr(1 + half));
        }
    }
    if (cut == Cut::kAllInOne)
        out.push_back(all);
    for (size_t at = 0; cut == Cut::kChunks && at < all.size(); at += 37)
        out.push_back(all.substr(at, 37));
    return out;
}

// What tshark shows, column by column over the whole capture: each
// column's occurrences in the order of the frames.
struct Shown {
    std::vector<std::string> mti, fileType, fileRequest, fileLength, expert;
    std::map<int, std::vector<std::string>> fields;
    std::string errors;  // standard error, but for the warning about running as root
};

std::vector<std::string> Occurrences(const std::string &cell)
{
    return cell.empty() ? std::vector<std::string>{} : Split(cell, '~');
}

Shown Tshark(const std::string &lua, const std::string &pcap, const std::string &more = "")
{
    std::string command = "tshark -X lua_script:" + lua + " -r " + pcap + " " + more +
                          " -T fields -E separator=/t -E occurrence=a -E aggregator=~ -e tranpak.mti";
    for (int n = 1; n <= kFields; ++n)
        command += " -e tranpak.field." + std::to_string(n);
    command += " -e tranpak.file.type -e tranpak.file.request -e tranpak.file.length -e _ws.expert.message";
    const Ran r = Shell(command + " 2>stderr.txt");
    EXPECT_EQ(r.status, 0) << command;
    Shown s;
    for (const std::string &line : Split(ReadFile("stderr.txt"), '\n'))
        if (line.find("Running as user") == std::string::npos && !line.empty())
            s.errors += line + "\n";
    for (const std::string &line : Split(r.out, '\n')) {
        std::vector<std::string> cells = Split(line, '\t');
        cells.resize(kFields + 5);
        for (const std::string &v : Occurrences(cells[0]))
            s.mti.push_back(v);
        for (int n = 1; n <= kFields; ++n)
            for (const std::string &v : Occurrences(cells[n]))
                s.fields[n].push_back(v);
        std::vector<std::string> *tails[] = {&s.fileType, &s.fileRequest, &s.fileLength, &s.expert};
        for (int k = 0; k < 4; ++k)
            for (const std::string &v : Occurrences(cells[kFields + 1 + k]))
                tails[k]->push_back(v);
    }
    return s;
}

// Every frame shown as expected, in order.
void ExpectShown(const Shown &s, const std::vector<Expected> &expected, const std::string &what)
{
    Shown want;
    for (const Expected &e : expected) {
        if (!e.mti.empty())
            want.mti.push_back(e.mti);
        for (const auto &[n, v] : e.values)
            want.fields[n].push_back(v);
        if (!e.fileType.empty()) {
            want.fileType.push_back(e.fileType);
            want.fileLength.push_back(e.fileLength);
            if (!e.fileRequest.empty())
                want.fileRequest.push_back(e.fileRequest);
        }
    }
    EXPECT_EQ(s.errors, "") << what;
    EXPECT_EQ(s.expert, std::vector<std::string>{}) << what;
    EXPECT_EQ(s.mti, want.mti) << what;
    for (int n = 1; n <= kFields; ++n) {
        const auto got = s.fields.find(n);
        const auto wanted = want.fields.find(n);
        EXPECT_EQ(got == s.fields.end() ? std::vector<std::string>{} : got->second,
                  wanted == want.fields.end() ? std::vector<std::string>{} : wanted->second)
            << what << ", field " << n;
    }
    EXPECT_EQ(s.fileType, want.fileType) << what;
    EXPECT_EQ(s.fileRequest, want.fileRequest) << what;
    EXPECT_EQ(s.fileLength, want.fileLength) << what;
}

class WiresharkTest : public ScratchTest {
protected:
    // The settings file of a preset, the definitions beside it.
    static std::string Settings(const Preset &p)
    {
        const std::string name = std::string("settings-") + p.name + ".ini";
        WriteFile("bitmap.txt", Definitions());
        WriteFile(name,
                  std::string("[Error Log File]\nERRFILE=errlog.txt\n[Bitmap Define File]\nBMPFILE=bitmap.txt\n") +
                      (*p.section != '\0' ? std::string("[Wire Format]\n") + p.section : ""));
        return name;
    }
    // The dissector generated from the settings.
    static std::string Generate(const std::string &settings, const std::string &lua, int port = kPort)
    {
        const std::string command = kTrace + " --wireshark " + lua + " --settings " + settings +
                                    (port > 0 ? " --port " + std::to_string(port) : "") + " 2>&1";
        const Ran r = Shell(command);
        EXPECT_EQ(r.status, 0) << command << "\n" << r.out;
        EXPECT_EQ(r.out, "");
        return lua;
    }
};

TEST_F(WiresharkTest, EveryPresetShowsTheDemoAsTpDescribeDoesWholeSplitAndSeveralInASegment)
{
    for (const Preset &p : kPresets) {
        const std::string settings = Settings(p);
        const std::string lua = Generate(settings, std::string(p.name) + ".lua");
        const Capture c = Demo(settings);
        ASSERT_EQ(c.frames.size(), 10u) << p.name;
        const struct {
            Cut cut;
            const char *name;
        } cuts[] = {{Cut::kWhole, "whole"},
                    {Cut::kSplit, "split"},
                    {Cut::kAllInOne, "all in one segment"},
                    {Cut::kChunks, "37-byte segments"}};
        for (const auto &cut : cuts) {
            const std::string what = std::string(p.name) + ", " + cut.name;
            WritePcap(Packets(c.frames, cut.cut), "demo.pcap");
            ExpectShown(Tshark(lua, "demo.pcap"), c.masked, what);
        }
        WritePcap(Packets(c.frames, Cut::kChunks), "demo.pcap");
        ExpectShown(Tshark(lua, "demo.pcap", "-o tranpak.show_card_data:TRUE"), c.clear,
                    std::string(p.name) + ", card data shown");
    }
}

TEST_F(WiresharkTest, DisplayFiltersColumnsAndTheMacField)
{
    const std::string settings = Settings(kPresets[0]);
    const std::string lua = Generate(settings, "seed.lua");
    const Capture c = Demo(settings);
    WritePcap(Packets(c.frames, Cut::kWhole), "demo.pcap");
    const struct {
        const char *filter;
        const char *frames;  // frame numbers matched
    } cases[] = {
        {"tranpak.field.39 == \"00\"", "2\n"},   {"tranpak.field.4 == \"12.50\"", "1\n2\n"},
        {"tranpak.field.4 == \"-0.07\"", "3\n"}, {"tranpak.field.2 == \"************0119\"", "1\n2\n"},
        {"tranpak.mti == \"0210\"", "2\n"},      {"tranpak.mac_field == 128", "3\n"},
        {"tranpak.mac_field == 64", "1\n2\n"},   {"tranpak.file.request == \"batch-0001.txt\"", "4\n8\n"},
    };
    for (const auto &k : cases) {
        const Ran r = Shell("tshark -X lua_script:" + lua + " -r demo.pcap -Y '" + k.filter +
                            "' -T fields -e frame.number 2>/dev/null");
        EXPECT_EQ(r.out, k.frames) << k.filter;
    }
    const Ran cols = Shell("tshark -X lua_script:" + lua +
                           " -r demo.pcap -T fields -e _ws.col.Protocol -e _ws.col.Info 2>/dev/null");
    EXPECT_EQ(cols.out,
              "TRANPAK\t0200\n"
              "TRANPAK\t0210 response 00\n"
              "TRANPAK\t0200\n"
              "TRANPAK\tfile send request batch-0001.txt\n"
              "TRANPAK\tfile data, 34 bytes\n"
              "TRANPAK\tfile end\n"
              "TRANPAK\tfile end\n"
              "TRANPAK\tfile fetch request batch-0001.txt\n"
              "TRANPAK\tfile data, 36 bytes\n"
              "TRANPAK\tfile end\n");
    // The tree names the field that carries the MAC.
    const Ran tree = Shell("tshark -X lua_script:" + lua + " -r demo.pcap -V -Y 'frame.number == 3' 2>/dev/null");
    EXPECT_NE(tree.out.find("    128 MAC2 B (MAC): "), std::string::npos) << tree.out;
    EXPECT_NE(tree.out.find("    35 TRACK2 Z: *****************2512"), std::string::npos) << tree.out;
    EXPECT_NE(tree.out.find("    70 NETCODE N: 301"), std::string::npos) << tree.out;
}

TEST_F(WiresharkTest, TheSeedsFramesAreFoundOnAnyPortAndByDecodeAs)
{
    const std::string settings = Settings(kPresets[0]);
    const std::string lua = Generate(settings, "noport.lua", 0);
    const Capture c = Demo(settings);
    WritePcap(Packets(c.frames, Cut::kSplit), "demo.pcap");
    ExpectShown(Tshark(lua, "demo.pcap"), c.masked, "heuristic");
    // A dialect's frames on a port it is not registered on: Decode As.
    const std::string binary = Settings(kPresets[1]);
    const std::string lua2 = Generate(binary, "binary2.lua", 0);
    const Capture c2 = Demo(binary);
    WritePcap(Packets(c2.frames, Cut::kChunks), "binary2.pcap");
    EXPECT_EQ(Tshark(lua2, "binary2.pcap").mti, std::vector<std::string>{});
    ExpectShown(Tshark(lua2, "binary2.pcap", "-d tcp.port==5000,tranpak"), c2.masked, "decode as");
}

// A broken frame, what it must say, and the frame after it.
struct Broken {
    std::string frame;
    std::string expert;
};

std::string Digits4(int v)
{
    char d[8];
    std::snprintf(d, sizeof d, "%04d", v);
    return d;
}

TEST_F(WiresharkTest, EachBrokenFrameGivesItsExpertErrorAndTheNextFrameDecodes)
{
    const std::string settings = Settings(kPresets[0]);
    const std::string lua = Generate(settings, "seed.lua");
    const Capture c = Demo(settings);
    const std::string good = c.frames[0];  // 0200 with fields 2, 3, 4, 11, 41, 42, 49 and 64
    const int size = static_cast<int>(good.size()), len = size - 6;
    const std::string body = good.substr(5, static_cast<size_t>(len));
    std::vector<Broken> broken;
    // Bytes the fields do not take, the length counting them.
    broken.push_back(
        {"\x02" + Digits4(len + 2) + body + "XY\x03",
         "the fields end at offset " + std::to_string(size - 1) + ", the length says " + std::to_string(size + 1)});
    // The MAC's bit set, its 8 bytes gone.
    broken.push_back({"\x02" + Digits4(len - 8) + body.substr(0, body.size() - 8) + "\x03",
                      "field 64: bit set, no data at offset " + std::to_string(size - 9)});
    // Field 2's prefix above its 19.
    std::string prefix = good;
    prefix.replace(17, 2, "25");
    broken.push_back({prefix, "field 2: the length prefix at offset 17 says 25, the field holds 19"});
    // A length one more than the frame: its last byte is the next frame's start.
    broken.push_back({"\x02" + Digits4(len + 1) + body + "\x03", "frame: the length at offset 1 says " +
                                                                     std::to_string(len + 1) + " bytes, offset " +
                                                                     std::to_string(size) + " holds 0x02, not 03"});
    std::vector<std::string> frames;
    std::vector<std::string> experts;
    for (const Broken &b : broken) {
        frames.push_back(b.frame);
        frames.push_back(good);
        experts.push_back(b.expert);
    }
    // Every broken frame with a length that holds still shows its type, and
    // the fields before the fault: field 49 of the first two.
    const std::vector<std::string> wantMti = {"0200", "0200", "0200", "0200", "0200", "0200", "0200"};
    for (const Cut cut : {Cut::kWhole, Cut::kAllInOne, Cut::kChunks}) {
        WritePcap(Packets(frames, cut), "broken.pcap");
        const Shown s = Tshark(lua, "broken.pcap");
        EXPECT_EQ(s.errors, "");
        EXPECT_EQ(s.expert, experts);
        EXPECT_EQ(s.mti, wantMti);
        EXPECT_EQ(s.fields.at(49), std::vector<std::string>(6, "978"));
        EXPECT_EQ(s.fields.at(64).size(), 5u);  // the four good frames' and the first broken one's
    }

    // A BCD nibble above 9, in the BCD preset: field 3 at offset 26
    // (length 2, TPDU 5, type 2, bitmap 8, field 2's prefix 1 and 8 bytes).
    const std::string bcdSettings = Settings(kPresets[2]);
    const std::string bcdLua = Generate(bcdSettings, "bcd.lua");
    const Capture bcd = Demo(bcdSettings);
    std::string nibble = bcd.frames[0];
    ASSERT_EQ(nibble[26], '\0');
    nibble[26] = '\xA0';
    // A TPDU of another id.
    std::string header = bcd.frames[0];
    ASSERT_EQ(header[2], '\x60');
    header[2] = '\x70';
    WritePcap(Packets({header, nibble, bcd.frames[1]}, Cut::kAllInOne), "bcd.pcap");
    const Shown s = Tshark(bcdLua, "bcd.pcap");
    EXPECT_EQ(s.expert, (std::vector<std::string>{"header at offset 2 is 70 00 03 00 00, expected 60 00 03 00 00",
                                                  "field 3: BCD nibble A at offset 26"}));
    EXPECT_EQ(s.mti, (std::vector<std::string>{"0200", "0210"}));
    EXPECT_EQ(s.fields.at(39), std::vector<std::string>{"00"});
}

TEST_F(WiresharkTest, TheGeneratedLuaLoadsWithoutAWordAndTheCommandRefusesWhatItCannotUse)
{
    const std::string settings = Settings(kPresets[4]);
    const std::string lua = Generate(settings, "ebcdic.lua");
    WritePcap({}, "empty.pcap");
    const Ran load = Shell("tshark -X lua_script:" + lua + " -r empty.pcap 2>&1");
    EXPECT_EQ(load.status, 0);
    std::string words;
    for (const std::string &line : Split(load.out, '\n'))
        if (line.find("Running as user") == std::string::npos)
            words += line + "\n";
    EXPECT_EQ(words, "");
    // The tables come from the data: the dialect and the field table.
    const std::string text = ReadFile(lua);
    EXPECT_NE(text.find("mti = \"EBCDIC\", bitmap = \"HEX\", charset = \"EBCDIC037\""), std::string::npos);
    EXPECT_NE(text.find("[35] = {\"TRACK2\", \"Z\", 37, 2},"), std::string::npos);
    EXPECT_NE(text.find("[128] = {\"MAC2\", \"B\", 8, 0},"), std::string::npos);
    EXPECT_NE(text.find("[240] = 48,"), std::string::npos);  // EBCDIC F0 is the digit 0

    WriteFile("bad.ini", "[Wire Format]\nLENGTH=BINARY3\n");
    Ran r = Shell(kTrace + " --wireshark x.lua --settings bad.ini 2>&1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "tranpak-trace: [Wire Format] LENGTH=BINARY3 is not a value of LENGTH (settings file bad.ini)\n");
    WriteFile("typo.ini", "[Wire Format]\nLENGHT=BINARY2\n");
    r = Shell(kTrace + " --wireshark x.lua --settings typo.ini 2>&1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "tranpak-trace: [Wire Format] key LENGHT is not LENGTH, LENGTHCOUNTS, ENVELOPE, HEADER, MTI, "
              "BITMAP, CHARSET, NUMBERS, PREFIX or BINARY (settings file typo.ini)\n");
    r = Shell(kTrace + " --wireshark x.lua --settings missing.ini 2>&1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "tranpak-trace: settings file missing.ini is not a file that can be read\n");
    r = Shell(kTrace + " --wireshark x.lua --port 70000 2>&1");
    EXPECT_EQ(r.status, 2);
    r = Shell(kTrace + " --wireshark x.lua --frame 02 2>&1");
    EXPECT_EQ(r.status, 2);
}

TEST_F(WiresharkTest, TenThousandMessagesDecode)
{
    const std::string settings = Settings(kPresets[0]);
    const std::string lua = Generate(settings, "seed.lua");
    const Capture c = Demo(settings);
    std::vector<std::string> packets;
    for (int k = 0; k < 5000; ++k) {
        packets.push_back(c.frames[0]);
        packets.push_back(c.frames[1]);
    }
    WritePcap(packets, "many.pcap");
    const auto start = std::chrono::steady_clock::now();
    const Ran r = Shell("tshark -X lua_script:" + lua + " -r many.pcap -T fields -e tranpak.field.11 2>/dev/null");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Split(r.out, '\n'), std::vector<std::string>(10000, "000001"));
    std::printf("10,000 messages decoded in %.1f s\n", seconds);
}

}  // namespace
}  // namespace tranpak::test
