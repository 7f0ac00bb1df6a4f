// The trace decoder: frames described field by field with masks and the
// MAC, trace files read whole or in pieces, and the JSON lines.
#include "tools/trace/decode.h"
#include "tools/trace/trace_stream.h"
#include "tools/common/tool_support.h"
#include "diag/ctrace.h"
#include "support/scratch_dir.h"
#include "support/tool_fixtures.h"
#include "tranpak.h"

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tranpak::test {
namespace {

using tools::DescribeFrame;

TEST_F(DecoderTest, ExampleFrameDecodesWithMaskAndMac)
{
    std::string report = DescribeFrame(ExampleFrame(options_.mac.key), options_);
    EXPECT_NE(
        report.find("framing: start 0x02 ok, length digits \"0048\" match the 48 bytes that follow, stop 0x03 ok"),
        std::string::npos)
        << report;
    EXPECT_NE(report.find("message type: 0200"), std::string::npos);
    EXPECT_NE(report.find("bitmap: 70 00 00 00 00 00 00 01 -> fields 2 3 4 64"), std::string::npos);
    EXPECT_NE(report.find("08     ****5678"), std::string::npos) << report;
    EXPECT_NE(report.find("000000001000"), std::string::npos);
    EXPECT_NE(report.find("MAC: verified with the given key"), std::string::npos);
    options_.unmask = true;
    EXPECT_NE(DescribeFrame(ExampleFrame(options_.mac.key), options_).find("08     12345678"), std::string::npos);
}

TEST_F(DecoderTest, OtherKeyDoesNotVerify)
{
    unsigned char other[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::string report = DescribeFrame(ExampleFrame(other), options_);
    EXPECT_NE(report.find("MAC: does NOT verify with the given key"), std::string::npos) << report;
}

TEST_F(DecoderTest, BrokenFramesAreDescribedUpToTheFailingField)
{
    struct {
        const char *name;
        int at;
        const char *with;
        const char *says;
    } cases[] = {
        {"prefix", 17, "0x",
         "field 2 (PAN) does not decode at data offset 0 (frame offset 17): length prefix is not a number"},
        {"too long", 17, "20", "length prefix is above the field's maximum 19"},
        {"content", 28, "A",
         "field 3 (PROCCODE) does not decode at data offset 10 (frame offset 27): value \"0A0123\" is not N"},
        {"length digits", 1, "0047", "length digits \"0047\" do NOT match the 48 bytes that follow"},
        {"stop", 53, "\x04", "stop 0x04 WRONG"},
    };
    for (auto &c : cases) {
        std::string frame = ExampleFrame(options_.mac.key);
        frame.replace(static_cast<size_t>(c.at), std::strlen(c.with), c.with);
        std::string report = DescribeFrame(frame, options_);
        EXPECT_NE(report.find(c.says), std::string::npos) << c.name << "\n" << report;
    }
    std::string report = DescribeFrame(
        "\x02"
        "00",
        options_);
    EXPECT_NE(report.find("incomplete frame: 3 bytes"), std::string::npos);
    EXPECT_NE(report.find("raw (3 bytes):\n  02 30 30"), std::string::npos) << report;
}

TEST_F(DecoderTest, TraceFileRoundTrip)
{
    std::string frame = ExampleFrame(options_.mac.key);
    WriteComTrace("ctrace.txt", "send mesg body", frame.data(), static_cast<int>(frame.size()));
    WriteComTrace("ctrace.txt", "recv mesg head", frame.data(), 5);
    WriteComTrace("ctrace.txt", "recv mesg data", frame.data() + 5, static_cast<int>(frame.size()) - 5);
    WriteComTrace("ctrace.txt", "recv mesg head",
                  "\x02"
                  "00",
                  3);
    auto blocks = tools::ParseTrace(ReadTextFile("ctrace.txt"));
    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_EQ(blocks[0].label, "send mesg body");
    EXPECT_EQ(blocks[0].count, 54);
    EXPECT_EQ(blocks[0].bytes, frame);
    auto frames = tools::JoinFrames(blocks);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].label, "sent");
    EXPECT_EQ(frames[1].label, "received");
    EXPECT_EQ(frames[1].bytes, frame);
    EXPECT_EQ(frames[2].bytes, std::string("\x02"
                                           "00"));
}

TEST(DecoderMask, KeepsTheLastFour)
{
    EXPECT_EQ(tools::Mask("4761739001010119"), "************0119");
    EXPECT_EQ(tools::Mask("1234"), "****");
    EXPECT_EQ(tools::Mask(""), "");
}

TEST_F(DecoderTest, MaskedBytesNeverShowInRawDumps)
{
    // Field 2 decodes, field 3 does not: the card number's bytes are
    // hidden in the raw dump, and so is everything after field 3 (it could
    // hold field 64, not masked, but masked fields before it are known).
    std::string frame = ExampleFrame(options_.mac.key);
    frame[28] = 'A';
    for (bool unmask : {false, true}) {
        options_.unmask = unmask;
        const std::string report = DescribeFrame(frame, options_);
        EXPECT_EQ(report.find("31 32 33 34 35 36 37 38") == std::string::npos, !unmask) << report;
        EXPECT_EQ(report.find("  01 30 38 ** ** ** ** ** ** ** ** 30 41") != std::string::npos, !unmask) << report;
    }
    // A masked field that does not decode hides all that follows it.
    options_.unmask = false;
    frame = ExampleFrame(options_.mac.key);
    frame[17] = 'x';
    const std::string report = DescribeFrame(frame, options_);
    EXPECT_NE(report.find("length prefix is not a number"), std::string::npos) << report;
    EXPECT_EQ(report.find("31 32 33 34"), std::string::npos) << report;
}

TEST_F(DecoderTest, CardNumbersInBytesNoFieldTookStayMaskedInRawDumps)
{
    // A card number behind the last field: no field decodes it, so only
    // its digits mark it. All but its last four show as ** unless unmasked.
    std::string frame = ExampleFrame(options_.mac.key);
    frame.insert(frame.size() - 1, "x4761739001010119y");
    const auto rawTokens = [&](bool unmask) {
        options_.unmask = unmask;
        const std::string report = DescribeFrame(frame, options_);
        const size_t raw = report.find("raw (");
        EXPECT_NE(raw, std::string::npos) << report;
        // Rows of "  02 30 ...": two characters per byte after a blank.
        std::vector<std::string> tokens;
        std::istringstream rows(report.substr(report.find(":\n", raw) + 2));
        for (std::string row; std::getline(rows, row) && row.rfind("  ", 0) == 0;)
            for (size_t i = 1; i + 2 < row.size() + 1; i += 3)
                tokens.push_back(row.substr(i + 1, 2));
        return tokens;
    };
    const std::vector<std::string> clear = rawTokens(true), masked = rawTokens(false);
    ASSERT_EQ(clear.size(), masked.size());
    const size_t pan = frame.find("4761739001010119");
    int hidden = 0;
    for (size_t i = 0; i < masked.size(); ++i) {
        const bool inPan = i >= pan && i < pan + 16;
        if (masked[i] == "**" && clear[i] != "**")
            ++hidden;
        if (inPan)
            EXPECT_EQ(masked[i] == "**", i < pan + 12) << "byte " << i;
    }
    EXPECT_EQ(hidden, 8 + 12);  // field 2's eight digits and the run's twelve
    // The fields' own digits, a run of 28 from field 2's prefix to field
    // 4, are shown as the fields show them: only bytes no field took are
    // searched.
}

TEST(DecoderTrace, HostileHeadersAreSkippedNotThrown)
{
    const std::string text =
        "{12-07 10:31:02 a} [len = 99999999999999999999]\n"
        "{12-07 10:31:02 b} [len = -5]\n"
        "{1x-07 10:31:02 c} [len = 5]\n" +
        std::string(100000, '{') + "\n{12-07 10:31:02 ok} [len = 2]\r\n0000 : 41-42\n";
    auto blocks = tools::ParseTrace(text);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].label, "ok");
    EXPECT_EQ(blocks[0].bytes, "AB");
}

// The frames and notes of a trace fed to a TraceStream in pieces of size bytes.
struct Streamed {
    std::vector<tools::TracedFrame> frames;
    std::vector<std::string> notes;
};

Streamed StreamInPieces(const std::string &text, size_t size)
{
    Streamed s;
    tools::TraceStream stream([&](const tools::TracedFrame &f) { s.frames.push_back(f); },
                              [&](const std::string &note) { s.notes.push_back(note); });
    for (size_t at = 0; at < text.size(); at += size)
        stream.Feed(text.data() + at, std::min(size, text.size() - at));
    stream.Finish();
    return s;
}

TEST(DecoderTrace, StreamedInPiecesOfAnySize)
{
    // A header of exactly the longest line kept, and a line one byte longer.
    const std::string label(tools::kTraceLineMax - std::strlen("{12-07 10:31:03 } [len = 002]"), 'L');
    const std::string text =
        "{12-07 10:31:02 recv mesg head} [len = 005]\r\n0000 : 02-30-30-30 33\n"
        "{12-07 10:31:02 recv mesg data} [len = 004]\n0000 : 41-42-43-03\n" +
        std::string(tools::kTraceLineMax + 1, 'x') + "\n{12-07 10:31:03 " + label +
        "} [len = 002]\n0000 : 44-45\n{12-07 10:31:04 recv mesg head} [len = 001]\n0000 : 02";
    for (size_t size : {size_t{1}, size_t{2}, size_t{7}, size_t{75}, tools::kTraceChunkSize}) {
        const Streamed s = StreamInPieces(text, size);
        ASSERT_EQ(s.frames.size(), 3u) << size;
        EXPECT_EQ(s.frames[0].label, "received");
        EXPECT_EQ(s.frames[0].bytes,
                  "\x02"
                  "0003ABC\x03");
        EXPECT_EQ(s.frames[1].label, label);
        EXPECT_EQ(s.frames[1].bytes, "DE");
        EXPECT_EQ(s.frames[2].time, "12-07 10:31:04");
        EXPECT_EQ(s.frames[2].bytes, "\x02");
        EXPECT_EQ(s.notes, std::vector<std::string>{"line 5: not a trace line (" +
                                                    std::to_string(tools::kTraceLineMax + 1) + " bytes)"});
    }
}

TEST(DecoderTrace, BlockLongerThanAnyFrameIsCut)
{
    const size_t lines = tools::kTraceBlockMax / 16 + 2;
    std::string text = "{12-07 10:31:02 send mesg body} [len = 999]\n";
    for (size_t k = 0; k < lines; ++k)
        text += "0000 : 41-41-41-41 41-41-41-41 41-41-41-41 41-41-41-41 || AAAAAAAAAAAAAAAA\n";
    text += "{12-07 10:31:03 send mesg body} [len = 001]\n0000 : 42\n";
    const Streamed s = StreamInPieces(text, tools::kTraceChunkSize);
    ASSERT_EQ(s.frames.size(), 2u);
    EXPECT_EQ(s.frames[0].bytes, std::string(tools::kTraceBlockMax, 'A'));
    EXPECT_EQ(s.frames[1].bytes, "B");
    EXPECT_EQ(s.notes,
              std::vector<std::string>{"line 1: block \"send mesg body\" is longer than any frame: " +
                                       std::to_string(lines * 16 - tools::kTraceBlockMax) + " bytes after its first " +
                                       std::to_string(tools::kTraceBlockMax) + " not kept"});
    tools::DecodeOptions options;
    EXPECT_FALSE(tools::DecodeFrame(s.frames[0].bytes, options).ok());
}

TEST_F(DecoderTest, JsonHasOneObjectPerFrame)
{
    const tools::FrameReport r = tools::DecodeFrame(ExampleFrame(options_.mac.key), options_);
    const std::string json = tools::FrameJson(r, "12-07 10:31:02", "sent");
    EXPECT_EQ(json.find('\n'), std::string::npos);
    for (const char *part :
         {"{\"type\": \"0200\", \"fields\": {\"2\": {\"name\": \"PAN\", \"type\": \"N\", \"value\": \"****5678\"}, ",
          "}}, \"time\": \"12-07 10:31:02\", \"direction\": \"sent\", \"bytes\": 54, \"ok\": true",
          "\"length_prefixes\": {\"2\": \"08\"}", "\"mac\": \"verified\"}"})
        EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
    // A label is the trace's own text: escaped as in the text output, so a
    // program printing the decoded string shows no ESC and no C2 9B.
    const std::string hostile = tools::FrameJson(r, "12-07 10:31:02", std::string("a\x1b[2J\xc2\x9b", 7));
    EXPECT_NE(hostile.find("\"direction\": \"a\\\\x1B[2J\\\\xC2\\\\x9B\","), std::string::npos) << hostile;
}

// A key of [Wire Format] the library does not know is refused by the tools
// as the library refuses it: a misspelt LENGTH would otherwise leave the
// host and the decoder framing by the default while the client refuses.
TEST_F(DecoderTest, AWireFormatKeyNoOneKnowsIsRefused)
{
    WriteFile("typo.ini", "[Wire Format]\nLENGHT=BINARY2\nENVELOPE=NONE\n");
    tools::WireChoice wire;
    std::string error;
    EXPECT_FALSE(tools::ReadWireChoice("typo.ini", &wire, &error));
    EXPECT_EQ(error,
              "[Wire Format] key LENGHT is not LENGTH, LENGTHCOUNTS, ENVELOPE, HEADER, MTI, BITMAP, CHARSET, NUMBERS, "
              "PREFIX or BINARY (settings file typo.ini)");
}

// Under a dialect the library reads each frame (the decoder's session
// speaks it): the frame of 2-byte length, TPDU and BCD numbers, packed by
// the session, is decoded field by field; one that breaks is refused with
// the library's field and offset, its BCD card number hidden in the raw
// dump; a data block traced without its head gets the dialect's.
TEST_F(DecoderTest, DialectFramesAreReadByTheLibrary)
{
    WriteFile("nac.ini",
              "[Wire Format]\nLENGTH=BINARY2\nLENGTHCOUNTS=HEADER\nENVELOPE=NONE\nHEADER=TPDU:6000030000\nMTI=BCD\n"
              "NUMBERS=BCD\nPREFIX=BCD\n");
    tools::WireChoice wire;
    std::string error;
    ASSERT_TRUE(tools::ReadWireChoice("nac.ini", &wire, &error)) << error;
    ASSERT_FALSE(wire.seed);
    ASSERT_TRUE(tools::UseWire(&session_, wire));
    options_.wire = &wire;
    TpResetMesg(&session_);
    for (const auto &[field, text] : std::vector<std::pair<int, const char *>>{
             {0, "0200"}, {2, "4761739001010119"}, {3, "000000"}, {41, "TERM0001"}})
        ASSERT_EQ(TpSetCellText(&session_, field, text), 0) << field;
    unsigned char packed[4096];
    int len = 0;
    ASSERT_EQ(TpPackMesg(&session_, options_.mac.key, packed, sizeof packed, &len), 0);
    const std::string frame(reinterpret_cast<char *>(packed), static_cast<size_t>(len));
    // 43 counted: the TPDU, the BCD type, the bitmap, PAN (prefix 16, 8
    // bytes), field 3 (3 bytes), TERM0001 and the MAC.
    ASSERT_EQ(Hex(frame.data(), 29),
              "00 2B 60 00 03 00 00 02 00 60 00 00 00 00 80 00 01 16 47 61 73 90 01 01 01 19 00 00 00");
    const std::string report = DescribeFrame(frame, options_);
    for (const char *line :
         {"wire format: LENGTH=BINARY2 LENGTHCOUNTS=HEADER ENVELOPE=NONE HEADER=TPDU:6000030000 "
          "MTI=BCD NUMBERS=BCD PREFIX=BCD\n",
          "framing: length 00 2B says 43, 43 came, header 60 00 03 00 00\n", "message type: 0200\n",
          "bitmap: 60 00 00 00 00 80 00 01 -> fields 2 3 41 64\n",
          "      2  PAN          N    16     ************0119\n", "      3  PROCCODE     N           000000\n",
          "     41  TERMID       ANS         TERM0001\n", "MAC: verified with the given key\n"})
        EXPECT_NE(report.find(line), std::string::npos) << line << "\n" << report;
    EXPECT_EQ(report.find("raw"), std::string::npos) << report;

    // A nibble above 9 in the card number, and a length one too large.
    std::string broken = frame;
    broken[25] = 0x1A;
    std::string longer = frame;
    longer[1] = 0x2C;
    struct {
        const char *name;
        std::string frame;
        const char *says;
    } cases[] = {
        {"BCD nibble", broken, "(field 2, frame offset 25)"},
        {"length", longer, "framing: length 00 2C says 44, 43 came (does NOT match)"},
    };
    for (auto &c : cases) {
        const tools::FrameReport r = tools::DecodeFrame(c.frame, options_);
        EXPECT_FALSE(r.ok()) << c.name;
        const std::string text = tools::FrameText(r);
        EXPECT_NE(text.find(c.says), std::string::npos) << c.name << "\n" << text;
        EXPECT_NE(text.find("the frame does not decode: tranpak: "), std::string::npos) << c.name << "\n" << text;
        EXPECT_EQ(text.find("47 61 73 90"), std::string::npos) << c.name << "\n" << text;
        EXPECT_NE(text.find("**"), std::string::npos) << c.name << "\n" << text;
    }

    std::vector<tools::TracedFrame> joined;
    tools::FrameJoiner joiner([&](const tools::TracedFrame &f) { joined.push_back(f); }, &wire.format);
    joiner.Block({"12-10 10:00:00", "recv mesg head", 2, frame.substr(0, 2)});
    joiner.Block({"12-10 10:00:00", "recv mesg data", len - 2, frame.substr(2)});
    joiner.Block({"12-10 10:00:01", "recv mesg data", len - 2, frame.substr(2)});
    joiner.Finish();
    ASSERT_EQ(joined.size(), 2u);
    EXPECT_EQ(joined[0].bytes, frame);
    EXPECT_EQ(joined[1].label, "received (head not traced)");
    EXPECT_EQ(Hex(joined[1].bytes.data(), joined[1].bytes.size()), Hex(frame.data(), frame.size()));
}

}  // namespace
}  // namespace tranpak::test
