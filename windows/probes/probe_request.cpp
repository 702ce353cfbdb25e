#include "probes/probe_request.h"

namespace {
bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}
}  // namespace

std::optional<ProbeTarget> SplitProbeUrl(std::string_view url) {
  ProbeTarget target;
  if (StartsWith(url, "https://")) {
    url.remove_prefix(8);
  } else if (StartsWith(url, "http://")) {
    target.secure = false;
    url.remove_prefix(7);
  }
  const size_t slash = url.find('/');
  std::string_view host = url.substr(0, slash);
  target.path = slash == std::string_view::npos ? "/" : std::string(url.substr(slash));
  target.port = target.secure ? 443 : 80;
  const size_t colon = host.find(':');
  if (colon != std::string_view::npos) {
    const std::string_view digits = host.substr(colon + 1);
    uint32_t value = 0;
    size_t used = 0;
    while (used < digits.size() && digits[used] >= '0' && digits[used] <= '9' && value <= 65535) {
      value = value * 10 + static_cast<uint32_t>(digits[used] - '0');
      ++used;
    }
    if (used == 0 || value == 0 || value > 65535) return std::nullopt;
    target.port = static_cast<uint16_t>(value);
    host = host.substr(0, colon);
  }
  if (host.empty()) return std::nullopt;
  target.host = std::string(host);
  return target;
}

std::vector<uint8_t> SocksGreeting() { return {0x05, 0x01, 0x00}; }

bool SocksGreetingAccepted(const uint8_t reply[2]) { return reply[0] == 0x05 && reply[1] == 0x00; }

std::optional<std::vector<uint8_t>> SocksConnectRequest(std::string_view host, uint16_t port) {
  if (host.empty() || host.size() > 255) return std::nullopt;
  std::vector<uint8_t> request = {0x05, 0x01, 0x00, 0x03, static_cast<uint8_t>(host.size())};
  request.insert(request.end(), host.begin(), host.end());
  request.push_back(static_cast<uint8_t>(port >> 8));
  request.push_back(static_cast<uint8_t>(port & 0xFF));
  return request;
}

std::optional<size_t> SocksConnectReplyLength(const uint8_t head[5]) {
  if (head[0] != 0x05 || head[1] != 0x00 || head[2] != 0x00) return std::nullopt;
  switch (head[3]) {
    case 0x01:
      return 4 + 4 + 2;
    case 0x04:
      return 4 + 16 + 2;
    case 0x03:
      return 4 + 1 + static_cast<size_t>(head[4]) + 2;
    default:
      return std::nullopt;
  }
}

std::string ProbeHttpRequest(std::string_view method, const ProbeTarget& target) {
  std::string host_header = target.host;
  if (target.port != (target.secure ? 443 : 80)) host_header += ":" + std::to_string(target.port);
  std::string request;
  request.append(method).append(" ").append(target.path).append(" HTTP/1.1\r\n");
  request += "Host: " + host_header + "\r\n";
  request += std::string("User-Agent: ") + kProbeUserAgent + "\r\n";
  request += "Accept: */*\r\nConnection: close\r\n\r\n";
  return request;
}

bool HasHttpStatusLine(std::string_view received) {
  const size_t end = received.find("\r\n");
  if (end == std::string_view::npos) return false;
  const std::string_view line = received.substr(0, end);
  // "HTTP/1.1 200": the version, one blank, three digits.
  if (!StartsWith(line, "HTTP/") || line.size() < 12) return false;
  const size_t blank = line.find(' ');
  if (blank == std::string_view::npos || line.size() < blank + 4) return false;
  for (size_t i = blank + 1; i < blank + 4; ++i) {
    if (line[i] < '0' || line[i] > '9') return false;
  }
  return true;
}
