#include "probes/loopback_ports.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include "common/winsock_session.h"

namespace {

class TcpSocket {
 public:
  TcpSocket() : socket_(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {}
  ~TcpSocket() {
    if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
  }
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;
  bool valid() const { return socket_ != INVALID_SOCKET; }
  SOCKET get() const { return socket_; }

 private:
  SOCKET socket_;
};

sockaddr_in LoopbackAddress(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

bool IsLoopbackPortFree(uint16_t port) {
  WinsockSession winsock;
  if (!winsock.started()) return false;
  TcpSocket socket;
  if (!socket.valid()) return false;
  const sockaddr_in address = LoopbackAddress(port);
  return ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
}

uint16_t FindFreeLoopbackPort() {
  WinsockSession winsock;
  if (!winsock.started()) return 0;
  TcpSocket socket;
  if (!socket.valid()) return 0;
  sockaddr_in address = LoopbackAddress(0);
  if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    return 0;
  }
  int length = sizeof(address);
  if (::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

LoopbackPortProbe SystemLoopbackPorts() { return {IsLoopbackPortFree, FindFreeLoopbackPort}; }
