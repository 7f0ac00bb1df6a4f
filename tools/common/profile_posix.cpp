#include "profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace tranpak::tools {
namespace {

// A line is read up to 4095 characters; the rest of a longer one is lost.
constexpr size_t kLineMax = 4095;
constexpr size_t kValueMax = 299;

bool Blank(char c) { return c == ' ' || c == '\t'; }

std::string Trimmed(const std::string &s)
{
    size_t a = 0, b = s.size();
    while (a < b && Blank(s[a]))
        ++a;
    while (b > a && Blank(s[b - 1]))
        --b;
    return s.substr(a, b - a);
}

bool SameName(const std::string &a, const char *b)
{
    size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        const char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
        if (x != y)
            return false;
    }
    return i == a.size() && b[i] == '\0';
}

// A pipe or a device is no settings file: it is never read (nor waited on).
std::FILE *OpenRegular(const std::string &path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd < 0)
        return nullptr;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) & ~O_NONBLOCK);
    std::FILE *f = fdopen(fd, "r");
    if (f == nullptr)
        close(fd);
    return f;
}

bool ReadLine(std::FILE *f, std::string *line)
{
    line->clear();
    int c;
    bool any = false;
    while ((c = std::fgetc(f)) != EOF) {
        any = true;
        if (c == '\n')
            break;
        if (line->size() < kLineMax)
            line->push_back(static_cast<char>(c));
    }
    const size_t end = line->find_first_of("\r\n");
    if (end != std::string::npos)
        line->resize(end);
    return any;
}

bool Find(std::FILE *f, const char *section, const char *key, std::string *value)
{
    bool inSection = false;
    std::string line;
    while (ReadLine(f, &line)) {
        size_t p = 0;
        while (p < line.size() && Blank(line[p]))
            ++p;
        if (p < line.size() && line[p] == '[') {
            const size_t close = line.find(']', p);
            if (close == std::string::npos)
                continue;
            // A later section of the same name is never searched.
            if (inSection)
                return false;
            inSection = SameName(Trimmed(line.substr(p + 1, close - p - 1)), section);
            continue;
        }
        if (!inSection || (p < line.size() && line[p] == ';'))
            continue;
        const size_t eq = line.find('=', p);
        const std::string name = Trimmed(line.substr(p, eq == std::string::npos ? std::string::npos : eq - p));
        if (name.empty() || !SameName(name, key))
            continue;
        std::string v = eq == std::string::npos ? "" : Trimmed(line.substr(eq + 1));
        if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0])
            v = v.substr(1, v.size() - 2);
        *value = v;
        return true;
    }
    return false;
}

}  // namespace

std::string ReadProfileValue(const std::string &file, const char *section, const char *key, const char *fallback)
{
    std::string value = fallback;
    std::FILE *f = OpenRegular(file);
    if (f != nullptr) {
        if (!Find(f, section, key, &value))
            value = fallback;
        std::fclose(f);
    }
    return value.substr(0, kValueMax);
}

}  // namespace tranpak::tools
