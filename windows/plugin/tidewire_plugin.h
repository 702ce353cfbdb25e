// The one plug-in object through which the Flutter app reaches the VPN client.
#pragma once

#include <flutter/encodable_value.h>
#include <flutter/event_channel.h>
#include <flutter/event_sink.h>
#include <flutter/method_call.h>
#include <flutter/method_result.h>
#include <flutter/plugin_registrar_windows.h>
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zelvora {

class PlatformThreadQueue;

using EncodableResult = flutter::MethodResult<flutter::EncodableValue>;
using SharedResult = std::shared_ptr<EncodableResult>;

class TidewirePlugin : public flutter::Plugin {
 public:
  static void RegisterWithRegistrar(flutter::PluginRegistrarWindows* registrar);

  explicit TidewirePlugin(flutter::PluginRegistrarWindows* registrar);
  ~TidewirePlugin() override;

  TidewirePlugin(const TidewirePlugin&) = delete;
  TidewirePlugin& operator=(const TidewirePlugin&) = delete;

  // Runs a completion on the platform thread (queued through the plug-in's window message
  // when called elsewhere); whatever it throws is logged and contained. Dropped once the
  // plug-in's destruction began.
  void RunOnUIThread(std::function<void()> callback);

  // Status stream: the six-string event list and the cached tunnel state.
  void SendStatusToUI(const flutter::EncodableList& status);
  void PublishCachedTunnelState(bool running, bool tunnel_ready, bool adapter_present);

  // Called through the service manager whenever the in-process engine's worker ends.
  void OnVpnUnexpectedExit();

  // Held by every detached worker that uses this object, from before its thread starts until
  // it ends: the destructor waits for all of them, so no worker touches freed state.
  class WorkerLease {
   public:
    explicit WorkerLease(TidewirePlugin* plugin);
    ~WorkerLease();
    WorkerLease(const WorkerLease&) = delete;
    WorkerLease& operator=(const WorkerLease&) = delete;

   private:
    TidewirePlugin* plugin_;
  };

 private:
  void HandleMethodCall(const flutter::MethodCall<flutter::EncodableValue>& call,
                        std::unique_ptr<EncodableResult> result);
  void HandleGetVpnTunnelState(EncodableResult& result);
  int32_t MeasureConnectedServerDelay(const std::string& url);

  std::optional<LRESULT> HandleWindowMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

  std::unique_ptr<flutter::StreamHandlerError<flutter::EncodableValue>> OnListen(
      std::unique_ptr<flutter::EventSink<flutter::EncodableValue>>&& events);
  std::unique_ptr<flutter::StreamHandlerError<flutter::EncodableValue>> OnCancel();
  std::string InitialStatusState();

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

  flutter::PluginRegistrarWindows* registrar_;
  std::unique_ptr<flutter::EventChannel<flutter::EncodableValue>> status_channel_;
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
  HWND window_handle_ = nullptr;
  int32_t window_proc_delegate_id_ = 0;
  uint32_t ui_callback_message_ = 0;
  // Results and status events reach the messenger only through here.
  std::shared_ptr<PlatformThreadQueue> ui_queue_;
  std::mutex connect_mutex_;
  std::mutex timer_mutex_;
  // Raised on the platform thread by every start, restart and stop call as it arrives.
  std::atomic<uint64_t> connect_generation_{0};
  // Held by a connection worker for its whole run: connect and its undo, or a stop.
  std::mutex session_mutex_;
  std::atomic<uint16_t> session_socks_port_{0};
  std::mutex workers_mutex_;
  std::condition_variable workers_done_;
  int active_workers_ = 0;

  // The connection workers share the fields above.
  friend class ConnectionWorkerSteps;
  friend void StartWorker(TidewirePlugin*, uint64_t, std::string, bool, SharedResult);
  friend void RestartWorker(TidewirePlugin*, uint64_t, std::string, bool, SharedResult);
  friend void StopWorker(TidewirePlugin*, uint64_t, SharedResult);
};

}  // namespace zelvora
