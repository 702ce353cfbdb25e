// Finding the core's programs (xray.exe, tun2socks.exe) and data files, and checking their
// folder. The engine and proxy mode both search here, in the folders ComponentFolders lists.
#pragma once

#include <optional>
#include <string>

std::optional<std::wstring> FindXrayExecutable();
std::optional<std::wstring> FindTun2socksExecutable();
// The folder holding the core's "geoip.dat": beside `xray` first, then the component folders;
// empty when none does.
std::wstring FindXrayAssets(const std::wstring& xray);

// The paths the engine runs; filled by CheckComponents.
struct CoreComponents {
  std::wstring xray_path;
  std::wstring tun2socks_path;
};

// Finds both programs and checks the data files beside xray.exe. Empty text when everything is
// in place, else what the user must fix. `native_tun`: Xray's own TUN inbound replaces
// tun2socks, which may then be missing.
std::string CheckComponents(bool native_tun, CoreComponents* components);
