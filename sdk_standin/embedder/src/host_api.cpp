// The host's side of the stand-in: what the engine and the Dart app do to a registrar.

#include <flutter_standin_host.h>

#include <algorithm>

#include "embedder_types.h"

FlutterDesktopPluginRegistrarRef FlutterStandinCreateRegistrar(HWND view_window) {
  auto* registrar = new FlutterDesktopPluginRegistrar();
  registrar->messenger = new FlutterDesktopMessenger();
  if (view_window) {
    registrar->view = std::make_unique<FlutterDesktopView>();
    registrar->view->window = view_window;
  }
  return registrar;
}

void FlutterStandinDestroyRegistrar(FlutterDesktopPluginRegistrarRef registrar) {
  if (!registrar) return;
  // The handlers may send, unset channels and unregister delegates while the plug-ins go, so
  // the messenger stays fully alive until they are done.
  registrar->messenger->shutting_down = true;
  std::vector<FlutterDesktopOnPluginRegistrarDestroyed> handlers;
  {
    std::lock_guard<std::mutex> lock(registrar->mutex);
    handlers = registrar->destruction_handlers;
  }
  for (FlutterDesktopOnPluginRegistrarDestroyed handler : handlers) handler(registrar);
  flutter_standin_internal::ShutDownMessenger(registrar->messenger);
  FlutterDesktopMessengerRelease(registrar->messenger);
  delete registrar;
}

bool FlutterStandinSendToPlugin(FlutterDesktopPluginRegistrarRef registrar, const char* channel,
                                const uint8_t* message, size_t message_size,
                                FlutterStandinReplyCallback reply, void* user_data) {
  if (!registrar || !channel) return false;
  FlutterDesktopMessenger* messenger = registrar->messenger;
  FlutterDesktopMessenger::Handler handler;
  auto* pending = new FlutterDesktopMessageResponseHandle{reply, user_data};
  {
    std::lock_guard<std::mutex> lock(messenger->mutex);
    auto it = messenger->handlers.find(channel);
    if (it != messenger->handlers.end()) {
      handler = it->second;
      messenger->pending_responses.insert(pending);
    }
  }
  if (!handler.callback) {
    delete pending;
    if (reply) reply(nullptr, 0, user_data);
    return true;
  }
  FlutterDesktopMessage desktop_message = {};
  desktop_message.struct_size = sizeof(desktop_message);
  desktop_message.channel = channel;
  desktop_message.message = message_size > 0 ? message : nullptr;
  desktop_message.message_size = message_size;
  desktop_message.response_handle = pending;
  handler.callback(messenger, &desktop_message, handler.user_data);
  return true;
}

void FlutterStandinSetMessageObserver(FlutterDesktopPluginRegistrarRef registrar,
                                      FlutterStandinMessageObserver observer, void* user_data) {
  if (!registrar) return;
  // Taking the availability lock waits out a send that is calling the previous observer.
  FlutterDesktopMessenger* messenger = registrar->messenger;
  std::lock_guard<std::recursive_mutex> alive(messenger->availability_mutex);
  std::lock_guard<std::mutex> lock(messenger->mutex);
  messenger->observer = observer;
  messenger->observer_user_data = user_data;
}

bool FlutterStandinHasHandler(FlutterDesktopPluginRegistrarRef registrar, const char* channel) {
  if (!registrar || !channel) return false;
  std::lock_guard<std::mutex> lock(registrar->messenger->mutex);
  return registrar->messenger->handlers.count(channel) > 0;
}

bool FlutterStandinDispatchWindowMessage(FlutterDesktopPluginRegistrarRef registrar, HWND hwnd,
                                         UINT message, WPARAM wparam, LPARAM lparam,
                                         LRESULT* result) {
  if (!registrar) return false;
  std::vector<std::pair<FlutterDesktopWindowProcCallback, void*>> snapshot;
  {
    std::lock_guard<std::mutex> lock(registrar->mutex);
    snapshot = registrar->window_proc_delegates;
  }
  for (const auto& entry : snapshot) {
    // A delegate may have been unregistered by an earlier one; its user data may be gone.
    {
      std::lock_guard<std::mutex> lock(registrar->mutex);
      const auto& current = registrar->window_proc_delegates;
      if (std::find(current.begin(), current.end(), entry) == current.end()) continue;
    }
    LRESULT value = 0;
    if (entry.first(hwnd, message, wparam, lparam, entry.second, &value)) {
      if (result) *result = value;
      return true;
    }
  }
  return false;
}

size_t FlutterStandinWindowProcDelegateCount(FlutterDesktopPluginRegistrarRef registrar) {
  if (!registrar) return 0;
  std::lock_guard<std::mutex> lock(registrar->mutex);
  return registrar->window_proc_delegates.size();
}
