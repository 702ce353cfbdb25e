#include "proxy_mode/system_proxy_guard.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/text_encoding.h"
#include "proxy_mode/system_proxy.h"

namespace zelvora {
namespace {

constexpr wchar_t kBackupPath[] = L"C:\\ProgramData\\Zelvora\\proxy_restore.v1";
constexpr wchar_t kBackupTempPath[] = L"C:\\ProgramData\\Zelvora\\proxy_restore.v1.tmp";

// Written beside and then moved over the old one, so a crash mid-write leaves either the old
// backup or the new one, never half of one.
bool WriteBackup(const std::string& text) {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(kBackupPath).parent_path(), error);
  {
    std::ofstream out(std::filesystem::path(kBackupTempPath), std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    if (!out) return false;
  }
  return ::MoveFileExW(kBackupTempPath, kBackupPath,
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

std::optional<ProxySettingsBackup> ReadBackup() {
  std::ifstream in(std::filesystem::path(kBackupPath), std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return ParseProxySettingsBackup(text.str());
}

void RemoveBackup() {
  ::DeleteFileW(kBackupPath);
  ::DeleteFileW(kBackupTempPath);
}

// Restores `backup.previous` when the system still shows our proxy.
void RestoreIfStillOurs(const ProxySettingsBackup& backup) {
  ProxySettings current;
  if (ReadProxySettings(&current) && StillPointsAtOurProxy(current, backup.ours)) {
    ApplyProxySettings(backup.previous);
  }
}

}  // namespace

const wchar_t* ProxyBackupPath() { return kBackupPath; }

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
  std::error_code error;
  if (!std::filesystem::exists(std::filesystem::path(kBackupPath), error)) return;
  if (const auto backup = ReadBackup()) RestoreIfStillOurs(*backup);
  RemoveBackup();
}

}  // namespace zelvora
