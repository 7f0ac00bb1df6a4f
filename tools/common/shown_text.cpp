#include "shown_text.h"

#include "cli.h"
#include "message_view.h"
#include "tranpak.h"

#include <cstdio>

namespace tranpak::tools {

namespace {

// A value as the library shows it for field (0: no field) under flags.
std::string Shown(int field, int flags, const std::string &value)
{
    int len = 0;
    TpShowValue(field, flags, value.data(), static_cast<int>(value.size()), nullptr, 0, &len);
    std::string out(static_cast<size_t>(len) + 1, '\0');
    if (TpShowValue(field, flags, value.data(), static_cast<int>(value.size()), out.data(), len + 1, &len) != 0)
        return "";
    out.resize(static_cast<size_t>(len));
    return out;
}

}  // namespace

const std::set<int> &DefaultMaskedFields()
{
    // The fields whose values the library masks by default.
    static const std::set<int> kFields = [] {
        std::set<int> fields;
        for (int f = 1; f <= kFieldCount; ++f)
            if (Shown(f, 0, "x") != "x")
                fields.insert(f);
        return fields;
    }();
    return kFields;
}

bool ParseFieldList(const std::string &text, std::set<int> *fields)
{
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        long n;
        if (!ParseInteger(item, 1, kFieldCount, &n))
            return false;
        fields->insert(static_cast<int>(n));
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
}

std::string Mask(const std::string &value) { return Shown(0, TP_SHOW_MASKED, value); }

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

std::string Escaped(const std::string &value) { return Shown(0, TP_DESCRIBE_UNMASKED, value); }

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
