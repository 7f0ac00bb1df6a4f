#include "shown_text.h"

#include "cli.h"

#include <cstdio>

namespace tranpak::tools {

const std::set<int> &DefaultMaskedFields()
{
    static const std::set<int> kFields{2, 14, 35, 36, 45, 52};
    return kFields;
}

bool ParseFieldList(const std::string &text, std::set<int> *fields)
{
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        long n;
        if (!ParseInteger(item, 1, 64, &n))
            return false;
        fields->insert(static_cast<int>(n));
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
}

std::string Mask(const std::string &value)
{
    if (value.size() <= 4)
        return std::string(value.size(), '*');
    return std::string(value.size() - 4, '*') + value.substr(value.size() - 4);
}

namespace {

// Every byte below 0x20 and from 0x7F up as \xHH; a backslash doubled
// when asked, so that the result reads back without doubt.
std::string EscapedBytes(const std::string &text, bool doubleBackslash)
{
    std::string out;
    for (unsigned char c : text) {
        if (c == '\\' && doubleBackslash) {
            out += "\\\\";
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02X", c);
            out += esc;
        }
    }
    return out;
}

}  // namespace

std::string Escaped(const std::string &value) { return EscapedBytes(value, true); }

std::string ControlsEscaped(const std::string &text) { return EscapedBytes(text, false); }

std::string JsonString(const std::string &value)
{
    std::string out = "\"";
    for (unsigned char c : value) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04X", c);
            out += esc;
        }
    }
    return out + "\"";
}

}  // namespace tranpak::tools
