// Running the core: the long-lived xray.exe and tun2socks.exe, Xray's configuration test, its
// command-line API client, and the wait for its SOCKS port.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "vpn_engine/child_launch.h"
#include "vpn_engine/components.h"

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
// True when Xray accepted the file ("run -test", exit code 0) within 15 s.
bool ValidateXrayConfig(CoreRunner& runner, const std::string& config_path);
// Runs xray.exe with `arguments`, stdout and stderr together into `output`; false when it could
// not run or hit its 800 ms time-out.
bool RunXrayCaptured(CoreRunner& runner, const std::string& arguments, std::string* output);
// True once 127.0.0.1:`port` accepts connections while `running` holds and Xray lives.
bool WaitForSocksListen(CoreRunner& runner, uint16_t port, uint32_t timeout_ms);
// Ends xray.exe and tun2socks.exe processes that run from this application's folder.
void KillOrphanCoreProcesses();
