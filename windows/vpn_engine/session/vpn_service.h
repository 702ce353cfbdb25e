// The in-process VPN engine: given an Xray configuration it checks the components at once,
// then on its own worker prepares the adapter, amends and runs the configuration, brings up the
// TUN path (tun2socks, or Xray's own TUN inbound when applications bypass the tunnel), routes
// the server and the chosen hosts around it, proves the data path through the SOCKS port and
// then through the tunnel, guards DNS, declares the tunnel ready and watches its children until
// the connection ends. A failed step, a dead child or Stop gives the machine back as it was.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "processes/core_launch.h"
#include "vpn_engine/dns_protection/dns_backup_record.h"
#include "vpn_engine/dns_protection/dns_leak_protection.h"
#include "vpn_engine/host/engine_network_state.h"
#include "vpn_engine/session/vpn_service_environment.h"

namespace zelvora {

class VpnService {
 public:
  // Finds the programs; then, on the engine's own thread (never the caller's, which may be the
  // platform thread), repairs a session that did not end and readies the persistent adapter.
  // Start and Stop wait for that preparation first.
  explicit VpnService(VpnServiceEnvironment environment);
  VpnService();  // the machine itself
  ~VpnService();
  VpnService(const VpnService&) = delete;
  VpnService& operator=(const VpnService&) = delete;

  // Stops any session, then checks the components. Empty: accepted, the connection proceeds
  // on the worker. Otherwise the text the user must see; nothing was started.
  std::string Start(const std::string& config);
  // Returns when everything is undone and the worker has ended. `recreate_adapter` (a user's
  // disconnect) also purges orphan adapters and brings the persistent adapter back; without it
  // (a stop before a start, the plug-in's end) no adapter device is touched.
  void Stop(bool recreate_adapter);
  // Run on the worker thread whenever it ends (also after a stop); must not wait for anything
  // the caller of Stop holds. An empty function clears it.
  void SetExitCallback(std::function<void()> callback);
  // Returns once the preparation begun by the constructor has ended.
  void WaitPrepared();

  bool IsRunning() const { return net_.running; }
  bool IsTunnelReady() const { return tunnel_ready_; }
  bool IsAdapterPresent();
  uint16_t SocksPort() const { return socks_port_; }
  void GetTrafficTotals(uint64_t* uplink, uint64_t* downlink);
  // The delay through the running session's SOCKS port; -1 unless the tunnel is ready.
  int32_t MeasureConnectedDelay(const std::string& url);

 private:
  enum class Mode { kTun2socks, kXrayTun };

  void SetRunning(bool value);
  void Prepare();
  void RepairUnfinishedSession();
  void RunWorker();
  void RunStartSequence();
  void RunXrayTunSequence(uint16_t port);
  bool SocksProbeAttempts(uint16_t port, Mode mode);
  // 1: success, 0: no success, -1: a stop was seen (abort without an error line).
  int TunPathProbeAttempts(Mode mode);
  // The TUN path probe; when it succeeds, the connect diagnostics and the network profile's
  // name, and true. Otherwise the connect is already ended (torn down after a stop, failed with
  // diagnostics else) and false.
  bool ConfirmTunPath(Mode mode);
  void RunConnectionMonitor(Mode mode);
  void RunStatsLoop();
  void StartStatsThread();
  void JoinStatsThread();
  bool WaitWhileRunning(uint32_t ms);
  bool WaitForTunnelAdapter(uint32_t timeout_ms);
  void TeardownConnection();
  void CleanupNetworkConfig();
  void FailWithDiagnostics();
  void Fail();
  void End() { SetRunning(false); }
  DnsProtectionContext DnsContext();
  bool ChildDead(const ChildSlot& slot) const;
  void KillChildren();

  VpnServiceEnvironment env_;
  // The connection's network fields and the canonical `running` flag.
  EngineNetworkState net_;
  std::atomic<bool> tunnel_ready_{false};
  std::atomic<bool> stop_requested_{false};
  std::thread worker_thread_;
  std::thread preparation_thread_;
  std::mutex preparation_mutex_;
  std::thread stats_thread_;
  // The programs and the two child records (xray.exe, tun2socks.exe). The records are shared
  // references: Stop takes them out and kills them while the worker may still be checking them.
  CoreRunner core_;
  std::wstring config_path_;
  std::string config_;
  std::string xray_path_utf8_;  // for the DNS guard's exception
  std::vector<std::string> blocked_apps_;
  bool native_tun_ = false;
  std::mutex exit_callback_mutex_;
  std::function<void()> exit_callback_;
  std::mutex stats_mutex_;
  uint64_t uplink_total_ = 0;
  uint64_t downlink_total_ = 0;
  std::string api_server_ = "127.0.0.1:10086";
  std::atomic<uint16_t> socks_port_{0};
  std::vector<DnsBackupRecord> dns_backups_;
  std::string first_server_address_;
};

}  // namespace zelvora
