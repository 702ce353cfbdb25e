// Workers of "startVless", "restartVless" and "stopVless". Each runs on its own detached
// thread, decides where the connection is made, keeps the plug-in's connection state and
// status stream consistent and completes the method result.
//
// Each call takes a ticket (the plug-in's connect generation, raised by every start, restart
// and stop) on the platform thread when it arrives, so tickets follow the order of the user's
// calls. Workers run one at a time, and only the holder of the latest ticket acts: an older
// start answers "ABORTED" without connecting, or undoes its own connect before the next
// worker runs; an older stop answers success and leaves the decision to the newer call. The
// last call the user made decides the end state.
#pragma once

#include <cstdint>
#include <string>

#include "plugin/tidewire_plugin.h"

namespace zelvora {

void StartWorker(TidewirePlugin* plugin, uint64_t ticket, std::string config, bool proxy_only,
                 SharedResult result);
void RestartWorker(TidewirePlugin* plugin, uint64_t ticket, std::string config, bool proxy_only,
                   SharedResult result);
void StopWorker(TidewirePlugin* plugin, uint64_t ticket, SharedResult result);

}  // namespace zelvora
