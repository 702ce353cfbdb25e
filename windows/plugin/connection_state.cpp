#include "plugin/connection_state.h"

#include <exception>

#include "common/elevation.h"
#include "plugin/platform_thread_queue.h"
#include "plugin/tunnel_service_choice.h"
#include "plugin/vpn_service_manager.h"
#include "probes/data_path_probe.h"
#include "tunnel_log/log_message.h"
#include "tunnel_log/tunnel_log.h"

namespace zelvora {

ConnectionState::ConnectionState(std::shared_ptr<PlatformThreadQueue> ui_queue)
    : ui_queue_(std::move(ui_queue)) {}

ConnectionState::~ConnectionState() {
  // The plug-in stops the status thread before it lets go; this only guards a thread that a
  // late worker could not have started (the timer refuses once the plug-in is gone).
  status_timer_running_ = false;
  if (status_thread_.joinable()) {
    if (status_thread_.get_id() == std::this_thread::get_id()) {
      status_thread_.detach();
    } else {
      status_thread_.join();
    }
  }
}

void ConnectionState::RunOnUIThread(std::function<void()> callback) {
  if (!callback) return;
  ui_queue_->Run([callback = std::move(callback)] {
    try {
      callback();
    } catch (const std::exception& e) {
      LogMessage(std::string("RunOnUIThread callback exception: ") + e.what());
    } catch (...) {
      LogMessage("RunOnUIThread callback unknown exception");
    }
  });
}

ConnectionState::WorkerLease::WorkerLease(std::shared_ptr<ConnectionState> state)
    : state_(std::move(state)) {
  std::lock_guard<std::mutex> lock(state_->workers_mutex_);
  ++state_->active_workers_;
}

ConnectionState::WorkerLease::~WorkerLease() {
  bool outlived = false;
  {
    std::lock_guard<std::mutex> lock(state_->workers_mutex_);
    outlived = state_->workers_abandoned_;
    if (--state_->active_workers_ == 0) state_->workers_done_.notify_all();
  }
  if (outlived) {
    try {
      LogMessage("Worker finished after the plug-in was destroyed; its outcome was dropped");
    } catch (...) {
    }
  }
}

size_t ConnectionState::EndPluginLife(std::chrono::milliseconds bound) {
  {
    // A worker that already passed its generation check could still hand over to the status
    // timer; from here on the timer does not start again.
    std::lock_guard<std::mutex> lock(timer_mutex_);
    plugin_gone_ = true;
  }
  // A waiting worker answers at once; a start still waiting on the tunnel service stops
  // before its next step.
  ++connect_generation_;
  std::unique_lock<std::mutex> lock(workers_mutex_);
  if (active_workers_ == 0) return 0;
  LogMessage("Waiting for " + std::to_string(active_workers_) + " worker(s) to finish");
  if (!workers_done_.wait_for(lock, bound, [this] { return active_workers_ == 0; })) {
    workers_abandoned_ = true;
    LogMessage(std::to_string(active_workers_) + " worker(s) still running after " +
               std::to_string(bound.count()) +
               " ms; they finish their exchange on their own and deliver nothing");
  }
  return active_workers_;
}

int32_t ConnectionState::MeasureConnectedServerDelay(const std::string& url) {
  const uint16_t port = session_socks_port_;
  if (ShouldUseTunnelService() && port != 0) {
    const int32_t delay = ProbeThroughSocks(port, url);
    if (delay < 0) TunnelLogWrite("probe: FAILED socks=" + std::to_string(port) + " url=" + url);
    return delay;
  }
  return VpnServiceManager::Instance().MeasureConnectedDelay(url);
}

}  // namespace zelvora
