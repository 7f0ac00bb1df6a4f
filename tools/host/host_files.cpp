// The host's side of file transfers. A store is written to a temporary
// file beside its target and put in place only after the client's '4',
// so a failed or cut-off store leaves an existing file as it was. A fetch
// is logged as sent only when its closing '4' went out. Either ends by
// --transfer-timeout, counted from the request frame, besides each frame's
// own deadline. A request refused (a name outside, a link, a directory...)
// is answered with '3' at once and its connection ended, so a client
// cannot hold a slot with a store that will never be kept.
#include "os_programs.h"
#include "../common/shown_text.h"
#include "client_link.h"
#include "host.h"
#include "wire.h"

namespace tranpak::tools {

std::string HostSimulator::Failure(LinkResult r) const
{
    if (r == LinkResult::kTooLong)
        return "the transfer took longer than " + std::to_string(options_.transferTimeoutMillis / 1000) + " s";
    return LinkResultText(r);
}

void HostSimulator::HandleFile(ClientLink &link)
{
    link.LimitTransfer(options_.transferTimeoutMillis);
    std::string request(link.FileBody(), static_cast<size_t>(link.FileLength()));
    if (link.FileType() == wire::kFileSendRequest)
        ReceiveFile(link, request);
    else if (link.FileType() == wire::kFileFetchRequest)
        SendFile(link, request);
    else
        Say(link, std::string("file request refused: first frame of type ") + link.FileType());
}

bool HostSimulator::Refuse(ClientLink &link, const std::string &request, const std::string &why)
{
    const LinkResult r = link.WriteFileFrame(wire::kFileRefused, why.data(), static_cast<int>(why.size()));
    Say(link, "file '" + Escaped(request) + "' refused: " + why +
                  (r == LinkResult::kOk ? "" : " (refusal not sent: " + Failure(r) + ")"));
    return r == LinkResult::kOk;
}

void HostSimulator::ReceiveFile(ClientLink &link, const std::string &request)
{
    std::string why;
    os::PendingStore store;
    if (!BeginStore(served_, request, &store, &why)) {
        // Nothing of it will be kept, so nothing more is waited for: the
        // refusal goes out at once, and what the client already sent is
        // read only for a moment, so that it sees the refusal instead of
        // a reset.
        if (Refuse(link, request, why))
            link.Linger(kRefusalLingerMillis);
        return;
    }
    const int fd = store.Fd();
    bool written = true;
    long total = 0;
    // The client sends everything before it waits: take it all, then answer.
    for (;;) {
        std::string problem;
        const LinkResult r = link.ReadFileFrame(&problem);
        const bool unexpected =
            r == LinkResult::kOk && link.FileType() != wire::kFileData && link.FileType() != wire::kFileEnd;
        if (r != LinkResult::kOk || unexpected) {
            store.Abandon();
            Say(link, "file '" + Escaped(request) + "' not stored: " +
                          (unexpected        ? std::string("a frame of type ") + link.FileType() + " before the end"
                           : problem.empty() ? Failure(r)
                                             : problem) +
                          "; any earlier file is unchanged");
            return;
        }
        if (link.FileType() == wire::kFileEnd)
            break;
        const int n = link.FileLength();
        written = written && os::WriteBytes(fd, link.FileBody(), n);
        total += n;
    }
    written = store.SyncAndClose() && written;
    if (!written)
        why = "cannot write it";
    else if (!store.Commit())
        why = "cannot put it in place", written = false;
    if (!written) {
        store.Abandon();
        Refuse(link, request, why);
        return;
    }
    const LinkResult r = link.WriteFileFrame(wire::kFileEnd, nullptr, 0);
    Say(link, "file '" + Escaped(request) + "' stored, " + std::to_string(total) + " bytes" +
                  (r == LinkResult::kOk ? "" : " (end frame not sent: " + Failure(r) + ")"));
}

void HostSimulator::SendFile(ClientLink &link, const std::string &request)
{
    std::string why;
    const int fd = OpenFetch(served_, request, &why);
    if (fd < 0) {
        Refuse(link, request, why);
        return;
    }
    long total = 0;
    char block[wire::kFileBodySize];
    for (;;) {
        const int n = os::ReadBytes(fd, block, wire::kFileBodySize);
        if (n < 0) {
            os::CloseFile(fd);
            Refuse(link, request, "cannot read it after " + std::to_string(total) + " bytes");
            return;
        }
        if (n == 0)
            break;
        const LinkResult r = link.WriteFileFrame(wire::kFileData, block, n);
        if (r != LinkResult::kOk) {
            os::CloseFile(fd);
            Say(link, "file '" + Escaped(request) + "' not sent: " + Failure(r) + " after " + std::to_string(total) +
                          " bytes");
            return;
        }
        total += n;
    }
    os::CloseFile(fd);
    const LinkResult r = link.WriteFileFrame(wire::kFileEnd, nullptr, 0);
    if (r != LinkResult::kOk) {
        Say(link, "file '" + Escaped(request) + "' not sent: " + Failure(r) + " at its end frame");
        return;
    }
    Say(link, "file '" + Escaped(request) + "' sent, " + std::to_string(total) + " bytes");
}

}  // namespace tranpak::tools
