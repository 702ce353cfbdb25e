// The objects behind the embedder's opaque references. One registrar per host "engine", each
// with its own messenger; the messenger is reference-counted because plug-in threads keep it
// to answer messages after the registrar is gone.
#pragma once

#include <flutter_plugin_registrar.h>
#include <flutter_standin_host.h>
#include <flutter_windows.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

// One message from the host awaiting the plug-in's answer.
struct _FlutterPlatformMessageResponseHandle {
  FlutterStandinReplyCallback reply = nullptr;
  void* user_data = nullptr;
};

struct FlutterDesktopMessenger {
  struct Handler {
    FlutterDesktopMessageCallback callback = nullptr;
    void* user_data = nullptr;
  };

  std::atomic<int> ref_count{1};

  // The thread that created the registrar: the engine's platform thread. The real embedder
  // expects every send and answer there, and detaches the messenger before plug-ins are
  // destroyed; the stand-in keeps working but counts what the real one would not survive.
  DWORD platform_thread = ::GetCurrentThreadId();
  std::atomic<bool> shutting_down{false};

  // Held by FlutterDesktopMessengerLock, by sends towards the host, and while the engine goes
  // away, so nothing reaches the host after FlutterStandinDestroyRegistrar returns. Recursive:
  // the client wrapper answers a message while holding it.
  std::recursive_mutex availability_mutex;
  bool available = true;  // guarded by availability_mutex

  // Guards everything below. Never held while calling out.
  std::mutex mutex;
  std::map<std::string, Handler> handlers;
  FlutterStandinMessageObserver observer = nullptr;
  void* observer_user_data = nullptr;
  std::set<_FlutterPlatformMessageResponseHandle*> pending_responses;
};

struct FlutterDesktopView {
  HWND window = nullptr;
};

struct FlutterDesktopTextureRegistrar {
  std::mutex mutex;
  int64_t next_id = 1;
  std::set<int64_t> ids;
};

struct FlutterDesktopPluginRegistrar {
  FlutterDesktopMessenger* messenger = nullptr;
  std::unique_ptr<FlutterDesktopView> view;
  FlutterDesktopTextureRegistrar textures;

  std::mutex mutex;  // guards the two lists below
  // One handler per distinct function: every plug-in DLL brings its own wrapper manager.
  std::vector<FlutterDesktopOnPluginRegistrarDestroyed> destruction_handlers;
  std::vector<std::pair<FlutterDesktopWindowProcCallback, void*>> window_proc_delegates;
};

namespace flutter_standin_internal {

// Counts a send or answer made off the platform thread or once shutdown began.
void NoteMisplacedMessage(const FlutterDesktopMessenger* messenger);

// Ends the messenger's life towards the plug-in: no more deliveries, every unanswered message
// answered empty, later answers dropped.
void ShutDownMessenger(FlutterDesktopMessenger* messenger);

}  // namespace flutter_standin_internal
