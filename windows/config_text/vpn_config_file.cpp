#include "config_text/vpn_config_file.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <system_error>

#include "config_text/config_rewrites.h"

namespace fs = std::filesystem;

std::wstring UserTempDirectory() {
  // GetTempPath2W exists only on newer Windows builds; linking to it would stop the DLL from
  // loading elsewhere.
  using GetTempPath2Fn = DWORD(WINAPI*)(DWORD, LPWSTR);
  wchar_t buffer[MAX_PATH + 1] = {};
  DWORD length = 0;
  if (HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll")) {
    const auto get_temp_path2 =
        reinterpret_cast<GetTempPath2Fn>(::GetProcAddress(kernel, "GetTempPath2W"));
    if (get_temp_path2 != nullptr) length = get_temp_path2(MAX_PATH + 1, buffer);
  }
  if (length == 0 || length > MAX_PATH) length = ::GetTempPathW(MAX_PATH + 1, buffer);
  if (length == 0 || length > MAX_PATH) return {};
  return std::wstring(buffer, length);
}

bool IsOldVpnConfigFileName(const std::wstring& name) {
  const std::wstring prefix = L"vpn_config_";
  const std::wstring extension = L".json";
  return name.compare(0, prefix.size(), prefix) == 0 &&
         fs::path(name).extension().wstring() == extension;
}

bool WriteVpnConfig(const std::string& config, std::wstring* path) {
  const std::wstring temp = UserTempDirectory();
  if (temp.empty()) return false;
  const fs::path folder = fs::path(temp) / L"tidewire_vpn";
  std::error_code error;
  fs::create_directories(folder, error);
  if (error || !fs::is_directory(folder, error)) return false;

  // Files of earlier sessions; a file that cannot be removed does not stop the write.
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code entry_error;
    if (!it->is_regular_file(entry_error)) continue;
    if (IsOldVpnConfigFileName(it->path().filename().wstring()))
      fs::remove(it->path(), entry_error);
  }

  const fs::path file = folder / L"vpn_config_active.json";
  *path = file.wstring();
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out.is_open()) return false;
  const std::string written = StripAllowInsecure(config);
  out.write(written.data(), static_cast<std::streamsize>(written.size()));
  out.close();
  // A short write (full disk) must not pass for a usable configuration.
  return !out.fail();
}
