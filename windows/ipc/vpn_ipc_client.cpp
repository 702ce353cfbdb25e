// The client's public requests, and the start that brings the service up first.
#include "ipc/vpn_ipc_client.h"

#include <string>

#include "ipc/request_policy.h"
#include "tunnel_log/tunnel_log.h"

namespace zelvora::ipc {

bool VpnIpcClient::SendExpectingOk(Command command, const std::string& payload,
                                   std::string* error) {
  std::string body;
  if (!SendRequest(command, payload, &body, error)) return false;
  // A reply that is neither "OK" nor "ERR:" fails without a text of its own.
  return ClassifyReply(body).kind == ReplyKind::Ok;
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
                                   std::string* error) {
  std::string local_error;
  if (!error) error = &local_error;

  if (!IsServiceInstalled()) {
    *error = kTextNotInstalled;
    TunnelLogWrite("IPC client start blocked: tunnel service not installed");
    return false;
  }
  if (IsServiceRunning()) {
    std::string ping_error;
    if (!Ping(&ping_error)) {
      TunnelLogWrite("IPC client start: service running but pipe dead, restarting: " + ping_error);
      RestartService();
      if (!EnsureServiceRunning(error)) return false;
    }
  } else {
    TunnelLogWrite("IPC client start: tunnel service stopped, starting service");
    if (!EnsureServiceRunning(error)) return false;
  }

  if (Start(config_utf8, proxy_only, error)) return true;
  TunnelLogWrite("IPC client start failed, retrying once: " + *error);
  if (!EnsureServiceRunning(error)) return false;
  return Start(config_utf8, proxy_only, error);
}

}  // namespace zelvora::ipc
