#include "simulated_host/sim_text.h"

#include <cctype>
#include <cstdlib>

namespace simhost {

bool ParseDotted(const std::string& text, uint32_t* value) {
  uint32_t result = 0;
  int fields = 0;
  size_t i = 0;
  while (fields < 4) {
    size_t digits = 0;
    uint32_t field = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
      field = field * 10 + static_cast<uint32_t>(text[i] - '0');
      ++i;
      ++digits;
    }
    if (digits == 0 || digits > 3 || field > 255) return false;
    result = (result << 8) | field;
    ++fields;
    if (fields < 4) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
  }
  if (i != text.size()) return false;
  *value = result;
  return true;
}

std::string Dotted(uint32_t value) {
  return std::to_string(value >> 24) + "." + std::to_string((value >> 16) & 255) + "." +
         std::to_string((value >> 8) & 255) + "." + std::to_string(value & 255);
}

uint32_t Ip(const char* dotted) {
  uint32_t value = 0;
  if (!ParseDotted(dotted, &value)) std::abort();
  return value;
}

std::string Utf8(const std::wstring& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = static_cast<uint16_t>(text[i]);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
      const uint32_t low = static_cast<uint16_t>(text[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

bool LooksLikeIpv6(const std::string& text) {
  if (text.find(':') == std::string::npos || text.find(":::") != std::string::npos ||
      text.find("::") != text.rfind("::")) {
    return false;
  }
  for (const char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') return false;
  }
  return true;
}

}  // namespace simhost
