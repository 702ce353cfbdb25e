// The host app's hidden top-level window: the view a registrar hands to plug-ins, whose window
// procedure passes every message through the plug-ins' top-level delegates first. Without a
// display (headless Wine) the window is message-only, with the same procedure and queue,
// which is what plug-ins post their platform-thread work to. Create and use it on the
// platform thread.
#pragma once

#include <flutter_plugin_registrar.h>
#include <windows.h>

#include "common/unique_handle.h"

namespace flutter_standin {

class HostWindow {
 public:
  HostWindow();
  ~HostWindow() = default;

  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;

  // Null when no window could be created at all.
  HWND hwnd() const { return window_.get(); }

  // The registrar whose delegates see the window's messages; null stops the delegation.
  void set_registrar(FlutterDesktopPluginRegistrarRef registrar) { registrar_ = registrar; }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

  FlutterDesktopPluginRegistrarRef registrar_ = nullptr;
  UniqueWindow window_;
};

}  // namespace flutter_standin
