#include "plugin/vpn_service_manager.h"

#include "common/console_line.h"
#include "probes/data_path_probe.h"
#include "proxy_mode/xray_service.h"
#include "vpn_engine/adapter_routes/wintun_holder.h"
#include "vpn_engine/host/host_seams.h"
#include "vpn_engine/session/vpn_service.h"

namespace zelvora {
namespace {

// First character that is not a blank, tab, CR or LF; 0 when there is none.
char FirstSignificantChar(const std::string& text) {
  const size_t pos = text.find_first_not_of(" \t\r\n");
  return pos == std::string::npos ? '\0' : text[pos];
}

bool Fail(const std::string& text, std::string* error) {
  ConsoleLine(text);
  if (error) *error = text;
  return false;
}

}  // namespace

VpnServiceManager& VpnServiceManager::Instance() {
  // Deliberately never destroyed: worker threads may still reach it while the process exits.
  static VpnServiceManager* instance = new VpnServiceManager();
  return *instance;
}

VpnServiceManager::VpnServiceManager() : xray_service_(std::make_shared<XrayService>()) {
  try {
    vpn_service_ = std::make_shared<VpnService>();
  } catch (...) {
    // Without an engine every VPN-mode operation answers "unavailable".
  }
  if (vpn_service_) {
    // Runs on the engine's worker whenever it ends, also after an ordinary stop.
    vpn_service_->SetExitCallback([this] {
      running_ = false;
      std::function<void()> callback;
      {
        std::lock_guard<std::mutex> lock(callback_mutex_);
        callback = on_unexpected_exit_;
      }
      if (callback) callback();
    });
  }
  // The manager lives as long as the process, so the service may always call back into it.
  xray_service_->SetCoreExitCallback([this] { OnProxyCoreExit(); });
}

void VpnServiceManager::OnProxyCoreExit() {
  // Runs on the proxy service's worker; never takes mutex_, which a Stop holds while it waits
  // for that worker.
  if (!proxy_mode_) return;
  running_ = false;
  std::lock_guard<std::mutex> lock(callback_mutex_);
  if (on_unexpected_exit_) on_unexpected_exit_();
}

void VpnServiceManager::SetUnexpectedExitCallback(std::function<void()> callback) {
  std::lock_guard<std::mutex> lock(callback_mutex_);
  on_unexpected_exit_ = std::move(callback);
}

bool VpnServiceManager::Start(const std::string& config, bool proxy_only, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (running_) {
    running_ = false;
    StopLocked(/*recreate_adapter=*/false);
  }
  const char first = FirstSignificantChar(config);
  if (first != '{' && first != '[') {
    return Fail("Invalid VPN configuration. The server config could not be parsed.", error);
  }
  last_config_ = config;
  proxy_mode_ = proxy_only;
  if (!proxy_only) {
    ConsoleLine("Starting VPN mode with Tun2Socks...");
    if (!vpn_service_) return Fail("VPN service is unavailable.", error);
    const std::string failure = vpn_service_->Start(config);
    if (!failure.empty()) return Fail(failure, error);
    running_ = true;
    return true;
  }
  if (!xray_service_) return Fail("Proxy service is unavailable.", error);
  if (!xray_service_->Start(config)) {
    return Fail(
        "Could not start proxy mode. Ensure xray.exe is in the xray folder next to zel_vora.exe.",
        error);
  }
  running_ = true;
  return true;
}

void VpnServiceManager::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  running_ = false;
  StopLocked(/*recreate_adapter=*/true);
}

void VpnServiceManager::StopAtExit() {
  std::lock_guard<std::mutex> lock(mutex_);
  running_ = false;
  StopLocked(/*recreate_adapter=*/false);
}

void VpnServiceManager::StopLocked(bool recreate_adapter) {
  if (proxy_mode_) {
    if (xray_service_) xray_service_->Stop();
  } else if (vpn_service_) {
    vpn_service_->Stop(recreate_adapter);
  }
}

bool VpnServiceManager::IsTunnelReady() {
  // The proxy service's own flag is the one truth: its core's exit clears it.
  if (proxy_mode_) return running_ && xray_service_ && xray_service_->IsRunning();
  return vpn_service_ && vpn_service_->IsTunnelReady();
}

bool VpnServiceManager::IsSessionAlive() {
  // The services' own flags decide: the manager's flag is set after Start returns, which may be
  // after a worker that failed at once has already ended.
  if (!running_) return false;
  if (proxy_mode_) return xray_service_ && xray_service_->IsRunning();
  return vpn_service_ && vpn_service_->IsRunning();
}

bool VpnServiceManager::IsAdapterPresent() {
  // Proxy mode has no adapter; otherwise the persistent tunnel adapter is looked up by name.
  if (proxy_mode_ || !vpn_service_) return false;
  return ::zelvora::IsAdapterPresent(*ActiveHost().network);
}

void VpnServiceManager::GetTrafficTotals(uint64_t* uplink, uint64_t* downlink) {
  if (uplink) *uplink = 0;
  if (downlink) *downlink = 0;
  if (proxy_mode_) {
    if (xray_service_) xray_service_->GetTrafficTotals(uplink, downlink);
  } else if (vpn_service_) {
    vpn_service_->GetTrafficTotals(uplink, downlink);
  }
}

std::string VpnServiceManager::GetCoreVersion() {
  return xray_service_ ? xray_service_->GetCoreVersion() : "Unknown";
}

int32_t VpnServiceManager::MeasureServerDelay(const std::string& config, const std::string& url) {
  return xray_service_ ? xray_service_->MeasureServerDelay(config, url) : -1;
}

int32_t VpnServiceManager::MeasureConnectedDelay(const std::string& url) {
  if (proxy_mode_) return xray_service_ ? xray_service_->MeasureConnectedDelay(url) : -1;
  return vpn_service_ ? vpn_service_->MeasureConnectedDelay(url) : -1;
}

}  // namespace zelvora
