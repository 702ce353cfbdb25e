#include "vpn_engine/command_runner_win32.h"

#include <cstdio>

#include "vpn_engine/hidden_command.h"

namespace zelvora {

bool Win32CommandRunner::Run(const std::string& command, uint32_t timeout_ms, bool log_failure) {
  return RunHiddenCommand(command, timeout_ms, log_failure);
}

bool Win32CommandRunner::CaptureIpconfig(std::string* output) {
  output->clear();
  FILE* pipe = ::_popen("ipconfig", "r");
  if (pipe == nullptr) return false;
  char line[256];
  while (std::fgets(line, sizeof(line), pipe) != nullptr) output->append(line);
  ::_pclose(pipe);
  return true;
}

}  // namespace zelvora
