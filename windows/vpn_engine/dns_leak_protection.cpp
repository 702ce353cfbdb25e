#include "vpn_engine/dns_leak_protection.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "common/detached_thread.h"
#include "common/stop_aware_wait.h"
#include "common/text_encoding.h"
#include "tunnel_log/tunnel_log.h"
#include "vpn_engine/config_inspection.h"
#include "vpn_engine/dns_backup_file.h"
#include "vpn_engine/name_resolution_policy.h"
#include "vpn_engine/netsh_text_rules.h"
#include "vpn_engine/wintun_holder.h"

namespace {

constexpr uint32_t kNeutralMetric = 5000;
constexpr uint32_t kPhysicalCommandMs = 1500;
constexpr uint32_t kIpv6ResetMs = 1200;
constexpr uint32_t kTunnelCommandMs = 2500;
constexpr size_t kTunnelServersSet = 3;

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

std::string Quoted(const std::string& name) { return "name=\"" + name + "\""; }

DnsBackupRecord RecordOf(zelvora::HostNetwork& network, const zelvora::AdapterInfo& adapter,
                         const std::string& name) {
  DnsBackupRecord record;
  record.name = name;
  record.ifIndex = adapter.if_index;
  // Hand-set servers on a DHCP adapter are the user's own: restore them as static ones.
  record.dhcp = adapter.dhcpv4_enabled && !adapter.dns_v4_static;
  for (const zelvora::DnsServerEntry& entry : adapter.dns_servers) {
    if (entry.ipv4 && !entry.text.empty() && entry.text != "0.0.0.0") {
      record.servers.push_back(entry.text);
    }
  }
  zelvora::InterfaceMetric row;
  if (network.GetInterfaceMetric(adapter.if_index, &row)) {
    record.metricValid = true;
    record.metric = row.metric;
    record.autoMetric = row.automatic;
  }
  return record;
}

// Saves what is recorded so far, so the cleanup finds it, and says why the apply stopped.
bool AbortApply(DnsProtectionContext& engine, const char* line) {
  if (!engine.dnsBackups.empty()) SaveDnsBackups(engine.dnsBackups);
  TunnelLogWrite(line);
  return false;
}

void RevertLocked(DnsProtectionContext& engine) {
  engine.guard.Remove();
  RestoreNameResolutionPolicy();
  if (!engine.dnsBackups.empty()) {
    RestoreAdapters(engine.network, engine.commands, engine.dnsBackups);
    engine.dnsBackups.clear();
    DeleteDnsBackupFile();
    return;
  }
  std::vector<DnsBackupRecord> from_disk;
  if (LoadDnsBackups(&from_disk)) {
    RestoreAdapters(engine.network, engine.commands, from_disk);
    DeleteDnsBackupFile();
  } else {
    // An unreadable file stays where it is for someone to look at; only the cache is flushed.
    FlushDnsCache(engine.commands);
  }
}

// One physical adapter: recorded and saved first, then neutralised. False when a stop cut it
// short or its record could not be saved (the line is written).
bool NeutraliseAdapter(DnsProtectionContext& engine, const zelvora::AdapterInfo& adapter,
                       const std::string& name) {
  DnsBackupRecord record = RecordOf(engine.network, adapter, name);
  engine.dnsBackups.push_back(record);
  if (!SaveDnsBackups(engine.dnsBackups)) {
    // Without the copy on disk a crash now would lose this adapter's settings for good.
    engine.dnsBackups.pop_back();
    TunnelLogWrite("dns-leak: DNS backup not saved — " + name + " left untouched");
    return false;
  }
  if (record.metricValid &&
      engine.network.SetInterfaceMetric(adapter.if_index, {kNeutralMetric, false})) {
    TunnelLogWrite("dns-leak: raised metric on " + name);
  }
  engine.commands.Run("netsh interface ipv4 delete dns " + Quoted(name) + " all",
                      kPhysicalCommandMs, false);
  if (!engine.running) {
    TunnelLogWrite("dns-leak: aborted mid-apply after neutralize start");
    return false;
  }
  engine.commands.Run("netsh interface ipv6 delete dns " + Quoted(name) + " all",
                      kPhysicalCommandMs, false);
  engine.commands.Run(
      "netsh interface ipv4 set dns " + Quoted(name) + " static 127.0.0.1 primary validate=no",
      kPhysicalCommandMs, true);
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
  // Whatever an earlier or crashed connection left behind goes first.
  RevertLocked(engine);
  if (!engine.running) return false;
  engine.dnsBackups.clear();

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
  engine.commands.Run("netsh interface ipv4 set dns " + Quoted(tunnel_name) + " static " +
                          servers[0] + " primary validate=no",
                      kTunnelCommandMs, true);
  for (size_t i = 1; i < std::min(servers.size(), kTunnelServersSet); ++i) {
    if (!engine.running) {
      TunnelLogWrite("dns-leak: aborted while setting Zelvora DNS");
      return false;
    }
    engine.commands.Run("netsh interface ipv4 add dns " + Quoted(tunnel_name) + " " + servers[i] +
                            " index=" + std::to_string(i + 1) + " validate=no",
                        kTunnelCommandMs, true);
  }
  engine.commands.Run("netsh interface ipv6 delete dns " + Quoted(tunnel_name) + " all",
                      kPhysicalCommandMs, false);
  ApplyNameResolutionPolicy();
  if (!tunnel_found || tunnel_luid == 0) {
    TunnelLogWrite(
        "dns-leak: ERROR Zelvora LUID missing — refusing CONNECTED without WFP DNS guard");
    return false;
  }
  if (!engine.guard.Install(tunnel_luid, engine.xrayPath, servers)) {
    TunnelLogWrite("dns-leak: ERROR WFP DNS guard install failed");
    return false;
  }
  if (!engine.blockedApps.empty()) {
    TunnelLogWrite(
        "dns-leak: split/bypass apps active — physical DNS still stubbed + DNS guard ON (no ISP "
        "DNS leak)");
  }
  FlushDnsCache(engine.commands);
  std::string line = "dns-leak: Zelvora OS DNS set to " + servers[0];
  if (servers.size() >= 2) line += " / " + servers[1];
  TunnelLogWrite(line);
  return true;
}

// The interface index the record's metric belongs to now. netsh finds the adapter by name, but
// an index saved before a crash may have passed to another interface after a reboot or a
// driver reinstall: when the adapter list is readable, the index is the named adapter's
// current one (0, no metric restore, when no adapter has that name any more).
uint32_t CurrentIndex(const DnsBackupRecord& record,
                      const std::vector<zelvora::AdapterInfo>* adapters) {
  if (adapters == nullptr) return record.ifIndex;
  for (const zelvora::AdapterInfo& adapter : *adapters) {
    if (WideToUtf8(adapter.friendly_name) == record.name) return adapter.if_index;
  }
  return 0;
}

void RestoreOne(zelvora::HostNetwork& network, zelvora::CommandRunner& commands,
                const DnsBackupRecord& record, const std::vector<zelvora::AdapterInfo>* adapters) {
  if (!IsSafeNetshName(record.name)) {
    TunnelLogWrite("dns-leak: skip restore — unsafe adapter name");
    return;
  }
  const uint32_t if_index = CurrentIndex(record, adapters);
  if (record.metricValid && if_index != 0) {
    zelvora::InterfaceMetric row;
    if (network.GetInterfaceMetric(if_index, &row)) {
      network.SetInterfaceMetric(if_index, {record.metric, record.autoMetric});
    }
  }
  const std::string name = Quoted(record.name);
  if (!record.dhcp && !record.servers.empty()) {
    if (!IsDottedIpv4Server(record.servers[0])) {
      TunnelLogWrite("dns-leak: skip static DNS — unsafe address");
      return;
    }
    commands.Run("netsh interface ipv4 set dns " + name + " static " + record.servers[0] +
                     " primary validate=no",
                 kPhysicalCommandMs, true);
    for (size_t i = 1; i < record.servers.size(); ++i) {
      if (!IsDottedIpv4Server(record.servers[i])) continue;
      commands.Run("netsh interface ipv4 add dns " + name + " " + record.servers[i] +
                       " index=" + std::to_string(i + 1) + " validate=no",
                   kPhysicalCommandMs, true);
    }
  } else {
    commands.Run("netsh interface ipv4 set dns " + name + " dhcp", kPhysicalCommandMs, true);
  }
  commands.Run("netsh interface ipv6 set dns " + name + " dhcp", kIpv6ResetMs, true);
  TunnelLogWrite("dns-leak: restored DNS on " + record.name);
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
}

void RestoreDnsAsync(DnsProtectionContext& engine) {
  engine.guard.Remove();
  RestoreNameResolutionPolicy();
  std::atomic<int>& pending = PendingRestoreCounter();
  if (engine.dnsBackups.empty()) {
    if (pending <= 0) DeleteDnsBackupFile();
    return;
  }
  auto records = std::make_shared<std::vector<DnsBackupRecord>>(std::move(engine.dnsBackups));
  engine.dnsBackups.clear();
  zelvora::HostNetwork* network = &engine.network;
  zelvora::CommandRunner* commands = &engine.commands;
  ++pending;
  auto restore = [records, network, commands] {
    std::lock_guard<std::mutex> lock(DnsMutex());
    try {
      RestoreAdapters(*network, *commands, *records);
      DeleteDnsBackupFile();
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

void WaitForDnsRestore(uint32_t timeout_ms) {
  const uint32_t rounds = std::max<uint32_t>(timeout_ms / 100, 1);
  for (uint32_t i = 0; i < rounds; ++i) {
    if (PendingRestoreCounter() < 1) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::lock_guard<std::mutex> lock(DnsMutex());
}

void RestoreAdapters(zelvora::HostNetwork& network, zelvora::CommandRunner& commands,
                     const std::vector<DnsBackupRecord>& records) {
  std::vector<zelvora::AdapterInfo> adapters;
  const bool listed =
      !records.empty() && network.ListAdapters(zelvora::AdapterListing::kAllFamilies, &adapters) ==
                              zelvora::ReadStatus::kOk;
  for (const DnsBackupRecord& record : records) {
    RestoreOne(network, commands, record, listed ? &adapters : nullptr);
  }
  FlushDnsCache(commands);
}

void FlushDnsCache(zelvora::CommandRunner& commands) {
  if (HMODULE dnsapi = ::LoadLibraryW(L"dnsapi.dll")) {
    using FlushFunction = BOOL(WINAPI*)();
    const auto flush =
        reinterpret_cast<FlushFunction>(::GetProcAddress(dnsapi, "DnsFlushResolverCache"));
    if (flush) flush();
    ::FreeLibrary(dnsapi);
  }
  commands.Run("ipconfig /flushdns", kPhysicalCommandMs, false);
}

int PendingDnsRestores() { return PendingRestoreCounter(); }
