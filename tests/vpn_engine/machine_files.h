// The test machine's ProgramData files and registry values, read and written with plain
// Win32 calls (never the plug-in's own file or registry code).
#pragma once

#include <windows.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace machine {

// C:\ProgramData\Zelvora\<name> of the test prefix.
inline std::wstring ZelvoraFile(const wchar_t* name) {
  const wchar_t* data = _wgetenv(L"ProgramData");
  return std::wstring(data ? data : L"C:\\ProgramData") + L"\\Zelvora\\" + name;
}

inline std::optional<std::string> ReadBytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The engine's restore files of an earlier session gone: other suites plant damaged ones (even a
// folder in a file's place) and may leave the last one behind.
inline void ClearSessionBackups() {
  for (const wchar_t* name :
       {L"dns_restore.v1", L"smhnr_restore.v1", L"smhnr_session_owned.flag"}) {
    DeleteFileW(ZelvoraFile(name).c_str());
    RemoveDirectoryW(ZelvoraFile(name).c_str());
  }
}

// False when the file could not be created.
inline bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  CreateDirectoryW(path.substr(0, path.rfind(L'\\')).c_str(), nullptr);
  std::ofstream out(path.c_str(), std::ios::binary);
  out.write(bytes.data(), bytes.size());
  out.close();
  return !out.fail();
}

struct PolicyValue {
  const wchar_t* key;
  const wchar_t* name;
};
inline constexpr PolicyValue kSmart{L"SOFTWARE\\Policies\\Microsoft\\Windows NT\\DNSClient",
                                    L"DisableSmartNameResolution"};
inline constexpr PolicyValue kParallel{L"SYSTEM\\CurrentControlSet\\Services\\Dnscache\\Parameters",
                                       L"DisableParallelAandAAAA"};

// The DWORD, or nothing when the value is absent or of another type.
inline std::optional<DWORD> ReadPolicy(const PolicyValue& v) {
  DWORD data = 0;
  DWORD size = sizeof(data);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, v.key, v.name, RRF_RT_REG_DWORD, nullptr, &data, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return data;
}

// Sets the DWORD (as text "1" when `as_text`), or deletes the value for nothing.
inline void SetPolicy(const PolicyValue& v, std::optional<DWORD> value, bool as_text = false) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, v.key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return;
  }
  RegDeleteValueW(key, v.name);
  if (value && as_text) {
    RegSetValueExW(key, v.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(L"1"), 4);
  } else if (value) {
    RegSetValueExW(key, v.name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&*value),
                   sizeof(DWORD));
  }
  RegCloseKey(key);
}

}  // namespace machine
