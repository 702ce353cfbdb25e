// Plays the Dart app and the engine for one plug-in registrar, on the calling thread, which
// becomes the platform thread: method calls go out as real standard-codec bytes through the
// stand-in embedder's C API, replies and events come back the same way (events from any
// thread). While waiting it pumps the thread's window messages, since a plug-in may post work
// to the platform thread and wait for it.
//
//   flutter_standin::ChannelHost host;                       // with a hidden top-level window
//   TidewirePluginRegisterWithRegistrar(host.registrar());
//   auto reply = host.InvokeMethod("tidewire", "getCoreVersion");
//   host.Listen("tidewire/status");
//   auto event = host.WaitForEvent("tidewire/status", std::chrono::seconds(2));
//   host.DestroyRegistrar();                                 // runs the plug-in's destructor
#pragma once

#include <flutter_plugin_registrar.h>
#include <flutter_windows.h>
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "channel_envelope.h"
#include "common/unique_handle.h"
#include "host_window.h"

namespace flutter_standin {

class ChannelHost {
 public:
  enum class ViewMode { kWithView, kWithoutView };

  static constexpr std::chrono::milliseconds kDefaultTimeout{5000};

  // Creates the registrar; with kWithView also a HostWindow as its view.
  explicit ChannelHost(ViewMode mode = ViewMode::kWithView);
  // Destroys the registrar (if still alive), then the window.
  ~ChannelHost();

  ChannelHost(const ChannelHost&) = delete;
  ChannelHost& operator=(const ChannelHost&) = delete;

  // Null once DestroyRegistrar ran (or if creation failed).
  FlutterDesktopPluginRegistrarRef registrar() const { return registrar_; }
  // The view's window; null without a view.
  HWND window() const { return window_ ? window_->hwnd() : nullptr; }

  // Sends a method call on `channel` and waits for the reply.
  MethodReply InvokeMethod(const std::string& channel, const std::string& method,
                           const flutter::EncodableValue& arguments = flutter::EncodableValue(),
                           std::chrono::milliseconds timeout = kDefaultTimeout);

  // Sends every call at once, as Dart's futures would, then waits for all replies (in call
  // order; those that never came are kTimedOut).
  std::vector<MethodReply> InvokeMethods(
      const std::string& channel,
      const std::vector<std::pair<std::string, flutter::EncodableValue>>& calls,
      std::chrono::milliseconds timeout = kDefaultTimeout);

  // Sends arbitrary bytes on `channel` and waits for the reply.
  MethodReply SendRaw(const std::string& channel, const std::vector<uint8_t>& bytes,
                      std::chrono::milliseconds timeout = kDefaultTimeout);

  // "listen" and "cancel" on an event channel, as Dart's EventChannel sends them.
  MethodReply Listen(const std::string& channel,
                     const flutter::EncodableValue& arguments = flutter::EncodableValue(),
                     std::chrono::milliseconds timeout = kDefaultTimeout);
  MethodReply Cancel(const std::string& channel,
                     const flutter::EncodableValue& arguments = flutter::EncodableValue(),
                     std::chrono::milliseconds timeout = kDefaultTimeout);

  // Waits for the next message the plug-in sent on `channel`, decoded as an event; nullopt
  // when none arrived in time. Messages are kept from creation on, in arrival order.
  std::optional<ChannelEvent> WaitForEvent(const std::string& channel,
                                           std::chrono::milliseconds timeout = kDefaultTimeout);
  // Takes every message received on `channel` so far, without waiting.
  std::vector<ChannelEvent> TakeEvents(const std::string& channel);
  // Number of messages received on `channel` and not yet taken.
  size_t PendingEventCount(const std::string& channel);

  // Passes a window message through the registered delegates directly (with or without a
  // view); returns the value of the delegate that handled it.
  std::optional<LRESULT> DispatchWindowMessage(UINT message, WPARAM wparam, LPARAM lparam);
  // Sends a message to the hidden window, so it travels the real window procedure.
  LRESULT SendWindowMessage(UINT message, WPARAM wparam, LPARAM lparam);

  // Runs the platform thread's message loop for `duration`.
  void PumpMessages(std::chrono::milliseconds duration);

  // True while the plug-in has a handler set for `channel`.
  bool HasHandler(const std::string& channel) const;

  // Destroys the registrar now: the destruction handler runs and the client wrapper deletes
  // its plug-ins. Later calls answer kTimedOut at once.
  void DestroyRegistrar();

 private:
  struct PendingReply;

  static void OnReply(const uint8_t* reply, size_t reply_size, void* user_data);
  static void OnPluginMessage(const char* channel, const uint8_t* message, size_t message_size,
                              void* user_data);

  // Pumps messages until `done` returns true or the deadline passes; returns `done()`.
  template <typename Done>
  bool PumpUntil(std::chrono::steady_clock::time_point deadline, Done done);
  void Wake();

  FlutterDesktopPluginRegistrarRef registrar_ = nullptr;
  std::unique_ptr<HostWindow> window_;
  UniqueHandle wake_event_;  // set whenever a reply or message arrives

  std::mutex mutex_;
  std::map<std::string, std::deque<std::vector<uint8_t>>> received_;
};

}  // namespace flutter_standin
