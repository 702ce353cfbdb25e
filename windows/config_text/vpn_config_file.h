// The configuration file the engine's Xray runs: %TEMP%\tidewire_vpn\vpn_config_active.json.
#pragma once

#include <string>

// The user's temporary folder (GetTempPath2W where Windows has it, else GetTempPathW), with its
// trailing backslash; empty when neither call gives one.
std::wstring UserTempDirectory();

// True for the names of earlier configuration files: "vpn_config_*.json".
bool IsOldVpnConfigFileName(const std::wstring& name);

// Writes `config`, without its "allowInsecure" members, to a fresh file after removing old ones;
// stores the file's full path in `path`. False when the folder or the file cannot be made or
// the bytes cannot be written.
bool WriteVpnConfig(const std::string& config, std::wstring* path);
