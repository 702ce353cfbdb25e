#include "vpn_engine/dns_protection/dns_leak_protection.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "common/detached_thread.h"
#include "common/stop_aware_wait.h"
#include "common/text_encoding.h"
#include "config_text/config_inspection.h"
#include "tunnel_log/tunnel_log.h"
#include "vpn_engine/adapter_routes/wintun_holder.h"
#include "vpn_engine/dns_protection/adapter_dns_settings.h"
#include "vpn_engine/dns_protection/dns_backup_file.h"
#include "vpn_engine/dns_protection/name_resolution_policy.h"
#include "vpn_engine/dns_protection/netsh_text_rules.h"

namespace {

constexpr uint32_t kNeutralMetric = 5000;
constexpr uint32_t kPhysicalCommandMs = 1500;
constexpr uint32_t kIpv6ResetMs = 1200;
constexpr uint32_t kTunnelCommandMs = 2500;
constexpr size_t kTunnelServersSet = 3;
constexpr char kNeutralServer[] = "127.0.0.1";

std::mutex& DnsMutex() {
  static std::mutex mutex;
  return mutex;
}

std::atomic<int>& PendingRestoreCounter() {
  static std::atomic<int> pending{0};
  return pending;
}

// The servers the tunnel adapter gets. Only dotted IPv4 text goes on a command line; when the
// configuration gave none, the defaults apply.
std::vector<std::string> TunnelServers(const std::vector<std::string>& configured) {
  std::vector<std::string> servers = GetTunnelDnsServers(configured);
  servers.erase(std::remove_if(servers.begin(), servers.end(),
                               [](const std::string& s) { return !IsDottedIpv4Server(s); }),
                servers.end());
  return servers.empty() ? GetTunnelDnsServers({}) : servers;
}

std::vector<std::string> ServersOf(const zelvora::AdapterInfo& adapter, bool ipv4) {
  std::vector<std::string> servers;
  for (const zelvora::DnsServerEntry& entry : adapter.dns_servers) {
    if (entry.ipv4 != ipv4 || entry.text.empty()) continue;
    if (ipv4 ? entry.text == "0.0.0.0" : !IsIpv6ServerText(entry.text)) continue;
    servers.push_back(entry.text);
  }
  return servers;
}

// The state this code leaves a physical adapter in while the tunnel is up. Found on an adapter
// with no record of ours, it is what a lost or unrestorable backup left: never the user's own.
bool LooksNeutralised(const zelvora::AdapterInfo& adapter, const DnsBackupRecord& read) {
  return adapter.dns_v4_static && read.servers == std::vector<std::string>{kNeutralServer} &&
         read.metricValid && read.metric == kNeutralMetric && !read.autoMetric;
}

DnsBackupRecord RecordOf(zelvora::HostNetwork& network, const zelvora::AdapterInfo& adapter,
                         const std::string& name) {
  DnsBackupRecord record;
  record.name = name;
  record.ifIndex = adapter.if_index;
  record.luid = adapter.luid;
  // Hand-set servers on a DHCP adapter are the user's own: restore them as static ones.
  record.dhcp = adapter.dhcpv4_enabled && !adapter.dns_v4_static;
  record.servers = ServersOf(adapter, true);
  if (adapter.dns_v6_static) record.serversV6 = ServersOf(adapter, false);
  zelvora::InterfaceMetric row;
  if (network.GetInterfaceMetric(adapter.if_index, &row)) {
    record.metricValid = true;
    record.metric = row.metric;
    record.autoMetric = row.automatic;
  }
  if (LooksNeutralised(adapter, record)) {
    // Saving this as the user's would make every later restore put 127.0.0.1 back. Windows'
    // own defaults (DNS from DHCP, automatic metric) are the best that can be restored.
    TunnelLogWrite("dns-leak: " + name +
                   " still holds the tunnel's DNS stub — saving Windows' defaults for it");
    record.dhcp = true;
    record.servers.clear();
    record.serversV6.clear();
    record.metric = 0;
    record.autoMetric = true;
  }
  return record;
}

// The adapter a record belongs to now: by LUID, which survives renames and renumbering; by the
// saved name only for records from files that did not keep the LUID.
const zelvora::AdapterInfo* AdapterOf(const DnsBackupRecord& record,
                                      const std::vector<zelvora::AdapterInfo>& adapters) {
  for (const zelvora::AdapterInfo& adapter : adapters) {
    if (record.luid != 0 ? adapter.luid == record.luid
                         : WideToUtf8(adapter.friendly_name) == record.name) {
      return &adapter;
    }
  }
  return nullptr;
}

bool SameAdapter(const DnsBackupRecord& a, const DnsBackupRecord& b) {
  return a.luid != 0 && b.luid != 0 ? a.luid == b.luid : a.name == b.name;
}

// Saves what is recorded so far, so the cleanup finds it, and says why the apply stopped.
bool AbortApply(DnsProtectionContext& engine, const char* line) {
  if (!engine.dnsBackups.empty()) SaveDnsBackups(engine.dnsBackups);
  TunnelLogWrite(line);
  return false;
}

// The file holds exactly the records still to restore: none left, no file.
void KeepOnDisk(const std::vector<DnsBackupRecord>& remaining) {
  if (remaining.empty()) {
    DeleteDnsBackupFile();
  } else if (SaveDnsBackups(remaining)) {
    TunnelLogWrite("dns-leak: " + std::to_string(remaining.size()) +
                   " adapter(s) not restored yet — kept for the next start");
  }
}

// Restores the records in memory, or else those in the file; returns what could not be
// restored (also left in the file). The resolver cache is the caller's to flush.
std::vector<DnsBackupRecord> RevertLocked(DnsProtectionContext& engine) {
  engine.guard.Remove();
  RestoreNameResolutionPolicy();
  std::vector<DnsBackupRecord> records = std::move(engine.dnsBackups);
  engine.dnsBackups.clear();
  // An unreadable file stays where it is for someone to look at.
  if (records.empty() && !LoadDnsBackups(&records)) return {};
  std::vector<DnsBackupRecord> remaining =
      RestoreAdapters(engine.network, engine.commands, records);
  KeepOnDisk(remaining);
  return remaining;
}

// One physical adapter: recorded and saved first (unless an unrestored record of it is kept
// already), then neutralised. False when a stop cut it short or its record could not be saved
// (the line is written).
bool NeutraliseAdapter(DnsProtectionContext& engine, const zelvora::AdapterInfo& adapter,
                       const std::string& name) {
  DnsBackupRecord key;
  key.name = name;
  key.luid = adapter.luid;
  const auto kept = std::find_if(engine.dnsBackups.begin(), engine.dnsBackups.end(),
                                 [&](const DnsBackupRecord& r) { return SameAdapter(r, key); });
  const bool recorded_before = kept != engine.dnsBackups.end();
  // An adapter whose settings from before are still to be restored keeps that record: what it
  // shows now is not the user's.
  const DnsBackupRecord record = recorded_before ? *kept : RecordOf(engine.network, adapter, name);
  if (!recorded_before) engine.dnsBackups.push_back(record);
  if (!SaveDnsBackups(engine.dnsBackups)) {
    // Without the copy on disk a crash now would lose this adapter's settings for good.
    if (!recorded_before) engine.dnsBackups.pop_back();
    TunnelLogWrite("dns-leak: DNS backup not saved — " + name + " left untouched");
    return false;
  }
  zelvora::InterfaceMetric row;
  if (engine.network.GetInterfaceMetric(adapter.if_index, &row) &&
      engine.network.SetInterfaceMetric(adapter.if_index, {kNeutralMetric, false})) {
    TunnelLogWrite("dns-leak: raised metric on " + name);
  }
  // IPv4 queries go to the stub and hand-set IPv6 servers go; the guard blocks DNS to any
  // other server outside the tunnel.
  const DnsAdapter target{adapter.luid, name};
  WriteAdapterDns(engine.network, engine.commands, target, false, {kNeutralServer},
                  kPhysicalCommandMs);
  if (!engine.running) {
    TunnelLogWrite("dns-leak: aborted mid-apply after neutralize start");
    return false;
  }
  WriteAdapterDns(engine.network, engine.commands, target, true, {}, kPhysicalCommandMs);
  TunnelLogWrite("dns-leak: neutralized DNS on " + name + " (" +
                 std::to_string(record.servers.size()) + " v4 server(s) saved)");
  return true;
}

bool ApplyLocked(DnsProtectionContext& engine, const std::string& tunnel_name) {
  if (!engine.running) return false;
  if (!IsSafeNetshName(tunnel_name)) {
    TunnelLogWrite("dns-leak: refusing unsafe Zelvora adapter name for netsh");
    return false;
  }
  // Whatever an earlier or crashed connection left behind goes first. Records that could not
  // be restored stay the user's settings of their adapters and go into this connection's file.
  engine.dnsBackups = RevertLocked(engine);
  if (engine.dnsBackups.empty() && SetAsideDnsBackupFile()) {
    // A file that could not be read or trusted is kept under another name, never overwritten.
    TunnelLogWrite("dns-leak: unreadable DNS backup kept as dns_restore.v1.unrestored");
  }
  if (!engine.running) return false;

  std::vector<zelvora::AdapterInfo> adapters;
  const zelvora::ReadStatus status =
      engine.network.ListAdapters(zelvora::AdapterListing::kAllFamilies, &adapters);
  if (status == zelvora::ReadStatus::kSizingFailed) {
    TunnelLogWrite("dns-leak: GetAdaptersAddresses size failed");
    return false;
  }
  if (status != zelvora::ReadStatus::kOk) adapters.clear();
  uint64_t tunnel_luid = 0;
  bool tunnel_found = false;
  for (const zelvora::AdapterInfo& adapter : adapters) {
    if (!engine.running) {
      return AbortApply(engine, "dns-leak: aborted mid-apply (stop requested)");
    }
    if (adapter.friendly_name.empty() || adapter.software_loopback || !adapter.oper_up) continue;
    if (zelvora::IsZelvoraAdapterName(adapter.friendly_name)) {
      tunnel_luid = adapter.luid;
      tunnel_found = true;
      continue;
    }
    const std::string name = WideToUtf8(adapter.friendly_name);
    if (name.empty()) continue;
    if (!IsSafeNetshName(name)) {
      TunnelLogWrite("dns-leak: skip unsafe adapter name");
      continue;
    }
    if (!NeutraliseAdapter(engine, adapter, name)) return false;
  }
  if (!engine.running) {
    return AbortApply(engine, "dns-leak: aborted before tunnel DNS (stop requested)");
  }
  SaveDnsBackups(engine.dnsBackups);
  const std::vector<std::string> servers = TunnelServers(engine.dnsServers);
  if (tunnel_found) {
    const DnsAdapter tunnel{tunnel_luid, tunnel_name};
    const size_t count = std::min(servers.size(), kTunnelServersSet);
    WriteAdapterDns(engine.network, engine.commands, tunnel, false,
                    std::vector<std::string>(servers.begin(), servers.begin() + count),
                    kTunnelCommandMs);
    if (!engine.running) {
      TunnelLogWrite("dns-leak: aborted while setting Zelvora DNS");
      return false;
    }
    WriteAdapterDns(engine.network, engine.commands, tunnel, true, {}, kPhysicalCommandMs);
  }
  ApplyNameResolutionPolicy();
  if (!tunnel_found || tunnel_luid == 0) {
    TunnelLogWrite(
        "dns-leak: ERROR Zelvora LUID missing — refusing CONNECTED without WFP DNS guard");
    return false;
  }
  std::vector<std::string> permitted = servers;
  if (engine.coreDnsHosts != nullptr) {
    permitted.insert(permitted.end(), engine.coreDnsHosts->begin(), engine.coreDnsHosts->end());
  }
  if (!engine.guard.Install(tunnel_luid, engine.xrayPath, permitted)) {
    TunnelLogWrite("dns-leak: ERROR WFP DNS guard install failed");
    return false;
  }
  if (!engine.blockedApps.empty()) {
    TunnelLogWrite(
        "dns-leak: split/bypass apps active — physical DNS still stubbed + DNS guard ON (no ISP "
        "DNS leak)");
  }
  // The connect's one flush: whatever the cache learnt before the adapters changed goes.
  FlushDnsCache(engine.network, engine.commands);
  std::string line = "dns-leak: Zelvora OS DNS set to " + servers[0];
  if (servers.size() >= 2) line += " / " + servers[1];
  TunnelLogWrite(line);
  return true;
}

// Puts one record's DNS servers back on its adapter (found now by LUID, or by name for old
// records). False when the record can never be restored (its first server is not an address).
bool WriteRecord(zelvora::HostNetwork& network, zelvora::CommandRunner& commands,
                 const DnsBackupRecord& record, const DnsAdapter& adapter) {
  std::vector<std::string> v4;
  if (!record.dhcp && !record.servers.empty()) {
    if (!IsDottedIpv4Server(record.servers[0])) {
      TunnelLogWrite("dns-leak: skip static DNS — unsafe address");
      return false;
    }
    for (const std::string& server : record.servers) {
      if (IsDottedIpv4Server(server)) v4.push_back(server);
    }
  }
  std::vector<std::string> v6;
  for (const std::string& server : record.serversV6) {
    if (IsIpv6ServerText(server)) v6.push_back(server);
  }
  WriteAdapterDns(network, commands, adapter, false, v4, kPhysicalCommandMs);
  WriteAdapterDns(network, commands, adapter, true, v6, kIpv6ResetMs);
  return true;
}

// Whether the adapter, read back, shows the record's settings: commands that failed, hung, were
// killed or had no effect all leave it different.
bool ShowsRecord(zelvora::HostNetwork& network, const zelvora::AdapterInfo& adapter,
                 const DnsBackupRecord& record) {
  std::vector<std::string> want_v4;
  if (!record.dhcp) {
    for (const std::string& server : record.servers) {
      if (IsDottedIpv4Server(server)) want_v4.push_back(server);
    }
  }
  std::vector<std::string> want_v6;
  for (const std::string& server : record.serversV6) {
    if (IsIpv6ServerText(server)) want_v6.push_back(server);
  }
  const std::vector<std::string> has_v4 =
      adapter.dns_v4_static ? ServersOf(adapter, true) : std::vector<std::string>();
  const std::vector<std::string> has_v6 =
      adapter.dns_v6_static ? ServersOf(adapter, false) : std::vector<std::string>();
  if (has_v4 != want_v4 || has_v6 != want_v6) return false;
  if (!record.metricValid) return true;
  zelvora::InterfaceMetric row;
  if (!network.GetInterfaceMetric(adapter.if_index, &row)) return false;
  // With the automatic metric on, Windows reports the metric it computed, not the saved one.
  return row.automatic == record.autoMetric && (record.autoMetric || row.metric == record.metric);
}

}  // namespace

bool ApplyDnsLeakProtection(DnsProtectionContext& engine, const std::string& tunnel_name) {
  // A restore of the previous connection may be scheduled without holding the lock yet. Were
  // this apply to go first, it would neutralise the adapters and the late restore would then
  // undo that under the running tunnel and delete this connection's backup file. So it waits
  // for every pending restore (they always end: their commands have time limits), or a stop.
  while (true) {
    std::unique_lock<std::mutex> lock(DnsMutex());
    if (PendingRestoreCounter() <= 0) return ApplyLocked(engine, tunnel_name);
    lock.unlock();
    if (!zelvora::WaitWhileRunning(engine.running, 10)) return false;
  }
}

void RevertDnsLeakProtection(DnsProtectionContext& engine) {
  std::lock_guard<std::mutex> lock(DnsMutex());
  RevertLocked(engine);
  FlushDnsCache(engine.network, engine.commands);
}

void RestoreDnsAsync(DnsProtectionContext& engine) {
  engine.guard.Remove();
  RestoreNameResolutionPolicy();
  // With nothing in memory the file (if any) is left alone: it is the only copy of settings
  // still to restore, which the cleanup or the next start puts back.
  if (engine.dnsBackups.empty()) return;
  std::atomic<int>& pending = PendingRestoreCounter();
  auto records = std::make_shared<std::vector<DnsBackupRecord>>(std::move(engine.dnsBackups));
  engine.dnsBackups.clear();
  zelvora::HostNetwork* network = &engine.network;
  zelvora::CommandRunner* commands = &engine.commands;
  ++pending;
  auto restore = [records, network, commands] {
    std::lock_guard<std::mutex> lock(DnsMutex());
    try {
      KeepOnDisk(RestoreAdapters(*network, *commands, *records));
      FlushDnsCache(*network, *commands);
    } catch (...) {
      // The file stays; the next connect restores from it.
    }
    --PendingRestoreCounter();
  };
  if (!zelvora::StartDetachedThread(restore)) {
    // No thread to be had: restoring here is slower, losing the user's settings is worse.
    restore();
  }
}

bool RestoreDnsFromBackupFile(zelvora::HostNetwork& network, zelvora::CommandRunner& commands) {
  std::lock_guard<std::mutex> lock(DnsMutex());
  RestoreNameResolutionPolicy();
  std::vector<DnsBackupRecord> records;
  if (!LoadDnsBackups(&records)) return !DnsBackupFileExists();
  const std::vector<DnsBackupRecord> remaining = RestoreAdapters(network, commands, records);
  KeepOnDisk(remaining);
  FlushDnsCache(network, commands);
  return remaining.empty();
}

void WaitForDnsRestore(uint32_t timeout_ms) {
  const uint32_t rounds = std::max<uint32_t>(timeout_ms / 100, 1);
  for (uint32_t i = 0; i < rounds; ++i) {
    if (PendingRestoreCounter() < 1) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::lock_guard<std::mutex> lock(DnsMutex());
}

std::vector<DnsBackupRecord> RestoreAdapters(zelvora::HostNetwork& network,
                                             zelvora::CommandRunner& commands,
                                             const std::vector<DnsBackupRecord>& records) {
  if (records.empty()) return {};
  std::vector<DnsBackupRecord> remaining;
  std::vector<zelvora::AdapterInfo> adapters;
  if (network.ListAdapters(zelvora::AdapterListing::kAllFamilies, &adapters) !=
      zelvora::ReadStatus::kOk) {
    // Without the list no adapter can be found, nor a restore confirmed.
    TunnelLogWrite("dns-leak: adapter list unreadable — DNS restore kept for the next start");
    return records;
  }
  std::vector<const DnsBackupRecord*> attempted;
  for (const DnsBackupRecord& record : records) {
    const zelvora::AdapterInfo* adapter = AdapterOf(record, adapters);
    if (adapter == nullptr) {
      TunnelLogWrite("dns-leak: " + record.name +
                     " is not present — its DNS settings stay saved for the next start");
      remaining.push_back(record);
      continue;
    }
    const std::string name = WideToUtf8(adapter->friendly_name);
    if (record.metricValid && adapter->if_index != 0) {
      zelvora::InterfaceMetric row;
      if (network.GetInterfaceMetric(adapter->if_index, &row)) {
        network.SetInterfaceMetric(adapter->if_index, {record.metric, record.autoMetric});
      }
    }
    if (WriteRecord(network, commands, record, {adapter->luid, name})) {
      attempted.push_back(&record);
    }
  }
  if (attempted.empty()) return remaining;
  // A record is done only when its adapter, read back, shows what it holds.
  std::vector<zelvora::AdapterInfo> now;
  const bool readable =
      network.ListAdapters(zelvora::AdapterListing::kAllFamilies, &now) == zelvora::ReadStatus::kOk;
  for (const DnsBackupRecord* record : attempted) {
    const zelvora::AdapterInfo* adapter = readable ? AdapterOf(*record, now) : nullptr;
    if (adapter != nullptr && ShowsRecord(network, *adapter, *record)) {
      TunnelLogWrite("dns-leak: restored DNS on " + WideToUtf8(adapter->friendly_name));
    } else {
      TunnelLogWrite("dns-leak: restore of " + record->name +
                     " not confirmed — kept for the next start");
      remaining.push_back(*record);
    }
  }
  return remaining;
}

int PendingDnsRestores() { return PendingRestoreCounter(); }
