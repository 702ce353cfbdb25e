#include "plugin/vpn_service_manager.h"

#include <iostream>

namespace zelvora {
namespace {

// First character that is not a blank, tab, CR or LF; 0 when there is none.
char FirstSignificantChar(const std::string& text) {
  const size_t pos = text.find_first_not_of(" \t\r\n");
  return pos == std::string::npos ? '\0' : text[pos];
}

bool Fail(const std::string& text, std::string* error) {
  std::cerr << text << std::endl;
  if (error) *error = text;
  return false;
}

}  // namespace

VpnServiceManager& VpnServiceManager::Instance() {
  // Deliberately never destroyed: worker threads may still reach it while the process exits.
  static VpnServiceManager* instance = new VpnServiceManager();
  return *instance;
}

VpnServiceManager::VpnServiceManager() {}

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
    std::cerr << "Starting VPN mode with Tun2Socks..." << std::endl;
    // The in-process engine is not part of this build yet.
    return Fail("VPN service is unavailable.", error);
  }
  return Fail("Proxy service is unavailable.", error);
}

void VpnServiceManager::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  running_ = false;
  StopLocked(/*recreate_adapter=*/true);
}

void VpnServiceManager::StopLocked(bool /*recreate_adapter*/) {
  // Nothing runs in process until the engine and proxy mode exist.
}

bool VpnServiceManager::IsTunnelReady() {
  if (proxy_mode_) return running_;
  return false;
}

bool VpnServiceManager::IsAdapterPresent() { return false; }

void VpnServiceManager::GetTrafficTotals(uint64_t* uplink, uint64_t* downlink) {
  if (uplink) *uplink = 0;
  if (downlink) *downlink = 0;
}

std::string VpnServiceManager::GetCoreVersion() { return "Unknown"; }

int32_t VpnServiceManager::MeasureServerDelay(const std::string&, const std::string&) { return -1; }

int32_t VpnServiceManager::MeasureConnectedDelay(const std::string&) { return -1; }

}  // namespace zelvora
