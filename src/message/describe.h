// A message described for a person or a program: what TpDescribe and
// TpShowValue do. Text, one field a line, columns as wide as their widest
// entry:
//
//   type 0200
//   field  name    type  value
//       2  PAN     N     ************0119
//       4  AMOUNT  NF    12.50
//
// or one JSON object, every value a string:
//
//   {"type": "0200", "fields": {"2": {"name": "PAN", "type": "N", "value": "************0119"}, ...}}
#ifndef TRANPAK_MESSAGE_DESCRIBE_H
#define TRANPAK_MESSAGE_DESCRIBE_H

#include "message/mesg_state.h"

namespace tranpak {

// The flags TpDescribe knows.
inline constexpr int kDescribeFlags = TP_DESCRIBE_JSON | TP_DESCRIBE_UNMASKED;
// The flags TpShowValue knows.
inline constexpr int kShowFlags = TP_DESCRIBE_UNMASKED | TP_SHOW_MASKED;

// Describes the message into out (size bytes of room, NUL included);
// *outLen (when not NULL) receives the description's length without the
// NUL, also when it does not fit, which is refused with nothing written.
int Describe(MesgState &m, int flags, char *out, int size, int *outLen);

// One value as Describe shows it, with no session and so no log line.
int ShowValueText(int field, int flags, const char *value, int len, char *out, int size, int *outLen);
// TpDescribeCell: the value column of one field in use (0: the type).
int DescribeCell(MesgState &m, int field, int flags, char *out, int size, int *outLen);

}  // namespace tranpak

#endif
