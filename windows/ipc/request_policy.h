// Fixed names, time limits, user texts and log lines of the tunnel-service client. Pure data
// and decisions, so they build and are tested natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ipc/wire_format.h"

namespace zelvora::ipc {

inline constexpr wchar_t kTunnelServiceName[] = L"ZelvoraTunnel";
inline constexpr wchar_t kTunnelPipeName[] = L"\\\\.\\pipe\\ZelvoraTunnel";
// Session-local, so it serialises every exchange of every process of the user's session.
inline constexpr wchar_t kIpcClientMutexName[] = L"Local\\Zelvora_IpcClient";

struct RequestLimits {
  std::uint32_t mutex_ms;      // waiting for the client mutex
  std::uint32_t wait_pipe_ms;  // WaitNamedPipeW
  std::uint32_t io_ms;         // each read or write chunk
};

// Grace for a cancelled read or write to finish before its memory may be released.
inline constexpr std::uint32_t kCancelGraceMs = 5000;

// Service state polling while starting, stopping or restarting the service.
inline constexpr std::uint32_t kServicePollIntervalMs = 250;
inline constexpr int kPollsUntilRunning = 40;
inline constexpr int kPollsUntilStopped = 20;

RequestLimits LimitsFor(Command command);

// Texts the user sees.
inline constexpr char kTextBusy[] = "Tunnel service IPC is busy.";
// A start overtaken by a newer call (or by the plug-in's end) before it reached the service.
inline constexpr char kTextCancelled[] = "Start cancelled.";
inline constexpr char kTextNotResponding[] = "Zelvora tunnel service is not responding.";
inline constexpr char kTextIdentityFailed[] = "Tunnel service identity check failed.";
inline constexpr char kTextTransportFailed[] = "Tunnel service IPC failed.";
inline constexpr char kTextNotInstalled[] =
    "Zelvora tunnel service is not installed. Reinstall Zelvora.";
inline constexpr char kTextCannotOpenScm[] = "Cannot open Service Control Manager.";
inline constexpr char kTextCannotOpenService[] = "Cannot open Zelvora tunnel service.";
inline constexpr char kTextStartServiceFailed[] = "Failed to start Zelvora tunnel service.";
inline constexpr char kTextServiceStartTimeout[] = "Zelvora tunnel service did not start in time.";

std::string CannotConnectText(unsigned long error_code);

// The line logged when a request goes out; empty for status, which runs every second and
// would drown the log.
std::string RequestLogLine(Command command, std::size_t payload_bytes);

// Whether the pipe's server process is the running service, with the log line explaining a
// refusal (empty when trusted). `service_state` is the SCM's state number; 4 is running.
struct TrustVerdict {
  bool trusted = false;
  std::string log_line;
};
TrustVerdict DecidePipeTrust(unsigned long pipe_server_pid, unsigned long service_state,
                             unsigned long service_pid);

}  // namespace zelvora::ipc
