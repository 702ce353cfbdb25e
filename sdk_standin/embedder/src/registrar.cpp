// The plug-in registrar: messenger, view, destruction handlers, top-level window procedure
// delegates, and the texture registrar (bookkeeping only: nothing is drawn here).

#include <flutter_plugin_registrar.h>
#include <flutter_texture_registrar.h>
#include <flutter_windows.h>

#include <algorithm>

#include "embedder_types.h"

FlutterDesktopMessengerRef FlutterDesktopPluginRegistrarGetMessenger(
    FlutterDesktopPluginRegistrarRef registrar) {
  return registrar ? registrar->messenger : nullptr;
}

FlutterDesktopTextureRegistrarRef FlutterDesktopRegistrarGetTextureRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  return registrar ? &registrar->textures : nullptr;
}

void FlutterDesktopPluginRegistrarSetDestructionHandler(
    FlutterDesktopPluginRegistrarRef registrar, FlutterDesktopOnPluginRegistrarDestroyed callback) {
  if (!registrar || !callback) return;
  std::lock_guard<std::mutex> lock(registrar->mutex);
  auto& handlers = registrar->destruction_handlers;
  if (std::find(handlers.begin(), handlers.end(), callback) == handlers.end()) {
    handlers.push_back(callback);
  }
}

FlutterDesktopViewRef FlutterDesktopPluginRegistrarGetView(
    FlutterDesktopPluginRegistrarRef registrar) {
  return registrar ? registrar->view.get() : nullptr;
}

FlutterDesktopViewRef FlutterDesktopPluginRegistrarGetViewById(
    FlutterDesktopPluginRegistrarRef registrar, FlutterDesktopViewId view_id) {
  // The implicit view is the only one, with id 0.
  return view_id == 0 ? FlutterDesktopPluginRegistrarGetView(registrar) : nullptr;
}

HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view) { return view ? view->window : nullptr; }

void FlutterDesktopPluginRegistrarRegisterTopLevelWindowProcDelegate(
    FlutterDesktopPluginRegistrarRef registrar, FlutterDesktopWindowProcCallback delegate,
    void* user_data) {
  if (!registrar || !delegate) return;
  std::lock_guard<std::mutex> lock(registrar->mutex);
  auto& delegates = registrar->window_proc_delegates;
  // Registering again moves the delegate to the end with its new user data.
  delegates.erase(std::remove_if(delegates.begin(), delegates.end(),
                                 [delegate](const auto& entry) { return entry.first == delegate; }),
                  delegates.end());
  delegates.emplace_back(delegate, user_data);
}

void FlutterDesktopPluginRegistrarUnregisterTopLevelWindowProcDelegate(
    FlutterDesktopPluginRegistrarRef registrar, FlutterDesktopWindowProcCallback delegate) {
  if (!registrar || !delegate) return;
  std::lock_guard<std::mutex> lock(registrar->mutex);
  auto& delegates = registrar->window_proc_delegates;
  delegates.erase(std::remove_if(delegates.begin(), delegates.end(),
                                 [delegate](const auto& entry) { return entry.first == delegate; }),
                  delegates.end());
}

UINT FlutterDesktopGetDpiForHWND(HWND) { return 96; }

UINT FlutterDesktopGetDpiForMonitor(HMONITOR) { return 96; }

void FlutterDesktopResyncOutputStreams() {}

int64_t FlutterDesktopTextureRegistrarRegisterExternalTexture(
    FlutterDesktopTextureRegistrarRef texture_registrar, const FlutterDesktopTextureInfo* info) {
  if (!texture_registrar || !info) return -1;
  std::lock_guard<std::mutex> lock(texture_registrar->mutex);
  const int64_t id = texture_registrar->next_id++;
  texture_registrar->ids.insert(id);
  return id;
}

void FlutterDesktopTextureRegistrarUnregisterExternalTexture(
    FlutterDesktopTextureRegistrarRef texture_registrar, int64_t texture_id,
    void (*callback)(void* user_data), void* user_data) {
  if (texture_registrar) {
    std::lock_guard<std::mutex> lock(texture_registrar->mutex);
    texture_registrar->ids.erase(texture_id);
  }
  if (callback) callback(user_data);
}

bool FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable(
    FlutterDesktopTextureRegistrarRef texture_registrar, int64_t texture_id) {
  if (!texture_registrar) return false;
  std::lock_guard<std::mutex> lock(texture_registrar->mutex);
  return texture_registrar->ids.count(texture_id) > 0;
}
