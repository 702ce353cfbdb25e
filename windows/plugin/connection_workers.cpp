#include "plugin/connection_workers.h"

#include <functional>
#include <iostream>

#include "common/elevation.h"
#include "config_text/config_inspection.h"
#include "ipc/vpn_ipc_client.h"
#include "plugin/service_stop_retry.h"
#include "plugin/status_event.h"
#include "plugin/tunnel_service_choice.h"
#include "plugin/vpn_service_manager.h"
#include "tunnel_log/log_message.h"
#include "tunnel_log/tunnel_log.h"

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

void CompleteWithError(ConnectionState* state, const SharedResult& result, const char* code,
                       std::string message) {
  state->RunOnUIThread(
      [result, code, message = std::move(message)] { result->Error(code, message); });
}

void CompleteWithSuccess(ConnectionState* state, const SharedResult& result) {
  state->RunOnUIThread([result] { result->Success(flutter::EncodableValue(false)); });
}

}  // namespace

// Steps shared by the workers; a friend of the shared state like the workers themselves.
class ConnectionWorkerSteps {
 public:
  // Announces the connect, connects and notes the session's SOCKS port.
  static bool AnnounceAndConnect(ConnectionState* state, bool use_service,
                                 const std::string& config, bool proxy_only,
                                 const char* port_log_prefix, std::string* error) {
    state->SendStatusToUI(MakeIdleStatusEvent(kStateConnecting));
    state->PublishCachedTunnelState(true, false, true);
    const uint64_t ticket = state->connect_generation_;
    const bool ok = Connect(use_service, config, proxy_only, error,
                            [state, ticket] { return state->connect_generation_ != ticket; });
    if (!ok) {
      state->session_socks_port_ = 0;
    } else if (!proxy_only) {
      const uint16_t port = ExtractSocksPort(config);
      state->session_socks_port_ = port;
      TunnelLogWrite(std::string(port_log_prefix) + std::to_string(port));
    }
    return ok;
  }

  // The connect went through and was not overtaken: the status thread takes over. A restart
  // keeps the session time (the running stretch is folded in); a start begins at zero.
  static void HandOverToStatusTimer(ConnectionState* state, bool use_service,
                                    bool keep_session_time) {
    state->connected_ = true;
    state->status_failures_ = 0;
    state->PublishCachedTunnelState(true, false, true);
    {
      std::lock_guard<std::mutex> status_lock(state->status_mutex_);
      if (keep_session_time) {
        state->SetConnectedSessionTimerActive(false);
      } else {
        state->ResetConnectedSessionTimer();
      }
    }
    state->StopStatusTimer();
    // An in-process session can end on its own right after the start returns, and its end
    // callback then found connected_ still false and said nothing. connected_ is set before this
    // look and exchanged by both, so exactly one of the two reports the end.
    if (!use_service && !VpnServiceManager::Instance().IsSessionAlive()) {
      LogMessage("VPN session ended before the hand-over");
      state->OnVpnUnexpectedExit();
      return;
    }
    state->StartStatusTimer();
  }

  // A stop or restart came while connecting: take down what this connect brought up.
  static void UndoOvertakenConnect(ConnectionState* state, bool use_service) {
    state->session_socks_port_ = 0;
    Disconnect(use_service);
    EndSession(state);
  }

  static void EndSession(ConnectionState* state) {
    state->connected_ = false;
    state->SendStatusToUI(MakeIdleStatusEvent(kStateDisconnected));
    state->PublishCachedTunnelState(false, false, false);
  }
};

using Steps = ConnectionWorkerSteps;

void StartWorker(std::shared_ptr<ConnectionState> shared_state, uint64_t ticket, std::string config,
                 bool proxy_only, SharedResult result) {
  ConnectionState* state = shared_state.get();
  std::lock_guard<std::mutex> session_lock(state->session_mutex_);
  const uint64_t generation = ticket;
  if (state->connect_generation_ != generation) {
    LogMessage("Start aborted: disconnect requested during connect");
    CompleteWithError(state, result, "ABORTED", "VPN start cancelled");
    return;
  }
  LogMessage("Starting Xray...");
  const bool use_service = ShouldUseTunnelService();
  if (!use_service && !IsProcessElevated()) {
    CompleteWithError(state, result, "ELEVATION_REQUIRED", kElevationRequiredMessage);
    return;
  }
  std::string error;
  const bool ok = Steps::AnnounceAndConnect(state, use_service, config, proxy_only,
                                            "probe: session socks port = ", &error);

  std::lock_guard<std::mutex> connect_lock(state->connect_mutex_);
  if (ok && state->connect_generation_ == generation) {
    LogMessage("Xray started successfully");
    Steps::HandOverToStatusTimer(state, use_service, /*keep_session_time=*/false);
    CompleteWithSuccess(state, result);
  } else if (ok || state->connect_generation_ != generation) {
    // Overtaken: undo what this connect brought up, or it gave up waiting on the service.
    LogMessage("Start aborted: disconnect requested during connect");
    if (ok) {
      Steps::UndoOvertakenConnect(state, use_service);
    } else {
      Steps::EndSession(state);
    }
    CompleteWithError(state, result, "ABORTED", "VPN start cancelled");
  } else {
    LogMessage("Xray failed to start: " + error);
    Steps::EndSession(state);
    CompleteWithError(state, result, "START_FAILED",
                      error.empty() ? "Could not start VPN. Ensure the xray folder is next to "
                                      "zel_vora.exe."
                                    : error);
  }
}

void RestartWorker(std::shared_ptr<ConnectionState> shared_state, uint64_t ticket,
                   std::string config, bool proxy_only, SharedResult result) {
  ConnectionState* state = shared_state.get();
  std::lock_guard<std::mutex> session_lock(state->session_mutex_);
  const uint64_t generation = ticket;
  if (state->connect_generation_ != generation) {
    LogMessage("Restart aborted: disconnect requested during restart");
    CompleteWithError(state, result, "ABORTED", "VPN restart cancelled");
    return;
  }
  const bool use_service = ShouldUseTunnelService();
  {
    std::lock_guard<std::mutex> connect_lock(state->connect_mutex_);
    state->StopStatusTimer();
    state->connected_ = false;
    std::lock_guard<std::mutex> status_lock(state->status_mutex_);
    state->last_up_total_ = 0;
    state->last_down_total_ = 0;
    state->up_delta_ = 0;
    state->down_delta_ = 0;
  }
  Disconnect(use_service);
  LogMessage("Restarting Xray (stop + start)...");
  if (!use_service && !IsProcessElevated()) {
    CompleteWithError(state, result, "ELEVATION_REQUIRED", kElevationRequiredMessage);
    return;
  }
  std::string error;
  const bool ok = Steps::AnnounceAndConnect(state, use_service, config, proxy_only,
                                            "probe: restart socks port = ", &error);

  std::lock_guard<std::mutex> connect_lock(state->connect_mutex_);
  if (ok && state->connect_generation_ == generation) {
    Steps::HandOverToStatusTimer(state, use_service, /*keep_session_time=*/true);
    CompleteWithSuccess(state, result);
  } else if (ok || state->connect_generation_ != generation) {
    LogMessage("Restart aborted: disconnect requested during restart");
    if (ok) {
      Steps::UndoOvertakenConnect(state, use_service);
    } else {
      Steps::EndSession(state);
    }
    CompleteWithError(state, result, "ABORTED", "VPN restart cancelled");
  } else {
    Steps::EndSession(state);
    CompleteWithError(state, result, "START_FAILED",
                      error.empty() ? "Could not restart VPN." : error);
  }
}

void StopWorker(std::shared_ptr<ConnectionState> shared_state, uint64_t ticket,
                SharedResult result) {
  ConnectionState* state = shared_state.get();
  std::lock_guard<std::mutex> session_lock(state->session_mutex_);
  if (state->connect_generation_ != ticket) {
    // A newer start, restart or stop came after this one and decides the end state.
    LogMessage("Stop superseded by a newer call");
    CompleteWithSuccess(state, result);
    return;
  }
  state->StopStatusTimer();
  state->connected_ = false;
  state->session_socks_port_ = 0;
  {
    std::lock_guard<std::mutex> status_lock(state->status_mutex_);
    state->session_seconds_ = 0;
    state->session_started_at_ = 0;
    state->last_up_total_ = 0;
    state->last_down_total_ = 0;
  }
  state->SendStatusToUI(MakeIdleStatusEvent(kStateDisconnected));
  state->PublishCachedTunnelState(false, false, false);
  state->status_failures_ = 0;
  if (!ShouldUseTunnelService()) {
    VpnServiceManager::Instance().Stop();
    CompleteWithSuccess(state, result);
    return;
  }
  // The method answers success whatever became of the request; but the user asked for the
  // session to end, so a stop that never reached the service goes on in the background until
  // it does, or until a newer call (or the plug-in's end) takes over. Meanwhile the session
  // is on its way out: nothing adopts it again as the plug-in's own (see InitialStatusState).
  const auto superseded = [state, ticket] { return state->connect_generation_ != ticket; };
  state->service_stop_pending_ = true;
  const ipc::VpnIpcClient::StopDelivery first = ipc::VpnIpcClient::DeliverStop(superseded);
  CompleteWithSuccess(state, result);
  if (first == ipc::VpnIpcClient::StopDelivery::NotDelivered) {
    RetryServiceStopUntilDelivered(superseded);
  }
  state->service_stop_pending_ = false;
}

}  // namespace zelvora
