// Command lines of the tools: --opt value and --opt=value, flags, operands,
// numbers with range checks, and the ending every tool shares (standard
// output flushed and checked).
#ifndef TRANPAK_TOOLS_CLI_H
#define TRANPAK_TOOLS_CLI_H

#include <string>
#include <vector>

namespace tranpak::tools {

// Exit code of every usage error, in all three tools.
inline constexpr int kExitUsage = 2;

struct OptionSpec {
    const char *name;  // without the leading "--"
    bool takesValue;
};

// One parsed item: an option (name without "--", its value if it takes
// one) or an operand (name empty).
struct CliItem {
    std::string name;
    std::string value;
    bool operand() const { return name.empty(); }
};

// Splits argv into items. "--" ends the options; "-" alone is an operand.
// False with *error naming the argument for an unknown option, a value
// given to a flag, a missing value, or a single-dash option.
bool ParseCommandLine(int argc, char **argv, const std::vector<OptionSpec> &specs, std::vector<CliItem> *items,
                      std::string *error);

// A decimal integer, optionally signed when min < 0, from min to max;
// nothing else (no blanks, no hex, no trailing characters).
bool ParseInteger(const std::string &text, long min, long max, long *out);
// A TCP port, 0 to 65535.
bool ParsePort(const std::string &text, int *port);

// Prints "TOOL: message" to standard error and returns kExitUsage.
int UsageError(const char *tool, const std::string &message);

// "TOOL VERSION" on standard output.
void PrintVersion(const char *tool);

// The tools' last step: flushes standard output; when it cannot be written
// (a full disk, a closed pipe) says so on standard error and returns 1
// unless rc already says failure.
int FinishOutput(const char *tool, int rc);

}  // namespace tranpak::tools

#endif
