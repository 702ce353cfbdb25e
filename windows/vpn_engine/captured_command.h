// Runs a short command of the core (statistics, version) and collects what it prints.
#pragma once

#include <windows.h>

#include <string>

struct CapturedCommand {
  std::string output;      // standard output and error, in the order written
  bool timed_out = false;  // the program was ended at the time limit
};

// Runs `command_line` without a window, in `folder` (empty: the current folder), with standard
// output and error going into one pipe that is read while the program runs, so a long output
// can never stall it. The program is ended after `timeout_ms`. False when it cannot start.
bool RunCapturedCommand(const std::string& command_line, const std::string& folder,
                        DWORD timeout_ms, CapturedCommand* result);
