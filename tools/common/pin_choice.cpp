#include "pin_choice.h"

#include "cli.h"
#include "tool_support.h"

#include <cstring>

namespace tranpak::tools {
namespace {

// The KSN's field: B of exactly the KSN's bytes, or text of its hex digits.
bool PutKsn(TpSession *s, const PinChoice &c, const std::string &ksn, std::string *why)
{
    TpCellDef def{};
    if (TpGetCellDef(s, c.ksnField, &def) != 0 || def.maxlen == 0) {
        *why = "field " + std::to_string(c.ksnField) + " (the KSN) is not defined in the definition file";
        return false;
    }
    const std::string hex = ToHex(ksn.data(), ksn.size());
    if (TpSetCellText(s, c.ksnField, hex.c_str()) != 0) {
        *why = "field " + std::to_string(c.ksnField) + " cannot take a KSN of " + std::to_string(ksn.size()) +
               " bytes (it is defined with length " + std::to_string(def.maxlen) + ")";
        return false;
    }
    return true;
}

// The received text of a field, or "" when it is not in the message.
std::string ReceivedText(TpSession *s, int field)
{
    TpCellDef def{};
    if (TpGetCellDef(s, field, &def) != 0 || def.used == 0)
        return "";
    constexpr int kTextSize = 1024;
    char text[kTextSize] = {};
    if (TpGetCellText(s, field, text, sizeof text) != 0)
        return "";
    std::string t = text;
    while (!t.empty() && t.back() == ' ')
        t.pop_back();
    return t;
}

}  // namespace

bool ParsePinFormat(const std::string &value, PinChoice *c, std::string *error)
{
    if (value == "0" || value == "1" || value == "3" || value == "4") {
        c->format = value[0] - '0';
        return true;
    }
    *error = "--pin-format takes 0, 1, 3 or 4, not " + value;
    return false;
}

bool ParsePinKey(const std::string &hex, PinChoice *c, std::string *error)
{
    std::string bytes;
    if (!ParseHex(HexUngrouped(hex), &bytes) || bytes.size() > sizeof c->key || bytes.empty()) {
        *error = "--pin-key takes 32, 48 or 64 hex digits";
        return false;
    }
    std::memcpy(c->key, bytes.data(), bytes.size());
    c->keyLen = static_cast<int>(bytes.size());
    return true;
}

bool ParseKsnField(const std::string &value, PinChoice *c, std::string *error)
{
    long n = 0;
    if (!ParseInteger(value, 1, 63, &n) || n == kPinField || n == kPanField) {
        *error = "--ksn-field takes a field from 1 to 63 other than 2 and 52, not " + value;
        return false;
    }
    c->ksnField = static_cast<int>(n);
    return true;
}

int DukptKind(const PinChoice &c) { return c.format == TP_PIN_FORMAT_4 ? TP_DUKPT_AES : TP_DUKPT_TDES; }
int KsnLength(const PinChoice &c)
{
    return c.format == TP_PIN_FORMAT_4 ? TP_DUKPT_AES_KSN_SIZE : TP_DUKPT_TDES_KSN_SIZE;
}

std::string PinKeyFault(const PinChoice &c)
{
    const int n = c.keyLen;
    if (c.format == TP_PIN_FORMAT_4 && n != 16 && n != 24 && n != 32)
        return "--pin-format 4 takes an AES key (--pin-key of 32, 48 or 64 hex digits), not " + std::to_string(n) +
               " bytes";
    if (c.format != TP_PIN_FORMAT_4 && n != 16 && n != 24)
        return "--pin-format " + std::to_string(c.format) +
               " takes a triple DES key (--pin-key of 32 or 48 hex digits), not " + std::to_string(n) + " bytes";
    return "";
}

bool PinKeyFor(const PinChoice &c, const std::string &ksn, unsigned char key[TP_DUKPT_MAX_KEY], int *keyLen,
               std::string *why)
{
    if (!c.dukpt) {
        std::memcpy(key, c.key, sizeof c.key);
        *keyLen = c.keyLen;
        return true;
    }
    const bool aes = DukptKind(c) == TP_DUKPT_AES;
    // A PIN key as strong as the BDK: AES-128 for AES-128, and so on;
    // the double-length TDES key for TDES.
    const int type = !aes             ? TP_DUKPT_KEY_2TDEA
                     : c.keyLen == 16 ? TP_DUKPT_KEY_AES128
                     : c.keyLen == 24 ? TP_DUKPT_KEY_AES192
                                      : TP_DUKPT_KEY_AES256;
    *keyLen = aes ? c.keyLen : 16;
    if (static_cast<int>(ksn.size()) != KsnLength(c)) {
        *why = "a KSN of " + std::to_string(KsnLength(c)) + " bytes is needed for " + (aes ? "AES" : "TDES") +
               " DUKPT, not " + std::to_string(ksn.size());
        return false;
    }
    if (TpDukptDeriveKey(DukptKind(c), c.key, c.keyLen, ksn.data(), static_cast<int>(ksn.size()), TP_DUKPT_PIN, type,
                         key, *keyLen) != 0) {
        *why = "KSN " + ToHex(ksn.data(), ksn.size()) + " has a counter a terminal never uses" +
               (aes ? " (0, or more than sixteen 1-bits)" : " (0, or more than ten 1-bits)");
        return false;
    }
    return true;
}

bool PutPinBlock(TpSession *s, const PinChoice &c, const std::string &pin, const std::string &ksn, std::string *why)
{
    const std::string pan = ReceivedText(s, kPanField);
    TpCellDef def{};
    const int size = c.format == TP_PIN_FORMAT_4 ? 16 : 8;
    if (TpGetCellDef(s, kPinField, &def) != 0 || def.type != CELL_B || def.maxlen != size) {
        *why = "field 52 must be defined as B " + std::to_string(size) + " for a PIN block of format " +
               std::to_string(c.format);
        return false;
    }
    unsigned char key[TP_DUKPT_MAX_KEY];
    int keyLen = 0;
    if (!PinKeyFor(c, ksn, key, &keyLen, why))
        return false;
    unsigned char block[TP_PIN_BLOCK_MAX];
    const int rc = TpPinBlock(c.format, key, keyLen, pin.c_str(), pan.c_str(), block);
    std::memset(key, 0, sizeof key);
    if (rc != 0) {
        *why = "no PIN block of format " + std::to_string(c.format) +
               ": the PIN must be 4 to 12 digits and field 2 a PAN the format takes";
        return false;
    }
    const int set = TpSetCell(s, kPinField, block);
    std::memset(block, 0, sizeof block);
    if (set != 0) {
        *why = "field 52 refused the PIN block";
        return false;
    }
    return !c.dukpt || PutKsn(s, c, ksn, why);
}

int ReceivedPinIs(TpSession *s, const PinChoice &c, const std::string &pin)
{
    TpCellDef def{};
    if (c.keyLen == 0 || TpGetCellDef(s, kPinField, &def) != 0 || def.used == 0 || def.type != CELL_B)
        return -1;
    const int size = c.format == TP_PIN_FORMAT_4 ? 16 : 8;
    unsigned char block[TP_PIN_BLOCK_MAX] = {};
    if (def.maxlen != size || TpGetCell(s, kPinField, block) != 0)
        return -1;
    std::string ksn;
    if (c.dukpt) {
        const std::string text = ReceivedText(s, c.ksnField);
        TpCellDef kdef{};
        TpGetCellDef(s, c.ksnField, &kdef);
        if (!ParseHex(HexUngrouped(text), &ksn))
            return -1;
    }
    unsigned char key[TP_DUKPT_MAX_KEY];
    int keyLen = 0;
    std::string why;
    if (!PinKeyFor(c, ksn, key, &keyLen, &why))
        return -1;
    const int rc = TpPinCheck(c.format, key, keyLen, block, ReceivedText(s, kPanField).c_str(), pin.c_str());
    std::memset(key, 0, sizeof key);
    return rc;
}

}  // namespace tranpak::tools
