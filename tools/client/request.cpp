#include "request.h"

#include "../common/cli.h"
#include "../common/message_view.h"
#include "../common/tool_support.h"

#include <algorithm>

namespace tranpak::tools {
namespace {

constexpr int kTraceField = 11;
// Widths that keep 10^width in range: an int for NI, 64 bits for text.
constexpr int kIntDigits = 9;
constexpr int kTextDigits = 18;

}  // namespace

int SetRequest(TpSession *s, const std::vector<std::string> &operands, std::string *why)
{
    TpResetMesg(s);
    if (TpSetCell(s, 0, operands[0].c_str()) != 0) {
        *why = "setting the message type";
        return -1;
    }
    for (size_t k = 1; k < operands.size(); ++k) {
        int field;
        std::string value;
        if (!SplitAssignment(operands[k], &field, &value) || field == 0) {
            *why = "expected FIELD=VALUE with FIELD 1 to 128, got " + operands[k];
            return kExitUsage;
        }
        why->clear();
        if (SetFieldText(s, field, value, why) != 0) {
            if (!why->empty())
                return kExitUsage;
            *why = "setting field " + std::to_string(field);
            return -1;
        }
    }
    return 0;
}

std::string NthTraceNumber(unsigned long long first, unsigned long long n, int width)
{
    unsigned long long modulus = 1;
    for (int k = 0; k < width; ++k)
        modulus *= 10;
    std::string digits = std::to_string((first % modulus + n % modulus) % modulus);
    return std::string(static_cast<size_t>(std::max(0, width - static_cast<int>(digits.size()))), '0') + digits;
}

bool TraceNumbers::Read(TpSession *s, std::string *why)
{
    const TpCellDef def = CellDef(s, kTraceField);
    present_ = def.used != 0;
    if (!present_)
        return true;
    const std::string text = FieldText(s, kTraceField);
    integer_ = def.type == CELL_NI;
    width_ = std::min(def.maxlen, integer_ ? kIntDigits : kTextDigits);
    if (text.empty() || text.size() > static_cast<size_t>(kTextDigits) ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        *why = "field 11 counts up in a load and takes digits only, not " + text;
        return false;
    }
    first_ = std::stoull(text);
    return true;
}

int TraceNumbers::Put(TpSession *s, unsigned long long n) const
{
    if (!present_)
        return 0;
    const std::string text = NthTraceNumber(first_, n, width_);
    if (!integer_)
        return TpSetCell(s, kTraceField, text.c_str());
    const int value = std::stoi(text);
    return TpSetCell(s, kTraceField, &value);
}

}  // namespace tranpak::tools
