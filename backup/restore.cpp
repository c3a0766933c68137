// The restore of an undo entry. Not built yet: the package is left as it is
// and the entry stays for a later restore.
#include "backup/restore.h"

void RestoreFromUndoEntry(LPCSTR) {}
