#pragma once

#include <string>

// The plug-in's own log call: "[Tidewire] <message>" to standard output and the debugger,
// "[plugin] <message>" to the tunnel log.
void LogMessage(const std::string& message);
