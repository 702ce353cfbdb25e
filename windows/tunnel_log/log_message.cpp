#include "tunnel_log/log_message.h"

#include <windows.h>

#include <iostream>

#include "tunnel_log/tunnel_log.h"

void LogMessage(const std::string& message) {
  try {
    std::cout << "[Tidewire] " << message << std::endl;
    ::OutputDebugStringA(("[Tidewire] " + message + "\n").c_str());
  } catch (...) {
  }
  TunnelLogWrite("[plugin] " + message);
}
