// The trace decoder on whole trace files and on single frames, with the
// property that matters to whoever hands a trace around: while masking is
// on, a card number in field 2 never shows. Each input is decoded twice,
// once with each of two card numbers that share their last four digits;
// the two outputs (text and JSON) must be the same byte for byte, and the
// first card number must appear in neither its text nor its hex form.
//
// The first input byte picks the mode: even, the rest is one frame whose
// first 17 bytes (start, length digits, type, bitmap) come from the input,
// field 2 forced on and field 1 off, then "16" and the card number, then
// the rest of the input; odd, the rest is trace text, cut at its first NUL
// into text before and after a traced "send mesg body" block that holds a
// frame with the card number.
#include "../tools/common/tool_support.h"
#include "../tools/trace/decode.h"
#include "diag/ctrace.h"
#include "fuzz_support.h"

#include <cstdio>
#include <cstring>
#include <string>

using namespace tranpak;

namespace {

const char kDefinitions[] =
    "PAN N 19,2 2\nPROC N 6 3\nAMOUNT NF 12 4\nSTAN N 6 11\nCOUNT NI 6,2 12\nEXPIRY N 4 14\n"
    "RRN AN 12 37\nRESP AN 2 39\nTERM ANS 8 41\nTRACK2 ANS 37,2 35\nTRACK3 ANS 104,3 36\n"
    "TRACK1 ANS 76,2 45\nADD ANS 120,3 48\nNAME A 10,2 43\nPIN B 8 52\nMAC B 8 64\n";

const std::string kCard = "4761739001010119";
const std::string kTwin = "5413330089020119";

std::string HexSpelling(const std::string &s, const char *separator)
{
    return tools::ToHex(s.data(), s.size(), separator);
}

std::string FrameWith(const std::string &head, const std::string &card, const std::string &rest)
{
    std::string frame = head;
    frame.resize(17, '0');
    frame[9] = static_cast<char>((frame[9] & 0x3F) | 0x40);
    return frame + "16" + card + rest;
}

std::string TraceWith(const std::string &before, const std::string &card, const std::string &after)
{
    std::string frame =
        "\x02"
        "0030"
        "0200";
    frame += std::string("\x40\0\0\0\0\0\0\0", 8) + "16" + card + "\x03";
    char header[80];
    std::snprintf(header, sizeof header, "\n{12-07 10:31:02 send mesg body} [len = %03zu]\n", frame.size());
    std::string text = before + header;
    char line[kTraceLineSize];
    const auto *bytes = reinterpret_cast<const unsigned char *>(frame.data());
    for (int at = 0; at < static_cast<int>(frame.size()); at += kTraceBytesPerLine)
        text.append(line, static_cast<size_t>(FormatTraceLine(bytes, static_cast<int>(frame.size()), at, line)));
    return text + after;
}

std::string Decode(const std::string &input, bool traceMode)
{
    tools::DecodeOptions options;
    std::string out;
    if (!traceMode) {
        tools::FrameReport r = tools::DecodeFrame(input, options);
        return tools::FrameText(r) + tools::FrameJson(r, "", "");
    }
    for (const tools::TracedFrame &f : tools::JoinFrames(tools::ParseTrace(input))) {
        tools::FrameReport r = tools::DecodeFrame(f.bytes, options);
        out += tools::FrameText(r) + tools::FrameJson(r, f.time, f.label);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool ready = (fuzz::InitWithDefinitions(kDefinitions), true);
    (void)ready;
    if (size < 1)
        return 0;
    const bool traceMode = (data[0] & 1) != 0;
    const std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
    std::string outputs[2];
    const std::string *cards[2] = {&kCard, &kTwin};
    for (int k = 0; k < 2; ++k) {
        std::string input;
        if (traceMode) {
            const size_t cut = rest.find('\0');
            input = TraceWith(rest.substr(0, cut), *cards[k], cut == std::string::npos ? "" : rest.substr(cut + 1));
        } else {
            input = FrameWith(rest.substr(0, 17), *cards[k], rest.size() > 17 ? rest.substr(17) : "");
        }
        outputs[k] = Decode(input, traceMode);
    }
    fuzz::Require(outputs[0] == outputs[1], "a masked card number changes nothing but its last four digits");
    // The input may spell the card number itself, as text, in hex or as
    // the bytes whose hex it is, in a field that is not card data (or in
    // raw hex): when it holds the middle half of any of these forms, only
    // the comparison above can tell.
    std::string packed;
    tools::ParseHex(kCard, &packed);
    const std::string forms[] = {kCard, HexSpelling(kCard, " "), HexSpelling(kCard, ""), packed};
    bool spelled = false;
    for (const std::string &form : forms)
        spelled = spelled || rest.find(form.substr(form.size() / 4, form.size() / 2)) != std::string::npos;
    for (int k = 0; k < 3 && !spelled; ++k)
        fuzz::Require(outputs[0].find(forms[k]) == std::string::npos, "the card number never shows in full");
    return 0;
}
