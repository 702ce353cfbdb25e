// Client of the tunnel service "ZelvoraTunnel": service control through the SCM and one
// request per pipe connection, each wait bounded. Every member is static; the only state
// between calls is what Windows holds (the session-wide client mutex and the service).
//
// Results are booleans; texts meant for the user come back through `error` (only on failure,
// only when not null). Codes, pids and states go to the tunnel log.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "ipc/status_payload.h"
#include "ipc/wire_format.h"

namespace zelvora::ipc {

namespace detail {

// One overlapped read or write with the memory the kernel may still write to. If a cancelled
// operation does not finish within the grace period, the owner must not free this record:
// `in_flight` stays true and the record is deliberately leaked rather than reused.
struct OverlappedIo {
  OVERLAPPED overlapped{};
  UniqueHandle event;
  std::vector<char> buffer;
  bool in_flight = false;
};

// Finishes a pending operation within `timeout_ms`. On time-out the operation is cancelled
// and drained (up to the grace period), "IPC: <operation> timed out after <ms>ms" is logged
// and the result is false with ERROR_TIMEOUT as the last error. `operation` is "ReadExact" or
// "WriteExact".
bool WaitOverlapped(HANDLE pipe, OverlappedIo& io, DWORD timeout_ms, DWORD* transferred,
                    const char* operation);

}  // namespace detail

class VpnIpcClient {
 public:
  static bool IsServiceInstalled();
  static bool IsServiceRunning();
  // Starts the service when it is installed but not running and waits until it runs.
  static bool EnsureServiceRunning(std::string* error);

  static bool Ping(std::string* error);
  static bool Start(const std::string& config_utf8, bool proxy_only, std::string* error);
  static bool Stop(std::string* error);
  static bool QueryStatus(StatusPayload* status, std::string* error);

  // What became of a stop request: the service answered it (OK or a refusal), there is no
  // session to stop (the service is not running or not installed), it never reached the
  // service (the client mutex stayed busy, the pipe could not be reached or was served by
  // another process, the exchange broke off), or `cancelled` said true before it was sent.
  enum class StopDelivery { Delivered, NoSession, NotDelivered, Cancelled };
  // One stop exchange, as Stop, that tells whether the service got it. `cancelled` (may be
  // empty) is asked while waiting for the client mutex and the pipe.
  static StopDelivery DeliverStop(const std::function<bool()>& cancelled = {});

  // Start that first brings the service (and its pipe) up, restarting a service whose pipe is
  // dead, and retries once after a failed start. `cancelled` (may be empty) is asked between
  // the steps: once it says true the start gives up with "Start cancelled." rather than keep
  // waiting on the service.
  static bool StartWithEnsure(const std::string& config_utf8, bool proxy_only, std::string* error,
                              const std::function<bool()>& cancelled = {});

  // True only when the process serving `pipe` is the running "ZelvoraTunnel" service.
  static bool PipeServerIsTrustedTunnelService(HANDLE pipe);

  // Move exactly `size` bytes over an overlapped pipe handle; `timeout_ms` bounds the whole
  // transfer (plus the grace a cancelled operation gets to finish).
  static bool PipeWriteExact(HANDLE pipe, const void* data, DWORD size, DWORD timeout_ms);
  static bool PipeReadExact(HANDLE pipe, void* data, DWORD size, DWORD timeout_ms);

 private:
  // Why an exchange failed. Only a transport failure says the service's pipe is dead; a busy
  // client mutex or a refusal come from a service that works.
  enum class Failure { None, Busy, Transport, Untrusted, Refused, Cancelled };

  // `cancelled` (may be empty) is asked while waiting for the client mutex and for the pipe:
  // a request that was not sent yet is then dropped.
  static bool SendRequest(Command command, const std::string& payload, std::string* body,
                          std::string* error, Failure* failure = nullptr,
                          const std::function<bool()>& cancelled = {});
  // Sends a request whose reply must begin with "OK".
  static bool SendExpectingOk(Command command, const std::string& payload, std::string* error,
                              Failure* failure = nullptr,
                              const std::function<bool()>& cancelled = {});
  static bool ParseStatusResponse(const std::string& body, StatusPayload* status,
                                  std::string* error);
  // Stops and starts the service; failures are left for EnsureServiceRunning to report.
  static void RestartService();
};

}  // namespace zelvora::ipc
