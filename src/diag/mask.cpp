#include "diag/mask.h"

namespace tranpak {
namespace {

constexpr int kCardFields[] = {2, 14, 35, 36, 45, 52};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// What may stand between the groups of a card number written in groups.
bool IsGroupSeparator(char c) { return c == ' ' || c == '-'; }

// Every digit of text[from..to) but the last four as '*' (the separators
// between them stay); a digit already masked counts as one.
void MaskDigits(char *text, int from, int to)
{
    int clear = kClearTail;
    for (int j = to - 1; j >= from; --j) {
        if (!IsDigit(text[j]) && text[j] != '*')
            continue;
        if (clear > 0)
            --clear;
        else
            text[j] = '*';
    }
}

// Bytes that could break a line, move a terminal's cursor or be read as
// part of a character of some encoding.
bool NeedsEscape(unsigned char c) { return c < 0x20 || c >= 0x7F; }

}  // namespace

bool IsCardField(int field)
{
    for (int f : kCardFields)
        if (f == field)
            return true;
    return false;
}

void TextSink::Add(char c)
{
    if (out != nullptr && len < size - 1) {
        out[len] = c;
        out[len + 1] = '\0';
    }
    ++len;
}

void TextSink::Put(char c)
{
    if (json && (c == '"' || c == '\\'))
        Add('\\');
    Add(c);
}

void TextSink::Put(const char *text)
{
    for (; *text != '\0'; ++text)
        Put(*text);
}

void TextSink::Raw(const char *text)
{
    for (; *text != '\0'; ++text)
        Add(*text);
}

void ShowValue(TextSink &sink, int field, MaskRule rule, const char *value, int len)
{
    static const char kHex[] = "0123456789ABCDEF";
    const bool masked = rule == MaskRule::kAlways || (rule == MaskRule::kCardFields && IsCardField(field));
    const int hidden = !masked ? 0 : len <= kClearTail ? len : len - kClearTail;
    for (int k = 0; k < hidden; ++k)
        sink.Put('*');
    for (int k = hidden; k < len; ++k) {
        const unsigned char c = static_cast<unsigned char>(value[k]);
        if (c == '\\') {
            sink.Put("\\\\");
        } else if (NeedsEscape(c)) {
            sink.Put('\\');
            sink.Put('x');
            sink.Put(kHex[c >> 4]);
            sink.Put(kHex[c & 0x0F]);
        } else {
            sink.Put(static_cast<char>(c));
        }
    }
}

const char *ValueForLog(int field, const char *value, int len, char out[kLoggedValueSize])
{
    return IsCardField(field) ? MaskedForLog(value, len, out) : value;
}

const char *MaskedForLog(const char *value, int len, char out[kLoggedValueSize])
{
    const int hidden = len <= kClearTail ? len : len - kClearTail;
    int n = 0;
    for (int k = 0; k < len && n < kLoggedValueSize - 1; ++k)
        out[n++] = k < hidden ? '*' : value[k];
    out[n] = '\0';
    return out;
}

void MaskDigitRuns(char *text, int len)
{
    int k = 0;
    while (k < len) {
        if (!IsDigit(text[k])) {
            ++k;
            continue;
        }
        // One group of groups: runs of digits, each after the first
        // following one separator. A long run is masked on its own.
        const int start = k;
        int digits = 0;
        int end = k;
        for (;;) {
            int runEnd = end;
            while (runEnd < len && IsDigit(text[runEnd]))
                ++runEnd;
            if (runEnd - end >= kCardRunMin)
                MaskDigits(text, end, runEnd);
            digits += runEnd - end;
            end = runEnd;
            if (end + 1 < len && IsGroupSeparator(text[end]) && IsDigit(text[end + 1]))
                ++end;
            else
                break;
        }
        if (digits >= kCardRunMin && digits <= kCardRunMax)
            MaskDigits(text, start, end);
        k = end;
    }
}

}  // namespace tranpak
