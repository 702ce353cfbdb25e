#include "plugin/service_stop_retry.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "ipc/vpn_ipc_client.h"
#include "tunnel_log/log_message.h"

namespace zelvora {
namespace {

using ipc::VpnIpcClient;

// Waits `pause` unless superseded first; true when the whole pause passed.
bool PauseUnlessSuperseded(std::chrono::milliseconds pause,
                           const std::function<bool()>& superseded) {
  constexpr DWORD kSliceMs = 50;
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(pause.count());
  while (!superseded()) {
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return true;
    ::Sleep(static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, kSliceMs)));
  }
  return false;
}

}  // namespace

bool RetryServiceStopUntilDelivered(const std::function<bool()>& superseded) {
  LogMessage("Stop did not reach the tunnel service; retrying in the background");
  std::chrono::milliseconds pause = kStopRetryFirstPause;
  for (int attempt = 2;; ++attempt) {
    if (!PauseUnlessSuperseded(pause, superseded)) break;
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
