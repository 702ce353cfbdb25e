#ifndef FLUTTER_PLUGIN_TIDEWIRE_PLUGIN_H_
#define FLUTTER_PLUGIN_TIDEWIRE_PLUGIN_H_

#include <flutter_plugin_registrar.h>

#ifdef FLUTTER_PLUGIN_IMPL
#define FLUTTER_PLUGIN_EXPORT __declspec(dllexport)
#else
#define FLUTTER_PLUGIN_EXPORT __declspec(dllimport)
#endif

#if defined(__cplusplus)
extern "C" {
#endif

// Called by the app's generated plug-in registrant.
FLUTTER_PLUGIN_EXPORT void TidewirePluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);

#if defined(__cplusplus)
}  // extern "C"

namespace flutter {
class PluginRegistrar;
}

// Same as above, for hosts that already hold a client-wrapper registrar.
FLUTTER_PLUGIN_EXPORT void TidewirePluginRegisterWithRegistrar(flutter::PluginRegistrar* registrar);
#endif

#endif  // FLUTTER_PLUGIN_TIDEWIRE_PLUGIN_H_
