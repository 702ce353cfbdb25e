#include "ipc/status_payload.h"

#include <cctype>
#include <limits>
#include <string_view>

namespace zelvora::ipc {

namespace {

bool IsSeparator(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// A whole-token decimal with an optional sign. Byte totals cannot be negative, so a negative
// value counts as out of range: storing it in the unsigned field would turn it into a total of
// about 18 EB that the status stream would then report as traffic.
bool ParseByteTotal(std::string_view text, std::uint64_t* value) {
  std::size_t pos = 0;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  if (pos == text.size()) return false;
  // The field holds what a signed 64-bit total can hold.
  constexpr std::uint64_t kLimit =
      static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  std::uint64_t result = 0;
  for (; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (c < '0' || c > '9') return false;
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (result > (kLimit - digit) / 10) return false;
    result = result * 10 + digit;
  }
  if (negative && result != 0) return false;
  *value = result;
  return true;
}

void ApplyToken(std::string_view token, StatusPayload& status) {
  const std::size_t equals = token.find('=');
  if (equals == std::string_view::npos) return;
  const std::string_view key = token.substr(0, equals);
  const std::string_view value = token.substr(equals + 1);
  if (key == "running") {
    status.running = value == "1";
  } else if (key == "tunnel") {
    status.tunnel = value == "1";
  } else if (key == "up") {
    ParseByteTotal(value, &status.up);
  } else if (key == "down") {
    ParseByteTotal(value, &status.down);
  }
}

}  // namespace

bool ParseStatusResponse(const std::string& body, StatusPayload* payload, std::string* error) {
  if (body.size() < 2 || body.compare(0, 2, "OK") != 0) {
    if (error) *error = body;
    return false;
  }
  StatusPayload status;
  const std::string_view rest = std::string_view(body).substr(2);
  std::size_t pos = 0;
  while (pos < rest.size()) {
    while (pos < rest.size() && IsSeparator(rest[pos])) ++pos;
    const std::size_t begin = pos;
    while (pos < rest.size() && !IsSeparator(rest[pos])) ++pos;
    if (pos > begin) ApplyToken(rest.substr(begin, pos - begin), status);
  }
  if (payload) *payload = status;
  return true;
}

}  // namespace zelvora::ipc
