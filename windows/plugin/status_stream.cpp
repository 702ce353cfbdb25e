// The "tidewire/status" stream: listen and cancel, the once-a-second status poll while a
// connection is up, the connected-session timer and the cached tunnel state.
#include <chrono>
#include <exception>

#include "common/elevation.h"
#include "common/stop_aware_wait.h"
#include "ipc/vpn_ipc_client.h"
#include "plugin/platform_thread_queue.h"
#include "plugin/status_event.h"
#include "plugin/tidewire_plugin.h"
#include "plugin/tunnel_service_choice.h"
#include "plugin/vpn_service_manager.h"
#include "tunnel_log/log_message.h"

namespace zelvora {
namespace {

int64_t SteadyNowNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The state last written by UpdateStatus, so the log gets one line per change, not per poll.
std::mutex g_logged_state_mutex;
std::string g_logged_state;

}  // namespace

std::unique_ptr<flutter::StreamHandlerError<flutter::EncodableValue>> TidewirePlugin::OnListen(
    std::unique_ptr<flutter::EventSink<flutter::EncodableValue>>&& events) {
  try {
    LogMessage("EventChannel listener connected");
    {
      std::lock_guard<std::mutex> lock(state_->sink_mutex_);
      state_->status_sink_ = std::move(events);
    }
    const std::string state = InitialStatusState();
    std::lock_guard<std::mutex> lock(state_->sink_mutex_);
    if (state_->status_sink_) {
      LogMessage("Sending initial " + state + " status");
      state_->status_sink_->Success(flutter::EncodableValue(MakeIdleStatusEvent(state)));
    }
  } catch (const std::exception& e) {
    LogMessage(std::string("Error in status listen handler: ") + e.what());
  } catch (...) {
    LogMessage("Unknown error in status listen handler");
  }
  return nullptr;
}

std::string TidewirePlugin::InitialStatusState() {
  {
    std::lock_guard<std::mutex> lock(state_->cached_state_mutex_);
    if (state_->cached_running_)
      return state_->cached_tunnel_ready_ ? kStateConnected : kStateConnecting;
  }
  if (ShouldUseTunnelService()) {
    ipc::StatusPayload status;
    // A session whose stop is still on its way is not the app's any more.
    if (!state_->service_stop_pending_ && ipc::VpnIpcClient::QueryStatus(&status, nullptr)) {
      if (!status.running && !status.tunnel) {
        state_->PublishCachedTunnelState(false, false, false);
        return kStateDisconnected;
      }
      state_->PublishCachedTunnelState(status.running, status.tunnel, true);
      state_->ResumeServicePolling();
      return status.tunnel ? kStateConnected : kStateConnecting;
    }
  } else if (state_->connected_) {
    return VpnServiceManager::Instance().IsTunnelReady() ? kStateConnected : kStateConnecting;
  }
  return kStateDisconnected;
}

std::unique_ptr<flutter::StreamHandlerError<flutter::EncodableValue>> TidewirePlugin::OnCancel() {
  LogMessage("EventChannel listener disconnected");
  std::lock_guard<std::mutex> lock(state_->sink_mutex_);
  state_->status_sink_.reset();
  return nullptr;
}

void ConnectionState::SendStatusToUI(const flutter::EncodableList& status) {
  ui_queue_->Run([self = shared_from_this(), status] { self->SendStatusNow(status); });
}

void ConnectionState::SendStatusNow(const flutter::EncodableList& status) {
  std::lock_guard<std::mutex> lock(sink_mutex_);
  if (!status_sink_) {
    LogMessage("Warning: status_sink_ is null, cannot send status");
    return;
  }
  try {
    status_sink_->Success(flutter::EncodableValue(status));
  } catch (const std::exception& e) {
    LogMessage(std::string("Error sending status: ") + e.what());
  } catch (...) {
    LogMessage("Unknown error sending status");
  }
}

void ConnectionState::ResumeServicePolling() {
  // The service kept a session from an earlier run of the app: follow it like our own, so
  // its counters, duration and end reach the app.
  if (connected_.exchange(true)) return;
  LogMessage("Tunnel service holds a session: resuming status polling");
  status_failures_ = 0;
  {
    std::lock_guard<std::mutex> lock(status_mutex_);
    ResetConnectedSessionTimer();
    last_up_total_ = 0;
    last_down_total_ = 0;
  }
  StartStatusTimer();
}

void ConnectionState::PublishCachedTunnelState(bool running, bool tunnel_ready,
                                               bool adapter_present) {
  std::lock_guard<std::mutex> lock(cached_state_mutex_);
  cached_running_ = running;
  cached_tunnel_ready_ = tunnel_ready;
  cached_adapter_present_ = adapter_present;
}

void ConnectionState::SetConnectedSessionTimerActive(bool active) {
  const int64_t now = SteadyNowNanoseconds();
  if (active) {
    if (session_started_at_ == 0) session_started_at_ = now;
    return;
  }
  if (session_started_at_ != 0) {
    session_seconds_ += (now - session_started_at_) / 1000000000;
    if (session_seconds_ < 0) session_seconds_ = 0;
    session_started_at_ = 0;
  }
}

void ConnectionState::ResetConnectedSessionTimer() {
  session_seconds_ = 0;
  session_started_at_ = 0;
}

void ConnectionState::StartStatusTimer() {
  std::lock_guard<std::mutex> lock(timer_mutex_);
  // A worker that outlived the plug-in has nobody left to report to.
  if (plugin_gone_) return;
  status_timer_running_ = false;
  if (status_thread_.joinable()) status_thread_.join();
  status_timer_running_ = true;
  status_thread_ = std::thread([this] { StatusTimerLoop(); });
}

void ConnectionState::StopStatusTimer() {
  std::lock_guard<std::mutex> lock(timer_mutex_);
  status_timer_running_ = false;
  if (!status_thread_.joinable()) return;
  if (status_thread_.get_id() == std::this_thread::get_id()) {
    LogMessage("StopStatusTimer: skip self-join");
    return;
  }
  status_thread_.join();
}

void ConnectionState::StatusTimerLoop() {
  // A poll must never end the thread by throwing: log it and keep the one-second rhythm.
  if (!status_timer_running_) return;
  do {
    if (!connected_) return;
    try {
      UpdateStatus();
    } catch (const std::exception& e) {
      LogMessage(std::string("UpdateStatus exception: ") + e.what());
    } catch (...) {
      LogMessage("UpdateStatus unknown exception");
    }
  } while (WaitWhileRunning(status_timer_running_, std::chrono::seconds(1)));
}

void ConnectionState::UpdateStatus() {
  {
    std::lock_guard<std::mutex> lock(sink_mutex_);
    if (!status_sink_ || !connected_) return;
  }
  std::lock_guard<std::mutex> lock(status_mutex_);
  const int64_t now = SteadyNowNanoseconds();

  int64_t up_total = 0;
  int64_t down_total = 0;
  bool running = false;
  bool tunnel_ready = false;
  bool adapter_present = false;
  if (ShouldUseTunnelService()) {
    ipc::StatusPayload status;
    if (!ipc::VpnIpcClient::QueryStatus(&status, nullptr)) {
      const int32_t failures = ++status_failures_;
      const bool service_running = ipc::VpnIpcClient::IsServiceRunning();
      if (failures < 3 && service_running) return;
      LogMessage(service_running ? "UpdateStatus: IPC status failed repeatedly"
                                 : "UpdateStatus: tunnel service not running");
      connected_ = false;
      ResetConnectedSessionTimer();
      PublishCachedTunnelState(false, false, false);
      status_failures_ = 0;
      SendStatusToUI(MakeIdleStatusEvent(kStateDisconnected));
      status_timer_running_ = false;
      return;
    }
    status_failures_ = 0;
    if (!status.running) {
      connected_ = false;
      ResetConnectedSessionTimer();
      PublishCachedTunnelState(false, false, false);
      SendStatusToUI(MakeIdleStatusEvent(kStateDisconnected));
      return;
    }
    up_total = static_cast<int64_t>(status.up);
    down_total = static_cast<int64_t>(status.down);
    tunnel_ready = status.tunnel;
    running = true;
    adapter_present = true;
  } else {
    VpnServiceManager& manager = VpnServiceManager::Instance();
    uint64_t up = 0;
    uint64_t down = 0;
    manager.GetTrafficTotals(&up, &down);
    up_total = static_cast<int64_t>(up);
    down_total = static_cast<int64_t>(down);
    tunnel_ready = manager.IsTunnelReady();
    adapter_present = manager.IsAdapterPresent();
    running = connected_;
  }

  PublishCachedTunnelState(running, tunnel_ready, adapter_present);
  SetConnectedSessionTimerActive(tunnel_ready);
  int64_t duration = session_seconds_;
  if (session_started_at_ != 0) duration += (now - session_started_at_) / 1000000000;
  if (duration < 0) duration = 0;

  up_delta_ = up_total - last_up_total_;
  down_delta_ = down_total - last_down_total_;
  last_up_total_ = up_total;
  last_down_total_ = down_total;

  const std::string state = tunnel_ready ? kStateConnected : kStateConnecting;
  {
    std::lock_guard<std::mutex> state_lock(g_logged_state_mutex);
    if (state != g_logged_state) {
      LogMessage("UpdateStatus: state=" + state + " duration=" + std::to_string(duration) +
                 " up_total=" + std::to_string(up_total) +
                 " down_total=" + std::to_string(down_total));
      g_logged_state = state;
    }
  }
  SendStatusToUI(
      MakeStatusEvent(duration, up_delta_, down_delta_, last_up_total_, last_down_total_, state));
}

void ConnectionState::OnVpnUnexpectedExit() {
  // An ordinary stop or restart clears connected_ before stopping the engine.
  if (!connected_.exchange(false)) return;
  LogMessage("VPN worker exited unexpectedly \xE2\x80\x94 notifying Flutter");
  StopStatusTimer();
  session_socks_port_ = 0;
  {
    std::lock_guard<std::mutex> lock(status_mutex_);
    session_seconds_ = 0;
    session_started_at_ = 0;
    last_up_total_ = 0;
    last_down_total_ = 0;
    up_delta_ = 0;
    down_delta_ = 0;
  }
  PublishCachedTunnelState(false, false, false);
  status_failures_ = 0;
  SendStatusToUI(MakeIdleStatusEvent(kStateDisconnected));
}

}  // namespace zelvora
