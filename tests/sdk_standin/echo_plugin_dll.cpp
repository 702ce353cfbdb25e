// The echo plug-in as a DLL with the real plug-in's registration export, for the channel
// console's end-to-end tests.

#include <flutter_plugin_registrar.h>

#include "echo_plugin.h"

extern "C" __declspec(dllexport) void TidewirePluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  EchoPluginRegisterWithRegistrar(registrar);
}
