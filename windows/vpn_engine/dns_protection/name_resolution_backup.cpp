#include "vpn_engine/dns_protection/name_resolution_backup.h"

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::optional<uint32_t> ReadNumber(std::string_view text, size_t* pos) {
  while (*pos < text.size() && IsSpace(text[*pos])) ++*pos;
  if (*pos < text.size() && text[*pos] == '+') ++*pos;
  uint64_t value = 0;
  size_t digits = 0;
  while (*pos < text.size() && text[*pos] >= '0' && text[*pos] <= '9') {
    value = value * 10 + static_cast<uint64_t>(text[*pos] - '0');
    if (value > UINT32_MAX) return std::nullopt;
    ++*pos;
    ++digits;
  }
  if (digits == 0) return std::nullopt;
  return static_cast<uint32_t>(value);
}

}  // namespace

std::string FormatNameResolutionBackup(const NameResolutionPolicyBackup& backup) {
  return std::string("v1\n") + (backup.smartExisted ? "1\n" : "0\n") +
         std::to_string(backup.smartValue) + "\n" + (backup.parallelExisted ? "1\n" : "0\n") +
         std::to_string(backup.parallelValue) + "\n";
}

std::optional<NameResolutionPolicyBackup> ParseNameResolutionBackup(std::string_view content) {
  const size_t line_end = content.find('\n');
  if (line_end == std::string_view::npos || content.substr(0, line_end) != "v1") {
    return std::nullopt;
  }
  size_t pos = line_end + 1;
  uint32_t numbers[4];
  for (uint32_t& number : numbers) {
    const auto read = ReadNumber(content, &pos);
    if (!read) return std::nullopt;
    number = *read;
  }
  NameResolutionPolicyBackup backup;
  backup.smartExisted = numbers[0] != 0;
  backup.smartValue = numbers[1];
  backup.parallelExisted = numbers[2] != 0;
  backup.parallelValue = numbers[3];
  return backup;
}
