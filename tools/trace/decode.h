// Decoding communication traces and frames for people to read.
#ifndef TRANPAK_TOOLS_DECODE_H
#define TRANPAK_TOOLS_DECODE_H

#include <set>
#include <string>
#include <vector>

namespace tranpak::tools {

// One block of a trace file.
struct TraceBlock {
    std::string time;   // "MM-DD HH:MM:SS"
    std::string label;  // "send mesg body", "recv mesg head", "recv mesg data"
    int count = 0;      // the count in the header
    std::string bytes;  // the bytes of the dump lines
};

std::vector<TraceBlock> ParseTrace(const std::string &text);

// A whole packet as it crossed the wire: a sent body, or a received head
// with the data that followed it.
struct TracedFrame {
    std::string time;
    std::string label;  // "sent" or "received"
    std::string bytes;
};

std::vector<TracedFrame> JoinFrames(const std::vector<TraceBlock> &blocks);

struct DecodeOptions {
    std::set<int> masked{2, 14, 35, 36, 45, 52};  // card data
    bool unmask = false;
    bool haveKey = false;
    unsigned char key[8] = {};
};

// A report of the frame against the loaded field definitions: framing,
// message type, bitmap, one line per field, the MAC when a key is given.
// A frame that does not decode is described up to the failing field, with
// the reason and the offset, then shown as raw hex.
std::string DescribeFrame(const std::string &frame, const DecodeOptions &options);

// All but the last four characters as '*'.
std::string Mask(const std::string &value);

}  // namespace tranpak::tools

#endif
