// The bytes of a data-path probe (no Win32): URL splitting, the SOCKS5 messages that open a
// connection by host name, and the HTTP request and response check.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

constexpr char kProbeUserAgent[] = "Zelvora/1.0";

struct ProbeTarget {
  bool secure = true;
  std::string host;
  uint16_t port = 0;
  std::string path;
};

// "https://" and scheme-less URLs are secure (port 443), "http://" plain (port 80); an explicit
// ":port" must start with digits (read up to the first non-digit, 1..65535). Nothing when the
// port text does not convert or the host is empty.
std::optional<ProbeTarget> SplitProbeUrl(std::string_view url);

// SOCKS5, no authentication: the greeting and the expected answer.
std::vector<uint8_t> SocksGreeting();
bool SocksGreetingAccepted(const uint8_t reply[2]);
// CONNECT by host name (address type 3); nothing for names longer than 255 bytes or empty.
std::optional<std::vector<uint8_t>> SocksConnectRequest(std::string_view host, uint16_t port);
// From the first five bytes of the CONNECT reply: how many bytes the whole reply has, or
// nothing when the relay refused (reply code not 0) or the reply is malformed.
std::optional<size_t> SocksConnectReplyLength(const uint8_t head[5]);

// "<method> <path> HTTP/1.1" with Host, User-Agent and Connection: close.
std::string ProbeHttpRequest(std::string_view method, const ProbeTarget& target);
// True once `received` holds a complete HTTP status line ("HTTP/x.y NNN ...\r\n").
bool HasHttpStatusLine(std::string_view received);
