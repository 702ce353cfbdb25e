// Loopback TCP port checks for the port remap (Windows sockets).
#pragma once

#include <cstdint>

#include "config_text/config_rewrites.h"

// True when a TCP socket can bind 127.0.0.1 on `port` right now.
bool IsLoopbackPortFree(uint16_t port);
// A port the system hands out for 127.0.0.1, released again before returning; 0 on failure.
uint16_t FindFreeLoopbackPort();
// The two checks above, for RemapBusyPorts.
LoopbackPortProbe SystemLoopbackPorts();
