// What the connection workers, the status thread and the engine's exit notification share
// with the plug-in: the connect generation, the connection and session state, the status
// timer, the status sink and the way results reach the platform thread.
//
// It lives apart from the plug-in object and is held by `std::shared_ptr`, so the plug-in's
// destructor can stop waiting for a worker stuck in one exchange with the tunnel service: the
// worker keeps this state alive, finishes that exchange on its own, delivers nothing (the
// platform-thread queue is closed from the moment destruction begins) and releases the state
// when it ends.
#pragma once

#include <flutter/encodable_value.h>
#include <flutter/event_sink.h>
#include <flutter/method_result.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace zelvora {

class PlatformThreadQueue;

using EncodableResult = flutter::MethodResult<flutter::EncodableValue>;
using SharedResult = std::shared_ptr<EncodableResult>;

class ConnectionState : public std::enable_shared_from_this<ConnectionState> {
 public:
  explicit ConnectionState(std::shared_ptr<PlatformThreadQueue> ui_queue);
  ~ConnectionState();

  ConnectionState(const ConnectionState&) = delete;
  ConnectionState& operator=(const ConnectionState&) = delete;

  // Runs a completion on the platform thread (queued through the plug-in's window message
  // when called elsewhere); whatever it throws is logged and contained. Dropped once the
  // plug-in's destruction began.
  void RunOnUIThread(std::function<void()> callback);

  // Status stream: the six-string event list and the cached tunnel state.
  void SendStatusToUI(const flutter::EncodableList& status);
  void PublishCachedTunnelState(bool running, bool tunnel_ready, bool adapter_present);

  // Called through the service manager whenever the in-process engine's worker ends.
  void OnVpnUnexpectedExit();

  // Held by every detached worker from before its thread starts until it ends; keeps the
  // state alive and lets the plug-in's destructor wait (for a while) for running workers.
  class WorkerLease {
   public:
    explicit WorkerLease(std::shared_ptr<ConnectionState> state);
    ~WorkerLease();
    WorkerLease(const WorkerLease&) = delete;
    WorkerLease& operator=(const WorkerLease&) = delete;

   private:
    std::shared_ptr<ConnectionState> state_;
  };

  // For the plug-in's destructor, in this order. Tells the workers to give up (the generation
  // moves on, the status timer may not start again) and waits for them up to `bound`; returns
  // how many are still running then. Those finish on their own and log that they outlived
  // the plug-in.
  size_t EndPluginLife(std::chrono::milliseconds bound);

 private:
  friend class TidewirePlugin;
  friend class ConnectionWorkerSteps;
  friend void StartWorker(std::shared_ptr<ConnectionState>, uint64_t, std::string, bool,
                          SharedResult);
  friend void RestartWorker(std::shared_ptr<ConnectionState>, uint64_t, std::string, bool,
                            SharedResult);
  friend void StopWorker(std::shared_ptr<ConnectionState>, uint64_t, SharedResult);

  int32_t MeasureConnectedServerDelay(const std::string& url);

  void StartStatusTimer();
  // The service runs a session this object did not start: poll it from now on.
  void ResumeServicePolling();
  void StopStatusTimer();
  void StatusTimerLoop();
  void UpdateStatus();
  // On the platform thread: hands one event to the sink.
  void SendStatusNow(const flutter::EncodableList& status);
  // Both are called with status_mutex_ held.
  void SetConnectedSessionTimerActive(bool active);
  void ResetConnectedSessionTimer();

  std::unique_ptr<flutter::EventSink<flutter::EncodableValue>> status_sink_;
  std::thread status_thread_;
  std::atomic<bool> connected_{false};
  std::atomic<bool> status_timer_running_{false};
  std::atomic<int32_t> status_failures_{0};
  std::mutex status_mutex_;
  std::mutex sink_mutex_;
  std::mutex cached_state_mutex_;
  bool cached_running_ = false;
  bool cached_tunnel_ready_ = false;
  bool cached_adapter_present_ = false;
  int64_t session_seconds_ = 0;
  int64_t session_started_at_ = 0;  // steady-clock nanoseconds; 0 while paused
  int64_t last_up_total_ = 0;
  int64_t last_down_total_ = 0;
  int64_t up_delta_ = 0;
  int64_t down_delta_ = 0;
  // Results and status events reach the messenger only through here.
  const std::shared_ptr<PlatformThreadQueue> ui_queue_;
  std::mutex connect_mutex_;
  std::mutex timer_mutex_;  // guards status_thread_ and plugin_gone_
  bool plugin_gone_ = false;
  // Raised on the platform thread by every start, restart and stop call as it arrives.
  std::atomic<uint64_t> connect_generation_{0};
  // Held by a connection worker for its whole run: connect and its undo, or a stop.
  std::mutex session_mutex_;
  std::atomic<uint16_t> session_socks_port_{0};
  // A stop that has not reached the tunnel service yet is being retried: the service's
  // session is ending at the user's request, so it is not taken up again as a running one.
  std::atomic<bool> service_stop_pending_{false};
  std::mutex workers_mutex_;
  std::condition_variable workers_done_;
  size_t active_workers_ = 0;
  bool workers_abandoned_ = false;  // the plug-in stopped waiting for them
};

}  // namespace zelvora
