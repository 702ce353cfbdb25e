#include "processes/components.h"

#include <filesystem>
#include <iostream>

#include "common/program_path.h"
#include "common/text_encoding.h"
#include "processes/component_rules.h"

namespace {

std::optional<std::wstring> FindComponent(const wchar_t* file_name, const char* line) {
  const std::wstring cwd = std::filesystem::current_path().wstring();
  for (const std::wstring& candidate :
       EngineComponentCandidates(cwd, zelvora::ProgramFolder(), file_name)) {
    const std::filesystem::path path(candidate);
    // Not-found answers false; other file-system errors are raised, as the callers expect.
    if (std::filesystem::exists(path) && std::filesystem::is_regular_file(path)) {
      std::cerr << line << WideToUtf8(candidate) << std::endl;
      return candidate;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::wstring> FindXrayExecutable() {
  return FindComponent(L"xray.exe", "VpnService: using xray at ");
}

std::optional<std::wstring> FindTun2socksExecutable() {
  return FindComponent(L"tun2socks.exe", "VpnService: using tun2socks at ");
}

std::string CheckComponents(bool native_tun, CoreComponents* components) {
  CoreComponents found;
  found.xray_path = FindXrayExecutable().value_or(std::wstring());
  found.tun2socks_path = FindTun2socksExecutable().value_or(std::wstring());
  if (found.xray_path.empty())
    std::cerr << "Xray executable not found." << std::endl;
  else if (found.tun2socks_path.empty() && !native_tun)
    std::cerr << "Tun2Socks executable not found." << std::endl;
  const std::filesystem::path folder = std::filesystem::path(found.xray_path).parent_path();
  const std::string text = ComponentCheckText(
      !found.xray_path.empty(), !found.tun2socks_path.empty(), native_tun,
      [&](const std::wstring& name) { return std::filesystem::exists(folder / name); });
  if (components) *components = found;
  return text;
}
