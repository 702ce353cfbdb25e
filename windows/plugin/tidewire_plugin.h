// The one plug-in object through which the Flutter app reaches the VPN client.
#pragma once

#include <flutter/encodable_value.h>
#include <flutter/event_channel.h>
#include <flutter/event_sink.h>
#include <flutter/method_call.h>
#include <flutter/method_result.h>
#include <flutter/plugin_registrar_windows.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "plugin/connection_state.h"

namespace zelvora {

class TidewirePlugin : public flutter::Plugin {
 public:
  static void RegisterWithRegistrar(flutter::PluginRegistrarWindows* registrar);

  explicit TidewirePlugin(flutter::PluginRegistrarWindows* registrar);
  ~TidewirePlugin() override;

  TidewirePlugin(const TidewirePlugin&) = delete;
  TidewirePlugin& operator=(const TidewirePlugin&) = delete;

  // Runs a completion on the platform thread; see ConnectionState::RunOnUIThread.
  void RunOnUIThread(std::function<void()> callback);

 private:
  void HandleMethodCall(const flutter::MethodCall<flutter::EncodableValue>& call,
                        std::unique_ptr<EncodableResult> result);
  void HandleGetVpnTunnelState(EncodableResult& result);

  std::optional<LRESULT> HandleWindowMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

  std::unique_ptr<flutter::StreamHandlerError<flutter::EncodableValue>> OnListen(
      std::unique_ptr<flutter::EventSink<flutter::EncodableValue>>&& events);
  std::unique_ptr<flutter::StreamHandlerError<flutter::EncodableValue>> OnCancel();
  std::string InitialStatusState();

  flutter::PluginRegistrarWindows* registrar_;
  std::unique_ptr<flutter::EventChannel<flutter::EncodableValue>> status_channel_;
  HWND window_handle_ = nullptr;
  int32_t window_proc_delegate_id_ = 0;
  uint32_t ui_callback_message_ = 0;
  // Shared with the workers, which may outlive this object (see the destructor).
  std::shared_ptr<ConnectionState> state_;
};

}  // namespace zelvora
