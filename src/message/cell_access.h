// Field access on one message state: what SetCell, GetCell, GetCellType,
// ResetCell, ResetMesg, BackupMesg and RestoreMesg do, with the same
// arguments, results and messages.
#ifndef TRANPAK_MESSAGE_CELL_ACCESS_H
#define TRANPAK_MESSAGE_CELL_ACCESS_H

#include "message/mesg_state.h"

namespace tranpak {

int SetCell(MesgState &m, int field, const void *value);
int GetCell(MesgState &m, int field, void *out);
int GetCellType(MesgState &m, int field);
// Fields 1 to lastField: ResetCell reaches fields 1 to 64
// (kClassicCellCount), TpResetCell all 128 (kCellCount).
int ResetCell(MesgState &m, int field, int lastField = kClassicCellCount);
int ResetMesg(MesgState &m);
int BackupMesg(MesgState &m);
int RestoreMesg(MesgState &m);

}  // namespace tranpak

#endif
