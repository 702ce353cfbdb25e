#include "probes/data_path_probe.h"

#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>

#include "common/text_encoding.h"
#include "common/winsock_session.h"
#include "probes/probe_request.h"
#include "probes/probe_stream.h"

namespace {

constexpr uint32_t kProbeTimeoutMs = 5000;
constexpr size_t kMaxResponseHead = 64 * 1024;

bool OpenSocksTunnel(ProbeSocket& socket, const ProbeTarget& target) {
  const auto greeting = SocksGreeting();
  uint8_t choice[2] = {};
  if (!socket.SendAll(greeting.data(), greeting.size()) || !socket.ReceiveExact(choice, 2) ||
      !SocksGreetingAccepted(choice)) {
    return false;
  }
  const auto request = SocksConnectRequest(target.host, target.port);
  if (!request || !socket.SendAll(request->data(), request->size())) return false;
  uint8_t reply[4 + 1 + 255 + 2] = {};
  if (!socket.ReceiveExact(reply, 5)) return false;
  const auto length = SocksConnectReplyLength(reply);
  return length && socket.ReceiveExact(reply + 5, *length - 5);
}

bool ExchangeHttp(ProbeStream& stream, const std::string& request) {
  if (!stream.SendAll(request)) return false;
  std::string received;
  char buffer[4096];
  while (received.size() < kMaxResponseHead) {
    const int got = stream.ReceiveSome(buffer, sizeof(buffer));
    if (got <= 0) return false;
    received.append(buffer, static_cast<size_t>(got));
    if (HasHttpStatusLine(received)) return true;
  }
  return false;
}

int32_t ElapsedMs(std::chrono::steady_clock::time_point start) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  return ms < 1 ? 1 : static_cast<int32_t>(ms);
}

}  // namespace

int32_t ProbeViaSocks(uint16_t socks_port, const std::string& url, const char* method,
                      uint32_t timeout_ms) {
  if (socks_port == 0) return -1;
  try {
    const auto target = SplitProbeUrl(url);
    if (!target) return -1;
    WinsockSession winsock;
    if (!winsock.started()) return -1;
    const auto start = std::chrono::steady_clock::now();
    ProbeSocket socket;
    if (!socket.ConnectLoopback(socks_port, timeout_ms) || !OpenSocksTunnel(socket, *target)) {
      return -1;
    }
    std::unique_ptr<ProbeStream> stream =
        target->secure ? TlsStream(socket, target->host) : PlainStream(socket);
    if (!stream || !ExchangeHttp(*stream, ProbeHttpRequest(method, *target))) return -1;
    return ElapsedMs(start);
  } catch (...) {
    return -1;
  }
}

int32_t ProbeThroughSocks(uint16_t socks_port, const std::string& url) {
  return ProbeViaSocks(socks_port, url, "GET", kProbeTimeoutMs);
}

int32_t MeasureConnectedDelay(uint16_t socks_port, bool running, bool tunnel_ready,
                              const std::string& url) {
  if (socks_port == 0 || !running || !tunnel_ready) return -1;
  return ProbeThroughSocks(socks_port, url);
}

int32_t ProbeDirect(const std::string& source, const std::string& url) {
  try {
    const auto target = SplitProbeUrl(url);
    if (!target) return -1;
    WinsockSession winsock;
    if (!winsock.started()) return -1;
    in_addr from{};
    if (::inet_pton(AF_INET, source.c_str(), &from) != 1) return -1;
    const auto start = std::chrono::steady_clock::now();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(target->host.c_str(), nullptr, &hints, &found) != 0 || !found) return -1;
    const uint32_t destination =
        ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    ::freeaddrinfo(found);
    ProbeSocket socket;
    if (!socket.Connect(ntohl(from.s_addr), destination, target->port, kProbeTimeoutMs)) {
      return -1;
    }
    std::unique_ptr<ProbeStream> stream =
        target->secure ? TlsStream(socket, target->host) : PlainStream(socket);
    if (!stream || !ExchangeHttp(*stream, ProbeHttpRequest("GET", *target))) return -1;
    return ElapsedMs(start);
  } catch (...) {
    return -1;
  }
}
