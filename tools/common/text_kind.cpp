#include "text_kind.h"

namespace tranpak::tools {
namespace {

bool Letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool Digit(char c) { return c >= '0' && c <= '9'; }
bool Space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// A value is read up to its first NUL, as the library reads field texts.
std::string UpToNul(const std::string &text) { return text.substr(0, text.find('\0')); }

}  // namespace

bool IsAlphaText(const std::string &text)
{
    for (char c : UpToNul(text))
        if (!Letter(c) && !Space(c))
            return false;
    return true;
}

bool IsAlnumText(const std::string &text)
{
    for (char c : UpToNul(text))
        if (!Letter(c) && !Digit(c) && !Space(c))
            return false;
    return true;
}

bool IsNumberText(const std::string &text)
{
    const std::string t = UpToNul(text);
    size_t i = !t.empty() && (t[0] == '+' || t[0] == '-') ? 1 : 0;
    for (; i < t.size(); ++i)
        if (!Digit(t[i]))
            return false;
    return true;
}

}  // namespace tranpak::tools
