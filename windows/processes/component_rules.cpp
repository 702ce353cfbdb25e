#include "processes/component_rules.h"

namespace {
std::wstring Join(std::wstring base, const std::wstring& tail) {
  if (!base.empty() && base.back() != L'\\' && base.back() != L'/') base += L'\\';
  return base + tail;
}
}  // namespace

std::wstring ParentFolder(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::vector<std::wstring> ComponentFolders(const std::wstring& cwd, const std::wstring& exe_dir) {
  std::vector<std::wstring> folders;
  if (!exe_dir.empty()) {
    for (const wchar_t* sub : {L"", L"xray", L"data\\flutter_assets", L"data\\flutter_assets\\xray",
                               L"data\\flutter_assets\\windows\\xray"}) {
      folders.push_back(*sub ? Join(exe_dir, sub) : exe_dir);
    }
  }
  if (!cwd.empty()) {
    folders.push_back(cwd);
    folders.push_back(Join(cwd, L"xray"));
    folders.push_back(Join(cwd, L"windows\\xray"));
    folders.push_back(Join(ParentFolder(cwd), L"xray"));
  }
  return folders;
}

std::string ComponentCheckText(bool have_xray, bool have_tun2socks, bool native_tun,
                               const std::function<bool(const std::wstring&)>& exists_in_folder) {
  if (!have_xray) {
    return "xray.exe not found. Place it in the xray folder next to zel_vora.exe (with "
           "geoip.dat and geosite.dat).";
  }
  if (!have_tun2socks && !native_tun) {
    return "tun2socks.exe not found. Place it in the xray folder next to zel_vora.exe (with "
           "wintun.dll).";
  }
  if (!exists_in_folder(L"geoip.dat") || !exists_in_folder(L"geosite.dat")) {
    return "geoip.dat / geosite.dat missing in the xray folder next to zel_vora.exe.";
  }
  if (!exists_in_folder(L"wintun.dll")) {
    return "wintun.dll missing in the xray folder next to zel_vora.exe.";
  }
  return std::string();
}

namespace {
std::wstring LowerCopy(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
  }
  return text;
}
}  // namespace

std::wstring LowerApplicationFolder(const std::wstring& module_path) {
  const size_t slash = module_path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return std::wstring();
  return LowerCopy(module_path.substr(0, slash + 1));
}

bool IsOwnCoreProcess(const std::wstring& lower_app_folder, const std::wstring& exe_name,
                      const std::wstring& image_path) {
  if (lower_app_folder.empty()) return false;
  const std::wstring name = LowerCopy(exe_name);
  if (name != L"xray.exe" && name != L"tun2socks.exe") return false;
  return LowerCopy(image_path).compare(0, lower_app_folder.size(), lower_app_folder) == 0;
}
