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

std::string Escaped(const std::string &value)
{
    std::string out;
    for (unsigned char c : value) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02X", c);
            out += esc;
        }
    }
    return out;
}

std::string ControlsEscaped(const std::string &text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
            continue;
        }
        char esc[8];
        std::snprintf(esc, sizeof esc, "\\x%02X", c);
        out += esc;
    }
    return out;
}

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
