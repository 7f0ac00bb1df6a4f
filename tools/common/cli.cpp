#include "cli.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifndef TRANPAK_VERSION
#  define TRANPAK_VERSION "unknown"
#endif

namespace tranpak::tools {
namespace {

const OptionSpec *FindSpec(const std::vector<OptionSpec> &specs, const std::string &name)
{
    for (const OptionSpec &s : specs)
        if (name == s.name)
            return &s;
    return nullptr;
}

}  // namespace

bool ParseCommandLine(int argc, char **argv, const std::vector<OptionSpec> &specs, std::vector<CliItem> *items,
                      std::string *error)
{
    items->clear();
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
            items->push_back({"", arg});
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg.size() < 3 || arg[1] != '-') {
            *error = "unknown option " + arg;
            return false;
        }
        const size_t eq = arg.find('=');
        const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
        const OptionSpec *spec = FindSpec(specs, name);
        if (spec == nullptr) {
            *error = "unknown option --" + name;
            return false;
        }
        if (!spec->takesValue) {
            if (eq != std::string::npos) {
                *error = "option --" + name + " takes no value";
                return false;
            }
            items->push_back({name, ""});
        } else if (eq != std::string::npos) {
            items->push_back({name, arg.substr(eq + 1)});
        } else if (i + 1 < argc) {
            items->push_back({name, argv[++i]});
        } else {
            *error = "option --" + name + " needs a value";
            return false;
        }
    }
    return true;
}

bool ParseInteger(const std::string &text, long min, long max, long *out)
{
    size_t at = 0;
    bool negative = false;
    if (min < 0 && !text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        at = 1;
    }
    if (at >= text.size() || text.size() - at > 18)
        return false;
    // 18 digits fit a long long; a long has 32 bits on Windows.
    long long value = 0;
    for (; at < text.size(); ++at) {
        if (text[at] < '0' || text[at] > '9')
            return false;
        value = value * 10 + (text[at] - '0');
    }
    if (negative)
        value = -value;
    if (value < min || value > max)
        return false;
    *out = static_cast<long>(value);
    return true;
}

bool ParsePort(const std::string &text, int *port)
{
    long v;
    if (!ParseInteger(text, 0, 65535, &v))
        return false;
    *port = static_cast<int>(v);
    return true;
}

int UsageError(const char *tool, const std::string &message)
{
    std::fprintf(stderr, "%s: %s (see %s --help)\n", tool, message.c_str(), tool);
    return kExitUsage;
}

void PrintVersion(const char *tool) { std::printf("%s %s\n", tool, TRANPAK_VERSION); }

int FinishOutput(const char *tool, int rc)
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "%s: cannot write standard output: %s\n", tool, std::strerror(errno));
        return rc != 0 ? rc : 1;
    }
    return rc;
}

}  // namespace tranpak::tools
