// Running the core: the long-lived xray.exe and tun2socks.exe, its command-line API client, the
// wait for its SOCKS port and what its early exit says about the configuration.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "processes/child_launch.h"
#include "processes/components.h"

// What these operations need of the engine: the programs, the two child records, and the flag
// that a stop clears.
struct CoreRunner {
  CoreComponents components;
  ChildSlot xray;
  ChildSlot tun2socks;
  std::atomic<bool> running{false};
};

// `config_path` is UTF-8 (any letters: the launch is wide).
bool LaunchXray(CoreRunner& runner, const std::string& config_path);
bool LaunchTun2socks(CoreRunner& runner, uint16_t socks_port);
// True when the core has ended with its configuration-error code: it could not load the file it
// was started with.
bool CoreRejectedConfiguration(const CoreRunner& runner);
// Runs xray.exe with `arguments`, stdout and stderr together into `output`; false when it could
// not run or hit its 800 ms time-out.
bool RunXrayCaptured(CoreRunner& runner, const std::string& arguments, std::string* output);
// True once 127.0.0.1:`port` accepts connections while `running` holds and Xray lives.
bool WaitForSocksListen(CoreRunner& runner, uint16_t port, uint32_t timeout_ms);
// Ends xray.exe and tun2socks.exe processes that run from this application's folder.
void KillOrphanCoreProcesses();
