// The name-resolution policy of a tunnel session: Windows' smart multi-homed name resolution
// and its parallel A/AAAA queries are switched off machine-wide, so no query races out of a
// physical adapter. The previous state is kept in memory and in smhnr_restore.v1, so it can be
// put back also after a crash.
#pragma once

// Saves the previous state of both values (in memory and on disk), writes the session flag
// file, then sets both values to 1. When the backup cannot be saved nothing is changed. False,
// with a line in the log, when the backup or a value could not be written.
bool ApplyNameResolutionPolicy();

// The previous state back, from memory or else from smhnr_restore.v1; both files removed. Does
// nothing when there is neither (or the file cannot be trusted).
void RestoreNameResolutionPolicy();

// Forgets the in-memory copy, as the end of the process does. Tests use it to play a crash
// while connected; the file copy is what the next restore must then use.
void ForgetNameResolutionPolicyMemory();
