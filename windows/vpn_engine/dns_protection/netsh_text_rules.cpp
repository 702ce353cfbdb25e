#include "vpn_engine/dns_protection/netsh_text_rules.h"

#include <cstddef>

bool IsSafeNetshName(std::string_view name) {
  if (name.empty() || name.size() > 256) return false;
  for (const char c : name) {
    switch (c) {
      case '\n':
      case '\r':
      case '"':
      case '%':
      case '&':
      case '<':
      case '>':
      case '^':
      case '`':
      case '|':
        return false;
      default:
        break;
    }
  }
  return true;
}

bool IsDottedIpv4Server(std::string_view text) {
  int fields = 0;
  size_t pos = 0;
  while (true) {
    unsigned value = 0;
    size_t digits = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      value = value * 10 + static_cast<unsigned>(text[pos] - '0');
      if (value > 255) return false;
      ++pos;
      ++digits;
    }
    if (digits == 0) return false;
    ++fields;
    if (pos == text.size()) return fields == 4;
    if (text[pos] != '.' || fields == 4) return false;
    ++pos;
  }
}

bool IsIpv6ServerText(std::string_view text) {
  if (text.size() < 2 || text.size() > 45) return false;
  int colons = 0;
  for (const char c : text) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (c == ':') {
      ++colons;
    } else if (!hex && c != '.') {
      return false;
    }
  }
  return colons >= 2;
}
