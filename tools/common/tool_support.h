// Helpers shared by the command-line tools: hex texts, field values
// given and shown as text, and loading definitions without a settings
// file. Field functions work on the tool's own session.
#ifndef TRANPAK_TOOLS_SUPPORT_H
#define TRANPAK_TOOLS_SUPPORT_H

#include "tranpak.h"

#include <cstddef>
#include <string>
#include <vector>

namespace tranpak::tools {

// "0a1B..." (an even number of hex digits, blanks allowed) to bytes.
bool ParseHex(const std::string &hex, std::string *bytes);
std::string ToHex(const void *bytes, size_t count, const char *separator = "");

// An 8-byte MAC key from 16 hex digits.
bool ParseKey(const std::string &hex, unsigned char key[8]);

// Starts the session with a definition file and an error log (may be
// empty: nothing is logged), no trace and no time limits. Returns false
// when either path or the file is refused.
bool LoadDefinitions(TpSession *s, const std::string &bmpfile, const std::string &errfile);

// What and where of the session's last failure, as the library words it
// ("connect to 127.0.0.1:5000: Connection refused"), its bytes outside
// printable ASCII as \xHH; empty when the call failed in nothing.
std::string LastDetail(TpSession *s);

const char *TypeName(int type);

// Hex digits as written on a command line, without the groups split by
// ' ', ':' or '-' ("01:ab" gives "01ab").
std::string HexUngrouped(const std::string &text);

// Sets field n from text as TpSetCellText takes it (NI a 32-bit integer,
// NF an amount of at most two decimals, B hex digits, which may come in
// groups split by ' ', ':' or '-'); -1, with the reason in *why for a
// number or hex digits that do not parse (else the library's log line).
int SetFieldText(TpSession *s, int field, const std::string &text, std::string *why);
// The value of a used field as TpGetCellText gives it ("" when not in use).
std::string FieldText(TpSession *s, int field);
// A field in use as TpDescribe shows its value (card data masked, a TLV
// field's hex with the card data inside it masked); "" when it cannot.
std::string DescribedValue(TpSession *s, int field);
// B bytes given as hex, shown as TpDescribe would show them in field of
// the session's definitions (which gets them for the moment and is reset).
std::string DescribedBytes(TpSession *s, int field, const std::string &hex);

// The reply's message type: fixed when given, else the request's with its
// third digit raised by one (0200 gives 0210, 0800 gives 0810).
std::string ReplyType(const std::string &requestType, const std::string &fixed);

// "2=123" to field 2 and "123".
bool SplitAssignment(const std::string &arg, int *field, std::string *value);

// Lines appended to a text file since it had `size` bytes.
std::vector<std::string> LinesSince(const std::string &path, long size);
long FileSize(const std::string &path);

}  // namespace tranpak::tools

#endif
