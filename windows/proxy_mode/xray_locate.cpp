#include "proxy_mode/xray_locate.h"

#include <shlobj.h>
#include <windows.h>

#include <iostream>
#include <system_error>

#include "common/program_path.h"
#include "common/text_encoding.h"

namespace zelvora {
namespace {

namespace fs = std::filesystem;

// Wide throughout: the user's profile and the app's folder may hold any letter.
fs::path KnownFolder(int csidl) {
  wchar_t buffer[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer))) return {};
  return fs::path(buffer);
}

fs::path ExeFolder() { return fs::path(ProgramFolder()); }

fs::path CurrentFolder() {
  std::error_code error;
  fs::path cwd = fs::current_path(error);
  return error ? fs::path() : cwd;
}

bool Exists(const fs::path& path) {
  std::error_code error;
  return fs::exists(path, error);
}

}  // namespace

std::vector<fs::path> ProxyXrayCandidates(const fs::path& cwd, const fs::path& app_data,
                                          const fs::path& program_files, const fs::path& exe_dir) {
  std::vector<fs::path> out;
  const fs::path name = "xray.exe";
  if (!cwd.empty()) {
    out.push_back(cwd / name);
    out.push_back(cwd / "xray" / name);
    out.push_back(cwd / "windows" / "xray" / name);
    out.push_back(cwd / "example" / "windows" / "xray" / name);
    const fs::path parent = cwd.parent_path();
    out.push_back(parent / name);
    out.push_back(parent / "xray" / name);
    out.push_back(parent / "windows" / "xray" / name);
  }
  if (!app_data.empty()) out.push_back(app_data / "tidewire" / name);
  if (!program_files.empty()) out.push_back(program_files / "Xray" / name);
  if (!exe_dir.empty()) {
    const fs::path assets = exe_dir / "data" / "flutter_assets";
    out.push_back(exe_dir / name);
    out.push_back(exe_dir / "xray" / name);
    out.push_back(assets / name);
    out.push_back(assets / "xray" / name);
    out.push_back(assets / "assets" / name);
    out.push_back(assets / "assets" / "xray" / name);
    out.push_back(assets / "windows" / "xray" / name);
    out.push_back(assets / "runner" / "xray" / name);
    out.push_back(assets / "windows" / "runner" / "xray" / name);
  }
  return out;
}

fs::path FindXrayExecutable() {
  for (const fs::path& candidate :
       ProxyXrayCandidates(CurrentFolder(), KnownFolder(CSIDL_APPDATA),
                           KnownFolder(CSIDL_PROGRAM_FILES), ExeFolder())) {
    if (Exists(candidate)) {
      std::cerr << "Found Xray executable: " << WideToUtf8(candidate.wstring()) << std::endl;
      return candidate;
    }
  }
  return {};
}

fs::path FindXrayAssets(const fs::path& xray) {
  std::vector<fs::path> folders;
  if (!xray.empty()) folders.push_back(xray.parent_path());
  const fs::path cwd = CurrentFolder();
  if (!cwd.empty()) {
    folders.push_back(cwd);
    folders.push_back(cwd / "xray");
    folders.push_back(cwd / "windows" / "xray");
  }
  const fs::path exe = ExeFolder();
  if (!exe.empty()) {
    const fs::path assets = exe / "data" / "flutter_assets";
    for (const fs::path& folder : {exe, exe / "xray", assets, assets / "xray", assets / "assets",
                                   assets / "assets" / "xray", assets / "windows" / "xray"}) {
      folders.push_back(folder);
    }
  }
  for (const fs::path& folder : folders) {
    if (Exists(folder / "geoip.dat")) return folder;
  }
  return {};
}

}  // namespace zelvora
