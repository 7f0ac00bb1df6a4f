// The definition file: one line per field,
//
//   #name     type  length  pos
//   PAN       N     19,2    2      <- variable length, at most 19, 2-digit prefix
//   PROCCODE  N     6       3      <- fixed length 6
//
// read into the BMPCell records by Init8583.
#ifndef TRANPAK_MESSAGE_BMPFILE_H
#define TRANPAK_MESSAGE_BMPFILE_H

#include "message/mesg_state.h"

namespace tranpak {

// A line is read in pieces of at most 255 characters.
inline constexpr int kBmpLineSize = 256;
// Longest items of a definition line.
inline constexpr int kMaxNameLen = 29;
inline constexpr int kMaxTypeLen = 4;
inline constexpr int kMaxLenItemLen = 20;
// Ends the file, as in Windows' text mode.
inline constexpr char kEndOfText = 0x1A;

// Reads the file the bmpfile setting names into the field records.
int ReadBMPFile(MesgState &m);
// One definition line; a refusal's detail names the file and lineNo.
int InitOntCell(MesgState &m, char *line, int lineNo = 0);
// The type code of a type name; -1, logged for field `field`, for none.
int InitCellType(MesgState &m, const char *text, int field, int line = 0);
int InitCellLen(MesgState &m, int index, const char *text, int line = 0);
int StripLineEnd(char *text);

}  // namespace tranpak

#endif
