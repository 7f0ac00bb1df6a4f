#include "confine.h"

#include <cctype>

namespace tranpak::tools {
namespace {

// Why the file system refused a request, as the host logs and answers it.
std::string RefusalText(os::Refused refused, const std::string &detail)
{
    switch (refused) {
    case os::Refused::kMissing:
        return "no such file";
    case os::Refused::kMissingOnTheWay:
        return "no such directory on the way (or a link there leads nowhere)";
    case os::Refused::kNotDirectoryOnTheWay:
        return "a file on the way is not a directory";
    case os::Refused::kDirectory:
        return "a directory";
    case os::Refused::kNotRegular:
        return "not a regular file (a pipe, socket or device)";
    case os::Refused::kLink:
        return "a symbolic link (not followed on this system)";
    case os::Refused::kLinkOutside:
        return "a symbolic link leads outside the served directory";
    case os::Refused::kLinkNowhere:
        return "a dangling symbolic link";
    case os::Refused::kLinkLoop:
        return "too many symbolic links";
    default:
        return detail.empty() ? "cannot be opened" : detail;
    }
}

// Why a request text is refused before the file system is asked.
std::string TextRefusal(const std::string &request)
{
    if (request.empty())
        return "an empty name";
    if (request.size() > kMaxRequestSize)
        return "a name of over " + std::to_string(kMaxRequestSize) + " characters";
    bool outside = request[0] == '/';
    size_t start = 0;
    for (;;) {
        const size_t slash = request.find('/', start);
        const std::string part = request.substr(start, slash == std::string::npos ? slash : slash - start);
        if (IsReservedDeviceName(part))
            return "a reserved device name";
        outside = outside || part.empty() || part == "." || part == "..";
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    if (outside)
        return "path outside the served directory";
    return "a name with a control byte, a backslash or a colon";
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
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '1' &&
           base[3] <= '9';
}

bool ConfinedRequest(const std::string &request)
{
    if (request.empty() || request.size() > kMaxRequestSize || request[0] == '/')
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
            return true;
        start = slash + 1;
    }
}

int OpenFetch(const os::ServedDir &dir, const std::string &request, std::string *why)
{
    if (!ConfinedRequest(request)) {
        *why = TextRefusal(request);
        return -1;
    }
    os::Refused refused = os::Refused::kNone;
    char detail[os::kRefusalDetailSize] = "";
    const int fd = dir.OpenForRead(request.c_str(), &refused, detail, sizeof detail);
    if (fd < 0)
        *why = RefusalText(refused, detail);
    return fd;
}

bool BeginStore(const os::ServedDir &dir, const std::string &request, os::PendingStore *store, std::string *why)
{
    if (!ConfinedRequest(request)) {
        *why = TextRefusal(request);
        return false;
    }
    os::Refused refused = os::Refused::kNone;
    char detail[os::kRefusalDetailSize] = "";
    if (dir.StoreBegin(request.c_str(), store, &refused, detail, sizeof detail))
        return true;
    *why = RefusalText(refused, detail);
    return false;
}

}  // namespace tranpak::tools
