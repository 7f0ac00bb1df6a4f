// The host's scripted answers:
//
//   --rule "2=4761*,4>=1000 : 39=51"
//
// Conditions before the colon, separated by commas: FIELD=VALUE (the
// value as the field's type reads it), FIELD=PREFIX* (text fields), and
// for NI and NF fields FIELD<N, FIELD<=N, FIELD>N, FIELD>=N, and
// pin=DIGITS, pin!=DIGITS: the PIN in field 52's block is (is not) DIGITS,
// read under the host's --pin-key (a block that does not read is no PIN,
// so pin!= holds for it). After the colon, FIELD=VALUE pairs as --set
// takes them. Values hold neither ',' nor ':'.
#ifndef TRANPAK_TOOLS_RULES_H
#define TRANPAK_TOOLS_RULES_H

#include "../common/pin_choice.h"
#include "tranpak.h"

#include <string>
#include <utility>
#include <vector>

namespace tranpak::tools {

using FieldValues = std::vector<std::pair<int, std::string>>;

enum class CompareOp { kEqual, kPrefix, kLess, kLessEqual, kGreater, kGreaterEqual, kPinIs, kPinIsNot };

struct Condition {
    int field = 0;
    CompareOp op = CompareOp::kEqual;
    std::string value;  // without the '*' of a prefix
};

struct Rule {
    std::string text;  // as given, for the log (the PIN of a pin condition as ****)
    std::vector<Condition> conditions;
    FieldValues sets;
};

// Parses the text; false with *why naming the part that is wrong. Only the
// shape is checked here; CheckRule checks it against the definitions.
bool ParseRule(const std::string &text, Rule *rule, std::string *why);

// A value --set, --refuse or a rule would put into field: the field is
// defined in the session, is not the MAC (64) or the message type (0),
// and the library takes the value and packs it in a message (type and
// length). The session's message is reset after.
bool CheckFieldValue(TpSession *s, int field, const std::string &value, std::string *why);
bool CheckRule(TpSession *s, const Rule &rule, std::string *why);

// True when every condition holds for the message in the session; pin
// conditions read field 52 as pin says.
bool RuleMatches(TpSession *s, const Rule &rule, const PinChoice &pin = PinChoice{});

}  // namespace tranpak::tools

#endif
