// Where the engine keeps the state that must survive a crash: the common application-data
// folder as the shell reports it (C:\ProgramData when it cannot say), plus "\Zelvora".
#pragma once

#include <string>

std::wstring ZelvoraDataFolder();
std::wstring DnsRestoreFilePath();     // dns_restore.v1
std::wstring PolicyRestoreFilePath();  // smhnr_restore.v1
std::wstring PolicySessionFlagPath();  // smhnr_session_owned.flag

// Creates the folder when missing, refusing one that is a link. Standard users may create
// files in ProgramData, so every file operation of the engine there goes through the checked
// helpers of common/protected_file.h, which never follow a planted link or junction; the
// backups are trusted only as common/trusted_state_file.h vouches for them.
bool EnsureZelvoraDataFolder();
