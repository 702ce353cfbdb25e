#include "plugin/tidewire_plugin.h"

#include <flutter/event_stream_handler_functions.h>
#include <flutter/method_channel.h>
#include <flutter/standard_method_codec.h>

#include <chrono>
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

// How long the destructor waits for workers that were told to give up. A cancelled worker
// leaves within about 100 ms unless it is inside an exchange already sent to the service;
// 2 s covers that common case with ample room on a loaded machine, and is still short enough
// that closing the app feels immediate rather than hung.
constexpr std::chrono::milliseconds kWorkerWaitBound{2000};

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
  state_ = std::make_shared<ConnectionState>(
      std::make_shared<PlatformThreadQueue>(top_level, ui_callback_message_));

  window_proc_delegate_id_ = registrar->RegisterTopLevelWindowProcDelegate(
      [this](HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
        return HandleWindowMessage(hwnd, message, wparam, lparam);
      });
  if (window_proc_delegate_id_ != 0) {
    LogMessage("Window proc delegate registered successfully");
  } else {
    LogMessage("Warning: Failed to register window proc delegate");
  }

  VpnServiceManager::Instance().SetUnexpectedExitCallback(
      [state = state_] { state->OnVpnUnexpectedExit(); });

  LogMessage("Plugin initialized");
  TunnelLogOpenSession("ui_plugin");
}

TidewirePlugin::~TidewirePlugin() {
  // The engine takes no more messages from here on: nothing queued or sent later reaches it.
  state_->ui_queue_->Close();
  // Workers are told to give up and get a short while to do so. Most leave at once (between
  // steps, or while waiting for the client mutex or the pipe, which they check every 100 ms);
  // one whose request already went to the tunnel service stays until that exchange ends,
  // which the client bounds at up to 15 s plus a cancel grace. The app's exit must not hang
  // that long: after the bound the worker carries on alone with the shared state it holds.
  state_->EndPluginLife(kWorkerWaitBound);
  state_->StopStatusTimer();
  VpnServiceManager& manager = VpnServiceManager::Instance();
  manager.SetUnexpectedExitCallback({});
  // Ends an in-process or proxy session; a session of the tunnel service keeps running.
  manager.StopAtExit();
  if (registrar_ && window_proc_delegate_id_ != 0) {
    registrar_->UnregisterTopLevelWindowProcDelegate(window_proc_delegate_id_);
    window_proc_delegate_id_ = 0;
  }
  std::lock_guard<std::mutex> lock(state_->sink_mutex_);
  state_->status_sink_.reset();
}

std::optional<LRESULT> TidewirePlugin::HandleWindowMessage(HWND, UINT message, WPARAM, LPARAM) {
  if (ui_callback_message_ == 0 || message != ui_callback_message_) return std::nullopt;
  LogMessage("Window proc delegate called for message " + std::to_string(message) + ", executing " +
             std::to_string(state_->ui_queue_->Pending()) + " tasks");
  state_->ui_queue_->Drain();
  return 0;
}

void TidewirePlugin::RunOnUIThread(std::function<void()> callback) {
  state_->RunOnUIThread(std::move(callback));
}

}  // namespace zelvora
