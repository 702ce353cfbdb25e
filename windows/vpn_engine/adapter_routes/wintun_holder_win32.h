// The Wintun holder's Win32 side: locating wintun.dll and the registry pass of the profile
// rename.
#pragma once

#include <string>

namespace zelvora {

// The first candidate of WintunDllCandidates (current folder, executable folder) that is a
// regular file; empty when none is.
std::wstring FindWintunDll();

// Sets "ProfileName" of every network profile under HKLM\SOFTWARE\Microsoft\Windows NT\
// CurrentVersion\NetworkList\Profiles that is named like the tunnel adapter to "Zelvora Network".
void RenameRegistryNetworkProfiles();

}  // namespace zelvora
