#pragma once

// Fixed locations of the shared diagnostics files.
inline constexpr wchar_t kZelvoraDataDir[] = L"C:\\ProgramData\\Zelvora";
inline constexpr wchar_t kTunnelLogDir[] = L"C:\\ProgramData\\Zelvora\\logs";
inline constexpr wchar_t kTunnelLogPath[] = L"C:\\ProgramData\\Zelvora\\logs\\tunnel.log";
inline constexpr wchar_t kTunnelLogOldPath[] = L"C:\\ProgramData\\Zelvora\\logs\\tunnel.log.old";
inline constexpr wchar_t kSupportNotesPath[] = L"C:\\ProgramData\\Zelvora\\SUPPORT.txt";

// One log write at a time across every process of the user's session.
inline constexpr wchar_t kTunnelLogMutexName[] = L"Local\\Zelvora_TunnelLog";

// A log larger than this (exactly this size does not) is rotated before the next line.
inline constexpr unsigned long long kTunnelLogRotateBytes = 5242880;
