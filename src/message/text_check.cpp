#include "message/text_check.h"

#include <cstring>

namespace tranpak {

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

int IsTrack2Text(const char *text)
{
    int separators = 0;
    for (const char *p = text; *p != '\0'; ++p) {
        if (*p == kTrack2Separator || *p == kTrack2SeparatorNibble)
            ++separators;
        else if (!IsCDigit(*p))
            return 0;
    }
    return separators <= 1 ? 1 : 0;
}

}  // namespace tranpak
