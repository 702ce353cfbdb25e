#include "probes/probe_stream.h"

#include <ws2tcpip.h>

ProbeSocket::~ProbeSocket() {
  if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
}

bool ProbeSocket::ConnectLoopback(uint16_t port, uint32_t timeout_ms) {
  return Connect(0, INADDR_LOOPBACK, port, timeout_ms);
}

bool ProbeSocket::Connect(uint32_t source, uint32_t destination, uint16_t port,
                          uint32_t timeout_ms) {
  socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (socket_ == INVALID_SOCKET) return false;
  if (source != 0) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(source);
    if (::bind(socket_, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
      return false;
    }
  }
  const DWORD timeout = timeout_ms;
  ::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof(timeout));
  ::setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof(timeout));
  // A blocking connect has no time-out of its own: connect without blocking and wait for it.
  u_long non_blocking = 1;
  if (::ioctlsocket(socket_, FIONBIO, &non_blocking) != 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(destination);
  if (::connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    if (::WSAGetLastError() != WSAEWOULDBLOCK) return false;
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(socket_, &writable);
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(socket_, &failed);
    timeval wait{static_cast<long>(timeout_ms / 1000), static_cast<long>(timeout_ms % 1000) * 1000};
    if (::select(0, nullptr, &writable, &failed, &wait) <= 0) return false;
    if (FD_ISSET(socket_, &failed) || !FD_ISSET(socket_, &writable)) return false;
    int error = 0;
    int length = sizeof(error);
    if (::getsockopt(socket_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) !=
            0 ||
        error != 0) {
      return false;
    }
  }
  u_long blocking = 0;
  return ::ioctlsocket(socket_, FIONBIO, &blocking) == 0;
}

bool ProbeSocket::SendAll(const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const int sent = ::send(socket_, bytes, static_cast<int>(size), 0);
    if (sent <= 0) return false;
    bytes += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

bool ProbeSocket::ReceiveExact(void* data, size_t size) {
  char* bytes = static_cast<char*>(data);
  while (size > 0) {
    const int got = ::recv(socket_, bytes, static_cast<int>(size), 0);
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

int ProbeSocket::ReceiveSome(void* data, size_t size) {
  return ::recv(socket_, static_cast<char*>(data), static_cast<int>(size), 0);
}

namespace {
class Plain : public ProbeStream {
 public:
  explicit Plain(ProbeSocket& socket) : socket_(socket) {}
  bool SendAll(const std::string& data) override {
    return socket_.SendAll(data.data(), data.size());
  }
  int ReceiveSome(char* data, size_t size) override { return socket_.ReceiveSome(data, size); }

 private:
  ProbeSocket& socket_;
};
}  // namespace

std::unique_ptr<ProbeStream> PlainStream(ProbeSocket& socket) {
  return std::make_unique<Plain>(socket);
}
