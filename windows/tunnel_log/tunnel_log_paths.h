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

// How long a writer waits for another process's log write. A holder that keeps the mutex
// longer costs the line, never the caller; after one such wait the next writers try only
// briefly until a line gets through again.
inline constexpr unsigned long kTunnelLogMutexWaitMs = 500;
inline constexpr unsigned long kTunnelLogBusyWaitMs = 50;

// Access rules (DACLs only). Users may read and append; the system and administrators have
// full control.
inline constexpr wchar_t kTunnelLogFolderSddl[] = L"D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a3;;;BU)";
inline constexpr wchar_t kTunnelLogFileSddl[] = L"D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x120185;;;BU)";

// What a writer asks for when it opens the log: append only, so a standard user's writer
// gets in under the file's rule (FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE).
inline constexpr unsigned long kTunnelLogAppendAccess = 0x00000004 | 0x00000080 | 0x00100000;
