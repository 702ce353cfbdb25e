#include "vpn_engine/host/ipv4_text.h"

namespace zelvora {

bool ParseIpv4(const std::string& text, Ipv4Address* address) {
  Ipv4Address value = 0;
  size_t position = 0;
  for (int field = 0; field < 4; ++field) {
    if (field > 0) {
      if (position >= text.size() || text[position] != '.') return false;
      ++position;
    }
    unsigned number = 0;
    size_t digits = 0;
    while (position < text.size() && text[position] >= '0' && text[position] <= '9') {
      if (++digits > 3) return false;
      number = number * 10 + static_cast<unsigned>(text[position] - '0');
      ++position;
    }
    if (digits == 0 || number > 255) return false;
    value = (value << 8) | number;
  }
  if (position != text.size()) return false;
  *address = value;
  return true;
}

std::string FormatIpv4(Ipv4Address address) {
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
         std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

Ipv4Address MaskFromPrefix(long long prefix_length) {
  if (prefix_length <= 0) return 0;
  if (prefix_length >= 32) return 0xFFFFFFFFu;
  return static_cast<Ipv4Address>(0xFFFFFFFFull << (32 - prefix_length));
}

uint8_t PrefixLengthOf(Ipv4Address mask) {
  uint8_t length = 0;
  for (; length < 32 && (mask & (0x80000000u >> length)) != 0; ++length) {
  }
  return length;
}

}  // namespace zelvora
