// Byte streams a probe talks through: a TCP connection (connect with a time-out) and a TLS
// session over it (Schannel, the system's certificate validation for the host name).
#pragma once

#include <winsock2.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class ProbeSocket {
 public:
  ProbeSocket() = default;
  ~ProbeSocket();
  ProbeSocket(const ProbeSocket&) = delete;
  ProbeSocket& operator=(const ProbeSocket&) = delete;

  // Connects to 127.0.0.1:`port`; every later send and receive is bounded by `timeout_ms` too.
  bool ConnectLoopback(uint16_t port, uint32_t timeout_ms);
  // Connects from `source` (host order; 0: any) to `destination`:`port` (host order).
  bool Connect(uint32_t source, uint32_t destination, uint16_t port, uint32_t timeout_ms);
  bool SendAll(const void* data, size_t size);
  // Exactly `size` bytes, or false.
  bool ReceiveExact(void* data, size_t size);
  // Up to `size` bytes; 0 when the peer closed, negative on error or time-out.
  int ReceiveSome(void* data, size_t size);
  SOCKET get() const { return socket_; }

 private:
  SOCKET socket_ = INVALID_SOCKET;
};

// The stream an HTTP exchange runs over.
class ProbeStream {
 public:
  virtual ~ProbeStream() = default;
  virtual bool SendAll(const std::string& data) = 0;
  virtual int ReceiveSome(char* data, size_t size) = 0;
};

std::unique_ptr<ProbeStream> PlainStream(ProbeSocket& socket);
// Runs the TLS handshake for `host` and checks the server's certificate chain and name with the
// system's policy; null on any failure.
std::unique_ptr<ProbeStream> TlsStream(ProbeSocket& socket, const std::string& host);
