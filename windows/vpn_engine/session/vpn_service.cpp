// Start, Stop and the engine's endings: teardown, network cleanup, the connection monitor and
// the statistics loop. The start sequence itself is in vpn_start_sequence.cpp.
#include "vpn_engine/session/vpn_service.h"

#include <chrono>
#include <filesystem>
#include <system_error>

#include "common/console_line.h"
#include "common/stop_aware_wait.h"
#include "common/text_encoding.h"
#include "common/zelvora_data_files.h"
#include "config_text/config_inspection.h"
#include "config_text/config_meta.h"
#include "config_text/xray_core_contract.h"
#include "probes/core_traffic.h"
#include "probes/data_path_probe.h"
#include "tunnel_log/tunnel_log.h"
#include "vpn_engine/adapter_routes/proxy_sharing_firewall.h"
#include "vpn_engine/adapter_routes/tunnel_routes.h"
#include "vpn_engine/adapter_routes/wintun_holder.h"
#include "vpn_engine/dns_protection/dns_guard.h"
#include "vpn_engine/dns_protection/name_resolution_policy.h"

namespace zelvora {
namespace {

constexpr uint32_t kDnsRestoreWaitMs = 5000;
constexpr auto kMonitorInterval = std::chrono::milliseconds(50);

bool BackupFileExists() {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::path(DnsRestoreFilePath()), error);
}

bool NameResolutionBackupExists() {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::path(PolicyRestoreFilePath()), error);
}

void DeleteFileQuietly(const std::wstring& path) {
  if (path.empty()) return;
  std::error_code error;
  if (std::filesystem::exists(std::filesystem::path(path), error)) {
    std::filesystem::remove(std::filesystem::path(path), error);
  }
}

}  // namespace

VpnService::VpnService() : VpnService(ProductionVpnEnvironment()) {}

VpnService::VpnService(VpnServiceEnvironment environment) : env_(std::move(environment)) {
  net_.host = env_.host;
  if (const auto xray = FindXrayExecutable()) {
    core_.components.xray_path = *xray;
    ConsoleLine("VpnService: Found Xray executable at: " + WideToUtf8(*xray));
  } else {
    ConsoleLine("VpnService: WARNING - Xray executable not found!");
  }
  if (const auto tun2socks = FindTun2socksExecutable()) {
    core_.components.tun2socks_path = *tun2socks;
    ConsoleLine("VpnService: Found Tun2Socks executable at: " + WideToUtf8(*tun2socks));
  } else {
    ConsoleLine("VpnService: WARNING - Tun2Socks executable not found!");
  }
  preparation_thread_ = std::thread([this] {
    try {
      Prepare();
    } catch (...) {
      TunnelLogWrite("ERROR: engine preparation failed");
    }
  });
}

void VpnService::Prepare() {
  if (env_.repair_unfinished_session) RepairUnfinishedSession();
  if (env_.holder) {
    env_.holder->PurgeOrphanAdapters();
    env_.holder->EnsureAdapter();
    env_.holder->RenameNetworkProfile();
  }
}

void VpnService::WaitPrepared() {
  std::lock_guard<std::mutex> lock(preparation_mutex_);
  if (preparation_thread_.joinable() &&
      preparation_thread_.get_id() != std::this_thread::get_id()) {
    preparation_thread_.join();
  }
}

// A session that did not end left the machine changed: DNS 127.0.0.1 and metric 5000 on every
// physical adapter (both survive a restart), the name-resolution policy, maybe the system proxy
// and the sharing rule. Its backups say so; each module puts back its own part.
void VpnService::RepairUnfinishedSession() {
  if (!BackupFileExists() && !NameResolutionBackupExists()) return;
  TunnelLogWrite("start-up repair: a session did not end; putting the machine back");
  DnsProtectionContext dns = DnsContext();
  if (BackupFileExists()) RevertDnsLeakProtection(dns);
  RestoreNameResolutionPolicy();
  if (env_.recover_system_proxy) env_.recover_system_proxy();
  DropTunnelDefaultRoutes(*env_.host.network);
  ClearTunnelAddress(*env_.host.network);
  CloseProxySharingFirewall(net_);  // a LAN-sharing rule the session left open
  TunnelLogWrite("start-up repair: done");
}

VpnService::~VpnService() {
  try {
    Stop(true);
  } catch (...) {
  }
  DeleteFileQuietly(config_path_);
}

void VpnService::SetRunning(bool value) {
  // The core runner keeps its own copy for its waits; both always move together.
  core_.running = value;
  net_.running = value;
}

void VpnService::SetExitCallback(std::function<void()> callback) {
  std::lock_guard<std::mutex> lock(exit_callback_mutex_);
  exit_callback_ = std::move(callback);
}

std::string VpnService::Start(const std::string& config) {
  WaitPrepared();
  Stop(false);
  config_ = config;
  net_.panel_host.clear();
  net_.bypass_subnets.clear();
  blocked_apps_.clear();
  net_.direct_domains.clear();
  net_.share_proxy_ports.clear();
  net_.bypass_host_routes.clear();
  net_.dns_servers.clear();
  net_.core_dns_hosts.clear();
  native_tun_ = false;

  ConfigMeta meta = ExtractConfigMeta(config_);
  net_.panel_host = meta.panelHost;
  net_.bypass_subnets = meta.bypassSubnets;
  blocked_apps_ = meta.blockedApps;
  net_.direct_domains = meta.directDomains;
  for (uint32_t port : meta.shareProxyPorts) {
    net_.share_proxy_ports.push_back(static_cast<int32_t>(port));
  }
  native_tun_ = !blocked_apps_.empty();

  tunnel_ready_ = false;
  {
    std::lock_guard<std::mutex> lock(stats_mutex_);
    uplink_total_ = 0;
    downlink_total_ = 0;
  }
  const std::string missing = CheckComponents(native_tun_, &core_.components);
  if (!missing.empty()) return missing;
  xray_path_utf8_ = WideToUtf8(core_.components.xray_path);
  net_.core_path = xray_path_utf8_;

  SetRunning(true);
  try {
    worker_thread_ = std::thread([this] { RunWorker(); });
  } catch (const std::system_error& error) {
    // No worker, so nothing to undo and no exit callback; the caller gets the reason.
    SetRunning(false);
    TunnelLogWrite(std::string("ERROR: VPN engine worker could not start: ") + error.what());
    return "Failed to start the VPN engine.";
  }
  return std::string();
}

void VpnService::RunWorker() {
  try {
    RunStartSequence();
  } catch (const std::exception& error) {
    TunnelLogWrite(std::string("ERROR: VPN engine worker failed: ") + error.what());
    SetRunning(false);
  } catch (...) {
    TunnelLogWrite("ERROR: VPN engine worker failed");
    SetRunning(false);
  }
  // A worker that ended by an exception still owes the machine its cleanup.
  if (!stop_requested_ && (core_.xray.Get() || core_.tun2socks.Get())) {
    try {
      TeardownConnection();
    } catch (...) {
    }
  }
  std::function<void()> callback;
  {
    std::lock_guard<std::mutex> lock(exit_callback_mutex_);
    callback = exit_callback_;
  }
  if (callback) {
    try {
      callback();
    } catch (...) {
      TunnelLogWrite("ERROR: VPN engine exit callback threw");
    }
  }
}

bool VpnService::ChildDead(const ChildSlot& slot) const {
  const std::shared_ptr<ChildProcess> child = slot.Get();
  return child && !child->IsRunning();
}

void VpnService::KillChildren() {
  if (std::shared_ptr<ChildProcess> tun2socks = core_.tun2socks.Take()) tun2socks->Kill();
  if (std::shared_ptr<ChildProcess> xray = core_.xray.Take()) xray->Kill();
}

DnsProtectionContext VpnService::DnsContext() {
  return DnsProtectionContext{*env_.host.network, *env_.host.commands, *env_.guard,
                              net_.running,       dns_backups_,        blocked_apps_,
                              net_.dns_servers,   xray_path_utf8_,     &net_.core_dns_hosts};
}

void VpnService::TeardownConnection() {
  tunnel_ready_ = false;
  RestoreTunnelMetric(net_);  // before the children end: their adapter goes with them
  KillChildren();
  if (!stop_requested_) {
    KillOrphanCoreProcesses();
    CleanupNetworkConfig();
    WaitForDnsRestore(kDnsRestoreWaitMs);
  }
}

void VpnService::Fail() {
  TeardownConnection();
  SetRunning(false);
}

void VpnService::FailWithDiagnostics() {
  LogConnectDiagnostics(*env_.host.network, net_.physical_gateway, first_server_address_,
                        net_.tunnel_luid);
  Fail();
}

void VpnService::CleanupNetworkConfig() {
  ConsoleLine("VPN Service: Cleaning up network configuration...");
  HostNetwork& network = *env_.host.network;
  RemoveHostRoutes(network, net_.bypass_host_routes);
  if (!net_.server_bypass_ip.empty()) RemoveHostRoutes(network, {net_.server_bypass_ip});
  RemoveLanRoutes(net_);
  DropTunnelDefaultRoutes(*env_.host.network, net_.tunnel_luid);
  ClearTunnelAddress(network, net_.tunnel_luid);
  net_.tunnel_luid = 0;
  // The sharing rule goes before the DNS backup does: the start-up repair finds a rule only
  // through that backup.
  if (!net_.share_proxy_ports.empty()) CloseProxySharingFirewall(net_);
  DnsProtectionContext dns = DnsContext();
  if (dns_backups_.empty() && PendingDnsRestores() <= 0 && BackupFileExists()) {
    // Nothing of this process's in memory, yet a backup on disk: a session that crashed left
    // it, and it is the only copy of the user's DNS settings. Put it back now instead of
    // deleting it (the plain restore would delete the file and lose those settings for good).
    RevertDnsLeakProtection(dns);
  } else {
    RestoreDnsAsync(dns);
  }
  net_.server_bypass_ip.clear();
  net_.bypass_host_routes.clear();
  net_.panel_host.clear();
  net_.bypass_subnets.clear();
  blocked_apps_.clear();
  net_.direct_domains.clear();
  net_.share_proxy_ports.clear();
  net_.physical_gateway.clear();
}

void VpnService::Stop(bool recreate_adapter) {
  WaitPrepared();
  stop_requested_ = true;
  const auto started = std::chrono::steady_clock::now();
  RestoreTunnelMetric(net_);  // while the tunnel's adapter is still there
  KillChildren();
  KillOrphanCoreProcesses();
  SetRunning(false);
  tunnel_ready_ = false;
  socks_port_ = 0;
  {
    std::lock_guard<std::mutex> lock(stats_mutex_);
    uplink_total_ = 0;
    downlink_total_ = 0;
  }
  // Fast disconnect: traffic stops leaving through the tunnel and DNS is unblocked before the
  // worker (which may sit in a probe until its time-out) is waited for.
  DropTunnelDefaultRoutes(*env_.host.network, net_.tunnel_luid);
  ClearTunnelAddress(*env_.host.network, net_.tunnel_luid);
  if (env_.guard) env_.guard->Remove();
  RestoreNameResolutionPolicy();
  TunnelLogWrite("fast-disconnect: tunnel routes, address and DNS guard removed in " +
                 std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now() - started)
                                    .count()) +
                 "ms");

  if (worker_thread_.joinable()) worker_thread_.join();
  JoinStatsThread();
  CleanupNetworkConfig();
  WaitForDnsRestore(kDnsRestoreWaitMs);
  DeleteFileQuietly(config_path_);
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - started);
  TunnelLogWrite("Stop completed in " + std::to_string(elapsed.count()) + "ms");
  // Device work (listing, removing, creating adapters) can take seconds on a real machine. It
  // is done for a stop the user asked for; a stop before a new start leaves it to that start,
  // which removes every adapter of ours before tun2socks runs, and the plug-in's end (on the
  // app's platform thread) leaves it to the next run.
  if (env_.holder && recreate_adapter) {
    env_.holder->PurgeOrphanAdapters();
    env_.holder->EnsureAdapter();
    env_.holder->RenameNetworkProfile();
  }
  stop_requested_ = false;
}

bool VpnService::IsAdapterPresent() {
  return env_.host.network && ::zelvora::IsAdapterPresent(*env_.host.network);
}

void VpnService::GetTrafficTotals(uint64_t* uplink, uint64_t* downlink) {
  std::lock_guard<std::mutex> lock(stats_mutex_);
  if (uplink) *uplink = uplink_total_;
  if (downlink) *downlink = downlink_total_;
}

int32_t VpnService::MeasureConnectedDelay(const std::string& url) {
  const uint16_t port = socks_port_;
  if (port == 0 || !net_.running || !tunnel_ready_) return -1;
  return env_.probe_through_socks ? env_.probe_through_socks(port, url) : -1;
}

void VpnService::RunConnectionMonitor(Mode mode) {
  while (net_.running) {
    if (stop_requested_) break;
    if (ChildDead(core_.xray)) {
      if (!stop_requested_) {
        if (mode == Mode::kTun2socks) {
          ConsoleLine("Xray process exited unexpectedly");
        }
        TunnelLogWrite("Xray process exited unexpectedly");
        SetRunning(false);
      }
      break;
    }
    if (mode == Mode::kTun2socks && ChildDead(core_.tun2socks)) {
      if (!stop_requested_) {
        ConsoleLine("Tun2Socks process exited unexpectedly");
        TunnelLogWrite("Tun2Socks process exited unexpectedly");
        SetRunning(false);
      }
      break;
    }
    std::this_thread::sleep_for(kMonitorInterval);
  }
  tunnel_ready_ = false;
  if (!stop_requested_) TeardownConnection();
  JoinStatsThread();
}

void VpnService::StartStatsThread() {
  stats_thread_ = std::thread([this] {
    try {
      RunStatsLoop();
    } catch (...) {
      TunnelLogWrite("ERROR: traffic statistics loop failed");
    }
  });
}

void VpnService::JoinStatsThread() {
  // Only the worker starts the statistics thread, and Stop joins it only after the worker has
  // ended, so the two joins never race.
  if (stats_thread_.joinable() && stats_thread_.get_id() != std::this_thread::get_id()) {
    stats_thread_.join();
  }
}

void VpnService::RunStatsLoop() {
  while (net_.running) {
    std::string output;
    // A failed query (the core's API did not answer) keeps the last totals: counting it as
    // zero would drop the totals and make the status's delta negative.
    if (net_.running &&
        RunXrayCaptured(core_, xray_core::EngineStatsQueryArguments(api_server_), &output)) {
      if (const auto totals = ReadCoreTraffic(output, "proxy")) {
        std::lock_guard<std::mutex> lock(stats_mutex_);
        uplink_total_ = totals->uplink;
        downlink_total_ = totals->downlink;
      }
    }
    for (int slice = 0; slice < 10 && net_.running; ++slice) {
      ::zelvora::WaitWhileRunning(net_.running, 100);
    }
  }
}

bool VpnService::WaitWhileRunning(uint32_t ms) {
  if (ms < 1) return net_.running;
  return ::zelvora::WaitWhileRunning(net_.running, static_cast<long long>(ms));
}

}  // namespace zelvora
