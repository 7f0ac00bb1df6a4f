#include "tool_support.h"

#include "cli.h"
#include "message_view.h"
#include "shown_text.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

namespace tranpak::tools {

bool ParseHex(const std::string &hex, std::string *bytes)
{
    bytes->clear();
    int high = -1;
    for (char c : hex) {
        if (c == ' ' || c == ':' || c == '-')
            continue;
        int v = (c >= '0' && c <= '9')   ? c - '0'
                : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                         : -1;
        if (v < 0)
            return false;
        if (high < 0) {
            high = v;
        } else {
            bytes->push_back(static_cast<char>(high * 16 + v));
            high = -1;
        }
    }
    return high < 0;
}

std::string ToHex(const void *bytes, size_t count, const char *separator)
{
    static const char kDigits[] = "0123456789ABCDEF";
    const auto *b = static_cast<const unsigned char *>(bytes);
    std::string s;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0)
            s += separator;
        s += kDigits[b[i] >> 4];
        s += kDigits[b[i] & 15];
    }
    return s;
}

bool ParseKey(const std::string &hex, unsigned char key[8])
{
    std::string bytes;
    if (!ParseHex(hex, &bytes) || bytes.size() != 8)
        return false;
    std::memcpy(key, bytes.data(), 8);
    return true;
}

bool LoadDefinitions(TpSession *s, const std::string &bmpfile, const std::string &errfile)
{
    TpSettings settings{};
    settings.errFile = errfile.c_str();
    settings.bmpFile = bmpfile.c_str();
    return TpInit8583With(s, &settings) == 0;
}

std::string LastDetail(TpSession *s)
{
    TpError err{};
    err.size = sizeof err;
    if (TpGetLastError(s, &err) <= 0)
        return "";
    return ControlsEscaped(err.detail);
}

const char *TypeName(int type)
{
    static const char *const kNames[] = {"ANS", "NI", "NF", "A", "AN", "N", "B"};
    return type >= 0 && type <= 6 ? kNames[type] : "?";
}

std::string HexUngrouped(const std::string &text)
{
    std::string digits;
    for (char c : text)
        if (c != ' ' && c != ':' && c != '-')
            digits += c;
    return digits;
}

int SetFieldText(TpSession *s, int field, const std::string &text, std::string *why)
{
    // Asked first: every call, this one too, sets the session's last error.
    const int type = FieldType(s, field);
    // B values may be written in groups ("01 23", "01:23", "01-23"); the
    // library takes the digits alone.
    const std::string value = type == CELL_B ? HexUngrouped(text) : text;
    if (TpSetCellText(s, field, value.c_str()) == 0)
        return 0;
    // Text fields (and the type) are refused for what the library's log
    // line says; *why stays empty, as for a value the caller got wrong.
    if (type != CELL_NI && type != CELL_NF && type != CELL_B)
        return -1;
    if (type == CELL_NI) {
        *why = "field " + std::to_string(field) + " takes an integer from " +
               std::to_string(std::numeric_limits<int>::min()) + " to " +
               std::to_string(std::numeric_limits<int>::max()) + ", not " + text;
        return -1;
    }
    // The library's reason, without its prefix: "field 4: 0.125 has more
    // than 2 decimals".
    TpError err{};
    err.size = sizeof err;
    TpGetLastError(s, &err);
    static const char kPrefix[] = "tranpak: TpSetCellText() ";
    *why = std::strncmp(err.text, kPrefix, sizeof kPrefix - 1) == 0 ? err.text + sizeof kPrefix - 1 : err.text;
    return -1;
}

std::string DescribedValue(TpSession *s, int field)
{
    int len = 0;
    if (TpDescribeCell(s, field, 0, nullptr, 0, &len) != 0)
        return "";
    std::string out(static_cast<size_t>(len) + 1, '\0');
    if (TpDescribeCell(s, field, 0, out.data(), len + 1, &len) != 0)
        return "";
    out.resize(static_cast<size_t>(len));
    return out;
}

std::string DescribedBytes(TpSession *s, int field, const std::string &hex)
{
    if (TpSetCellText(s, field, hex.c_str()) != 0)
        return hex;
    const std::string shown = DescribedValue(s, field);
    TpResetCell(s, field);
    return shown.empty() ? hex : shown;
}

std::string FieldText(TpSession *s, int field)
{
    // The largest text is 400 bytes of B in hex and its NUL.
    char out[801];
    if (TpGetCellText(s, field, out, sizeof out) == 0)
        return out;
    // A received NI or NF that is no number of its type: shown as GetCell
    // reads it, as before the library gave text.
    char raw[512] = {};
    if (TpGetCell(s, field, raw) != 0)
        return "";
    const int type = TpGetCellType(s, field);
    if (type == CELL_NI) {
        int v;
        std::memcpy(&v, raw, sizeof v);
        return std::to_string(v);
    }
    if (type == CELL_NF) {
        double v;
        std::memcpy(&v, raw, sizeof v);
        char text[64];
        std::snprintf(text, sizeof text, "%.2f", v);
        return text;
    }
    return raw;
}

std::string ReplyType(const std::string &requestType, const std::string &fixed)
{
    if (!fixed.empty())
        return fixed;
    std::string reply = requestType;
    if (reply.size() == 4 && reply[2] >= '0' && reply[2] <= '8')
        ++reply[2];
    return reply;
}

bool SplitAssignment(const std::string &arg, int *field, std::string *value)
{
    size_t eq = arg.find('=');
    if (eq == std::string::npos || eq == 0)
        return false;
    const std::string number = arg.substr(0, eq);
    char *end = nullptr;
    long n = std::strtol(number.c_str(), &end, 10);
    if (*end != '\0' || n < 0 || n > kFieldCount)
        return false;
    *field = static_cast<int>(n);
    *value = arg.substr(eq + 1);
    return true;
}

long FileSize(const std::string &path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return in ? static_cast<long>(in.tellg()) : 0;
}

std::vector<std::string> LinesSince(const std::string &path, long size)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    if (!in)
        return lines;
    in.seekg(size);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

}  // namespace tranpak::tools
