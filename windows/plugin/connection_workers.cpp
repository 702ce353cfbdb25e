#include "plugin/connection_workers.h"

#include <functional>
#include <iostream>

#include "ipc/vpn_ipc_client.h"
#include "plugin/elevation.h"
#include "plugin/status_event.h"
#include "plugin/vpn_service_manager.h"
#include "tunnel_log/log_message.h"
#include "tunnel_log/tunnel_log.h"
#include "vpn_engine/config_inspection.h"

namespace zelvora {
namespace {

constexpr char kElevationRequiredMessage[] =
    "Administrator permission is required to create the VPN tunnel. Approve the UAC prompt "
    "when Zelvora asks for elevation.";

// Connects through the tunnel service when it is installed, else in process. A newer call (or
// the plug-in going away) cancels a start still waiting on the service.
bool Connect(bool use_service, const std::string& config, bool proxy_only, std::string* error,
             const std::function<bool()>& cancelled) {
  if (use_service) {
    return ipc::VpnIpcClient::StartWithEnsure(config, proxy_only, error, cancelled);
  }
  return VpnServiceManager::Instance().Start(config, proxy_only, error);
}

void Disconnect(bool use_service) {
  if (use_service) {
    ipc::VpnIpcClient::Stop(nullptr);
  } else {
    VpnServiceManager::Instance().Stop();
  }
}

void CompleteWithError(TidewirePlugin* plugin, const SharedResult& result, const char* code,
                       std::string message) {
  plugin->RunOnUIThread(
      [result, code, message = std::move(message)] { result->Error(code, message); });
}

void CompleteWithSuccess(TidewirePlugin* plugin, const SharedResult& result) {
  plugin->RunOnUIThread([result] { result->Success(flutter::EncodableValue(false)); });
}

}  // namespace

// Steps shared by the workers; a friend of the plug-in like the workers themselves.
class ConnectionWorkerSteps {
 public:
  // Announces the connect, connects and notes the session's SOCKS port.
  static bool AnnounceAndConnect(TidewirePlugin* plugin, bool use_service,
                                 const std::string& config, bool proxy_only,
                                 const char* port_log_prefix, std::string* error) {
    plugin->SendStatusToUI(MakeIdleStatusEvent(kStateConnecting));
    plugin->PublishCachedTunnelState(true, false, true);
    const uint64_t ticket = plugin->connect_generation_;
    const bool ok = Connect(use_service, config, proxy_only, error,
                            [plugin, ticket] { return plugin->connect_generation_ != ticket; });
    if (!ok) {
      plugin->session_socks_port_ = 0;
    } else if (!proxy_only) {
      const uint16_t port = ExtractSocksPort(config);
      plugin->session_socks_port_ = port;
      TunnelLogWrite(std::string(port_log_prefix) + std::to_string(port));
    }
    return ok;
  }

  // The connect went through and was not overtaken: the status thread takes over. A restart
  // keeps the session time (the running stretch is folded in); a start begins at zero.
  static void HandOverToStatusTimer(TidewirePlugin* plugin, bool keep_session_time) {
    plugin->connected_ = true;
    plugin->status_failures_ = 0;
    plugin->PublishCachedTunnelState(true, false, true);
    {
      std::lock_guard<std::mutex> status_lock(plugin->status_mutex_);
      if (keep_session_time) {
        plugin->SetConnectedSessionTimerActive(false);
      } else {
        plugin->ResetConnectedSessionTimer();
      }
    }
    plugin->StopStatusTimer();
    plugin->StartStatusTimer();
  }

  // A stop or restart came while connecting: take down what this connect brought up.
  static void UndoOvertakenConnect(TidewirePlugin* plugin, bool use_service) {
    plugin->session_socks_port_ = 0;
    Disconnect(use_service);
    EndSession(plugin);
  }

  static void EndSession(TidewirePlugin* plugin) {
    plugin->connected_ = false;
    plugin->SendStatusToUI(MakeIdleStatusEvent(kStateDisconnected));
    plugin->PublishCachedTunnelState(false, false, false);
  }
};

using Steps = ConnectionWorkerSteps;

void StartWorker(TidewirePlugin* plugin, uint64_t ticket, std::string config, bool proxy_only,
                 SharedResult result) {
  std::lock_guard<std::mutex> session_lock(plugin->session_mutex_);
  const uint64_t generation = ticket;
  if (plugin->connect_generation_ != generation) {
    LogMessage("Start aborted: disconnect requested during connect");
    CompleteWithError(plugin, result, "ABORTED", "VPN start cancelled");
    return;
  }
  LogMessage("Starting Xray...");
  const bool use_service = ShouldUseTunnelService();
  if (!use_service && !IsProcessElevated()) {
    CompleteWithError(plugin, result, "ELEVATION_REQUIRED", kElevationRequiredMessage);
    return;
  }
  std::string error;
  const bool ok = Steps::AnnounceAndConnect(plugin, use_service, config, proxy_only,
                                            "probe: session socks port = ", &error);

  std::lock_guard<std::mutex> connect_lock(plugin->connect_mutex_);
  if (ok && plugin->connect_generation_ == generation) {
    LogMessage("Xray started successfully");
    Steps::HandOverToStatusTimer(plugin, /*keep_session_time=*/false);
    CompleteWithSuccess(plugin, result);
  } else if (ok || plugin->connect_generation_ != generation) {
    // Overtaken: undo what this connect brought up, or it gave up waiting on the service.
    LogMessage("Start aborted: disconnect requested during connect");
    if (ok) {
      Steps::UndoOvertakenConnect(plugin, use_service);
    } else {
      Steps::EndSession(plugin);
    }
    CompleteWithError(plugin, result, "ABORTED", "VPN start cancelled");
  } else {
    LogMessage("Xray failed to start: " + error);
    Steps::EndSession(plugin);
    CompleteWithError(plugin, result, "START_FAILED",
                      error.empty() ? "Could not start VPN. Ensure the xray folder is next to "
                                      "zel_vora.exe."
                                    : error);
  }
}

void RestartWorker(TidewirePlugin* plugin, uint64_t ticket, std::string config, bool proxy_only,
                   SharedResult result) {
  std::lock_guard<std::mutex> session_lock(plugin->session_mutex_);
  const uint64_t generation = ticket;
  if (plugin->connect_generation_ != generation) {
    LogMessage("Restart aborted: disconnect requested during restart");
    CompleteWithError(plugin, result, "ABORTED", "VPN restart cancelled");
    return;
  }
  const bool use_service = ShouldUseTunnelService();
  {
    std::lock_guard<std::mutex> connect_lock(plugin->connect_mutex_);
    plugin->StopStatusTimer();
    plugin->connected_ = false;
    std::lock_guard<std::mutex> status_lock(plugin->status_mutex_);
    plugin->last_up_total_ = 0;
    plugin->last_down_total_ = 0;
    plugin->up_delta_ = 0;
    plugin->down_delta_ = 0;
  }
  Disconnect(use_service);
  LogMessage("Restarting Xray (stop + start)...");
  if (!use_service && !IsProcessElevated()) {
    CompleteWithError(plugin, result, "ELEVATION_REQUIRED", kElevationRequiredMessage);
    return;
  }
  std::string error;
  const bool ok = Steps::AnnounceAndConnect(plugin, use_service, config, proxy_only,
                                            "probe: restart socks port = ", &error);

  std::lock_guard<std::mutex> connect_lock(plugin->connect_mutex_);
  if (ok && plugin->connect_generation_ == generation) {
    Steps::HandOverToStatusTimer(plugin, /*keep_session_time=*/true);
    CompleteWithSuccess(plugin, result);
  } else if (ok || plugin->connect_generation_ != generation) {
    LogMessage("Restart aborted: disconnect requested during restart");
    if (ok) {
      Steps::UndoOvertakenConnect(plugin, use_service);
    } else {
      Steps::EndSession(plugin);
    }
    CompleteWithError(plugin, result, "ABORTED", "VPN restart cancelled");
  } else {
    Steps::EndSession(plugin);
    CompleteWithError(plugin, result, "START_FAILED",
                      error.empty() ? "Could not restart VPN." : error);
  }
}

void StopWorker(TidewirePlugin* plugin, uint64_t ticket, SharedResult result) {
  std::lock_guard<std::mutex> session_lock(plugin->session_mutex_);
  if (plugin->connect_generation_ != ticket) {
    // A newer start, restart or stop came after this one and decides the end state.
    LogMessage("Stop superseded by a newer call");
    CompleteWithSuccess(plugin, result);
    return;
  }
  plugin->StopStatusTimer();
  plugin->connected_ = false;
  plugin->session_socks_port_ = 0;
  {
    std::lock_guard<std::mutex> status_lock(plugin->status_mutex_);
    plugin->session_seconds_ = 0;
    plugin->session_started_at_ = 0;
    plugin->last_up_total_ = 0;
    plugin->last_down_total_ = 0;
  }
  plugin->SendStatusToUI(MakeIdleStatusEvent(kStateDisconnected));
  plugin->PublishCachedTunnelState(false, false, false);
  plugin->status_failures_ = 0;
  Disconnect(ShouldUseTunnelService());
  CompleteWithSuccess(plugin, result);
}

}  // namespace zelvora
