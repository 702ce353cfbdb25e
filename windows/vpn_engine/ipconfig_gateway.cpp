#include "vpn_engine/ipconfig_gateway.h"

#include <vector>

#include "vpn_engine/ipv4_text.h"

namespace zelvora {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string Trimmed(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

}  // namespace

std::string FirstIpconfigGateway(const std::string& output, const std::string& excluded) {
  const std::vector<std::string> lines = Lines(output);
  for (size_t i = 0; i < lines.size(); ++i) {
    const size_t label = lines[i].find("Default Gateway");
    if (label == std::string::npos) continue;
    const size_t colon = lines[i].find(':', label);
    if (colon == std::string::npos) continue;
    // The value on the label's line, then continuation lines: indented, one word, no label.
    std::vector<std::string> values = {Trimmed(lines[i].substr(colon + 1))};
    for (size_t next = i + 1; next < lines.size(); ++next) {
      const std::string& line = lines[next];
      const std::string value = Trimmed(line);
      if (line.empty() || !IsBlank(line[0]) || value.empty() ||
          value.find(' ') != std::string::npos) {
        break;
      }
      values.push_back(value);
    }
    for (const std::string& value : values) {
      Ipv4Address address = 0;
      if (ParseIpv4(value, &address) && value != excluded) return value;
    }
  }
  return std::string();
}

}  // namespace zelvora
