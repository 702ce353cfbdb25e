// Points the system proxy at a proxy session and gives the user's own settings back afterwards.
// The settings in force before the session are kept in memory and in a backup file, so a
// crashed or killed host loses nothing: the next start or stop restores them.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "proxy_mode/proxy_settings_backup.h"

namespace zelvora {

class SystemProxyGuard {
 public:
  // Saves the current settings (memory and, where it can be written, the backup file), then sets
  // "socks=<host>:<port>". False, with the settings untouched, when they cannot be read or set.
  bool Point(const std::string& host, uint16_t port);
  // Puts the saved settings back when the system still points at our proxy (a change the user
  // made meanwhile is theirs and stays), and drops the backup. Nothing when we set nothing.
  void Restore();
  bool IsSet() const;

  // After a crash: when a backup file exists and the system proxy still points at the proxy it
  // names, restores the settings it holds. The file is removed either way.
  static void RecoverFromBackup();

 private:
  mutable std::mutex mutex_;
  std::optional<ProxySettingsBackup> saved_;
};

// Where the backup lives (beside the logs folder of the shared data folder).
const wchar_t* ProxyBackupPath();

}  // namespace zelvora
