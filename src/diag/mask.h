// How values are shown to people: card data masked, bytes that could
// break or forge a line escaped. The one rule of the library and of the
// tools (through TpShowValue and TpDescribe), and what keeps card numbers
// out of the error log.
//
//   field 2  "4761739001010119"   shown "************0119"
//   field 2  "0119"               shown "****"
//   field 41 "TERM\x1B01"         shown "TERM\x1B01" with the ESC as the
//                                 four characters \x1B
#ifndef TRANPAK_DIAG_MASK_H
#define TRANPAK_DIAG_MASK_H

namespace tranpak {

// Characters of a value that masking leaves in clear, at its end.
inline constexpr int kClearTail = 4;
// Card numbers in log lines (MaskDigitRuns): a run of at least
// kCardRunMin digits, or digits in groups that add up to kCardRunMin to
// kCardRunMax, each group after the first following one separator.
inline constexpr int kCardRunMin = 13;
inline constexpr int kCardRunMax = 19;
// Characters of the longest such group of groups: 19 digits, each but the
// first after a separator.
inline constexpr int kCardSpanMax = 2 * kCardRunMax - 1;
// Bytes one value byte may take when shown: \xHH.
inline constexpr int kShownByteMax = 4;

// Fields 2 (card number), 14 (expiry), 35, 36 (tracks 2 and 3), 45
// (track 1) and 52 (PIN block).
bool IsCardField(int field);

// Where shown text goes: into out while it has room for the text and a
// NUL, and counted in len whatever the room, so a first pass with no out
// measures and a second one writes. out is NUL-terminated when size > 0.
// Inside a JSON string (json set), Put writes '"' and '\' as \" and \\;
// Raw writes its text as it is.
struct TextSink {
    char *out;
    int size;
    int len;
    bool json = false;
    void Put(char c);
    void Put(const char *text);
    void Raw(const char *text);

private:
    void Add(char c);
};

// How ShowValue treats masking.
enum class MaskRule {
    kCardFields,  // mask the value of a card-data field
    kNone,        // show every value in clear
    kAlways,      // mask whatever the field
};

// Puts the len bytes of value as shown: when masked, all but the last
// four as '*' (all of them when four or fewer); then every byte below
// 0x20, 0x7F and every byte from 0x80 up as \xHH (upper-case digits), a
// backslash as two, the rest as it is.
void ShowValue(TextSink &sink, int field, MaskRule rule, const char *value, int len);

// A value as a log line may carry it: for a card-data field a copy with
// all but the last four characters as '*' (cut to kLoggedValueSize - 1,
// as the line is cut anyway), for any other field the value itself.
inline constexpr int kLoggedValueSize = 256;
const char *ValueForLog(int field, const char *value, int len, char out[kLoggedValueSize]);
// The masked copy whatever the field: for a value that is card data by
// its type, such as track 2 data (Z) in any field.
const char *MaskedForLog(const char *value, int len, char out[kLoggedValueSize]);

// Masks in place, as '*', all but the last four digits of every card
// number in text[0..len), however written:
//   - every run of 13 or more digits, whatever its length
//     ("12345678901234567890" becomes "****************7890");
//   - digits in groups, each group after the first following one blank
//     or '-', that add up to 13 to 19 digits; the separators stay
//     ("4761 7390 0101 0119" becomes "**** **** **** 0119",
//     "3782-822463-10005" becomes "****-******-*0005").
// Groups that add up to fewer than 13 digits ("4761 7390 0101") or to
// more than 19 stay as they are, but a run of 13 or more among them is
// masked on its own.
void MaskDigitRuns(char *text, int len);

}  // namespace tranpak

#endif
