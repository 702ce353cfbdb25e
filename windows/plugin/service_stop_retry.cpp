#include "plugin/service_stop_retry.h"

#include <algorithm>
#include <string>

#include "common/stop_aware_wait.h"
#include "ipc/vpn_ipc_client.h"
#include "tunnel_log/log_message.h"

namespace zelvora {

using ipc::VpnIpcClient;

bool RetryServiceStopUntilDelivered(const std::function<bool()>& superseded) {
  LogMessage("Stop did not reach the tunnel service; retrying in the background");
  std::chrono::milliseconds pause = kStopRetryFirstPause;
  for (int attempt = 2;; ++attempt) {
    if (!WaitUnlessStopped(superseded, pause)) break;
    pause = std::min(pause * 2, kStopRetryLongestPause);
    switch (VpnIpcClient::DeliverStop(superseded)) {
      case VpnIpcClient::StopDelivery::Delivered:
        LogMessage("Stop reached the tunnel service (attempt " + std::to_string(attempt) + ")");
        return true;
      case VpnIpcClient::StopDelivery::NoSession:
        LogMessage("Stop retry ended: the tunnel service holds no session");
        return true;
      case VpnIpcClient::StopDelivery::Cancelled:
        break;
      case VpnIpcClient::StopDelivery::NotDelivered:
        continue;
    }
    break;
  }
  LogMessage("Stop retry superseded by a newer call");
  return false;
}

}  // namespace zelvora
