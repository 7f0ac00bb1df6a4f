#include "channel/file_transfer.h"

#include "message/numtext.h"
#include "channel/local_file.h"
#include "channel/net.h"
#include "os/os.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tranpak {

namespace {

constexpr char kEndOfText = 0x1A;  // ends a text file, as Windows' text mode does
// The reason given when the transfer's limit passed while the local file
// was awaited, after the limit's own line.
constexpr char kLatePhrase[] = "time limit passed";

// A received length is read as atoi reads it (blanks and a sign taken,
// digits up to the first other byte), not only as four plain digits.
int BodyLength(const FileMesg &fm)
{
    return FieldToInt(reinterpret_cast<const unsigned char *>(fm.len), wire::kLenDigits);
}

void SetBodyLength(FileMesg &fm, int n) { wire::PutDigits(reinterpret_cast<unsigned char *>(fm.len), n); }

void PutHead(FileMesg &fm, char type, int n) { wire::PutFileHead(reinterpret_cast<unsigned char *>(&fm), type, n); }

void CloseAll(std::FILE *f, int sock)
{
    if (f != nullptr)
        std::fclose(f);
    os::SockCloseHandle(sock);
}

// The caller's texts are checked before anything is opened, so a refused
// call neither connects nor touches a local file.
bool TransferArgsFit(MesgState &m, const char *host, const char *localPath, const char *request)
{
    if (host == nullptr || localPath == nullptr || request == nullptr) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: file transfer with a NULL host, path or request");
        return false;
    }
    if (std::strlen(request) > static_cast<size_t>(kFileBodySize)) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: request text has over %d characters", kFileBodySize);
        return false;
    }
    return true;
}

// Connects and sends the request frame of requestType. Returns the socket,
// or kNoSocket with the socket closed again. A failed connection shows as
// the request frame that cannot be sent.
int Request(MesgState &m, FileMesg &fm, const char *host, int port, char requestType, const char *request,
            const FrameDeadline &transfer)
{
    int sock = ConnectHost(m.Log(), host, port, m.settings.connectLimit, &transfer);
    if (SendReqMesg(m, fm, sock, requestType, request, &transfer) != 0) {
        os::SockCloseHandle(sock);
        return os::kNoSocket;
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
// A name longer than its folder's file system takes is refused here, as
// the new file could never be put in its place.
struct FetchTarget {
    std::FILE *f;
    bool direct;
    char path[kLocalPathSize];  // the local path, links followed
    char temp[kTempPathSize];
};

bool OpenFetchTarget(MesgState &m, const char *localPath, FetchTarget &t, const FrameDeadline &transfer)
{
    t.f = nullptr;
    t.temp[0] = '\0';
    if (localPath[0] == '\0') {
        WriteErrLog(m.Log(), kErrLocalFile, "tranpak: open %s error", localPath);
        return false;
    }
    const os::PathKind kind = os::LocalPathKind(localPath);
    t.direct = kind == os::kPathOther;
    if (t.direct) {
        t.f = OpenLocal(localPath, true, transfer);
    } else if (kind != os::kPathDirectory && os::FollowLinks(localPath, t.path, sizeof t.path) == 0 &&
               (kind == os::kPathAbsent ? os::NameFits(t.path) : os::CanWriteFile(t.path))) {
        // A file the caller may not write is refused now, not replaced.
        // A name that another fetch or program holds is passed over.
        const int folder = os::FolderPartLength(t.path);
        const uint32_t seed = os::TickMillis();
        for (int attempt = 0; attempt < kTempAttempts && t.f == nullptr; ++attempt) {
            std::snprintf(t.temp, sizeof t.temp,
                          "%.*s"
                          "tranpak-%06u.part",
                          folder, t.path, static_cast<unsigned>((seed + attempt) % 1000000u));
            t.f = os::CreateNewFile(t.temp, t.path);
        }
    }
    if (t.f == nullptr) {
        WriteErrLog(m.Log(), kErrLocalFile, "tranpak: open %s error", localPath);
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
bool FinishFetch(MesgState &m, FetchTarget &t, const char *localPath)
{
    if (std::fclose(t.f) != 0) {
        char why[os::kErrorTextSize];
        WriteErrLog(m.Log(), kErrLocalFile, "tranpak: fwrite %s", os::ErrorText(errno, why, sizeof why));
        if (!t.direct)
            std::remove(t.temp);
        return false;
    }
    if (!t.direct && os::PutInPlace(t.temp, t.path) != 0) {
        WriteErrLog(m.Log(), kErrLocalFile, "tranpak: replace %s error", localPath);
        std::remove(t.temp);
        return false;
    }
    return true;
}

// Reads the next block of the file into the frame's body, as the transfer
// sends it, and returns its length; kNoBlock when the file gave no byte
// (its end, or a 0x1A first in text mode), kLocalFailed when reading it
// failed (*error receives the error number), kLocalLate when the transfer's
// limit passed while the file was awaited. Up to 1024 bytes are read;
// text mode then drops every CR and stops at a 0x1A byte, so a block of
// CRs only goes out with length 0000, last or not. *atEnd is set once the
// file has nothing more to give.
constexpr int kNoBlock = -3;

int ReadBlock(FileMesg &fm, std::FILE *f, bool textMode, const FrameDeadline &transfer, bool *atEnd, int *error)
{
    char block[kFileBodySize];
    char *target = textMode ? block : fm.buf;
    int n = ReadLocal(f, target, kFileBodySize, transfer, atEnd, error);
    if (n < 0)
        return n;
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
    StripCR(block, n, fm.buf, &kept);
    return kept;
}

int SendFileCommon(MesgState &m, const char *host, int port, const char *localPath, const char *request, bool textMode)
{
    // The frame as it travels lives for this call only.
    FileMesg fm{};
    if (!TransferArgsFit(m, host, localPath, request))
        return -1;
    const FrameDeadline transfer(m.Log(), m.settings.transferLimit, "transfer");
    // A directory opens for reading on POSIX and reads as nothing: it is
    // refused as Windows' C runtime refuses it, before any connection.
    // With a transfer limit even a pipe that nobody writes opens at once.
    const bool folder = os::LocalPathKind(localPath) == os::kPathDirectory;
    std::FILE *f = folder ? nullptr : OpenLocal(localPath, false, transfer);
    if (f == nullptr) {
        const int error = folder ? EISDIR : errno;
        char why[os::kErrorTextSize];
        WriteErrLog(
            m.Log().Detail(ErrDetail("local file %s: %s", localPath, os::ErrorText(error, why, sizeof why)), error),
            kErrLocalFile, "tranpak: open %s error", localPath);
        return -1;
    }
    int sock = Request(m, fm, host, port, wire::kFileSendRequest, request, transfer);
    if (sock == os::kNoSocket) {
        std::fclose(f);
        return -1;
    }
    bool atEnd = false;
    while (!atEnd) {
        int error = 0;
        int n = ReadBlock(fm, f, textMode, transfer, &atEnd, &error);
        if (n == kLocalFailed || n == kLocalLate) {
            // No end frame: a host that follows the protocol never stores
            // what came so far as the whole file.
            char why[os::kErrorTextSize];
            const char *reason = n == kLocalLate ? kLatePhrase : os::ErrorText(error, why, sizeof why);
            WriteErrLog(m.Log().Detail(ErrDetail("local file %s: %s", localPath, reason), n == kLocalLate ? 0 : error),
                        kErrLocalFile, "tranpak: read %s error (%s)", localPath, reason);
            CloseAll(f, sock);
            return -1;
        }
        if (n == kNoBlock)
            break;
        SetBodyLength(fm, n);
        if (SendDataMesg(m, fm, sock, &transfer) != 0) {
            CloseAll(f, sock);
            return -1;
        }
    }
    SendStopMesg(m, fm, sock, &transfer);
    std::fclose(f);
    if (RecvStopMesg(m, fm, sock, &transfer) != 0) {
        WriteErrLog(m.Log(), kErrPeerClosed, "send ok, receive stop msg error");
        os::SockCloseHandle(sock);
        return -1;
    }
    os::SockCloseHandle(sock);
    return 0;
}

// Writes one received body to the file and pushes it out to the disk, so a
// full disk is told at this block and not lost at close.
int WriteBody(MesgState &m, std::FILE *f, const char *bytes, int count, const FrameDeadline &transfer)
{
    int error = 0;
    const int rc = WriteLocal(f, bytes, count, transfer, &error);
    if (rc != 0) {
        char why[os::kErrorTextSize];
        WriteErrLog(m.Log(), kErrLocalFile, "tranpak: fwrite %s",
                    rc == kLocalLate ? kLatePhrase : os::ErrorText(error, why, sizeof why));
        return -1;
    }
    return 0;
}

}  // namespace

int SendFileMesg(MesgState &m, FileMesg &fm, int sock, const FrameDeadline *transfer)
{
    char frame[wire::kFileBufSize];
    int n = BodyLength(fm);
    std::memcpy(frame, &fm, wire::kFileHeadSize);
    std::memcpy(frame + wire::kFileHeadSize, fm.buf, static_cast<size_t>(n));
    FrameDeadline deadline(m.Log(), m.settings.sendLimit, "send", transfer);
    int rc = SendAll(sock, frame, wire::kFileHeadSize + n, &deadline);
    if (rc != wire::kFileHeadSize + n) {
        WriteErrLog(m.Log(), kErrPeerClosed, "tranpak: send_file_msg rc: %d", rc);
        return -1;
    }
    return 0;
}

int RecvFileMesg(MesgState &m, FileMesg &fm, int sock, const FrameDeadline *transfer)
{
    // The frame's time limit runs from the moment it is awaited.
    FrameDeadline deadline(m.Log(), m.settings.recvLimit, "recv", transfer);
    std::memset(&fm, 0, sizeof fm);
    int rc = RecvAll(sock, &fm, wire::kFileHeadSize, &deadline);
    if (rc != wire::kFileHeadSize) {
        WriteErrLog(m.Log(), kErrPeerClosed, "tranpak: recv file_mesg_head rc:%d", rc);
        return -1;
    }
    int n = BodyLength(fm);
    if (fm.stx != static_cast<char>(wire::kFileStart)) {
        WriteErrLog(m.Log(), kErrMalformed, "tranpak: recv stx:%c", fm.stx);
        return -1;
    }
    if (n > kFileBodySize) {
        WriteErrLog(m.Log(), kErrMalformed, "tranpak: recv len %d, too large", n);
        return -1;
    }
    if (n < 0) {
        WriteErrLog(m.Log(), kErrMalformed, "tranpak: recv len %d, negative", n);
        return -1;
    }
    rc = RecvAll(sock, fm.buf, n, &deadline);
    if (rc != n) {
        WriteErrLog(m.Log(), kErrPeerClosed, "tranpak: recv file_mesg_buf rc:%d, len:%d", rc, n);
        return -1;
    }
    return 0;
}

int SendReqMesg(MesgState &m, FileMesg &fm, int sock, char mesgType, const char *request, const FrameDeadline *transfer)
{
    int n = static_cast<int>(std::strlen(request));
    PutHead(fm, mesgType, n);
    std::memcpy(fm.buf, request, static_cast<size_t>(n));
    return SendFileMesg(m, fm, sock, transfer);
}

int SendDataMesg(MesgState &m, FileMesg &fm, int sock, const FrameDeadline *transfer)
{
    // The caller has put the block's length with SetBodyLength.
    fm.stx = static_cast<char>(wire::kFileStart);
    fm.mesg_type = wire::kFileData;
    return SendFileMesg(m, fm, sock, transfer);
}

int SendStopMesg(MesgState &m, FileMesg &fm, int sock, const FrameDeadline *transfer)
{
    PutHead(fm, wire::kFileEnd, 0);
    fm.buf[0] = '\0';
    return SendFileMesg(m, fm, sock, transfer);
}

int RecvStopMesg(MesgState &m, FileMesg &fm, int sock, const FrameDeadline *transfer)
{
    if (RecvFileMesg(m, fm, sock, transfer) != 0)
        return -1;
    if (fm.mesg_type != wire::kFileEnd) {
        WriteErrLog(m.Log(), fm.mesg_type == wire::kFileRefused ? kErrHostRefused : kErrMalformed,
                    "tranpak: stop_msg error mesg_type %c", fm.mesg_type);
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

int RecvFileCommon(MesgState &m, const char *host, int port, const char *request, const char *localPath, bool textMode)
{
    // The frame as it travels lives for this call only.
    FileMesg fm{};
    FetchTarget target;
    if (!TransferArgsFit(m, host, localPath, request))
        return -1;
    const FrameDeadline transfer(m.Log(), m.settings.transferLimit, "transfer");
    if (!OpenFetchTarget(m, localPath, target, transfer))
        return -1;
    int sock = Request(m, fm, host, port, wire::kFileFetchRequest, request, transfer);
    if (sock == os::kNoSocket) {
        AbandonFetch(target);
        return -1;
    }
    char converted[kCrBufSize];
    for (;;) {
        if (RecvFileMesg(m, fm, sock, &transfer) != 0)
            break;
        if (fm.mesg_type == wire::kFileData) {
            int n = BodyLength(fm);
            const char *body = fm.buf;
            if (textMode) {
                AddCR(fm.buf, n, converted, &n);
                body = converted;
            }
            if (WriteBody(m, target.f, body, n, transfer) != 0)
                break;
            os::SleepMillis(1);
        } else if (fm.mesg_type == wire::kFileRefused) {
            WriteErrLog(m.Log(), kErrHostRefused, "tranpak: receive rest_msg");
            break;
        } else if (fm.mesg_type == wire::kFileEnd) {
            os::SockCloseHandle(sock);
            return FinishFetch(m, target, localPath) ? 0 : -1;
        }
        // frames of other types are skipped
    }
    AbandonFetch(target);
    os::SockCloseHandle(sock);
    return -1;
}

int SockSendFile(MesgState &m, const char *host, int port, const char *localPath, const char *request)
{
    return SendFileCommon(m, host, port, localPath, request, true);
}

int SockSendBinFile(MesgState &m, const char *host, int port, const char *localPath, const char *request)
{
    return SendFileCommon(m, host, port, localPath, request, false);
}

int SockRecvFile(MesgState &m, const char *host, int port, const char *request, const char *localPath)
{
    return RecvFileCommon(m, host, port, request, localPath, true);
}

int SockRecvBinFile(MesgState &m, const char *host, int port, const char *request, const char *localPath)
{
    return RecvFileCommon(m, host, port, request, localPath, false);
}

}  // namespace tranpak
