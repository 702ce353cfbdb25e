// Overlapped pipe transfers with one time limit per transfer, and the cancel-and-drain that keeps
// the kernel from writing into memory we have already released.
#include <algorithm>
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

// Bounce buffer per transfer: large replies move in pieces of this size, so the cost stays
// linear in the reply and the memory small.
constexpr DWORD kChunkBytes = 64 * 1024;

DWORD RemainingMs(ULONGLONG deadline) {
  const ULONGLONG now = ::GetTickCount64();
  return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

// Moves `size` bytes through a bounce buffer owned by the operation record, so a cancelled
// operation that never drains cannot touch the caller's memory. One limit covers the whole
// transfer: a peer that trickles bytes cannot stretch it chunk by chunk.
bool TransferExact(HANDLE pipe, Direction direction, char* data, DWORD size, DWORD timeout_ms) {
  if (size == 0) return true;
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  auto io = std::make_unique<detail::OverlappedIo>();
  io->event.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!io->event) return false;
  io->buffer.resize(std::min(size, kChunkBytes));
  const char* operation = direction == Direction::Write ? "WriteExact" : "ReadExact";

  DWORD total = 0;
  while (total < size) {
    const DWORD chunk = std::min(size - total, kChunkBytes);
    io->overlapped = OVERLAPPED{};
    io->overlapped.hEvent = io->event.get();
    ::ResetEvent(io->event.get());
    if (direction == Direction::Write) std::memcpy(io->buffer.data(), data + total, chunk);

    const BOOL done = direction == Direction::Write
                          ? ::WriteFile(pipe, io->buffer.data(), chunk, nullptr, &io->overlapped)
                          : ::ReadFile(pipe, io->buffer.data(), chunk, nullptr, &io->overlapped);
    DWORD moved = 0;
    bool ok = false;
    if (done) {
      ok = ::GetOverlappedResult(pipe, &io->overlapped, &moved, FALSE) != FALSE;
    } else if (::GetLastError() == ERROR_IO_PENDING) {
      io->in_flight = true;
      ok = detail::WaitOverlapped(pipe, *io, RemainingMs(deadline), &moved, operation);
      if (io->in_flight) {
        // The kernel still owns the buffer, the OVERLAPPED and the event: leak them on purpose.
        const DWORD saved = ::GetLastError();
        TunnelLogWrite("IPC: cancelled I/O did not finish; keeping its buffer alive");
        (void)io.release();
        ::SetLastError(saved);
        return false;
      }
    }
    if (!ok) return false;
    if (moved == 0) {
      ::SetLastError(ERROR_NO_DATA);
      return false;
    }
    if (direction == Direction::Read) std::memcpy(data + total, io->buffer.data(), moved);
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
