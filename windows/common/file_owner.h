// Who owns a file, as far as an elevated process may act on what the file says.
//
// Standard users may create files in C:\ProgramData, and a file keeps the owner who created
// it: one planted there by a standard user is owned by that user, while one an elevated
// administrator or a service created is owned by the Administrators group or by LocalSystem,
// owners a standard user cannot give a file. So state that an elevated process acts on (what
// it restores after a crash) is trusted only from a file with one of those two owners.
#pragma once

#include <windows.h>

namespace zelvora {

enum class FileOwner {
  kAdministrators,  // BUILTIN\Administrators
  kLocalSystem,     // NT AUTHORITY\SYSTEM
  kOtherAccount,    // any other user or group, a standard user among them
  kUnknown,         // the owner could not be read
};

// The owner kind of `sid`.
FileOwner OwnerKindOfSid(PSID sid);

// The owner of the open `file` (the handle needs READ_CONTROL), read from its security
// descriptor.
FileOwner QueryFileOwner(HANDLE file);

// The owner query the protected-file helpers use: QueryFileOwner unless replaced. Wine gives
// every file the one user of its prefix as owner, so tests there put a stand-in here that
// knows which files their simulated standard user planted.
using FileOwnerQuery = FileOwner (*)(HANDLE file);
// Installs `query` (QueryFileOwner again when null) and returns the one it replaces.
FileOwnerQuery SetFileOwnerQuery(FileOwnerQuery query);
FileOwner OwnerOf(HANDLE file);

}  // namespace zelvora
