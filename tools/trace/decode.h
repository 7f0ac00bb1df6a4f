// Decoding communication traces and frames for people to read.
#ifndef TRANPAK_TOOLS_DECODE_H
#define TRANPAK_TOOLS_DECODE_H

#include "../common/mac_choice.h"
#include "../common/shown_text.h"
#include "../common/wire_choice.h"
#include "tranpak.h"

#include <set>
#include <string>
#include <vector>

namespace tranpak::tools {

// One block of a trace file:
//
//   {12-07 10:31:02 send mesg body} [len = 054]
//   0000 : 02-30-30-34 38-30-32-30 ... || .0048020...
struct TraceBlock {
    std::string time;   // "MM-DD HH:MM:SS"
    std::string label;  // "send mesg body", "recv mesg head", "recv mesg data"
    long count = 0;     // the count in the header
    std::string bytes;  // the bytes of the dump lines
};

// Reads header and dump lines; anything else is skipped, as are lines and
// block bytes beyond the bounds in trace_stream.h. Never throws: numbers
// are range checked. (The tool reads its input through TraceStream.)
std::vector<TraceBlock> ParseTrace(const std::string &text);

// A whole packet as it crossed the wire: a sent body, or a received head
// with the data that followed it.
struct TracedFrame {
    std::string time;
    std::string label;  // "sent", "received", or the block's own label
    std::string bytes;
};

// Joins a received head with the data block after it. A data block with
// no head before it gets a head made from its length, so its fields are
// still found where they are (and masked).
std::vector<TracedFrame> JoinFrames(const std::vector<TraceBlock> &blocks);

struct DecodeOptions {
    TpSession *definitions = nullptr;  // a session started with the field definitions
    std::set<int> masked = DefaultMaskedFields();
    bool unmask = false;
    bool haveKey = false;
    MacChoice mac;  // --key, --mac, --mac-padding
    // --settings: the dialect frames are read in. Under any but the seed's
    // the library reads them (TpUnpackMesg on definitions, which must speak
    // the dialect, and TpCheckMesgMac under mac); nullptr: the seed's.
    const WireChoice *wire = nullptr;
};

struct FieldReport {
    int number = 0;
    std::string name, type, prefix;
    std::string value;  // as shown: escaped, B as hex, masked when asked
};

enum class MacStatus { kNotChecked, kNone, kVerified, kFailed };

struct FrameReport {
    size_t size = 0;
    bool complete = false;  // at least the 17 bytes before the data (a dialect: its least frame)
    size_t least = 17;      // what complete asks for
    std::string dialect;    // a dialect other than the seed's, as WireSummary words it; else empty
    std::string header;     // a dialect's header as it came, hex
    bool envelope = true;   // start and stop bytes around the frame
    unsigned start = 0, stop = 0;
    std::string digits;    // the length digits as shown (a dialect: its length bytes in hex)
    int follow = 0;        // bytes after start and length digits (a dialect: the bytes its length counts)
    int lengthValue = -1;  // a dialect's length as read, -1 when it is no length
    bool startOk = false, digitsOk = false, stopOk = false;
    std::string type;    // as shown
    std::string bitmap;  // hex
    std::vector<int> bitmapFields;
    std::vector<FieldReport> fields;
    std::string failure;  // empty when every field decoded
    size_t trailing = 0;  // bytes after the last field
    MacStatus mac = MacStatus::kNotChecked;
    std::string raw;  // hex rows, masked bytes as "**"; set when not ok()

    bool ok() const
    {
        return complete && startOk && digitsOk && stopOk && failure.empty() && mac != MacStatus::kFailed;
    }
};

// Decodes the frame against the definitions' fields: framing,
// message type, bitmap, the fields up to one that does not decode, the
// MAC when a key is given. A frame that is not ok() also gets its raw hex,
// with the bytes of masked fields (and everything after a field that does
// not decode, when a masked field could be there) as "**".
FrameReport DecodeFrame(const std::string &frame, const DecodeOptions &options);

// The report as text lines, and as one JSON object (no line feed).
std::string FrameText(const FrameReport &report);
std::string FrameJson(const FrameReport &report, const std::string &time, const std::string &label);

// A frame of a dialect other than the seed's, read by the library: the
// head and the length checked here, the rest by TpUnpackMesg, whose
// refusal (with its field and frame offset) is the failure. A raw dump
// hides runs of 13 or more digits (ASCII, EBCDIC, and of 7 or more BCD
// bytes under NUMBERS=BCD) but their last four.
FrameReport DecodeDialectFrame(const std::string &frame, const DecodeOptions &options);

// FrameText(DecodeFrame(frame, options)).
std::string DescribeFrame(const std::string &frame, const DecodeOptions &options);

}  // namespace tranpak::tools

#endif
