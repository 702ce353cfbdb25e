// Workers of "startVless", "restartVless" and "stopVless". Each runs on its own detached
// thread, decides where the connection is made, keeps the plug-in's connection state and
// status stream consistent and completes the method result.
#pragma once

#include <string>

#include "plugin/tidewire_plugin.h"

namespace zelvora {

void StartWorker(TidewirePlugin* plugin, std::string config, bool proxy_only, SharedResult result);
void RestartWorker(TidewirePlugin* plugin, std::string config, bool proxy_only,
                   SharedResult result);
void StopWorker(TidewirePlugin* plugin, SharedResult result);

}  // namespace zelvora
