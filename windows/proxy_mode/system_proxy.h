// The user's system proxy (WinINet per-connection settings of the LAN connection).
#pragma once

#include <windows.h>
// PROXY_TYPE_* flags of the state below.
#include <wininet.h>

#include <cstdint>
#include <string>

#include "proxy_mode/proxy_settings_backup.h"

namespace zelvora {

// The texts handed to WinINet; the caller keeps them for as long as the proxy is set.
struct SystemProxyTexts {
  std::wstring server;  // "socks=<host>:<port>"
  std::wstring bypass;  // local and private ranges
};

SystemProxyTexts ProxyTextsFor(const std::string& host, uint16_t port);

// Points the system proxy at `texts`; false when WinINet refuses.
bool SetSystemProxy(const SystemProxyTexts& texts);

// The whole setting (flags, server, bypass list, automatic configuration script), as UTF-8, to
// save before a session and put back exactly afterwards.
bool ReadProxySettings(ProxySettings* settings);
bool ApplyProxySettings(const ProxySettings& settings);

}  // namespace zelvora
