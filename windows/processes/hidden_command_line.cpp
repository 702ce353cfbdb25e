#include "processes/hidden_command_line.h"

HiddenCommandPlan PlanHiddenCommand(const std::string& command,
                                    const std::string& system_directory) {
  if (system_directory.empty()) return {};
  // Only the exact lower-case program names are recognised; "NETSH" runs through the
  // interpreter (by its full path too).
  for (const char* program : {"route", "netsh", "ipconfig"}) {
    const std::string name = program;
    if (command.size() > name.size() && command.compare(0, name.size(), name) == 0 &&
        command[name.size()] == ' ') {
      return {system_directory + "\\" + name + ".exe", command};
    }
  }
  return {system_directory + "\\cmd.exe", "cmd.exe /C " + command};
}
