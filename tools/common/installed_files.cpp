#include "installed_files.h"

#include "os_programs.h"

#include <filesystem>

namespace tranpak::tools {
namespace {

bool IsFile(const std::filesystem::path &p)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(p, ec);
}

}  // namespace

std::string DefaultDefinitions()
{
    if (IsFile(kLibraryDefinitions))
        return kLibraryDefinitions;
    char self[os::kProgramPathSize];
    if (!os::ProgramPath(self, sizeof self))
        return kLibraryDefinitions;
    const std::filesystem::path folder = std::filesystem::path(self).parent_path();
    for (const char *relative : kBesideProgram) {
        const std::filesystem::path candidate = (folder / relative).lexically_normal();
        if (IsFile(candidate))
            return candidate.generic_string();
    }
    return kLibraryDefinitions;
}

std::string BesideSettings(const std::string &path, const std::string &settings)
{
    const std::filesystem::path p(path);
    if (path.empty() || p.is_absolute() || IsFile(p))
        return path;
    const std::filesystem::path beside = (std::filesystem::path(settings).parent_path() / p).lexically_normal();
    return IsFile(beside) ? beside.generic_string() : path;
}

}  // namespace tranpak::tools
