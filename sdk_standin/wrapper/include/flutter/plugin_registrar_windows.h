#ifndef FLUTTER_SHELL_PLATFORM_WINDOWS_CLIENT_WRAPPER_INCLUDE_FLUTTER_PLUGIN_REGISTRAR_WINDOWS_H_
#define FLUTTER_SHELL_PLATFORM_WINDOWS_CLIENT_WRAPPER_INCLUDE_FLUTTER_PLUGIN_REGISTRAR_WINDOWS_H_

#include <flutter_windows.h>
#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "flutter_view.h"
#include "plugin_registrar.h"

namespace flutter {

// A delegate callback for WindowProc delegation.
//
// Implementations should return a value only if they have handled the message and want to
// stop all further handling.
using WindowProcDelegate =
    std::function<std::optional<LRESULT>(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam)>;

// An extension to PluginRegistrar providing access to Windows-specific functionality.
class PluginRegistrarWindows : public PluginRegistrar {
 public:
  // Creates a new PluginRegistrar. |core_registrar| and the messenger it provides must remain
  // valid as long as this object exists.
  explicit PluginRegistrarWindows(FlutterDesktopPluginRegistrarRef core_registrar)
      : PluginRegistrar(core_registrar) {
    FlutterDesktopViewRef implicit_view = FlutterDesktopPluginRegistrarGetView(core_registrar);
    if (implicit_view) {
      implicit_view_ = std::make_unique<FlutterView>(implicit_view);
    }
  }

  virtual ~PluginRegistrarWindows() {
    // Must be the first call.
    ClearPlugins();
    // Explicitly cleared to facilitate destruction order testing.
    implicit_view_.reset();
  }

  // Prevent copying.
  PluginRegistrarWindows(PluginRegistrarWindows const&) = delete;
  PluginRegistrarWindows& operator=(PluginRegistrarWindows const&) = delete;

  // Returns the implicit view, or nullptr if there is no implicit view.
  FlutterView* GetView() { return implicit_view_.get(); }

  // Registers |delegate| to receive WindowProc callbacks for the top-level window containing
  // this Flutter instance. Returns an ID that can be used to unregister the handler.
  //
  // Delegates are not guaranteed to be called:
  // - The application may choose not to delegate WindowProc calls.
  // - If multiple plugins are registered, the first one that returns a result from the
  //   delegate message will "win", and others will not receive the message.
  // - The decision to delegate messages is made by the engine; delegates registered for a
  //   registrar without a view are never called.
  int RegisterTopLevelWindowProcDelegate(WindowProcDelegate delegate) {
    if (window_proc_delegates_.empty()) {
      FlutterDesktopPluginRegistrarRegisterTopLevelWindowProcDelegate(
          registrar(), PluginRegistrarWindows::OnTopLevelWindowProc, this);
    }
    int delegate_id = next_window_proc_delegate_id_++;
    window_proc_delegates_.emplace(delegate_id, std::move(delegate));
    return delegate_id;
  }

  // Unregisters a previously registered delegate.
  void UnregisterTopLevelWindowProcDelegate(int proc_id) {
    window_proc_delegates_.erase(proc_id);
    if (window_proc_delegates_.empty()) {
      FlutterDesktopPluginRegistrarUnregisterTopLevelWindowProcDelegate(
          registrar(), PluginRegistrarWindows::OnTopLevelWindowProc);
    }
  }

 private:
  // A FlutterDesktopWindowProcCallback implementation that forwards back to a
  // PluginRegistarWindows instance provided as |user_data|.
  static bool OnTopLevelWindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam,
                                   void* user_data, LRESULT* result) {
    const auto* registrar = static_cast<PluginRegistrarWindows*>(user_data);
    std::optional<LRESULT> optional_result =
        registrar->CallTopLevelWindowProcDelegates(hwnd, message, wparam, lparam);
    if (optional_result) {
      *result = *optional_result;
    }
    return optional_result.has_value();
  }

  // Calls the delegates in id order until one returns a value. A delegate may unregister
  // itself or another one while it runs, so the ids are taken first and each is looked up
  // again before its call.
  std::optional<LRESULT> CallTopLevelWindowProcDelegates(HWND hwnd, UINT message, WPARAM wparam,
                                                         LPARAM lparam) const {
    std::vector<int> ids;
    ids.reserve(window_proc_delegates_.size());
    for (const auto& pair : window_proc_delegates_) {
      ids.push_back(pair.first);
    }
    for (int id : ids) {
      auto it = window_proc_delegates_.find(id);
      if (it == window_proc_delegates_.end()) continue;
      WindowProcDelegate delegate = it->second;
      std::optional<LRESULT> result = delegate(hwnd, message, wparam, lparam);
      // Stop as soon as any delegate indicates that it has handled the message.
      if (result) return result;
    }
    return std::nullopt;
  }

  // The associated FlutterView, if any.
  std::unique_ptr<FlutterView> implicit_view_;

  // The next ID to return from RegisterWindowProcDelegate.
  int next_window_proc_delegate_id_ = 1;

  std::map<int, WindowProcDelegate> window_proc_delegates_;
};

}  // namespace flutter

#endif  // FLUTTER_SHELL_PLATFORM_WINDOWS_CLIENT_WRAPPER_INCLUDE_FLUTTER_PLUGIN_REGISTRAR_WINDOWS_H_
