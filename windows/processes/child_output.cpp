#include "processes/child_output.h"

std::string_view UpToFirstZero(std::string_view block) {
  const size_t zero = block.find('\0');
  return zero == std::string_view::npos ? block : block.substr(0, zero);
}

std::optional<std::string> Tun2socksReportLine(std::string_view line) {
  std::string_view text = UpToFirstZero(line);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  if (text.find("\"level\":\"info\"") != std::string_view::npos ||
      text.find("\"level\":\"debug\"") != std::string_view::npos) {
    return std::nullopt;
  }
  return std::string(text);
}

std::vector<std::string> OutputLineSplitter::Feed(std::string_view block) {
  std::vector<std::string> lines;
  for (char c : UpToFirstZero(block)) {
    if (c == '\n' || c == '\r') {
      // CR LF, a lone LF and a lone CR all end a line; the empty "line" between CR and LF is
      // dropped by the callers' empty-line rule.
      lines.push_back(std::move(pending_));
      pending_.clear();
      continue;
    }
    pending_.push_back(c);
    if (pending_.size() >= kMaxLineBytes) {
      lines.push_back(std::move(pending_));
      pending_.clear();
    }
  }
  return lines;
}

std::optional<std::string> OutputLineSplitter::Finish() {
  if (pending_.empty()) return std::nullopt;
  std::string rest = std::move(pending_);
  pending_.clear();
  return rest;
}
