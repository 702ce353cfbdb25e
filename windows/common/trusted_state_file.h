// Backups an elevated process acts on after a crash (the DNS, name-resolution-policy and proxy
// backups), trusted because of where their record lives rather than who owns the file.
//
// The files stay in C:\ProgramData\Zelvora, where standard users may create files. A file's
// owner does not tell who wrote it: with the "default owner = object creator" policy a file an
// elevated administrator wrote is owned by that user's own account, the account a non-elevated
// process of the same user also runs as, and Wine owns every file by its one user. So every
// write also records the bytes under HKEY_LOCAL_MACHINE\SOFTWARE\Zelvora\TrustedState, a key
// only elevated administrators and the system can write (non-elevated processes and standard
// users only read HKLM\SOFTWARE), and a file is trusted when its bytes equal what is recorded
// for its name. A file that predates the record (written by an earlier version) is trusted as
// before, when the Administrators group or LocalSystem owns it.
#pragma once

#include <string>

#include "common/protected_file.h"

namespace zelvora {

// Records `bytes` for `path`'s file name, then writes the file (ReplaceProtectedFile). A crash
// in between leaves the previous bytes or the new ones, both still trusted.
bool WriteTrustedStateFile(const std::wstring& path, const std::string& bytes);

// kRead when the file's bytes equal the record (or, with no record, an administrator owns it);
// kUntrustedOwner when they do not (a planted or altered file), kNone when there is no readable
// file. The file is left as it is.
TrustedRead ReadTrustedStateFile(const std::wstring& path, std::string* contents);

// Forgets the record, then deletes the file: a crash in between leaves a file nobody trusts.
bool DeleteTrustedStateFile(const std::wstring& path);

}  // namespace zelvora
