// The keys of a profile (.ini) section, read from the file itself on every
// system, with the rules of the profile reader (profile_posix.cpp, and
// GetPrivateProfileStringA on Windows): sections and keys without regard to
// ASCII case, only the first section of a name, ';' lines left out, blanks
// and tabs around a key dropped, a line without '=' a key of its own.
#include "os/os.h"

#include <cstring>

namespace tranpak::os {
namespace {

// One line of the file; the rest of a longer line is read and dropped.
constexpr int kKeyLineSize = 4096;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const char *text, size_t len, const char *name)
{
    if (std::strlen(name) != len)
        return false;
    for (size_t i = 0; i < len; ++i)
        if (FoldCase(text[i]) != FoldCase(name[i]))
            return false;
    return true;
}

// [*begin, *end) without blanks or tabs at either end.
void Trim(const char **begin, const char **end)
{
    while (*begin < *end && IsBlank(**begin))
        ++*begin;
    while (*end > *begin && IsBlank((*end)[-1]))
        --*end;
}

// The next line without its CR/LF; false at the end of the file.
bool NextLine(LineFile &f, char (&line)[kKeyLineSize])
{
    const int n = LineFileGets(f, line, sizeof line);
    if (n == 0)
        return false;
    if (line[n - 1] != '\n') {
        char rest[kKeyLineSize];
        int got;
        while ((got = LineFileGets(f, rest, sizeof rest)) > 0 && rest[got - 1] != '\n') {
        }
    }
    line[std::strcspn(line, "\r\n")] = '\0';
    return true;
}

bool Known(const char *key, size_t len, const char *const *known, int count)
{
    for (int i = 0; i < count; ++i)
        if (SameName(key, len, known[i]))
            return true;
    return false;
}

// The first unknown key of the section into out; false when there is none.
bool ScanSection(LineFile &f, const char *section, const char *const *known, int count, char *out, int size)
{
    char line[kKeyLineSize];
    bool inSection = false;
    while (NextLine(f, line)) {
        const char *p = line;
        while (IsBlank(*p))
            ++p;
        if (*p == '[') {
            const char *close = std::strchr(p, ']');
            if (close == nullptr)
                continue;
            if (inSection)
                return false;
            const char *nb = p + 1, *ne = close;
            Trim(&nb, &ne);
            inSection = SameName(nb, static_cast<size_t>(ne - nb), section);
            continue;
        }
        if (!inSection || *p == ';' || *p == '\0')
            continue;
        const char *eq = std::strchr(p, '=');
        const char *kb = p, *ke = eq != nullptr ? eq : p + std::strlen(p);
        Trim(&kb, &ke);
        if (kb == ke || Known(kb, static_cast<size_t>(ke - kb), known, count))
            continue;
        size_t n = static_cast<size_t>(ke - kb);
        if (n > static_cast<size_t>(size - 1))
            n = static_cast<size_t>(size - 1);
        std::memcpy(out, kb, n);
        out[n] = '\0';
        return true;
    }
    return false;
}

}  // namespace

int FindProfileKeyOutside(const char *section, const char *const *known, int count, char *out, int size,
                          const char *file)
{
    if (size <= 0)
        return 0;
    out[0] = '\0';
    LineFile f;
    if (LineFileOpen(f, file) != 0)
        return 0;
    const bool found = ScanSection(f, section, known, count, out, size);
    LineFileClose(f);
    return found ? 1 : 0;
}

}  // namespace tranpak::os
