#include "confine.h"

#include "../common/os.h"

#include <cctype>

namespace tranpak::tools {
namespace {

const char *KindText(os::Kind kind)
{
    switch (kind) {
    case os::Kind::kDirectory:
        return "a directory";
    case os::Kind::kMissing:
        return "no such file";
    case os::Kind::kLink:
        return "a symbolic link";
    case os::Kind::kOther:
        return "not a regular file (a pipe, socket or device)";
    default:
        return "a file";
    }
}

// The real path of something that exists, checked to lie inside root.
bool RealInside(const std::string &root, const std::string &path, std::string *real, std::string *why)
{
    if (!os::RealPath(path, real)) {
        *why = os::EntryKind(path) == os::Kind::kLink ? "a dangling symbolic link" : "a link on the way leads nowhere";
        return false;
    }
    if (!IsInside(root, *real)) {
        *why = "a symbolic link leads outside the served directory";
        return false;
    }
    return true;
}

// Why a request text is refused before the file system is asked.
std::string TextRefusal(const std::string &request)
{
    size_t start = 0;
    for (;;) {
        const size_t slash = request.find('/', start);
        if (IsReservedDeviceName(request.substr(start, slash == std::string::npos ? slash : slash - start)))
            return "a reserved device name";
        if (slash == std::string::npos)
            return "path outside the served directory";
        start = slash + 1;
    }
}

}  // namespace

bool IsReservedDeviceName(const std::string &component)
{
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && (base.back() == ' ' || base.back() == '.'))
        base.pop_back();
    for (char &c : base)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL")
        return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

bool ConfinedPath(const std::string &dir, const std::string &request, std::string *path)
{
    if (request.empty() || request.size() > 200 || request[0] == '/')
        return false;
    size_t start = 0;
    for (;;) {
        size_t slash = request.find('/', start);
        std::string part = request.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part.empty() || part == "." || part == ".." || IsReservedDeviceName(part))
            return false;
        for (char c : part)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '\\' || c == ':')
                return false;
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    *path = dir + "/" + request;
    return true;
}

bool IsInside(const std::string &root, const std::string &path)
{
    if (path == root)
        return true;
    const std::string prefix = root.empty() || root.back() == '/' ? root : root + "/";
    return path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0;
}

bool ServedRoot(const std::string &dir, std::string *root)
{
    return os::RealPath(dir, root) && os::EntryKind(*root) == os::Kind::kDirectory;
}

bool ResolveFetch(const std::string &root, const std::string &request, std::string *real, std::string *why)
{
    std::string path;
    if (!ConfinedPath(root, request, &path)) {
        *why = TextRefusal(request);
        return false;
    }
    const os::Kind kind = os::EntryKind(path);
    if (kind == os::Kind::kMissing) {
        // A link on the way may lead nowhere: say which.
        *why = os::RealPath(path, real) ? "no such file" : "no such file (or a link on the way leads nowhere)";
        return false;
    }
    if (!RealInside(root, path, real, why))
        return false;
    const os::Kind target = os::EntryKind(*real);
    if (target != os::Kind::kFile) {
        *why = KindText(target);
        return false;
    }
    return true;
}

bool ResolveStore(const std::string &root, const std::string &request, std::string *real, std::string *why)
{
    std::string path;
    if (!ConfinedPath(root, request, &path)) {
        *why = TextRefusal(request);
        return false;
    }
    const os::Kind kind = os::EntryKind(path);
    if (kind != os::Kind::kMissing) {
        if (!RealInside(root, path, real, why))
            return false;
        const os::Kind target = os::EntryKind(*real);
        if (target != os::Kind::kFile) {
            *why = KindText(target);
            return false;
        }
        return true;
    }
    const size_t slash = path.rfind('/');
    std::string parent;
    if (!RealInside(root, path.substr(0, slash), &parent, why))
        return false;
    if (os::EntryKind(parent) != os::Kind::kDirectory) {
        *why = "its directory is not a directory";
        return false;
    }
    *real = parent + path.substr(slash);
    return true;
}

}  // namespace tranpak::tools
