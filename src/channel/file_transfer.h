// The file transfer protocol: frames of
//
//   06 <type> <4 length digits> <0 to 1024 body bytes>
//
// (kit/wire.h) with types '0' (send request), '1' (fetch request), '2'
// (one block of the file), '3' (the host refuses) and '4' (end), one
// connection per transfer. Sending:  client '0', '2'..., '4'; host '4'.
// Fetching: client '1'; host '2'..., then '4' (or '3').
#ifndef TRANPAK_CHANNEL_FILE_TRANSFER_H
#define TRANPAK_CHANNEL_FILE_TRANSFER_H

#include "channel/net.h"
#include "kit/wire.h"

namespace tranpak {

// Largest body of one file frame, and so of a request text.
inline constexpr int kFileBodySize = wire::kFileBodySize;

// A file frame as it travels: the 6 bytes of its head, then the body. It
// lives for one transfer call.
struct FileMesg {
    char stx;
    char mesg_type;
    char len[wire::kLenDigits];  // body length, 4 digits, no NUL
    char buf[kFileBodySize];
};
static_assert(sizeof(FileMesg) == wire::kFileBufSize);

// A block of 1024 LF bytes grows to 2048 when a CR goes before each LF.
inline constexpr int kCrBufSize = 2 * kFileBodySize;
// A fetched file's path, links followed, and the new file in its folder
// that receives it: the folder and "tranpak-<6 digits>.part".
inline constexpr int kLocalPathSize = 4096;
inline constexpr int kTempPathSize = kLocalPathSize + 24;
// Names of new files tried before a fetch gives up with "open %s error".
inline constexpr int kTempAttempts = 100;

// The frame functions, on the transfer's frame, with the settings and
// error record of the message state. Each frame has the [Com Timeout]
// limit of its direction; `transfer`, when given, bounds it too (the whole
// call's limit).
int SendFileMesg(MesgState &m, FileMesg &fm, int sock, const FrameDeadline *transfer = nullptr);
int RecvFileMesg(MesgState &m, FileMesg &fm, int sock, const FrameDeadline *transfer = nullptr);
int SendReqMesg(MesgState &m, FileMesg &fm, int sock, char mesgType, const char *request,
                const FrameDeadline *transfer = nullptr);
int SendDataMesg(MesgState &m, FileMesg &fm, int sock, const FrameDeadline *transfer = nullptr);
int SendStopMesg(MesgState &m, FileMesg &fm, int sock, const FrameDeadline *transfer = nullptr);
int RecvStopMesg(MesgState &m, FileMesg &fm, int sock, const FrameDeadline *transfer = nullptr);

// Copies count bytes leaving out every CR; *outCount receives the number
// written (at most count).
int StripCR(const char *src, int count, char *dst, int *outCount);
// Copies count bytes writing a CR before every LF; *outCount receives the
// number written (at most twice count).
int AddCR(const char *src, int count, char *dst, int *outCount);

// The whole fetching dialogue; textMode puts a CR before every LF.
int RecvFileCommon(MesgState &m, const char *host, int port, const char *request, const char *localPath, bool textMode);

// The four file functions on one message state.
int SockSendFile(MesgState &m, const char *host, int port, const char *localPath, const char *request);
int SockSendBinFile(MesgState &m, const char *host, int port, const char *localPath, const char *request);
int SockRecvFile(MesgState &m, const char *host, int port, const char *request, const char *localPath);
int SockRecvBinFile(MesgState &m, const char *host, int port, const char *request, const char *localPath);

}  // namespace tranpak

#endif
