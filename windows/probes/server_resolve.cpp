// ResolveServerIPv4: Winsock name resolution of the proxy server's host.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "common/winsock_session.h"
#include "config_text/config_inspection.h"
#include "config_text/text_patterns.h"

std::vector<std::string> ResolveServerIPv4(const std::string& host) {
  if (host.empty()) return {};
  if (config_text::IsDottedQuad(host)) return {host};

  WinsockSession winsock;
  if (!winsock.started()) return {};
  std::vector<std::string> addresses;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* results = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &results) == 0) {
    for (const addrinfo* entry = results; entry != nullptr; entry = entry->ai_next) {
      if (entry->ai_family != AF_INET || entry->ai_addr == nullptr) continue;
      const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
      char text[INET_ADDRSTRLEN] = {};
      if (::inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof(text)) == nullptr) continue;
      if (std::find(addresses.begin(), addresses.end(), text) == addresses.end()) {
        addresses.emplace_back(text);
      }
    }
    ::freeaddrinfo(results);
  }
  return addresses;
}
