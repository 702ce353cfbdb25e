#include "vpn_engine/data_path_probe.h"

#include <windows.h>
#include <winhttp.h>
#include <winsock2.h>

#include <chrono>

#include "common/text_encoding.h"
#include "common/winsock_session.h"
#include "vpn_engine/probe_request.h"
#include "vpn_engine/probe_stream.h"

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

struct WinHttpHandleFree {
  void operator()(void* handle) const {
    if (handle) ::WinHttpCloseHandle(handle);
  }
};
using WinHttpHandle = std::unique_ptr<void, WinHttpHandleFree>;

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

int32_t ProbeDirect(const std::string& url) {
  try {
    WinHttpHandle session(::WinHttpOpen(Utf8ToWide(kProbeUserAgent).c_str(),
                                        WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                        WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return -1;
    const int timeout = static_cast<int>(kProbeTimeoutMs);
    // On the session too, so name resolution and the connect made through it are bounded.
    ::WinHttpSetTimeouts(session.get(), timeout, timeout, timeout, timeout);
    const auto target = SplitProbeUrl(url);
    if (!target) return -1;
    const auto start = std::chrono::steady_clock::now();
    WinHttpHandle connection(
        ::WinHttpConnect(session.get(), Utf8ToWide(target->host).c_str(), target->port, 0));
    if (!connection) return -1;
    WinHttpHandle request(::WinHttpOpenRequest(
        connection.get(), L"GET", Utf8ToWide(target->path).c_str(), nullptr, WINHTTP_NO_REFERER,
        WINHTTP_DEFAULT_ACCEPT_TYPES, target->secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) return -1;
    ::WinHttpSetTimeouts(request.get(), timeout, timeout, timeout, timeout);
    // The wait for the response's headers has a limit of its own that the four above do not
    // set (90 s by default, longer under Wine): a server that takes the connection and never
    // answers would hold the probe that long.
    DWORD response_timeout = kProbeTimeoutMs;
    ::WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response_timeout,
                       sizeof(response_timeout));
    const bool ok = ::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                         WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
                    ::WinHttpReceiveResponse(request.get(), nullptr);
    return ok ? ElapsedMs(start) : -1;
  } catch (...) {
    return -1;
  }
}
