#include "vpn_engine/adapter_routes/wintun_holder_win32.h"

#include <windows.h>

#include "common/unique_handle.h"
#include "tunnel_log/tunnel_log.h"
#include "vpn_engine/adapter_routes/wintun_holder.h"
#include "vpn_engine/host/adapter_driver_win32.h"

namespace zelvora {
namespace {

constexpr wchar_t kProfilesKey[] =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkList\\Profiles";

bool IsRegularFile(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

std::wstring FindWintunDll() {
  std::wstring exe_folder;
  wchar_t module[260] = {};
  const DWORD module_length = ::GetModuleFileNameW(nullptr, module, 260);
  if (module_length > 0 && module_length < 260) {
    exe_folder.assign(module, module_length);
    const size_t slash = exe_folder.find_last_of(L"\\/");
    exe_folder = slash == std::wstring::npos ? std::wstring() : exe_folder.substr(0, slash);
  }
  for (const std::wstring& candidate : WintunDllCandidates(exe_folder)) {
    if (IsRegularFile(candidate)) return candidate;
  }
  return std::wstring();
}

void RenameRegistryNetworkProfiles() {
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfilesKey, 0, KEY_READ, &raw) != ERROR_SUCCESS) {
    return;
  }
  UniqueRegKey profiles(raw);
  for (DWORD index = 0;; ++index) {
    wchar_t subkey[257] = {};
    DWORD subkey_length = 257;
    const LONG status = ::RegEnumKeyExW(profiles.get(), index, subkey, &subkey_length, nullptr,
                                        nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) continue;
    HKEY raw_profile = nullptr;
    if (::RegOpenKeyExW(profiles.get(), subkey, 0, KEY_READ | KEY_SET_VALUE, &raw_profile) !=
        ERROR_SUCCESS) {
      continue;
    }
    UniqueRegKey profile(raw_profile);
    wchar_t name[257] = {};  // 512 bytes of value and a terminator
    DWORD type = 0;
    DWORD size = 512;
    if (::RegQueryValueExW(profile.get(), L"ProfileName", nullptr, &type,
                           reinterpret_cast<BYTE*>(name), &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
      continue;
    }
    name[size / sizeof(wchar_t) < 256 ? size / sizeof(wchar_t) : 256] = L'\0';
    const std::wstring current(name);
    if (current == kNetworkProfileName || !IsZelvoraAdapterName(current)) continue;
    const std::wstring wanted = kNetworkProfileName;
    if (::RegSetValueExW(
            profile.get(), L"ProfileName", 0, REG_SZ, reinterpret_cast<const BYTE*>(wanted.c_str()),
            static_cast<DWORD>((wanted.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS) {
      TunnelLogWrite("WintunHolder: registry ProfileName set to Zelvora Network");
    }
  }
}

WintunHolder& WintunHolder::Instance() {
  // Its own production driver, never a test's replacement seams. Never destroyed: a static
  // destructor would close the adapter and unload wintun.dll under the loader lock at exit;
  // the system closes the handle when the process ends, and the adapter goes with it.
  static Win32AdapterDriver* driver = new Win32AdapterDriver();
  static WintunHolder* holder =
      new WintunHolder(*driver, FindWintunDll, RenameRegistryNetworkProfiles);
  return *holder;
}

}  // namespace zelvora
