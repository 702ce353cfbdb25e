#include "processes/components.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "common/console_line.h"
#include "common/program_path.h"
#include "common/text_encoding.h"
#include "processes/component_rules.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::wstring> SearchFolders() {
  std::error_code error;
  const fs::path cwd = fs::current_path(error);
  return ComponentFolders(error ? std::wstring() : cwd.wstring(), zelvora::ProgramFolder());
}

bool IsFile(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

std::optional<std::wstring> FindComponent(const wchar_t* file_name) {
  for (const std::wstring& folder : SearchFolders()) {
    const fs::path candidate = fs::path(folder) / file_name;
    if (IsFile(candidate)) {
      ConsoleLine("Using " + WideToUtf8(candidate.wstring()));
      return candidate.wstring();
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::wstring> FindXrayExecutable() { return FindComponent(L"xray.exe"); }

std::optional<std::wstring> FindTun2socksExecutable() { return FindComponent(L"tun2socks.exe"); }

std::wstring FindXrayAssets(const std::wstring& xray) {
  std::vector<std::wstring> folders;
  if (!xray.empty()) folders.push_back(ParentFolder(xray));
  for (std::wstring& folder : SearchFolders()) folders.push_back(std::move(folder));
  for (const std::wstring& folder : folders) {
    if (IsFile(fs::path(folder) / L"geoip.dat")) return folder;
  }
  return std::wstring();
}

std::string CheckComponents(bool native_tun, CoreComponents* components) {
  CoreComponents found;
  found.xray_path = FindXrayExecutable().value_or(std::wstring());
  found.tun2socks_path = FindTun2socksExecutable().value_or(std::wstring());
  if (found.xray_path.empty()) {
    ConsoleLine("Xray executable not found.");
  } else if (found.tun2socks_path.empty() && !native_tun) {
    ConsoleLine("Tun2Socks executable not found.");
  }
  const fs::path folder = fs::path(found.xray_path).parent_path();
  const std::string text =
      ComponentCheckText(!found.xray_path.empty(), !found.tun2socks_path.empty(), native_tun,
                         [&](const std::wstring& name) { return IsFile(folder / name); });
  if (components) *components = found;
  return text;
}
