// The text of dns_restore.v1, the only copy of the user's DNS settings that survives a crash
// while connected:
//
//   v1\n
//   <record count>\n
//   per record: name\n ifIndex\n dhcp(0|1)\n metricValid(0|1)\n metric\n autoMetric(0|1)\n
//               <server count>\n then one dotted IPv4 server per line
//   x1\n
//   per record, in the same order: LUID\n <IPv6 server count>\n then one IPv6 server per line
//
// The part from "x1" on came later: readers of the first layout stop after the last record and
// never see it, and a file without it (written before) still reads, with LUID 0 and no IPv6
// servers.
//
// Every line ends with a single LF; no CR, no byte-order mark, nothing after the last line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "vpn_engine/dns_protection/dns_backup_record.h"

// The file's whole content for `records`.
std::string FormatDnsBackups(const std::vector<DnsBackupRecord>& records);

// Reads a file's content into `out` (emptied first). True when at least one record was kept.
// Logs "dns-leak: unknown DNS backup version" for a first line other than "v1" and
// "dns-leak: rejected unsafe adapter name from DNS backup" for each record dropped for its name.
// Of a record's servers only the valid ones among its first eight are kept. A record cut short
// (the file ends inside it, or a number does not read) ends the reading: it and anything after
// it are dropped, the complete records before it stay. At most 64 records are kept.
bool ParseDnsBackups(std::string_view content, std::vector<DnsBackupRecord>* out);
