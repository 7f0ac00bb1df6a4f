// Test support: a command line run through the shell, for the tests that
// run the tools as programs (POSIX only, as those tests are).
#ifndef TRANPAK_TESTS_RUN_COMMAND_H
#define TRANPAK_TESTS_RUN_COMMAND_H

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace tranpak::test {

struct Ran {
    int status = -1;
    std::string out;  // standard output
};

// Runs command through the shell: its exit status (-1 when it did not
// exit) and what it wrote to standard output.
inline Ran RunShell(const std::string &command)
{
    Ran r;
    std::FILE *p = popen(command.c_str(), "r");
    if (p == nullptr)
        return r;
    char chunk[8192];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, p)) > 0)
        r.out.append(chunk, n);
    const int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

}  // namespace tranpak::test

#endif
