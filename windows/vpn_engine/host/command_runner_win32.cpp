#include "vpn_engine/host/command_runner_win32.h"

#include "processes/hidden_command.h"

namespace zelvora {

bool Win32CommandRunner::Run(const std::string& command, uint32_t timeout_ms, bool log_failure) {
  return RunHiddenCommand(command, timeout_ms, log_failure);
}

}  // namespace zelvora
