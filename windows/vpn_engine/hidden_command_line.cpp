#include "vpn_engine/hidden_command_line.h"

HiddenCommandPlan PlanHiddenCommand(const std::string& command,
                                    const std::string& system_directory) {
  // Only the exact lower-case prefix is recognised; "NETSH" runs through the interpreter.
  if (command.size() >= 5 && command.compare(0, 5, "netsh") == 0 && !system_directory.empty()) {
    return {system_directory + "\\netsh.exe", command};
  }
  return {std::string(), "cmd.exe /C " + command};
}
