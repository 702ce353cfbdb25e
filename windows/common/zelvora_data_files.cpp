#include "common/zelvora_data_files.h"

// The shell's headers need windows.h first.
// clang-format off
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>
// clang-format on

#include "common/protected_file.h"

std::wstring ZelvoraDataFolder() {
  std::wstring base = L"C:\\ProgramData";
  PWSTR known = nullptr;
  if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &known)) && known) {
    base = known;
  }
  ::CoTaskMemFree(known);
  return base + L"\\Zelvora";
}

std::wstring DnsRestoreFilePath() { return ZelvoraDataFolder() + L"\\dns_restore.v1"; }

std::wstring PolicyRestoreFilePath() { return ZelvoraDataFolder() + L"\\smhnr_restore.v1"; }

std::wstring PolicySessionFlagPath() { return ZelvoraDataFolder() + L"\\smhnr_session_owned.flag"; }

bool EnsureZelvoraDataFolder() { return zelvora::EnsureProtectedFolder(ZelvoraDataFolder()); }
