// How a hidden command is started (no Win32): netsh runs from the system folder without the
// command interpreter; everything else goes through "cmd.exe /C".
#pragma once

#include <string>

struct HiddenCommandPlan {
  std::string application;  // empty: none (the command line names the program)
  std::string command_line;
};

// `system_directory` empty means it could not be read.
HiddenCommandPlan PlanHiddenCommand(const std::string& command,
                                    const std::string& system_directory);
