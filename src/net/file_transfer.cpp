#include "net/file_transfer.h"

#include "core/mesg_state.h"
#include "core/numtext.h"
#include "diag/errlog.h"
#include "net/net.h"
#include "platform/platform.h"
#include "tranpak.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tranpak {

FileMesg g_fileMesg;

namespace {

constexpr char kEndOfText = 0x1A;  // ends a text file, as Windows' text mode does

int BodyLength() { return FieldToInt(reinterpret_cast<const unsigned char *>(g_fileMesg.len), 4); }

void SetBodyLength(int n) { WriteZeroFilled(g_fileMesg.len, 4, n); }

void CloseAll(std::FILE *f, int sock)
{
    if (f != nullptr)
        std::fclose(f);
    plat::SockCloseHandle(sock);
}

// The caller's texts are checked before anything is opened, so a refused
// call neither connects nor touches a local file.
bool TransferArgsFit(const char *host, const char *localPath, const char *request)
{
    if (host == nullptr || localPath == nullptr || request == nullptr) {
        WriteErrLog(kErrArgument, "tranpak: file transfer with a NULL host, path or request");
        return false;
    }
    if (std::strlen(request) > static_cast<size_t>(kFileBodySize)) {
        WriteErrLog(kErrArgument, "tranpak: request text has over %d characters", kFileBodySize);
        return false;
    }
    return true;
}

// Connects and sends the request frame of requestType. Returns the socket,
// or kNoSocket with the socket closed again. A failed connection shows as
// the request frame that cannot be sent.
int Request(const char *host, int port, char requestType, const char *request, const FrameDeadline &transfer)
{
    int sock = ConnectHost(host, port, g_mesg.settings.connectLimit, &transfer);
    if (SendReqMesg(sock, requestType, request, &transfer) != 0) {
        plat::SockCloseHandle(sock);
        return plat::kNoSocket;
    }
    return sock;
}

// Where a fetch writes. A regular file (or none yet) is received into a
// new file in the same folder, `tranpak-<n>.part` (short, so that a local
// name near the file system's limit still leaves room for it), which takes
// its place only after the host's end frame and a good close; on any
// failure it is removed and the local path stays exactly as it was. A
// link is followed, also one that leads nowhere yet: the file it leads to
// is written and the link stays. A device or pipe is written as it stands.
struct FetchTarget {
    std::FILE *f;
    bool direct;
    char path[kLocalPathSize];  // the local path, links followed
    char temp[kTempPathSize];
};

bool OpenFetchTarget(const char *localPath, FetchTarget &t)
{
    t.f = nullptr;
    t.temp[0] = '\0';
    if (localPath[0] == '\0') {
        WriteErrLog(kErrLocalFile, "tranpak: open %s error", localPath);
        return false;
    }
    const plat::PathKind kind = plat::LocalPathKind(localPath);
    t.direct = kind == plat::kPathOther;
    if (t.direct) {
        t.f = std::fopen(localPath, "w+b");
    } else if (kind != plat::kPathDirectory && plat::FollowLinks(localPath, t.path, sizeof t.path) == 0 &&
               (kind == plat::kPathAbsent || plat::CanWriteFile(t.path))) {
        // A file the caller may not write is refused now, not replaced.
        // A name that another fetch or program holds is passed over.
        const int folder = plat::FolderPartLength(t.path);
        const uint32_t seed = plat::TickMillis();
        for (int attempt = 0; attempt < kTempAttempts && t.f == nullptr; ++attempt) {
            std::snprintf(t.temp, sizeof t.temp, "%.*s" "tranpak-%06u.part", folder, t.path,
                          static_cast<unsigned>((seed + attempt) % 1000000u));
            t.f = plat::CreateNewFile(t.temp, t.path);
        }
    }
    if (t.f == nullptr) {
        WriteErrLog(kErrLocalFile, "tranpak: open %s error", localPath);
        return false;
    }
    return true;
}

void AbandonFetch(FetchTarget &t)
{
    std::fclose(t.f);
    if (!t.direct)
        std::remove(t.temp);
}

// Closes the received file and puts it in place.
bool FinishFetch(FetchTarget &t, const char *localPath)
{
    if (std::fclose(t.f) != 0) {
        char why[plat::kErrorTextSize];
        WriteErrLog(kErrLocalFile, "tranpak: fwrite %s", plat::ErrorText(errno, why, sizeof why));
        if (!t.direct)
            std::remove(t.temp);
        return false;
    }
    if (!t.direct && plat::PutInPlace(t.temp, t.path) != 0) {
        WriteErrLog(kErrLocalFile, "tranpak: replace %s error", localPath);
        std::remove(t.temp);
        return false;
    }
    return true;
}

// Reads the next block of the file into the frame's body, as the transfer
// sends it, and returns its length; kNoBlock when the file gave no byte
// (its end, or a 0x1A first in text mode), kReadFailed when reading it
// failed (*error receives the error number). Up to 1024 bytes are read;
// text mode then drops every CR and stops at a 0x1A byte, so a block of
// CRs only goes out with length 0000, last or not. *atEnd is set once the
// file has nothing more to give.
constexpr int kNoBlock = -1;
constexpr int kReadFailed = -2;

int ReadBlock(std::FILE *f, bool textMode, bool *atEnd, int *error)
{
    char block[kFileBodySize];
    char *target = textMode ? block : g_fileMesg.buf;
    int n = static_cast<int>(std::fread(target, 1, kFileBodySize, f));
    if (n < kFileBodySize) {
        *atEnd = true;
        // A short read is the end only when the file said so: a failing
        // disk or a directory must not pass for a file that ended early.
        if (std::ferror(f)) {
            *error = errno;
            return kReadFailed;
        }
    }
    if (textMode) {
        if (const void *eof = std::memchr(block, kEndOfText, static_cast<size_t>(n))) {
            n = static_cast<int>(static_cast<const char *>(eof) - block);
            *atEnd = true;
        }
    }
    if (n == 0)
        return kNoBlock;
    if (!textMode)
        return n;
    int kept = 0;
    StripCR(block, n, g_fileMesg.buf, &kept);
    return kept;
}

int SendFileCommon(const char *host, int port, const char *localPath, const char *request, bool textMode)
{
    if (!TransferArgsFit(host, localPath, request))
        return -1;
    const FrameDeadline transfer(g_mesg.settings.transferLimit, "transfer");
    // A directory opens for reading on POSIX and reads as nothing: it is
    // refused as Windows' C runtime refuses it, before any connection.
    std::FILE *f = plat::LocalPathKind(localPath) == plat::kPathDirectory ? nullptr : std::fopen(localPath, "rb");
    if (f == nullptr) {
        WriteErrLog(kErrLocalFile, "tranpak: open %s error", localPath);
        return -1;
    }
    int sock = Request(host, port, '0', request, transfer);
    if (sock == plat::kNoSocket) {
        std::fclose(f);
        return -1;
    }
    bool atEnd = false;
    while (!atEnd) {
        int error = 0;
        int n = ReadBlock(f, textMode, &atEnd, &error);
        if (n == kReadFailed) {
            // No end frame: a host that follows the protocol never stores
            // what came so far as the whole file.
            char why[plat::kErrorTextSize];
            WriteErrLog(kErrLocalFile, "tranpak: read %s error (%s)", localPath, plat::ErrorText(error, why, sizeof why));
            CloseAll(f, sock);
            return -1;
        }
        if (n == kNoBlock)
            break;
        SetBodyLength(n);
        if (SendDataMesg(sock, &transfer) != 0) {
            CloseAll(f, sock);
            return -1;
        }
    }
    SendStopMesg(sock, &transfer);
    std::fclose(f);
    if (RecvStopMesg(sock, &transfer) != 0) {
        WriteErrLog(kErrPeerClosed, "send ok, receive stop msg error");
        plat::SockCloseHandle(sock);
        return -1;
    }
    plat::SockCloseHandle(sock);
    return 0;
}

// Writes one received body to the file and pushes it out to the disk, so a
// full disk is told at this block and not lost at close.
int WriteBody(std::FILE *f, const char *bytes, int count)
{
    if (std::fwrite(bytes, 1, static_cast<size_t>(count), f) != static_cast<size_t>(count) ||
        std::fflush(f) != 0) {
        char why[plat::kErrorTextSize];
        WriteErrLog(kErrLocalFile, "tranpak: fwrite %s", plat::ErrorText(errno, why, sizeof why));
        return -1;
    }
    return 0;
}

}  // namespace

int SendFileMesg(int sock, const FrameDeadline *transfer)
{
    char frame[kFileHeadSize + kFileBodySize];
    int n = BodyLength();
    std::memcpy(frame, &g_fileMesg, kFileHeadSize);
    std::memcpy(frame + kFileHeadSize, g_fileMesg.buf, static_cast<size_t>(n));
    FrameDeadline deadline(g_mesg.settings.sendLimit, "send", transfer);
    int rc = SendAll(sock, frame, kFileHeadSize + n, &deadline);
    if (rc != kFileHeadSize + n) {
        WriteErrLog(kErrPeerClosed, "tranpak: send_file_msg rc: %d", rc);
        return -1;
    }
    return 0;
}

int RecvFileMesg(int sock, const FrameDeadline *transfer)
{
    // The frame's time limit runs from the moment it is awaited.
    FrameDeadline deadline(g_mesg.settings.recvLimit, "recv", transfer);
    std::memset(&g_fileMesg, 0, sizeof g_fileMesg);
    int rc = RecvAll(sock, &g_fileMesg, kFileHeadSize, &deadline);
    if (rc != kFileHeadSize) {
        WriteErrLog(kErrPeerClosed, "tranpak: recv file_mesg_head rc:%d", rc);
        return -1;
    }
    int n = BodyLength();
    if (g_fileMesg.stx != kFileStx) {
        WriteErrLog(kErrMalformed, "tranpak: recv stx:%c", g_fileMesg.stx);
        return -1;
    }
    if (n > kFileBodySize) {
        WriteErrLog(kErrMalformed, "tranpak: recv len %d, too large", n);
        return -1;
    }
    if (n < 0) {
        WriteErrLog(kErrMalformed, "tranpak: recv len %d, negative", n);
        return -1;
    }
    rc = RecvAll(sock, g_fileMesg.buf, n, &deadline);
    if (rc != n) {
        WriteErrLog(kErrPeerClosed, "tranpak: recv file_mesg_buf rc:%d, len:%d", rc, n);
        return -1;
    }
    return 0;
}

int SendReqMesg(int sock, char mesgType, const char *request, const FrameDeadline *transfer)
{
    int n = static_cast<int>(std::strlen(request));
    g_fileMesg.stx = kFileStx;
    g_fileMesg.mesg_type = mesgType;
    std::memcpy(g_fileMesg.buf, request, static_cast<size_t>(n));
    SetBodyLength(n);
    return SendFileMesg(sock, transfer);
}

int SendDataMesg(int sock, const FrameDeadline *transfer)
{
    g_fileMesg.stx = kFileStx;
    g_fileMesg.mesg_type = '2';
    return SendFileMesg(sock, transfer);
}

int SendStopMesg(int sock, const FrameDeadline *transfer)
{
    g_fileMesg.stx = kFileStx;
    g_fileMesg.mesg_type = '4';
    g_fileMesg.buf[0] = '\0';
    SetBodyLength(0);
    return SendFileMesg(sock, transfer);
}

int RecvStopMesg(int sock, const FrameDeadline *transfer)
{
    if (RecvFileMesg(sock, transfer) != 0)
        return -1;
    if (g_fileMesg.mesg_type != '4') {
        WriteErrLog(g_fileMesg.mesg_type == '3' ? kErrHostRefused : kErrMalformed, "tranpak: stop_msg error mesg_type %c", g_fileMesg.mesg_type);
        return -1;
    }
    return 0;
}

int StripCR(const char *src, int count, char *dst, int *outCount)
{
    int n = 0;
    for (int i = 0; i < count; ++i)
        if (src[i] != '\r')
            dst[n++] = src[i];
    *outCount = n;
    return 0;
}

int AddCR(const char *src, int count, char *dst, int *outCount)
{
    int n = 0;
    for (int i = 0; i < count; ++i) {
        if (src[i] == '\n')
            dst[n++] = '\r';
        dst[n++] = src[i];
    }
    *outCount = n;
    return 0;
}

int RecvFileCommon(const char *host, int port, const char *request, const char *localPath, bool textMode)
{
    FetchTarget target;
    if (!TransferArgsFit(host, localPath, request))
        return -1;
    const FrameDeadline transfer(g_mesg.settings.transferLimit, "transfer");
    if (!OpenFetchTarget(localPath, target))
        return -1;
    int sock = Request(host, port, '1', request, transfer);
    if (sock == plat::kNoSocket) {
        AbandonFetch(target);
        return -1;
    }
    char converted[kCrBufSize];
    for (;;) {
        if (RecvFileMesg(sock, &transfer) != 0)
            break;
        if (g_fileMesg.mesg_type == '2') {
            int n = BodyLength();
            const char *body = g_fileMesg.buf;
            if (textMode) {
                AddCR(g_fileMesg.buf, n, converted, &n);
                body = converted;
            }
            if (WriteBody(target.f, body, n) != 0)
                break;
            plat::SleepMillis(1);
        } else if (g_fileMesg.mesg_type == '3') {
            WriteErrLog(kErrHostRefused, "tranpak: receive rest_msg");
            break;
        } else if (g_fileMesg.mesg_type == '4') {
            plat::SockCloseHandle(sock);
            return FinishFetch(target, localPath) ? 0 : -1;
        }
        // frames of other types are skipped
    }
    AbandonFetch(target);
    plat::SockCloseHandle(sock);
    return -1;
}

}  // namespace tranpak

using namespace tranpak;

extern "C" TRANPAK_API int TRANPAK_CALL SockSendFile(const char *host, int port, const char *local_path,
                                                     const char *request)
{
    ExportedCall call;
    return SendFileCommon(host, port, local_path, request, true);
}

extern "C" TRANPAK_API int TRANPAK_CALL SockSendBinFile(const char *host, int port, const char *local_path,
                                                        const char *request)
{
    ExportedCall call;
    return SendFileCommon(host, port, local_path, request, false);
}

extern "C" TRANPAK_API int TRANPAK_CALL SockRecvFile(const char *host, int port, const char *request,
                                                     const char *local_path)
{
    ExportedCall call;
    return RecvFileCommon(host, port, request, local_path, true);
}

extern "C" TRANPAK_API int TRANPAK_CALL SockRecvBinFile(const char *host, int port, const char *request,
                                                        const char *local_path)
{
    ExportedCall call;
    return RecvFileCommon(host, port, request, local_path, false);
}
