// The DLL's exported registration functions, called by the app's generated registrant.
#include <flutter/plugin_registrar_windows.h>

#include "include/zelvora_vless_windows/tidewire_plugin.h"
#include "plugin/tidewire_plugin.h"
#include "tunnel_log/log_message.h"

void TidewirePluginRegisterWithRegistrar(FlutterDesktopPluginRegistrarRef registrar) {
  zelvora::TidewirePlugin::RegisterWithRegistrar(
      flutter::PluginRegistrarManager::GetInstance()->GetRegistrar<flutter::PluginRegistrarWindows>(
          registrar));
}

void TidewirePluginRegisterWithRegistrar(flutter::PluginRegistrar* registrar) {
  // The plug-in needs the Windows registrar (view, window hooks); on Windows the embedder's
  // registrars are of that kind.
  auto* windows_registrar = dynamic_cast<flutter::PluginRegistrarWindows*>(registrar);
  if (!windows_registrar) {
    LogMessage("Error: TidewirePlugin needs a Windows plug-in registrar");
    return;
  }
  zelvora::TidewirePlugin::RegisterWithRegistrar(windows_registrar);
}
