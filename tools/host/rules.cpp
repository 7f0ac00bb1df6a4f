#include "rules.h"

#include "../common/message_view.h"
#include "../common/tool_support.h"
#include "wire.h"
#include "wire_format.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tranpak::tools {
namespace {

std::string Trimmed(const std::string &s)
{
    const size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos)
        return "";
    return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

// The rule as the log and the errors show it: the digits after each
// "pin=" or "pin!=" (and the blanks before them) as "****", wherever they
// stand, so no spacing or repetition of a condition shows its PIN.
std::string PinsHidden(const std::string &text)
{
    std::string shown;
    size_t from = 0;
    for (size_t at; (at = text.find("pin", from)) != std::string::npos;) {
        size_t k = at + 3;
        if (k < text.size() && text[k] == '!')
            ++k;
        if (k >= text.size() || text[k] != '=') {
            shown += text.substr(from, k - from);
            from = k;
            continue;
        }
        shown += text.substr(from, k + 1 - from);
        from = k + 1;
        const size_t digits = text.find_first_not_of(" \t", from);
        if (digits == std::string::npos)
            continue;
        const size_t end = std::min(text.find_first_not_of("0123456789", digits), text.size());
        if (end > digits) {
            shown += "****";
            from = end;
        }
    }
    return shown + text.substr(from);
}

std::vector<std::string> Items(const std::string &list)
{
    std::vector<std::string> items;
    size_t start = 0;
    for (;;) {
        const size_t comma = list.find(',', start);
        items.push_back(Trimmed(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
        if (comma == std::string::npos)
            return items;
        start = comma + 1;
    }
}

// pin=DIGITS or pin!=DIGITS: the PIN in field 52.
bool ParsePinCondition(const std::string &item, Condition *c, std::string *why)
{
    const bool isNot = item.compare(3, 2, "!=") == 0;
    c->field = kPinField;
    c->op = isNot ? CompareOp::kPinIsNot : CompareOp::kPinIs;
    c->value = Trimmed(item.substr(isNot ? 5 : 4));
    const bool digits =
        c->value.size() >= 4 && c->value.size() <= 12 && c->value.find_first_not_of("0123456789") == std::string::npos;
    if (!digits)
        *why = "condition \"" + item + "\": pin= and pin!= take a PIN of 4 to 12 digits";
    return digits;
}

bool ParseCondition(const std::string &item, Condition *c, std::string *why)
{
    if (item.compare(0, 4, "pin=") == 0 || item.compare(0, 5, "pin!=") == 0)
        return ParsePinCondition(item, c, why);
    const size_t at = item.find_first_of("<>=");
    long field = -1;
    const std::string number = at == std::string::npos ? "" : Trimmed(item.substr(0, at));
    char *end = nullptr;
    if (!number.empty())
        field = std::strtol(number.c_str(), &end, 10);
    if (number.empty() || *end != '\0' || field < 1 || field > kFieldCount) {
        *why = "condition \"" + item + "\" is not FIELD=VALUE, FIELD<N, FIELD>=N or the like (FIELD 1 to 128)";
        return false;
    }
    c->field = static_cast<int>(field);
    static const std::pair<const char *, CompareOp> kOps[] = {
        {"<=", CompareOp::kLessEqual}, {">=", CompareOp::kGreaterEqual}, {"<", CompareOp::kLess},
        {">", CompareOp::kGreater},    {"=", CompareOp::kEqual},
    };
    for (const auto &[text, op] : kOps) {
        if (item.compare(at, std::strlen(text), text) == 0) {
            c->op = op;
            c->value = Trimmed(item.substr(at + std::strlen(text)));
            break;
        }
    }
    if (c->op == CompareOp::kEqual && !c->value.empty() && c->value.back() == '*') {
        c->op = CompareOp::kPrefix;
        c->value.pop_back();
    }
    return true;
}

bool IsNumericField(TpSession *s, int field)
{
    const int type = FieldType(s, field);
    return type == CELL_NI || type == CELL_NF;
}

bool ParseNumber(const std::string &text, double *v)
{
    char *end = nullptr;
    *v = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0';
}

// The received value of a field as a number (NI, NF), or as its text.
bool Received(TpSession *s, int field, std::string *text, double *number)
{
    if (CellDef(s, field).used == 0)
        return false;
    *text = FieldText(s, field);
    // Fixed text fields come back blank-filled on the right.
    while (!IsNumericField(s, field) && !text->empty() && text->back() == ' ')
        text->pop_back();
    return !IsNumericField(s, field) || ParseNumber(*text, number);
}

// The value in a message of its own, packed: a fixed-length field takes a
// text of another length when it is set, and refuses it only here.
bool Packs(TpSession *s, int field, const std::string &value, std::string *problem)
{
    if (SetFieldText(s, field, value, problem) != 0 || TpSetCell(s, 0, "0800") != 0)
        return false;
    // As long as the longest key a session's MAC may read (AES-256): the
    // session may have been given another MAC than the library's own.
    const unsigned char anyKey[32] = {};
    unsigned char frame[wire::kMaxFrameSize];
    int len = 0;
    return TpPackMesg(s, anyKey, frame, sizeof frame, &len) == 0;
}

std::string LengthText(const TpCellDef &def)
{
    return (def.varlen == 0 ? "exactly " : "at most ") + std::to_string(def.maxlen);
}

}  // namespace

bool ParseRule(const std::string &text, Rule *rule, std::string *why)
{
    // The log names the rule: not the PIN it looks for.
    rule->text = PinsHidden(text);
    rule->conditions.clear();
    rule->sets.clear();
    const size_t colon = text.find(':');
    if (colon == std::string::npos) {
        *why = "rule \"" + rule->text + "\" has no ':' between its conditions and its fields";
        return false;
    }
    const std::string when = Trimmed(text.substr(0, colon));
    if (!when.empty()) {
        for (const std::string &item : Items(when)) {
            Condition c;
            if (!ParseCondition(item, &c, why))
                return false;
            rule->conditions.push_back(c);
        }
    }
    for (const std::string &item : Items(text.substr(colon + 1))) {
        int field;
        std::string value;
        if (!SplitAssignment(item, &field, &value)) {
            *why = "rule \"" + rule->text + "\": \"" + item + "\" is not FIELD=VALUE";
            return false;
        }
        rule->sets.emplace_back(field, value);
    }
    return true;
}

bool CheckFieldValue(TpSession *s, int field, const std::string &value, std::string *why)
{
    const std::string name = "field " + std::to_string(field) + "=" + value;
    if (field == 0 || field == 64 || field == 128) {
        *why = name + ": field " + std::to_string(field) +
               (field == 0    ? " is the message type (--reply-type sets it)"
                : field == 64 ? " is the MAC, computed for every answer"
                              : " is the MAC of a message with a secondary bitmap, computed for every answer");
        return false;
    }
    const TpCellDef def = CellDef(s, field);
    if (!Defined(def)) {
        *why = name + ": field " + std::to_string(field) + " is not defined in the definition file";
        return false;
    }
    TpResetMesg(s);
    std::string problem;
    const bool taken = Packs(s, field, value, &problem);
    constexpr int kReasonSize = 300;
    char logged[kReasonSize] = {};
    if (!taken && problem.empty())
        TpGetLastErrMesg(s, logged, sizeof logged);
    TpResetMesg(s);
    if (!taken)
        *why = name + ": " + (problem.empty() ? std::string(logged) : problem) + " (field " + std::to_string(field) +
               " is " + TypeName(def.type) + ", " + LengthText(def) + ")";
    return taken;
}

bool CheckRule(TpSession *s, const Rule &rule, std::string *why)
{
    const std::string where = "rule \"" + rule.text + "\": ";
    for (const Condition &c : rule.conditions) {
        const TpCellDef cell = CellDef(s, c.field);
        double v;
        if (c.op == CompareOp::kPinIs || c.op == CompareOp::kPinIsNot) {
            if (!Defined(cell) || cell.type != CELL_B) {
                *why = where + "pin conditions read field 52, which must be defined as B";
                return false;
            }
            continue;
        }
        if (!Defined(cell)) {
            *why = where + "field " + std::to_string(c.field) + " is not defined in the definition file";
            return false;
        }
        if (c.op != CompareOp::kEqual && c.op != CompareOp::kPrefix && !IsNumericField(s, c.field)) {
            *why = where + "field " + std::to_string(c.field) + " is " + TypeName(cell.type) +
                   "; only NI and NF fields compare with < and >";
            return false;
        }
        if (c.op == CompareOp::kPrefix && IsNumericField(s, c.field)) {
            *why = where + "field " + std::to_string(c.field) + " is a number; a prefix ('*') is for text fields";
            return false;
        }
        // A number must also be one the field can hold, as a value set is
        // (no "1e3", "nan" or three decimals of an amount).
        if (IsNumericField(s, c.field) && !ParseNumber(c.value, &v)) {
            *why = where + "\"" + c.value + "\" is not a number";
            return false;
        }
        if ((IsNumericField(s, c.field) || !c.value.empty()) && !CheckFieldValue(s, c.field, c.value, why)) {
            *why = where + *why;
            return false;
        }
    }
    for (const auto &[field, value] : rule.sets)
        if (!CheckFieldValue(s, field, value, why)) {
            *why = where + *why;
            return false;
        }
    return true;
}

namespace {

// A condition's value as the received value reads: B as upper-case hex
// digits without the groups a command line may write ("01:ab" is "01AB").
std::string AsReceived(TpSession *s, int field, const std::string &value)
{
    if (TpGetCellType(s, field) != CELL_B)
        return value;
    std::string digits = HexUngrouped(value);
    for (char &ch : digits)
        if (ch >= 'a' && ch <= 'f')
            ch = static_cast<char>(ch - 'a' + 'A');
    return digits;
}

}  // namespace

bool RuleMatches(TpSession *s, const Rule &rule, const PinChoice &pin)
{
    for (const Condition &c : rule.conditions) {
        if (c.op == CompareOp::kPinIs || c.op == CompareOp::kPinIsNot) {
            const bool same = ReceivedPinIs(s, pin, c.value) == 0;
            if (same != (c.op == CompareOp::kPinIs))
                return false;
            continue;
        }
        std::string text;
        double have = 0, want = 0;
        if (!Received(s, c.field, &text, &have))
            return false;
        const bool numeric = IsNumericField(s, c.field) && ParseNumber(c.value, &want);
        const std::string value = numeric ? c.value : AsReceived(s, c.field, c.value);
        bool holds = false;
        switch (c.op) {
        case CompareOp::kEqual:
            holds = numeric ? have == want : text == value;
            break;
        case CompareOp::kPrefix:
            holds = text.compare(0, value.size(), value) == 0;
            break;
        case CompareOp::kLess:
            holds = have < want;
            break;
        case CompareOp::kLessEqual:
            holds = have <= want;
            break;
        case CompareOp::kGreater:
            holds = have > want;
            break;
        case CompareOp::kGreaterEqual:
            holds = have >= want;
            break;
        case CompareOp::kPinIs:
        case CompareOp::kPinIsNot:
            break;
        }
        if (!holds)
            return false;
    }
    return true;
}

}  // namespace tranpak::tools
