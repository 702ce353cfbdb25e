// The outside commands the engine runs (route, netsh, ipconfig), behind one interface so the
// engine's command lines can be checked against a simulated host that interprets them.
// The production implementation wraps RunHiddenCommand.
#pragma once

#include <cstdint>
#include <string>

namespace zelvora {

class CommandRunner {
 public:
  virtual ~CommandRunner() = default;

  // Runs `command` hidden; true when it exited 0 within `timeout_ms` (a command still running
  // then is ended). Failures are logged ("CMD exit=...") when `log_failure` is set.
  virtual bool Run(const std::string& command, uint32_t timeout_ms, bool log_failure) = 0;
};

}  // namespace zelvora
