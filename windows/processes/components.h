// Finding the core's programs (xray.exe, tun2socks.exe) and checking their folder.
#pragma once

#include <optional>
#include <string>

std::optional<std::wstring> FindXrayExecutable();
std::optional<std::wstring> FindTun2socksExecutable();

// The paths the engine runs; filled by CheckComponents.
struct CoreComponents {
  std::wstring xray_path;
  std::wstring tun2socks_path;
};

// Finds both programs and checks the data files beside xray.exe. Empty text when everything is
// in place, else what the user must fix. `native_tun`: Xray's own TUN inbound replaces
// tun2socks, which may then be missing.
std::string CheckComponents(bool native_tun, CoreComponents* components);
