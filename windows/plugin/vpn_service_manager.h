// The process-wide owner of the two in-process connection services: the VPN engine and
// proxy-only mode. Start and stop are serialised by one mutex.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace zelvora {

class VpnService;   // in-process engine
class XrayService;  // proxy-only mode

class VpnServiceManager {
 public:
  // Created on first use, never destroyed before the process ends.
  static VpnServiceManager& Instance();

  bool Start(const std::string& config, bool proxy_only, std::string* error);
  void Stop();
  // The plug-in's end: as Stop, but without bringing the persistent adapter back (it would go
  // with the process a moment later, and the work would hold the platform thread).
  void StopAtExit();

  bool IsTunnelReady();
  // The in-process session the last successful Start began is still running (its worker or core
  // has not ended). False after a stop and after the session ended by itself.
  bool IsSessionAlive();
  bool IsAdapterPresent();
  void GetTrafficTotals(uint64_t* uplink, uint64_t* downlink);
  std::string GetCoreVersion();
  int32_t MeasureServerDelay(const std::string& config, const std::string& url);
  int32_t MeasureConnectedDelay(const std::string& url);

  // Replaces the callback run when the engine's worker ends; an empty function clears it.
  void SetUnexpectedExitCallback(std::function<void()> callback);

 private:
  VpnServiceManager();

  void StopLocked(bool recreate_adapter);
  // Proxy mode's core ended by itself: the session is over, the plug-in hears of it.
  void OnProxyCoreExit();

  std::atomic<bool> running_{false};
  std::string last_config_;
  std::atomic<bool> proxy_mode_{false};
  // Either may be missing; every operation then answers as "service unavailable".
  std::shared_ptr<XrayService> xray_service_;
  std::shared_ptr<VpnService> vpn_service_;
  std::mutex callback_mutex_;
  std::function<void()> on_unexpected_exit_;
  std::mutex mutex_;
};

}  // namespace zelvora
