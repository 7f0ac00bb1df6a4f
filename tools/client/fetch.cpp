#include "fetch.h"

#include "os_programs.h"

#include <algorithm>
#include <filesystem>
#include <memory>

namespace tranpak::tools {
namespace {

namespace fs = std::filesystem;

constexpr char kTempPrefix[] = "tranpak-";
constexpr char kTempSuffix[] = ".part";
constexpr size_t kTempDigits = 6;
constexpr int kPollMillis = 50;

bool IsTemporaryName(const std::string &name)
{
    const size_t prefix = sizeof kTempPrefix - 1, suffix = sizeof kTempSuffix - 1;
    if (name.size() != prefix + kTempDigits + suffix || name.compare(0, prefix, kTempPrefix) != 0 ||
        name.compare(prefix + kTempDigits, suffix, kTempSuffix) != 0)
        return false;
    return std::all_of(name.begin() + prefix, name.begin() + prefix + kTempDigits,
                       [](char c) { return c >= '0' && c <= '9'; });
}

// The directory the library puts its temporary file in: the local path's,
// after following links as far as they lead.
std::string FetchDirectory(const std::string &local)
{
    std::error_code ec;
    fs::path full = fs::weakly_canonical(fs::absolute(local, ec), ec);
    if (ec)
        full = fs::path(local);
    const fs::path parent = full.parent_path();
    return parent.empty() ? "." : parent.string();
}

// What the fetching thread and the caller share; the thread's copy keeps
// it alive when the caller leaves before the call ends.
struct FetchCall {
    TpSession *s = nullptr;
    std::string host, request, local;
    int port = 0;
    bool text = false;
    int rc = -1;
    std::atomic<bool> finished{false};
};

}  // namespace

std::vector<std::string> TemporaryFetchFiles(const std::string &directory)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (IsTemporaryName(name))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

FetchEnd FetchStoppable(TpSession *s, const std::string &host, int port, const std::string &request,
                        const std::string &local, bool text, const std::atomic<int> &stop,
                        std::vector<std::string> *left)
{
    const std::string directory = FetchDirectory(local);
    const std::vector<std::string> before = TemporaryFetchFiles(directory);
    auto call = std::make_unique<FetchCall>();
    call->s = s;
    call->host = host;
    call->request = request;
    call->local = local;
    call->port = port;
    call->text = text;
    // Left running when stopped, with its call: the thread cannot be
    // joined before the library's call returns, and the process ends first.
    auto *thread = new os::Thread;
    auto run = [](void *arg) {
        auto *c = static_cast<FetchCall *>(arg);
        c->rc = (c->text ? TpSockRecvFile : TpSockRecvBinFile)(c->s, c->host.c_str(), c->port, c->request.c_str(),
                                                               c->local.c_str());
        c->finished = true;
    };
    const bool started = thread->Start(run, call.get());
    if (!started) {
        delete thread;
        call->rc = (text ? TpSockRecvFile : TpSockRecvBinFile)(s, host.c_str(), port, request.c_str(), local.c_str());
        return call->rc == 0 ? FetchEnd::kDone : FetchEnd::kFailed;
    }
    while (!call->finished.load() && stop.load() == 0)
        os::SleepMillis(kPollMillis);
    if (call->finished.load()) {
        thread->Join();
        delete thread;
        return call->rc == 0 ? FetchEnd::kDone : FetchEnd::kFailed;
    }
    call.release();  // the thread still runs on it
    for (const std::string &name : TemporaryFetchFiles(directory)) {
        if (std::binary_search(before.begin(), before.end(), name))
            continue;
        const std::string path = (fs::path(directory) / name).string();
        // A name of the same form may be another fetch's, into the same
        // folder: only the file this process holds open is this call's.
        const int held = os::HeldOpenHere(path.c_str());
        if (held == 0)
            continue;
        std::error_code ec;
        if (held < 0 ? fs::exists(path, ec) : !fs::remove(path, ec) && ec)
            left->push_back(path);
    }
    return FetchEnd::kStopped;
}

}  // namespace tranpak::tools
