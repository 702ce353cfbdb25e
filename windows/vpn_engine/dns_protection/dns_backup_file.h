// dns_restore.v1 on disk: saved before any adapter is touched, read back after a crash.
#pragma once

#include <vector>

#include "vpn_engine/dns_protection/dns_backup_record.h"

// The file reflects `records`: rewritten whole, or deleted when the list is empty.
bool SaveDnsBackups(const std::vector<DnsBackupRecord>& records);
// True when at least one record was loaded into `out` (emptied first).
bool LoadDnsBackups(std::vector<DnsBackupRecord>* out);
// Removes the file; errors are ignored.
void DeleteDnsBackupFile();

bool DnsBackupFileExists();
// Moves a file that could not be read or trusted out of the way (to dns_restore.v1.unrestored,
// or that name with a number when it is taken), so a new backup never overwrites it. True
// when there was one and it moved.
bool SetAsideDnsBackupFile();
