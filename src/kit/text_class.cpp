#include "kit/text_class.h"

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

}  // namespace tranpak
