#include "plugin/tidewire_plugin.h"

#include <flutter/event_stream_handler_functions.h>
#include <flutter/method_channel.h>
#include <flutter/standard_method_codec.h>

#include <exception>

#include "plugin/platform_thread_queue.h"
#include "plugin/vpn_service_manager.h"
#include "tunnel_log/log_message.h"
#include "tunnel_log/tunnel_log.h"

namespace zelvora {

namespace {

constexpr char kMethodChannelName[] = "tidewire";
constexpr char kStatusChannelName[] = "tidewire/status";
constexpr char kUiCallbackMessageName[] = "TIDEWIRE_INVOKE_UI_CALLBACK";

}  // namespace

void TidewirePlugin::RegisterWithRegistrar(flutter::PluginRegistrarWindows* registrar) {
  registrar->AddPlugin(std::make_unique<TidewirePlugin>(registrar));
}

TidewirePlugin::TidewirePlugin(flutter::PluginRegistrarWindows* registrar) : registrar_(registrar) {
  const auto& codec = flutter::StandardMethodCodec::GetInstance();

  // The channel object may go; its handler stays registered with the messenger.
  auto method_channel = std::make_unique<flutter::MethodChannel<flutter::EncodableValue>>(
      registrar->messenger(), kMethodChannelName, &codec);
  method_channel->SetMethodCallHandler(
      [this](const flutter::MethodCall<flutter::EncodableValue>& call,
             std::unique_ptr<EncodableResult> result) {
        HandleMethodCall(call, std::move(result));
      });

  status_channel_ = std::make_unique<flutter::EventChannel<flutter::EncodableValue>>(
      registrar->messenger(), kStatusChannelName, &codec);
  status_channel_->SetStreamHandler(
      std::make_unique<flutter::StreamHandlerFunctions<flutter::EncodableValue>>(
          [this](const flutter::EncodableValue*,
                 std::unique_ptr<flutter::EventSink<flutter::EncodableValue>>&& events) {
            return OnListen(std::move(events));
          },
          [this](const flutter::EncodableValue*) { return OnCancel(); }));

  if (flutter::FlutterView* view = registrar->GetView()) {
    window_handle_ = view->GetNativeWindow();
    if (window_handle_) {
      LogMessage("Main window handle obtained: " +
                 std::to_string(reinterpret_cast<uintptr_t>(window_handle_)));
    } else {
      LogMessage("Warning: GetNativeWindow returned null");
    }
  } else {
    LogMessage("Warning: GetView returned null");
  }

  ui_callback_message_ = ::RegisterWindowMessageA(kUiCallbackMessageName);
  if (ui_callback_message_ != 0) {
    LogMessage("Window message ID registered: " + std::to_string(ui_callback_message_));
  } else {
    LogMessage("Error: Failed to register window message");
  }
  // The view's window is a child; the window procedure delegates see the top-level window.
  HWND top_level = window_handle_ ? ::GetAncestor(window_handle_, GA_ROOT) : nullptr;
  if (!top_level) top_level = window_handle_;
  ui_queue_ = std::make_shared<PlatformThreadQueue>(top_level, ui_callback_message_);

  window_proc_delegate_id_ = registrar->RegisterTopLevelWindowProcDelegate(
      [this](HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
        return HandleWindowMessage(hwnd, message, wparam, lparam);
      });
  if (window_proc_delegate_id_ != 0) {
    LogMessage("Window proc delegate registered successfully");
  } else {
    LogMessage("Warning: Failed to register window proc delegate");
  }

  VpnServiceManager::Instance().SetUnexpectedExitCallback([this] { OnVpnUnexpectedExit(); });

  LogMessage("Plugin initialized");
  TunnelLogOpenSession("ui_plugin");
}

TidewirePlugin::~TidewirePlugin() {
  // The engine takes no more messages from here on: nothing queued or sent later reaches it.
  ui_queue_->Close();
  // Tell the connection workers to give up: a waiting one answers at once, and a start still
  // waiting on the tunnel service stops before its next step.
  ++connect_generation_;
  // Then let running workers finish: they use this object, and a start that completes now
  // would otherwise restart the status thread behind the teardown. A worker can still be
  // inside one step of the service client (each step is bounded by the client's own limits),
  // so this wait ends within that step's limit rather than after the whole start.
  {
    std::unique_lock<std::mutex> lock(workers_mutex_);
    if (active_workers_ > 0) {
      LogMessage("Waiting for " + std::to_string(active_workers_) + " worker(s) to finish");
    }
    workers_done_.wait(lock, [this] { return active_workers_ == 0; });
  }
  StopStatusTimer();
  VpnServiceManager& manager = VpnServiceManager::Instance();
  manager.SetUnexpectedExitCallback({});
  // Ends an in-process or proxy session; a session of the tunnel service keeps running.
  manager.Stop();
  if (registrar_ && window_proc_delegate_id_ != 0) {
    registrar_->UnregisterTopLevelWindowProcDelegate(window_proc_delegate_id_);
    window_proc_delegate_id_ = 0;
  }
  std::lock_guard<std::mutex> lock(sink_mutex_);
  status_sink_.reset();
}

std::optional<LRESULT> TidewirePlugin::HandleWindowMessage(HWND, UINT message, WPARAM, LPARAM) {
  if (ui_callback_message_ == 0 || message != ui_callback_message_) return std::nullopt;
  LogMessage("Window proc delegate called for message " + std::to_string(message) + ", executing " +
             std::to_string(ui_queue_->Pending()) + " tasks");
  ui_queue_->Drain();
  return 0;
}

TidewirePlugin::WorkerLease::WorkerLease(TidewirePlugin* plugin) : plugin_(plugin) {
  std::lock_guard<std::mutex> lock(plugin_->workers_mutex_);
  ++plugin_->active_workers_;
}

TidewirePlugin::WorkerLease::~WorkerLease() {
  std::lock_guard<std::mutex> lock(plugin_->workers_mutex_);
  if (--plugin_->active_workers_ == 0) plugin_->workers_done_.notify_all();
}

void TidewirePlugin::RunOnUIThread(std::function<void()> callback) {
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

}  // namespace zelvora
