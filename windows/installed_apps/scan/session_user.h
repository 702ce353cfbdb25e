// Whose per-user programs the catalogue lists. A standard user who elevated the app with an
// administrator's credentials runs it under that administrator's account: HKEY_CURRENT_USER
// and %USERNAME% then name the administrator, whose per-user apps are not the ones the person
// at the screen uses. The session's user is the account signed in to the session (else the
// owner of the desktop shell).
#pragma once

#include <windows.h>

#include <string>

namespace installed_apps {

// Where one user's registry lives: HKEY_CURRENT_USER for the account the app runs as, or that
// user's loaded hives under HKEY_USERS.
struct UserHive {
  HKEY root = HKEY_CURRENT_USER;
  std::wstring sid;  // empty for HKEY_CURRENT_USER

  // `path` (below "HKEY_CURRENT_USER") as seen from `root`.
  std::wstring Path(const std::wstring& path) const;
  // `path` below the user's "SOFTWARE\Classes" (a hive of its own under HKEY_USERS).
  std::wstring ClassesPath(const std::wstring& path) const;
};

// The hive of the user given by `sid`, or HKEY_CURRENT_USER when `sid` is empty.
UserHive HiveOfUser(const std::wstring& sid);

// The SID of the user signed in to this process's session, when that is not the account this
// process runs as; empty when it is the same user or cannot be told.
std::wstring OtherSessionUserSid();

}  // namespace installed_apps
