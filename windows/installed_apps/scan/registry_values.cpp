#include "installed_apps/scan/registry_values.h"

#include <vector>

namespace installed_apps {

std::wstring ExpandEnv(const std::wstring& text) {
  if (text.empty()) return text;
  const DWORD needed = ::ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  if (needed == 0) return text;
  std::vector<wchar_t> buffer(needed);
  const DWORD written = ::ExpandEnvironmentStringsW(text.c_str(), buffer.data(), needed);
  // A variable that grew between the two calls counts as a failure, not a cut result.
  if (written == 0 || written > needed) return text;
  return std::wstring(buffer.data());  // up to the terminator the call wrote
}

std::wstring ReadRegistryString(HKEY key, const wchar_t* name, bool expand) {
  // 2048 bytes of text plus room for a terminator that a value without one does not bring.
  constexpr DWORD kTextBytes = 2048;
  wchar_t buffer[kTextBytes / sizeof(wchar_t) + 1] = {};
  DWORD type = 0;
  DWORD size = kTextBytes;
  if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
      ERROR_SUCCESS) {
    return std::wstring();
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return std::wstring();
  const size_t units = size / sizeof(wchar_t);
  std::wstring text(buffer, units);
  const size_t nul = text.find(L'\0');
  if (nul != std::wstring::npos) text.resize(nul);
  return expand ? ExpandEnv(text) : text;
}

uint32_t ReadRegistryDword(HKEY key, const wchar_t* name) {
  DWORD value = 0;
  DWORD type = 0;
  DWORD size = sizeof(value);
  if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof(value)) {
    return 0;
  }
  return value;
}

}  // namespace installed_apps
