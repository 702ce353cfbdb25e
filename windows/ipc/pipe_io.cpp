// Overlapped pipe transfers with a time limit per chunk, and the cancel-and-drain that keeps
// the kernel from writing into memory we have already released.
#include <cstring>
#include <memory>
#include <string>

#include "ipc/request_policy.h"
#include "ipc/vpn_ipc_client.h"
#include "tunnel_log/tunnel_log.h"

namespace zelvora::ipc {

namespace detail {

bool WaitOverlapped(HANDLE pipe, OverlappedIo& io, DWORD timeout_ms, DWORD* transferred,
                    const char* operation) {
  if (::WaitForSingleObject(io.event.get(), timeout_ms) == WAIT_OBJECT_0) {
    io.in_flight = false;
    return ::GetOverlappedResult(pipe, &io.overlapped, transferred, FALSE) != FALSE;
  }
  ::CancelIoEx(pipe, &io.overlapped);
  if (::WaitForSingleObject(io.event.get(), kCancelGraceMs) == WAIT_OBJECT_0) {
    DWORD discarded = 0;
    ::GetOverlappedResult(pipe, &io.overlapped, &discarded, FALSE);
    io.in_flight = false;
  }
  TunnelLogWrite(std::string("IPC: ") + operation + " timed out after " +
                 std::to_string(timeout_ms) + "ms");
  ::SetLastError(ERROR_TIMEOUT);
  return false;
}

}  // namespace detail

namespace {

enum class Direction { Read, Write };

// Moves one chunk of at most `size` bytes through a bounce buffer owned by the operation
// record, so a cancelled operation that never drains cannot touch the caller's memory.
bool TransferChunk(HANDLE pipe, Direction direction, char* data, DWORD size, DWORD timeout_ms,
                   DWORD* moved) {
  auto io = std::make_unique<detail::OverlappedIo>();
  io->event.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!io->event) return false;
  io->overlapped.hEvent = io->event.get();
  io->buffer.resize(size);
  if (direction == Direction::Write) std::memcpy(io->buffer.data(), data, size);

  const BOOL done = direction == Direction::Write
                        ? ::WriteFile(pipe, io->buffer.data(), size, nullptr, &io->overlapped)
                        : ::ReadFile(pipe, io->buffer.data(), size, nullptr, &io->overlapped);
  bool ok = false;
  if (done) {
    ok = ::GetOverlappedResult(pipe, &io->overlapped, moved, FALSE) != FALSE;
  } else if (::GetLastError() == ERROR_IO_PENDING) {
    io->in_flight = true;
    ok = detail::WaitOverlapped(pipe, *io, timeout_ms, moved,
                                direction == Direction::Write ? "WriteExact" : "ReadExact");
    if (io->in_flight) {
      // The kernel still owns the buffer, the OVERLAPPED and the event: leak them on purpose.
      const DWORD saved = ::GetLastError();
      TunnelLogWrite("IPC: cancelled I/O did not finish; keeping its buffer alive");
      (void)io.release();
      ::SetLastError(saved);
      return false;
    }
  }
  if (ok && direction == Direction::Read) std::memcpy(data, io->buffer.data(), *moved);
  return ok;
}

bool TransferExact(HANDLE pipe, Direction direction, char* data, DWORD size, DWORD timeout_ms) {
  DWORD total = 0;
  while (total < size) {
    DWORD moved = 0;
    if (!TransferChunk(pipe, direction, data + total, size - total, timeout_ms, &moved)) {
      return false;
    }
    if (moved == 0) {
      ::SetLastError(ERROR_NO_DATA);
      return false;
    }
    total += moved;
  }
  return true;
}

}  // namespace

bool VpnIpcClient::PipeWriteExact(HANDLE pipe, const void* data, DWORD size, DWORD timeout_ms) {
  return TransferExact(pipe, Direction::Write, static_cast<char*>(const_cast<void*>(data)), size,
                       timeout_ms);
}

bool VpnIpcClient::PipeReadExact(HANDLE pipe, void* data, DWORD size, DWORD timeout_ms) {
  return TransferExact(pipe, Direction::Read, static_cast<char*>(data), size, timeout_ms);
}

}  // namespace zelvora::ipc
