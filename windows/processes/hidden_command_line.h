// How a hidden command is started (no Win32). An elevated process must never run a program found
// by searching: Windows looks in the application's folder and the current folder before
// System32, and the command interpreter looks in the current folder too. route, netsh and
// ipconfig therefore run from the system folder by full path without the interpreter; anything
// else goes through the system folder's cmd.exe. Without the system folder nothing runs.
#pragma once

#include <string>

struct HiddenCommandPlan {
  std::string application;  // full path of the program; empty: do not run
  std::string command_line;
};

// `system_directory` empty means it could not be read.
HiddenCommandPlan PlanHiddenCommand(const std::string& command,
                                    const std::string& system_directory);
