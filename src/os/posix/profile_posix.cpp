// Profile (.ini) file reader for POSIX, behaving like Windows'
// GetPrivateProfileStringA for the files this library reads:
//
//   ; a comment line
//   [Section Name]
//   Key = value            -> "value"
//   Other="quoted value"   -> "quoted value"
//
// Sections and keys match without regard to ASCII case; only the first
// section of a name is searched, and its first matching key wins; a key
// line without '=' is that key with an empty value; blanks and tabs around
// keys and values are dropped; a value enclosed in a matching pair of ' or "
// loses the pair.
#include "os/os.h"

#include <cstring>

namespace tranpak::os {
namespace {

// One line of the profile file; the rest of a longer line is discarded.
constexpr int kProfileLineSize = 4096;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Compares the len characters at text with name, ignoring case.
bool SameName(const char *text, size_t len, const char *name)
{
    if (std::strlen(name) != len)
        return false;
    for (size_t i = 0; i < len; ++i)
        if (FoldCase(text[i]) != FoldCase(name[i]))
            return false;
    return true;
}

// Narrows [*begin, *end) so that it has no blanks or tabs at either end.
void TrimSpan(const char **begin, const char **end)
{
    while (*begin < *end && IsBlank(**begin))
        ++*begin;
    while (*end > *begin && IsBlank((*end)[-1]))
        --*end;
}

// Reads one line into line (without its CR/LF); false at end of file.
bool ReadLine(LineFile &f, char (&line)[kProfileLineSize])
{
    const int n = LineFileGets(f, line, sizeof line);
    if (n == 0)
        return false;
    // The count, not strlen: a NUL byte in the line must neither pass for
    // its end (the next line would be dropped as its rest) nor leave an
    // empty piece to index before.
    if (line[n - 1] != '\n') {
        // The rest of a longer line is read and dropped.
        char rest[kProfileLineSize];
        int got;
        while ((got = LineFileGets(f, rest, sizeof rest)) > 0 && rest[got - 1] != '\n') {
        }
    }
    line[std::strcspn(line, "\r\n")] = '\0';
    return true;
}

int CopyOut(const char *begin, const char *end, char *out, int size)
{
    if (size <= 0)
        return 0;
    size_t n = static_cast<size_t>(end - begin);
    if (n > static_cast<size_t>(size - 1))
        n = static_cast<size_t>(size - 1);
    std::memmove(out, begin, n);
    out[n] = '\0';
    return static_cast<int>(n);
}

// Looks the key up; true and the value's span when found.
bool FindValue(LineFile &f, const char *section, const char *key, char (&line)[kProfileLineSize],
               const char **vbegin, const char **vend)
{
    bool inSection = false;
    while (ReadLine(f, line)) {
        const char *p = line;
        while (IsBlank(*p))
            ++p;
        if (*p == '[') {
            const char *close = std::strchr(p, ']');
            if (close == nullptr)
                continue;
            const char *nb = p + 1, *ne = close;
            TrimSpan(&nb, &ne);
            // A later section of the same name is never searched.
            if (inSection)
                return false;
            inSection = SameName(nb, static_cast<size_t>(ne - nb), section);
            continue;
        }
        if (!inSection || *p == ';')
            continue;
        const char *lineEnd = line + std::strlen(line);
        const char *eq = std::strchr(p, '=');
        const char *kb = p, *ke = eq != nullptr ? eq : lineEnd;
        TrimSpan(&kb, &ke);
        if (kb == ke || !SameName(kb, static_cast<size_t>(ke - kb), key))
            continue;
        const char *vb = eq != nullptr ? eq + 1 : lineEnd, *ve = lineEnd;
        TrimSpan(&vb, &ve);
        if (ve - vb >= 2 && (*vb == '"' || *vb == '\'') && ve[-1] == *vb) {
            ++vb;
            --ve;
        }
        *vbegin = vb;
        *vend = ve;
        return true;
    }
    return false;
}

}  // namespace

int ReadProfileString(const char *section, const char *key, const char *fallback, char *out, int size,
                      const char *file)
{
    char line[kProfileLineSize];
    const char *vb = nullptr, *ve = nullptr;
    // A settings path naming a pipe or device reads as no file at all.
    LineFile f;
    bool found = false;
    if (LineFileOpen(f, file) == 0) {
        found = FindValue(f, section, key, line, &vb, &ve);
        LineFileClose(f);
    }
    if (!found) {
        vb = fallback;
        ve = fallback + std::strlen(fallback);
    }
    return CopyOut(vb, ve, out, size);
}

}  // namespace tranpak::os
