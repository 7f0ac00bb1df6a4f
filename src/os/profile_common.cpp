// The profile (.ini) file read line by line, the same on every system, with
// the rules of GetPrivateProfileStringA as the POSIX reader keeps them:
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
// loses the pair. Every key asked for, and the keys of a section checked
// against a list, are read in one pass over the file.
#include "os/profile_common.h"

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

void CopyOut(const char *begin, const char *end, char *out, int size)
{
    if (size <= 0)
        return;
    size_t n = static_cast<size_t>(end - begin);
    if (n > static_cast<size_t>(size - 1))
        n = static_cast<size_t>(size - 1);
    std::memmove(out, begin, n);
    out[n] = '\0';
}

bool Known(const char *key, size_t len, const char *const *known, int count)
{
    for (int i = 0; i < count; ++i)
        if (SameName(key, len, known[i]))
            return true;
    return false;
}

// Where one pass stands with a section asked for: before its first
// section, inside it, or past it (a later section of the same name is
// never searched), or done with it (the key found).
enum SectionState : unsigned char { kBefore, kInside, kPast };

// Moves a state on at a section header named [nb, ne).
SectionState Enter(SectionState state, const char *section, const char *nb, const char *ne)
{
    if (state == kInside)
        return kPast;
    if (state == kBefore && SameName(nb, static_cast<size_t>(ne - nb), section))
        return kInside;
    return state;
}

// The checked sections of a chain, at most kMostProfileStrays.
int StrayCount(const ProfileStray *stray)
{
    int n = 0;
    for (; stray != nullptr && n < kMostProfileStrays; stray = stray->next)
        ++n;
    return n;
}

// The pass itself: found[i] set for each key whose value was copied out,
// and each checked section of the chain looked through.
void ScanLines(LineFile &f, const ProfileKey *keys, int count, bool *found, ProfileStray *strays)
{
    SectionState state[kMostProfileKeys] = {};
    ProfileStray *stray[kMostProfileStrays] = {};
    SectionState strayState[kMostProfileStrays] = {};
    const int strayCount = StrayCount(strays);
    for (int k = 0; k < strayCount; ++k, strays = strays->next)
        stray[k] = strays;
    int open = count;             // keys not yet found whose section is not past
    int openStrays = strayCount;  // checked sections not yet past
    char line[kProfileLineSize];
    while ((open > 0 || openStrays > 0) && ReadLine(f, line)) {
        const char *p = line;
        while (IsBlank(*p))
            ++p;
        if (*p == '[') {
            const char *close = std::strchr(p, ']');
            if (close == nullptr)
                continue;
            const char *nb = p + 1, *ne = close;
            TrimSpan(&nb, &ne);
            for (int i = 0; i < count; ++i) {
                if (found[i] || state[i] == kPast)
                    continue;
                state[i] = Enter(state[i], keys[i].section, nb, ne);
                if (state[i] == kPast)
                    --open;
            }
            for (int k = 0; k < strayCount; ++k) {
                if (strayState[k] == kPast)
                    continue;
                strayState[k] = Enter(strayState[k], stray[k]->section, nb, ne);
                if (strayState[k] == kPast)
                    --openStrays;
            }
            continue;
        }
        if (*p == ';')
            continue;
        const char *lineEnd = line + std::strlen(line);
        const char *eq = std::strchr(p, '=');
        const char *kb = p, *ke = eq != nullptr ? eq : lineEnd;
        TrimSpan(&kb, &ke);
        if (kb == ke)
            continue;
        const size_t keyLen = static_cast<size_t>(ke - kb);
        for (int i = 0; i < count; ++i) {
            if (found[i] || state[i] != kInside || !SameName(kb, keyLen, keys[i].key))
                continue;
            const char *vb = eq != nullptr ? eq + 1 : lineEnd, *ve = lineEnd;
            TrimSpan(&vb, &ve);
            if (ve - vb >= 2 && (*vb == '"' || *vb == '\'') && ve[-1] == *vb) {
                ++vb;
                --ve;
            }
            CopyOut(vb, ve, keys[i].out, keys[i].size);
            found[i] = true;
            --open;
        }
        for (int k = 0; k < strayCount; ++k) {
            if (strayState[k] != kInside || Known(kb, keyLen, stray[k]->known, stray[k]->count))
                continue;
            CopyOut(kb, ke, stray[k]->out, stray[k]->size);
            stray[k]->found = 1;
            strayState[k] = kPast;
            --openStrays;
        }
    }
}

}  // namespace

void ScanProfileFile(const char *file, const ProfileKey *keys, int count, ProfileStray *stray)
{
    bool found[kMostProfileKeys] = {};
    for (ProfileStray *s = stray; s != nullptr; s = s->next) {
        s->found = 0;
        CopyOut("", "", s->out, s->size);
    }
    // A settings path naming a pipe or device reads as no file at all.
    LineFile f;
    if (LineFileOpen(f, file) == 0) {
        ScanLines(f, keys, count, found, stray);
        LineFileClose(f);
    }
    for (int i = 0; i < count; ++i)
        if (!found[i])
            CopyOut(keys[i].fallback, keys[i].fallback + std::strlen(keys[i].fallback), keys[i].out, keys[i].size);
}

int FindProfileKeyOutside(const char *section, const char *const *known, int count, char *out, int size,
                          const char *file)
{
    if (size <= 0)
        return 0;
    ProfileStray stray{section, known, count, out, size, 0, nullptr};
    ScanProfileFile(file, nullptr, 0, &stray);
    return stray.found;
}

}  // namespace tranpak::os
