// The user's own system-proxy settings, kept while a proxy session has replaced them, and the
// text of their backup file, so a crash between setting our proxy and restoring theirs loses
// nothing (no Win32).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zelvora {

// WinINet's per-connection settings of the LAN connection, as UTF-8.
struct ProxySettings {
  uint32_t flags = 0;  // PROXY_TYPE_* bits
  std::string server;
  std::string bypass;
  std::string autoconfig_url;
  bool operator==(const ProxySettings& other) const {
    return flags == other.flags && server == other.server && bypass == other.bypass &&
           autoconfig_url == other.autoconfig_url;
  }
  bool operator!=(const ProxySettings& other) const { return !(*this == other); }
};

// What a backup holds: the settings to restore, and the proxy server text this program set in
// their place (to tell whether the system still points at our session).
struct ProxySettingsBackup {
  ProxySettings previous;
  std::string ours;
};

std::string FormatProxySettingsBackup(const ProxySettingsBackup& backup);
// Nothing for a text that is not a complete backup of this format.
std::optional<ProxySettingsBackup> ParseProxySettingsBackup(const std::string& text);

// True when `current` is still the proxy our session set (its proxy bit on, our server text),
// so restoring the backup undoes only our own change.
bool StillPointsAtOurProxy(const ProxySettings& current, const std::string& ours);

}  // namespace zelvora
