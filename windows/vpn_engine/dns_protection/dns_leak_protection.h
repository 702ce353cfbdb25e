// DNS leak protection for the lifetime of a tunnel: every active physical adapter's DNS and
// metric settings are recorded (in memory and in dns_restore.v1) before anything is touched,
// then each is pointed at 127.0.0.1 with its metric raised, the tunnel adapter gets the
// tunnel's DNS servers, the name-resolution policy and the WFP DNS guard go on, and the
// resolver cache is flushed (once: a connect's own restore of what an earlier session left
// needs no flush of its own). At disconnect, or at the next connect after a crash, every
// adapter is put back from the memory copy or from the file.
//
// One process-wide lock (the DNS lock) makes applies and restores strictly one at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "vpn_engine/dns_protection/dns_backup_record.h"
#include "vpn_engine/dns_protection/dns_guard.h"
#include "vpn_engine/host/command_runner.h"
#include "vpn_engine/host/host_network.h"

// The engine's part in DNS protection: its seams, its running flag and the fields this work
// reads and fills. The engine builds it over its own members; the seams must outlive any
// background restore (the production ones live as long as the process).
struct DnsProtectionContext {
  zelvora::HostNetwork& network;
  zelvora::CommandRunner& commands;
  DnsGuard& guard;
  const std::atomic<bool>& running;             // a stop clears it; checked between steps
  std::vector<DnsBackupRecord>& dnsBackups;     // the records of the current connection
  const std::vector<std::string>& blockedApps;  // per-application bypass list
  const std::vector<std::string>& dnsServers;   // DNS servers of the configuration
  const std::string& xrayPath;                  // UTF-8 path of xray.exe
  // The addresses the core's own DNS reaches on port 53 (CoreDnsPort53Hosts of the
  // configuration); the guard lets the core reach them besides the tunnel's servers.
  const std::vector<std::string>* coreDnsHosts = nullptr;
};

// True when the physical adapters are neutralised, the tunnel's DNS is set, the guard is
// installed and the cache flushed. False means the connect must not go on; whatever was
// changed is recorded for the cleanup (RestoreDnsAsync) or the next apply to undo.
bool ApplyDnsLeakProtection(DnsProtectionContext& engine, const std::string& tunnel_name);

// Undoes every change of DNS protection (guard, policy, adapters from memory or from the
// file). Takes the DNS lock itself.
void RevertDnsLeakProtection(DnsProtectionContext& engine);

// Disconnect: the guard and the policy go at once; the adapters are restored on a background
// thread (under the DNS lock), which then deletes the file, or leaves in it what it could not
// restore.
void RestoreDnsAsync(DnsProtectionContext& engine);

// Returns once no background restore is pending or `timeout_ms` has passed (in 100 ms steps),
// and then only after any apply or restore in progress has finished.
void WaitForDnsRestore(uint32_t timeout_ms);

// Puts each record's adapter back (metric, IPv4 and IPv6 DNS, static or from DHCP), found by
// its LUID under whatever name it has now; the resolver cache is the caller's to flush. Returns
// the records not restored: adapters that are not present, and those that, read back, do not
// show the record's settings (a write that failed or had no effect, a netsh that hung or was
// killed). Unsafe names and addresses never reach a command line.
std::vector<DnsBackupRecord> RestoreAdapters(zelvora::HostNetwork& network,
                                             zelvora::CommandRunner& commands,
                                             const std::vector<DnsBackupRecord>& records);

// Restores what the backup file still holds (and the name-resolution policy from its file),
// under the DNS lock; what cannot be restored yet stays in the file. True when nothing is left
// to restore. For the start-up repair after a crash, and any start that finds a backup.
bool RestoreDnsFromBackupFile(zelvora::HostNetwork& network, zelvora::CommandRunner& commands);

// Background restores started and not finished.
int PendingDnsRestores();
