// Runs one command line invisibly and waits for it (route, netsh, ipconfig and the like).
#pragma once

#include <cstdint>
#include <string>

// True when the command ran and exited with code 0 within `timeout_ms`. A command still running
// at its time-out is terminated (exit code 1). Failures are logged when `log_failure` is set.
bool RunHiddenCommand(const std::string& command, uint32_t timeout_ms, bool log_failure = false);
