// The PIN block a tool makes or reads: --pin-key (a PIN key, or a DUKPT
// BDK when a KSN is in play), --pin-format 0, 1, 3 or 4, and the field the
// KSN travels in (--ksn-field, 53 unless given). Formats 0, 1 and 3 take a
// triple DES key (16 or 24 bytes) and TDES DUKPT (10-byte KSN); format 4
// an AES key (16, 24 or 32 bytes) and AES DUKPT (12-byte KSN).
#ifndef TRANPAK_TOOLS_PIN_CHOICE_H
#define TRANPAK_TOOLS_PIN_CHOICE_H

#include "tranpak.h"

#include <string>

namespace tranpak::tools {

inline constexpr int kPinField = 52;
inline constexpr int kPanField = 2;
inline constexpr int kDefaultKsnField = 53;

struct PinChoice {
    int format = TP_PIN_FORMAT_0;
    int keyLen = 0;  // 0: no --pin-key
    unsigned char key[TP_DUKPT_MAX_KEY] = {};
    bool dukpt = false;  // the key is a BDK
    int ksnField = kDefaultKsnField;
};

// --pin-format: 0, 1, 3 or 4; --pin-key: the hex digits of a key its
// format takes (checked by PinKeyFault once the format is known);
// --ksn-field: 1 to 63 but 52.
bool ParsePinFormat(const std::string &value, PinChoice *c, std::string *error);
bool ParsePinKey(const std::string &hex, PinChoice *c, std::string *error);
bool ParseKsnField(const std::string &value, PinChoice *c, std::string *error);
// "" when the key suits the format (and DUKPT, when chosen), else why not.
std::string PinKeyFault(const PinChoice &c);
// The DUKPT kind of the choice's format, and the length of its KSN.
int DukptKind(const PinChoice &c);
int KsnLength(const PinChoice &c);

// The PIN key of the request in the session: the key itself, or the DUKPT
// PIN key of ksn. False with *why when the KSN is no KSN of the kind or
// its counter is one a terminal never uses. The key is wiped by the
// caller.
bool PinKeyFor(const PinChoice &c, const std::string &ksn, unsigned char key[TP_DUKPT_MAX_KEY], int *keyLen,
               std::string *why);

// Client: puts pin's block (under the KSN's key when ksn is not empty)
// into field 52 and the KSN into the KSN field of the request in s, the
// PAN taken from field 2. False with *why (never naming the PIN).
bool PutPinBlock(TpSession *s, const PinChoice &c, const std::string &pin, const std::string &ksn, std::string *why);

// Host: whether the PIN block of the received message in s holds pin: 0
// yes, 1 another PIN, -1 no block, no PAN, no KSN or a block that does not
// read under the key.
int ReceivedPinIs(TpSession *s, const PinChoice &c, const std::string &pin);

}  // namespace tranpak::tools

#endif
