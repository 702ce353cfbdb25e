// One request/response exchange: client mutex, pipe wait, identity-checked open, the frames,
// and the translation of every failure into the user's text and a log line.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>

#include "common/unique_handle.h"
#include "ipc/request_policy.h"
#include "ipc/vpn_ipc_client.h"
#include "tunnel_log/tunnel_log.h"

namespace zelvora::ipc {

namespace {

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

UniqueHandle OpenPipe() {
  // Identification level: the service may check who we are but cannot act as us.
  return UniqueHandle(::CreateFileW(
      kTunnelPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
      FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
}

// How often a cancellable caller looks at its cancel question while it waits.
constexpr DWORD kCancelCheckMs = 100;

DWORD MsUntil(ULONGLONG deadline) {
  const ULONGLONG now = ::GetTickCount64();
  return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

// The session-wide client mutex, waited for in slices when the caller can be cancelled.
class ClientMutexLock {
 public:
  ClientMutexLock(DWORD limit_ms, const std::function<bool()>& cancelled)
      : mutex_(::CreateMutexW(nullptr, FALSE, kIpcClientMutexName)) {
    if (!mutex_) return;
    const ULONGLONG deadline = ::GetTickCount64() + limit_ms;
    for (;;) {
      const DWORD left = MsUntil(deadline);
      const DWORD slice = cancelled ? std::min(left, kCancelCheckMs) : left;
      const DWORD wait = ::WaitForSingleObject(mutex_.get(), slice);
      if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
        owns_ = true;
        return;
      }
      if (wait != WAIT_TIMEOUT || slice == left) return;
      if (cancelled()) {
        cancelled_ = true;
        return;
      }
    }
  }
  ~ClientMutexLock() {
    if (owns_) ::ReleaseMutex(mutex_.get());
  }
  ClientMutexLock(const ClientMutexLock&) = delete;
  ClientMutexLock& operator=(const ClientMutexLock&) = delete;

  bool owns() const { return owns_; }
  bool cancelled() const { return cancelled_; }

 private:
  UniqueHandle mutex_;
  bool owns_ = false;
  bool cancelled_ = false;
};

// WaitNamedPipeW in slices when the caller can be cancelled. False with the system error
// (ERROR_SEM_TIMEOUT after the limit, ERROR_FILE_NOT_FOUND without any pipe) or, when
// cancelled, with ERROR_CANCELLED.
bool WaitForPipe(DWORD limit_ms, const std::function<bool()>& cancelled, DWORD* error_code) {
  const ULONGLONG deadline = ::GetTickCount64() + limit_ms;
  for (;;) {
    const DWORD left = std::max<DWORD>(MsUntil(deadline), 1);  // 0 would mean the pipe's default
    const DWORD slice = cancelled ? std::min(left, kCancelCheckMs) : left;
    if (::WaitNamedPipeW(kTunnelPipeName, slice)) return true;
    *error_code = ::GetLastError();
    if (*error_code != ERROR_SEM_TIMEOUT || slice == left) return false;
    if (cancelled()) {
      *error_code = ERROR_CANCELLED;
      return false;
    }
  }
}

}  // namespace

bool VpnIpcClient::SendRequest(Command command, const std::string& payload, std::string* body,
                               std::string* error, Failure* failure,
                               const std::function<bool()>& cancelled) {
  const RequestLimits limits = LimitsFor(command);
  const std::string name = CommandLogName(command);
  const auto fail = [&](Failure why, const std::string& text) {
    if (failure) *failure = why;
    SetError(error, text);
    return false;
  };

  ClientMutexLock lock(limits.mutex_ms, cancelled);
  if (lock.cancelled()) {
    TunnelLogWrite("IPC client " + name + " cancelled before it was sent");
    return fail(Failure::Cancelled, kTextCancelled);
  }
  if (!lock.owns()) {
    // Status polls every second and would flood the log; anything else was never sent and
    // the log must say so.
    if (command != Command::Status) {
      TunnelLogWrite("IPC client " + name + " not sent: another exchange held the client mutex");
    }
    return fail(Failure::Busy, kTextBusy);
  }

  const std::string request_line = RequestLogLine(command, payload.size());
  if (!request_line.empty()) TunnelLogWrite(request_line);

  DWORD wait_error = 0;
  if (!WaitForPipe(limits.wait_pipe_ms, cancelled, &wait_error)) {
    if (wait_error == ERROR_CANCELLED) {
      TunnelLogWrite("IPC client " + name + " cancelled before it was sent");
      return fail(Failure::Cancelled, kTextCancelled);
    }
    TunnelLogWrite("IPC client " + name + " WaitNamedPipe failed: " + std::to_string(wait_error));
    return fail(Failure::Transport, kTextNotResponding);
  }

  UniqueHandle pipe = OpenPipe();
  if (!pipe) {
    const DWORD code = ::GetLastError();
    TunnelLogWrite("IPC client " + name + " CreateFile failed: " + std::to_string(code));
    return fail(Failure::Transport, CannotConnectText(code));
  }

  if (!PipeServerIsTrustedTunnelService(pipe.get())) {
    TunnelLogWrite("IPC client " + name +
                   " rejected: pipe server is not the ZelvoraTunnel service");
    pipe.reset();
    return fail(Failure::Untrusted, kTextIdentityFailed);
  }

  DWORD read_mode = PIPE_READMODE_BYTE;
  ::SetNamedPipeHandleState(pipe.get(), &read_mode, nullptr, nullptr);

  std::string received;
  bool exchanged = false;
  bool pipe_failed = false;
  if (payload.size() <= std::numeric_limits<std::uint32_t>::max()) {
    const DWORD payload_size = static_cast<DWORD>(payload.size());
    const std::string header = EncodeRequestHeader(command, payload_size);
    // One deadline for the whole exchange, request and reply: a peer that trickles its bytes
    // cannot stretch it piece by piece.
    const ULONGLONG deadline = ::GetTickCount64() + limits.io_ms;
    const auto remaining_ms = [deadline] {
      const ULONGLONG now = ::GetTickCount64();
      return now >= deadline ? DWORD{0} : static_cast<DWORD>(deadline - now);
    };
    const auto write_exact = [&](const char* data, DWORD count) {
      pipe_failed = !PipeWriteExact(pipe.get(), data, count, remaining_ms());
      return !pipe_failed;
    };
    const ExactReader read_exact = [&](char* data, std::size_t count) {
      pipe_failed = !PipeReadExact(pipe.get(), data, static_cast<DWORD>(count), remaining_ms());
      return !pipe_failed;
    };
    // Command, length and payload go out in one write: the bytes are the same, and every
    // write is a round trip of its own (several under Wine).
    const std::string request = header + payload;
    exchanged = request.size() <= std::numeric_limits<DWORD>::max() &&
                write_exact(request.data(), static_cast<DWORD>(request.size())) &&
                ReadResponseFrame(read_exact, &received);
  }
  // An oversized frame or payload fails without a system error of its own.
  if (!exchanged && !pipe_failed) ::SetLastError(ERROR_INVALID_DATA);
  const DWORD transport_error = ::GetLastError();
  pipe.reset();

  if (!exchanged) {
    TunnelLogWrite("IPC client " + name + " transport failed: " + std::to_string(transport_error));
    return fail(Failure::Transport, kTextTransportFailed);
  }

  const Reply reply = ClassifyReply(received);
  if (reply.kind == ReplyKind::Refused) {
    TunnelLogWrite("IPC client " + name + " rejected: " + reply.reason);
    return fail(Failure::Refused, reply.reason);
  }
  if (body) *body = std::move(received);
  if (command != Command::Status) TunnelLogWrite("IPC client " + name + " ok");
  return true;
}

}  // namespace zelvora::ipc
