// The production CommandRunner: RunHiddenCommand.
#pragma once

#include "vpn_engine/host/command_runner.h"

namespace zelvora {

class Win32CommandRunner : public CommandRunner {
 public:
  bool Run(const std::string& command, uint32_t timeout_ms, bool log_failure) override;
};

}  // namespace zelvora
