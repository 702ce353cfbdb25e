#include "vpn_engine/child_output.h"

std::string_view UpToFirstZero(std::string_view block) {
  const size_t zero = block.find('\0');
  return zero == std::string_view::npos ? block : block.substr(0, zero);
}

std::optional<std::string> Tun2socksReportLine(std::string_view block) {
  std::string_view text = UpToFirstZero(block);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  if (text.find("\"level\":\"info\"") != std::string_view::npos ||
      text.find("\"level\":\"debug\"") != std::string_view::npos) {
    return std::nullopt;
  }
  return std::string(text);
}
