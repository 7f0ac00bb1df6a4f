// Calls that do in one what takes several otherwise, for callers that pay
// for every call they make (an interpreter that lets go of its lock around
// each foreign call, say): a whole exchange on an open connection, and a
// message set or read whole as a block of field and text pairs.
//
// A block: for each field, its number in decimal ("0" the message type,
// "2", ... "128") and NUL, then its text as TpSetCellText takes and
// TpGetCellText gives it and NUL; an empty string (one more NUL) ends it.
#include "api/session.h"
#include "message/cell_text.h"
#include "channel/mesg_exchange.h"
#include "codec/mac.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace tranpak {
namespace {

// Digits of the largest field number, 128.
constexpr int kFieldDigits = 3;

// The session in storage the library can use, initialised; nullptr
// otherwise (refused before anything is touched, as every session
// function refuses it).
Session *ReadySession(TpSession *s)
{
    if (s == nullptr || reinterpret_cast<uintptr_t>(s) % alignof(TpSession) != 0)
        return nullptr;
    Session *session = std::launder(reinterpret_cast<Session *>(s));
    return session->ready == kSessionReady ? session : nullptr;
}

// A field number of a block: one to three decimal digits, 0 to 128; -1
// otherwise.
int BlockFieldNumber(const char *text)
{
    const int len = BoundedTextLength(text, kFieldDigits + 1);
    // Written as TpGetCellTexts writes it: no sign, no blank, no leading
    // zero ("0" is the message type; "04", "064" and "0128" are refused
    // alike).
    if (len < 1 || len > kFieldDigits || (len > 1 && text[0] == '0'))
        return -1;
    int field = 0;
    for (int i = 0; i < len; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        field = field * 10 + (text[i] - '0');
    }
    return field <= kCellCount ? field : -1;
}

// Appends "field NUL text NUL" at out[*at] (out nullptr: only counts);
// *at grows by the pair's length.
void PutPair(int field, const char *text, int textLen, char *out, int *at)
{
    char number[kFieldDigits];
    int digits = 0;
    if (field >= 100)
        number[digits++] = static_cast<char>('0' + field / 100);
    if (field >= 10)
        number[digits++] = static_cast<char>('0' + field / 10 % 10);
    number[digits++] = static_cast<char>('0' + field % 10);
    const int pair = digits + 1 + textLen + 1;
    if (out != nullptr) {
        std::memcpy(out + *at, number, static_cast<size_t>(digits));
        out[*at + digits] = '\0';
        std::memcpy(out + *at + digits + 1, text, static_cast<size_t>(textLen));
        out[*at + pair - 1] = '\0';
    }
    *at += pair;
}

// The block of the message's fields in use into out, which has room for
// it (out nullptr: only counts); returns its length, or -1 with the log
// line of a stored value that reads as no text.
int WriteBlock(MesgState &m, char *out)
{
    int at = 0;
    char text[kCellTextSize];
    for (int field = 0; field <= kCellCount; ++field) {
        if (field != 0 && m.cells[field - 1].used == 0)
            continue;
        const int len = CellText(m, field, text);
        if (len < 0)
            return GetCellText(m, field, text, sizeof text);  // says why
        if (field != 0 || len > 0)
            PutPair(field, text, len, out, &at);
    }
    if (out != nullptr)
        out[at] = '\0';
    return at + 1;
}

}  // namespace
}  // namespace tranpak

using namespace tranpak;

extern "C" TRANPAK_API int TRANPAK_CALL TpSockExchange(TpSession *s, int sock, const void *key)
{
    Session *session = ReadySession(s);
    if (session == nullptr)
        return -1;
    // One exported call: the three below report their own failure, and the
    // first that fails ends the exchange with its record.
    ExportedCall opened(session->mesg.lastErr);
    if (SockSendMesg(session->mesg, session->des, sock, key) != 0 || SockRecvMesg(session->mesg, sock) != 0)
        return -1;
    return CheckMesgMac(session->mesg, session->des, key);
}

extern "C" TRANPAK_API int TRANPAK_CALL TpSetCellTexts(TpSession *s, const char *block)
{
    Session *session = ReadySession(s);
    if (session == nullptr)
        return -1;
    MesgState &m = session->mesg;
    ExportedCall opened(m.lastErr);
    if (block == nullptr) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: TpSetCellTexts() block is NULL");
        return -1;
    }
    for (int pair = 1; *block != '\0'; ++pair) {
        const int field = BlockFieldNumber(block);
        if (field < 0) {
            WriteErrLog(m.Log(), kErrArgument, "tranpak: TpSetCellTexts() pair %d: \"%.8s\" is not a field 0 to 128",
                        pair, block);
            return -1;
        }
        const char *text = block + std::strlen(block) + 1;
        if (SetCellText(m, field, text) != 0)
            return -1;
        block = text + std::strlen(text) + 1;
    }
    return 0;
}

extern "C" TRANPAK_API int TRANPAK_CALL TpGetCellTexts(TpSession *s, char *out, int size, int *outLen)
{
    Session *session = ReadySession(s);
    if (session == nullptr)
        return -1;
    MesgState &m = session->mesg;
    ExportedCall opened(m.lastErr);
    const bool measuring = out == nullptr && size == 0 && outLen != nullptr;
    if (!measuring && (out == nullptr || size < 1)) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: TpGetCellTexts() out is NULL or size %d is no room", size);
        return -1;
    }
    const int needed = WriteBlock(m, nullptr);
    if (needed < 0)
        return -1;
    if (outLen != nullptr)
        *outLen = needed;
    if (measuring)
        return 0;
    if (needed > size) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: TpGetCellTexts() the block needs %d bytes, size is %d", needed,
                    size);
        return -1;
    }
    WriteBlock(m, out);
    return 0;
}
