#include "echo_plugin.h"

#include <flutter/event_channel.h>
#include <flutter/event_stream_handler_functions.h>
#include <flutter/method_channel.h>
#include <flutter/plugin_registrar_windows.h>
#include <flutter/standard_method_codec.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

std::atomic<int> destroyed_count{0};

const UINT kUiMessage = ::RegisterWindowMessageW(L"ECHO_PLUGIN_UI");

class EchoPlugin : public flutter::Plugin {
 public:
  explicit EchoPlugin(flutter::PluginRegistrarWindows* registrar)
      : registrar_(registrar),
        methods_(registrar->messenger(), "tidewire", &flutter::StandardMethodCodec::GetInstance()),
        status_(registrar->messenger(), "tidewire/status",
                &flutter::StandardMethodCodec::GetInstance()) {
    methods_.SetMethodCallHandler(
        [this](const auto& call, auto result) { HandleMethodCall(call, std::move(result)); });
    status_.SetStreamHandler(std::make_unique<flutter::StreamHandlerFunctions<>>(
        [this](const EncodableValue* arguments, std::unique_ptr<flutter::EventSink<>>&& events)
            -> std::unique_ptr<flutter::StreamHandlerError<>> {
          if (arguments && *arguments == EncodableValue("refuse")) {
            return std::make_unique<flutter::StreamHandlerError<>>("REFUSED", "not now", nullptr);
          }
          std::lock_guard<std::mutex> lock(sink_mutex_);
          sink_ = std::move(events);
          sink_->Success(EncodableValue("listening"));
          return nullptr;
        },
        [this](const EncodableValue*) -> std::unique_ptr<flutter::StreamHandlerError<>> {
          std::lock_guard<std::mutex> lock(sink_mutex_);
          sink_.reset();
          return nullptr;
        }));
    ui_delegate_ = registrar_->RegisterTopLevelWindowProcDelegate(
        [this](HWND, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
          if (message != kUiMessage) return std::nullopt;
          SendEvent(EncodableValue("ui"));
          return 0;
        });
  }

  ~EchoPlugin() override {
    for (auto& worker : workers_) worker.join();
    for (int id : delegates_) registrar_->UnregisterTopLevelWindowProcDelegate(id);
    registrar_->UnregisterTopLevelWindowProcDelegate(ui_delegate_);
    methods_.SetMethodCallHandler(nullptr);
    status_.SetStreamHandler(nullptr);
    destroyed_count.fetch_add(1);
    std::cout << "[Tidewire] echo plugin destroyed" << std::endl;
  }

 private:
  void SendEvent(const EncodableValue& event) {
    std::lock_guard<std::mutex> lock(sink_mutex_);
    if (sink_) sink_->Success(event);
  }

  void HandleMethodCall(const flutter::MethodCall<>& call,
                        std::unique_ptr<flutter::MethodResult<>> result) {
    const std::string& method = call.method_name();
    const EncodableValue args = call.arguments() ? *call.arguments() : EncodableValue();
    if (method == "echo") {
      result->Success(args);
    } else if (method == "fail") {
      const auto* message = std::get_if<std::string>(&args);
      result->Error("TEST_ERROR", message ? *message : "");
    } else if (method == "later") {
      std::shared_ptr<flutter::MethodResult<>> shared(std::move(result));
      workers_.emplace_back([shared, args] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        shared->Success(args);
      });
    } else if (method == "never") {
      kept_results_.push_back(std::move(result));
    } else if (method == "emit") {
      const auto* count = std::get_if<int32_t>(&args);
      const int n = count ? *count : 0;
      workers_.emplace_back([this, n] {
        for (int i = 0; i < n; ++i) SendEvent(EncodableValue(EncodableList{EncodableValue(i)}));
      });
      result->Success(EncodableValue(n));
    } else if (method == "errorEvent") {
      std::lock_guard<std::mutex> lock(sink_mutex_);
      if (sink_) sink_->Error("EVENT_ERROR", "bad");
      result->Success();
    } else if (method == "endStream") {
      std::lock_guard<std::mutex> lock(sink_mutex_);
      if (sink_) sink_->EndOfStream();
      result->Success();
    } else if (method == "addDelegate") {
      AddDelegate(args, std::move(result));
    } else if (method == "removeDelegate") {
      const auto* id = std::get_if<int32_t>(&args);
      if (id) registrar_->UnregisterTopLevelWindowProcDelegate(*id);
      result->Success();
    } else if (method == "postToUi") {
      flutter::FlutterView* view = registrar_->GetView();
      const bool posted = view && ::PostMessageW(view->GetNativeWindow(), kUiMessage, 0, 0);
      result->Success(EncodableValue(posted));
    } else if (method == "hasView") {
      result->Success(EncodableValue(registrar_->GetView() != nullptr));
    } else {
      result->NotImplemented();
    }
  }

  void AddDelegate(const EncodableValue& args, std::unique_ptr<flutter::MethodResult<>> result) {
    const auto* map = std::get_if<EncodableMap>(&args);
    if (!map) {
      result->Error("INVALID_ARGUMENTS", "expected a map");
      return;
    }
    auto message_it = map->find(EncodableValue("message"));
    auto value_it = map->find(EncodableValue("value"));
    if (message_it == map->end() || !std::holds_alternative<int32_t>(message_it->second)) {
      result->Error("INVALID_ARGUMENTS", "expected an int \"message\"");
      return;
    }
    const UINT message = static_cast<UINT>(std::get<int32_t>(message_it->second));
    std::optional<LRESULT> value;
    if (value_it != map->end() && std::holds_alternative<int32_t>(value_it->second)) {
      value = std::get<int32_t>(value_it->second);
    }
    const int id = registrar_->RegisterTopLevelWindowProcDelegate(
        [message, value](HWND, UINT received, WPARAM, LPARAM) -> std::optional<LRESULT> {
          if (received != message) return std::nullopt;
          return value;
        });
    delegates_.push_back(id);
    result->Success(EncodableValue(id));
  }

  flutter::PluginRegistrarWindows* registrar_;
  flutter::MethodChannel<> methods_;
  flutter::EventChannel<> status_;
  std::mutex sink_mutex_;
  std::unique_ptr<flutter::EventSink<>> sink_;
  std::vector<std::thread> workers_;
  std::vector<std::unique_ptr<flutter::MethodResult<>>> kept_results_;
  std::vector<int> delegates_;
  int ui_delegate_ = 0;
};

}  // namespace

void EchoPluginRegisterWithRegistrar(FlutterDesktopPluginRegistrarRef registrar) {
  auto* windows_registrar =
      flutter::PluginRegistrarManager::GetInstance()->GetRegistrar<flutter::PluginRegistrarWindows>(
          registrar);
  windows_registrar->AddPlugin(std::make_unique<EchoPlugin>(windows_registrar));
}

int EchoPluginDestroyedCount() { return destroyed_count.load(); }
