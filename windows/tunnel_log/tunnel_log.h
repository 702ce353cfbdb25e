// The shared diagnostics file C:\ProgramData\Zelvora\logs\tunnel.log.
//
// Any thread of any process may write; a session-local named mutex makes each line atomic.
// Writing never fails visibly and never throws.
#pragma once

#include <string>

// Appends "<local time> <message>" and CR LF. The message is written as is (UTF-8).
void TunnelLogWrite(const std::string& message);

// Writes SUPPORT.txt when it is missing, then the session banner for `role`.
void TunnelLogOpenSession(const std::string& role);

// "Windows <major>.<minor>.<build>" from RtlGetVersion, else "Windows(unknown)".
std::string GetOsVersionString();
