// Running a hidden helper program and collecting what it prints.
#pragma once

#include <windows.h>

#include <string>

namespace installed_apps {

struct CaptureLimits {
  // Longest time spent reading output. A child (or a grandchild that inherited the pipe) that
  // never closes its output is ended when this runs out.
  DWORD read_ms = 60000;
  // After the output ended, how long the child may take to exit before it is ended.
  DWORD exit_wait_ms = 45000;
};

// Starts `command_line` without a window, with standard output and error on one pipe, and
// returns the bytes it wrote. Empty when it cannot be started. Never leaves the child running.
std::string RunHiddenCaptureStdout(const std::wstring& command_line, const CaptureLimits& limits);

// Runs a PowerShell script file with no profile and no execution policy prompt.
std::string RunPowerShellCaptureStdout(const std::wstring& script_path);

}  // namespace installed_apps
