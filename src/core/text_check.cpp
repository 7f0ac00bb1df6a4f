#include "core/text_check.h"

#include <cstring>

namespace tranpak {

bool IsCLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool IsCDigit(char c) { return c >= '0' && c <= '9'; }

bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int IsAlphaText(const char *text)
{
    for (const char *p = text; *p != '\0'; ++p)
        if (!IsCLetter(*p) && !IsCSpace(*p))
            return 0;
    return 1;
}

int IsAlnumText(const char *text)
{
    for (const char *p = text; *p != '\0'; ++p)
        if (!IsCLetter(*p) && !IsCDigit(*p) && !IsCSpace(*p))
            return 0;
    return 1;
}

int IsNumberText(const char *text)
{
    const char *p = text;
    if (*p == '+' || *p == '-')
        ++p;
    for (; *p != '\0'; ++p)
        if (!IsCDigit(*p))
            return 0;
    return 1;
}

int TrimLeft(char *text)
{
    size_t skip = std::strspn(text, " \t");
    if (skip > 0)
        std::memmove(text, text + skip, std::strlen(text + skip) + 1);
    return 0;
}

int TrimRight(char *text)
{
    size_t len = std::strlen(text);
    while (len > 0 && text[len - 1] == ' ')
        --len;
    text[len] = '\0';
    return 0;
}

}  // namespace tranpak
