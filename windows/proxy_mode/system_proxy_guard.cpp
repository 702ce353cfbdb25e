#include "proxy_mode/system_proxy_guard.h"

#include <windows.h>

#include "common/protected_file.h"
#include "common/text_encoding.h"
#include "common/trusted_state_file.h"
#include "common/zelvora_data_files.h"
#include "proxy_mode/system_proxy.h"
#include "tunnel_log/tunnel_log.h"

namespace zelvora {
namespace {

// The user's own settings survive a crash here. The folder is shared with standard users, so
// this elevated process reads, replaces and deletes the file only through the checked helpers,
// which never follow a link planted in its place; a replace writes a new file and renames it
// over the old one, so a crash mid-write leaves the old backup or the new one, never half.
bool WriteBackup(const std::string& text) {
  return EnsureZelvoraDataFolder() && WriteTrustedStateFile(ProxyBackupPath(), text);
}

void RemoveBackup() { DeleteTrustedStateFile(ProxyBackupPath()); }

// Restores `backup.previous` when the system still shows our proxy.
void RestoreIfStillOurs(const ProxySettingsBackup& backup) {
  ProxySettings current;
  if (ReadProxySettings(&current) && StillPointsAtOurProxy(current, backup.ours)) {
    ApplyProxySettings(backup.previous);
  }
}

}  // namespace

std::wstring ProxyBackupPath() { return ZelvoraDataFolder() + L"\\proxy_restore.v1"; }

bool SystemProxyGuard::Point(const std::string& host, uint16_t port) {
  std::lock_guard<std::mutex> lock(mutex_);
  ProxySettingsBackup backup;
  if (saved_) {
    backup = *saved_;  // a second Point keeps the user's settings, not our first proxy
  } else if (!ReadProxySettings(&backup.previous)) {
    return false;
  }
  const SystemProxyTexts texts = ProxyTextsFor(host, port);
  backup.ours = WideToUtf8(texts.server);
  // Without the file (a folder we may not write) the session still runs; only a crash would
  // then lose the user's settings.
  const bool backed_up = WriteBackup(FormatProxySettingsBackup(backup));
  if (!SetSystemProxy(texts)) {
    if (!saved_ && backed_up) RemoveBackup();
    return false;
  }
  saved_ = backup;
  return true;
}

void SystemProxyGuard::Restore() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!saved_) return;
  RestoreIfStillOurs(*saved_);
  saved_.reset();
  RemoveBackup();
}

bool SystemProxyGuard::IsSet() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return saved_.has_value();
}

void SystemProxyGuard::RecoverFromBackup() {
  std::string text;
  const TrustedRead read = ReadTrustedStateFile(ProxyBackupPath(), &text);
  if (read == TrustedRead::kUntrustedOwner) {
    // Planted by a standard user: left alone, like a link in its place.
    TunnelLogWrite("WARNING: ignoring proxy settings backup not created by an administrator");
    return;
  }
  if (read != TrustedRead::kRead) return;  // none, or a link: not ours to trust
  if (const auto backup = ParseProxySettingsBackup(text)) RestoreIfStillOurs(*backup);
  RemoveBackup();  // a backup that does not parse is of no use either
}

}  // namespace zelvora
