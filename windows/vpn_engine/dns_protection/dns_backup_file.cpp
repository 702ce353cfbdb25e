#include "vpn_engine/dns_protection/dns_backup_file.h"

#include <windows.h>

#include <exception>
#include <string>

#include "common/protected_file.h"
#include "common/trusted_state_file.h"
#include "common/zelvora_data_files.h"
#include "tunnel_log/tunnel_log.h"
#include "vpn_engine/dns_protection/dns_backup_format.h"

bool SaveDnsBackups(const std::vector<DnsBackupRecord>& records) {
  if (records.empty()) {
    DeleteDnsBackupFile();
    return true;
  }
  try {
    EnsureZelvoraDataFolder();
    // Written beside and renamed over the old file: a crash mid-write leaves the previous
    // complete backup, never half of one.
    if (!zelvora::WriteTrustedStateFile(DnsRestoreFilePath(), FormatDnsBackups(records))) {
      TunnelLogWrite("dns-leak: failed to open DNS backup for write");
      return false;
    }
    TunnelLogWrite("dns-leak: persisted " + std::to_string(records.size()) +
                   " adapter DNS backup(s) to disk");
    return true;
  } catch (const std::exception&) {
    TunnelLogWrite("dns-leak: exception persisting DNS backup");
    return false;
  }
}

bool LoadDnsBackups(std::vector<DnsBackupRecord>* out) {
  out->clear();
  try {
    std::string content;
    const zelvora::TrustedRead read = zelvora::ReadTrustedStateFile(DnsRestoreFilePath(), &content);
    if (read == zelvora::TrustedRead::kUntrustedOwner) {
      // Planted by a standard user: whatever it says, these were never the user's settings.
      TunnelLogWrite("dns-leak: ignoring DNS backup not created by an administrator");
      return false;
    }
    return read == zelvora::TrustedRead::kRead && ParseDnsBackups(content, out);
  } catch (const std::exception&) {
    out->clear();
    return false;
  }
}

void DeleteDnsBackupFile() {
  try {
    zelvora::DeleteTrustedStateFile(DnsRestoreFilePath());
  } catch (...) {
  }
}

bool DnsBackupFileExists() {
  const DWORD attributes = ::GetFileAttributesW(DnsRestoreFilePath().c_str());
  return attributes != INVALID_FILE_ATTRIBUTES;
}

bool SetAsideDnsBackupFile() {
  if (!DnsBackupFileExists()) return false;
  const std::wstring path = DnsRestoreFilePath();
  for (int n = 0; n < 100; ++n) {
    const std::wstring aside = path + L".unrestored" + (n == 0 ? L"" : L"." + std::to_wstring(n));
    if (::GetFileAttributesW(aside.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
    return zelvora::RenameProtectedFile(path, aside);
  }
  return false;
}
