#include "vpn_engine/dns_backup_file.h"

#include <exception>
#include <string>

#include "common/protected_file.h"
#include "tunnel_log/tunnel_log.h"
#include "vpn_engine/dns_backup_format.h"
#include "vpn_engine/zelvora_data_files.h"

bool SaveDnsBackups(const std::vector<DnsBackupRecord>& records) {
  if (records.empty()) {
    DeleteDnsBackupFile();
    return true;
  }
  try {
    EnsureZelvoraDataFolder();
    // Written beside and renamed over the old file: a crash mid-write leaves the previous
    // complete backup, never half of one.
    if (!zelvora::ReplaceProtectedFile(DnsRestoreFilePath(), FormatDnsBackups(records))) {
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
    const zelvora::TrustedRead read =
        zelvora::ReadAdministratorsFile(DnsRestoreFilePath(), &content);
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
    zelvora::DeleteProtectedFile(DnsRestoreFilePath());
  } catch (...) {
  }
}
