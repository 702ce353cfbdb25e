// Arbitrary bytes as dns_restore.v1 (a file other users can plant): the reader must never crash
// and never hand back a record whose name or servers could not go on a netsh command line.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "vpn_engine/dns_protection/dns_backup_format.h"
#include "vpn_engine/dns_protection/name_resolution_backup.h"
#include "vpn_engine/dns_protection/netsh_text_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<DnsBackupRecord> records;
  const bool loaded = ParseDnsBackups(text, &records);
  if (loaded != !records.empty()) std::abort();
  for (const DnsBackupRecord& r : records) {
    if (!IsSafeNetshName(r.name) || r.servers.size() > 8) std::abort();
    for (const auto& server : r.servers) {
      if (!IsDottedIpv4Server(server)) std::abort();
    }
  }
  // What was read writes back to a file that reads the same.
  std::vector<DnsBackupRecord> again;
  if (loaded && (!ParseDnsBackups(FormatDnsBackups(records), &again) || again != records)) {
    std::abort();
  }
  const auto policy = ParseNameResolutionBackup(text);
  if (policy) {
    const auto reread = ParseNameResolutionBackup(FormatNameResolutionBackup(*policy));
    if (!reread || reread->smartValue != policy->smartValue ||
        reread->parallelExisted != policy->parallelExisted) {
      std::abort();
    }
  }
  return 0;
}
