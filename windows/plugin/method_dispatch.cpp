// The "tidewire" method channel: argument checks, short queries answered on the platform
// thread, long operations handed to detached workers.
#include <exception>

#include "common/detached_worker.h"
#include "common/elevation.h"
#include "installed_apps/catalogue_workers.h"
#include "ipc/vpn_ipc_client.h"
#include "plugin/connection_workers.h"
#include "plugin/method_args.h"
#include "plugin/platform_thread_queue.h"
#include "plugin/tidewire_plugin.h"
#include "plugin/tunnel_service_choice.h"
#include "plugin/vpn_service_manager.h"
#include "tunnel_log/log_message.h"
#include "tunnel_log/tunnel_log.h"
#include "vpn_engine/adapter_routes/tunnel_routes.h"
#include "vpn_engine/host/host_seams.h"
#include "vpn_engine/injection/blocked_apps_argument.h"

namespace zelvora {
namespace {

constexpr char kInvalidArguments[] = "INVALID_ARGUMENTS";

using flutter::EncodableMap;
using flutter::EncodableValue;

}  // namespace

void TidewirePlugin::HandleMethodCall(const flutter::MethodCall<EncodableValue>& call,
                                      std::unique_ptr<EncodableResult> result) {
  // Taken here, on the platform thread, so the destructor (same thread) never misses a worker.
  // Workers use only the shared state, which the lease keeps alive.
  const auto new_lease = [this] { return std::make_shared<ConnectionState::WorkerLease>(state_); };
  // Every answer, also from a worker thread, reaches the messenger on this thread.
  result = CompleteOnPlatformThread(state_->ui_queue_, std::move(result));
  try {
    const std::string& method = call.method_name();
    const EncodableMap* args = ArgumentMap(call.arguments());

    if (method == "requestPermission") {
      result->Success(EncodableValue(ShouldUseTunnelService() || IsProcessElevated()));
    } else if (method == "initializeVless") {
      if (!args) {
        result->Error(kInvalidArguments, "Invalid arguments for initializeVless");
        return;
      }
      LogMessage("initializeVless called");
      result->Success(EncodableValue(false));
    } else if (method == "startVless" || method == "restartVless") {
      const bool restart = method == "restartVless";
      if (!args) {
        result->Error(kInvalidArguments, restart ? "Invalid arguments for restartVless"
                                                 : "Invalid arguments for startVless");
        return;
      }
      if (!HasArg(*args, "remark") || !HasArg(*args, "config")) {
        result->Error(kInvalidArguments, "Missing remark or config");
        return;
      }
      std::string remark;
      std::string config;
      const bool config_ok = TryGetStringArg(*args, "config", &config);
      if (restart && !config_ok) {
        result->Error(kInvalidArguments, "config must be a string for restartVless");
        return;
      }
      if (!restart && (!config_ok || !TryGetStringArg(*args, "remark", &remark))) {
        result->Error(kInvalidArguments, "remark/config must be strings for startVless");
        return;
      }
      config = EmbedBlockedAppsMeta(config, args);
      const bool proxy_only = GetOptionalBoolArg(*args, "proxy_only");
      const uint64_t ticket = ++state_->connect_generation_;
      RunDetachedWorker(restart ? "RestartWorker" : "StartWorker",
                        {"START_FAILED", EncodableValue(), LogMessage}, std::move(result),
                        [state = state_, lease = new_lease(), restart, ticket,
                         config = std::move(config), proxy_only](SharedResult shared) mutable {
                          if (restart) {
                            RestartWorker(state, ticket, std::move(config), proxy_only, shared);
                          } else {
                            StartWorker(state, ticket, std::move(config), proxy_only, shared);
                          }
                        });
    } else if (method == "stopVless") {
      LogMessage("stopVless called");
      const uint64_t ticket = ++state_->connect_generation_;
      RunDetachedWorker("StopWorker", {nullptr, EncodableValue(false), LogMessage},
                        std::move(result),
                        [state = state_, lease = new_lease(), ticket](SharedResult shared) {
                          StopWorker(state, ticket, shared);
                        });
    } else if (method == "getVpnTunnelState") {
      HandleGetVpnTunnelState(*result);
    } else if (method == "getServerDelay") {
      std::string config;
      std::string url;
      if (!args || !HasArg(*args, "config") || !HasArg(*args, "url")) {
        result->Error(kInvalidArguments, "Invalid arguments for getServerDelay");
        return;
      }
      if (!TryGetStringArg(*args, "config", &config) || !TryGetStringArg(*args, "url", &url)) {
        result->Error(kInvalidArguments, "config/url must be strings for getServerDelay");
        return;
      }
      RunDetachedWorker("getServerDelay", {nullptr, EncodableValue(int32_t{-1}), LogMessage},
                        std::move(result), [config, url](SharedResult shared) {
                          shared->Success(EncodableValue(
                              VpnServiceManager::Instance().MeasureServerDelay(config, url)));
                        });
    } else if (method == "getConnectedServerDelay") {
      std::string url;
      if (!args || !HasArg(*args, "url")) {
        result->Error(kInvalidArguments, "Invalid arguments for getConnectedServerDelay");
        return;
      }
      if (!TryGetStringArg(*args, "url", &url)) {
        result->Error(kInvalidArguments, "url must be a string for getConnectedServerDelay");
        return;
      }
      RunDetachedWorker("getConnectedServerDelay",
                        {nullptr, EncodableValue(int32_t{-1}), LogMessage}, std::move(result),
                        [state = state_, lease = new_lease(), url](SharedResult shared) {
                          shared->Success(EncodableValue(state->MeasureConnectedServerDelay(url)));
                        });
    } else if (method == "getPhysicalUplinkFingerprint") {
      result->Success(EncodableValue(GetPhysicalUplinkFingerprint(*ActiveHost().network)));
    } else if (method == "getCoreVersion") {
      const std::string version = VpnServiceManager::Instance().GetCoreVersion();
      LogMessage("getCoreVersion: " + version);
      result->Success(EncodableValue(version));
    } else if (method == "isProcessElevated") {
      result->Success(EncodableValue(IsProcessElevated()));
    } else if (method == "requestElevationRestart") {
      if (IsProcessElevated() || RequestElevationRestart()) {
        result->Success(EncodableValue(true));
      } else {
        result->Error("ELEVATION_DENIED",
                      "Administrator permission is required for VPN. Approve the Windows UAC "
                      "prompt to continue.");
      }
    } else if (method == "getAppInfo") {
      std::string package_name;
      if (!args) {
        result->Error(kInvalidArguments, "getAppInfo requires arguments");
        return;
      }
      if (!TryGetStringArg(*args, "packageName", &package_name) || package_name.empty()) {
        result->Error(kInvalidArguments, "packageName is required");
        return;
      }
      installed_apps::StartGetAppInfoWorker(package_name, GetOptionalBoolArg(*args, "withIcon"),
                                            std::move(result));
    } else if (method == "getInstalledApps") {
      installed_apps::StartGetInstalledAppsWorker(std::move(result));
    } else if (method == "pickExecutable") {
      // The app's top-level window owns the dialog, so it opens in front of the app.
      installed_apps::StartPickExecutableWorker(std::move(result),
                                                ::GetAncestor(window_handle_, GA_ROOT));
    } else {
      result->NotImplemented();
    }
  } catch (const std::exception& e) {
    LogMessage(std::string("HandleMethodCall exception: ") + e.what());
    if (result) result->Error("INTERNAL_ERROR", e.what());
  } catch (...) {
    LogMessage("HandleMethodCall unknown exception");
    if (result) result->Error("INTERNAL_ERROR", "Unknown error");
  }
}

void TidewirePlugin::HandleGetVpnTunnelState(EncodableResult& result) {
  bool running;
  bool tunnel_ready;
  bool adapter_present;
  {
    std::lock_guard<std::mutex> lock(state_->cached_state_mutex_);
    running = state_->cached_running_;
    tunnel_ready = state_->cached_tunnel_ready_;
    adapter_present = state_->cached_adapter_present_;
  }
  const bool service = ShouldUseTunnelService();
  const bool idle = !running && !state_->connected_;
  if (service) {
    ipc::StatusPayload status;
    // While a stop is still on its way to the service its session is not taken up again.
    if (idle && !state_->service_stop_pending_ && ipc::VpnIpcClient::IsServiceRunning() &&
        ipc::VpnIpcClient::QueryStatus(&status, nullptr)) {
      running = status.running;
      tunnel_ready = status.tunnel;
      adapter_present = running || tunnel_ready;
      state_->PublishCachedTunnelState(running, tunnel_ready, adapter_present);
      if (running) state_->ResumeServicePolling();
    }
  } else {
    VpnServiceManager& manager = VpnServiceManager::Instance();
    running = state_->connected_;
    tunnel_ready = running && manager.IsTunnelReady();
    adapter_present = manager.IsAdapterPresent();
    state_->PublishCachedTunnelState(running, tunnel_ready, adapter_present);
  }
  result.Success(EncodableValue(EncodableMap{
      {EncodableValue("running"), EncodableValue(running)},
      {EncodableValue("tunnelReady"), EncodableValue(tunnel_ready)},
      {EncodableValue("adapterPresent"), EncodableValue(adapter_present)},
  }));
}

}  // namespace zelvora
