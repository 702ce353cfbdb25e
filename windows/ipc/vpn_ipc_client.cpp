// The client's public requests, and the start that brings the service up first.
#include "ipc/vpn_ipc_client.h"

#include <string>

#include "ipc/request_policy.h"
#include "tunnel_log/tunnel_log.h"

namespace zelvora::ipc {

bool VpnIpcClient::SendExpectingOk(Command command, const std::string& payload, std::string* error,
                                   Failure* failure, const std::function<bool()>& cancelled) {
  std::string body;
  if (!SendRequest(command, payload, &body, error, failure, cancelled)) return false;
  // A reply that is neither "OK" nor "ERR:" fails without a text of its own.
  if (ClassifyReply(body).kind == ReplyKind::Ok) return true;
  if (failure) *failure = Failure::Refused;
  return false;
}

bool VpnIpcClient::Ping(std::string* error) {
  return SendExpectingOk(Command::Ping, std::string(), error);
}

bool VpnIpcClient::Start(const std::string& config_utf8, bool proxy_only, std::string* error) {
  return SendExpectingOk(Command::Start, BuildStartPayload(config_utf8, proxy_only), error);
}

bool VpnIpcClient::Stop(std::string* error) {
  return SendExpectingOk(Command::Stop, std::string(), error);
}

VpnIpcClient::StopDelivery VpnIpcClient::DeliverStop(const std::function<bool()>& cancelled) {
  Failure failure = Failure::None;
  if (SendExpectingOk(Command::Stop, std::string(), nullptr, &failure, cancelled)) {
    return StopDelivery::Delivered;
  }
  switch (failure) {
    case Failure::Refused:
      return StopDelivery::Delivered;  // the service has it and answered
    case Failure::Cancelled:
      return StopDelivery::Cancelled;
    default:
      // A stopped or missing service holds no session: nothing is left to stop.
      return IsServiceRunning() ? StopDelivery::NotDelivered : StopDelivery::NoSession;
  }
}

bool VpnIpcClient::QueryStatus(StatusPayload* status, std::string* error) {
  std::string body;
  if (!SendRequest(Command::Status, std::string(), &body, error)) return false;
  return ParseStatusResponse(body, status, error);
}

bool VpnIpcClient::ParseStatusResponse(const std::string& body, StatusPayload* status,
                                       std::string* error) {
  return zelvora::ipc::ParseStatusResponse(body, status, error);
}

bool VpnIpcClient::StartWithEnsure(const std::string& config_utf8, bool proxy_only,
                                   std::string* error, const std::function<bool()>& cancelled) {
  std::string local_error;
  if (!error) error = &local_error;
  const auto gave_up = [&] {
    if (!cancelled || !cancelled()) return false;
    TunnelLogWrite("IPC client start cancelled");
    *error = kTextCancelled;
    return true;
  };

  if (!IsServiceInstalled()) {
    *error = kTextNotInstalled;
    TunnelLogWrite("IPC client start blocked: tunnel service not installed");
    return false;
  }
  if (gave_up()) return false;
  if (IsServiceRunning()) {
    std::string ping_error;
    Failure failure = Failure::None;
    if (!SendExpectingOk(Command::Ping, std::string(), &ping_error, &failure, cancelled)) {
      if (failure == Failure::Cancelled || gave_up()) return false;
      if (failure == Failure::Transport) {
        TunnelLogWrite("IPC client start: service running but pipe dead, restarting: " +
                       ping_error);
        if (gave_up()) return false;
        RestartService();
        if (!EnsureServiceRunning(error)) return false;
      } else {
        // Busy or answering: the service works (maybe still finishing a stop); restarting it
        // would tear down what it is doing. The start below waits its turn.
        TunnelLogWrite("IPC client start: ping failed, service kept running: " + ping_error);
      }
    }
  } else {
    TunnelLogWrite("IPC client start: tunnel service stopped, starting service");
    if (!EnsureServiceRunning(error)) return false;
  }

  const auto start = [&] {
    Failure failure = Failure::None;
    return SendExpectingOk(Command::Start, BuildStartPayload(config_utf8, proxy_only), error,
                           &failure, cancelled);
  };
  if (gave_up()) return false;
  if (start()) return true;
  if (gave_up()) return false;
  TunnelLogWrite("IPC client start failed, retrying once: " + *error);
  if (!EnsureServiceRunning(error)) return false;
  if (gave_up()) return false;
  return start();
}

}  // namespace zelvora::ipc
