#include "support/captured_log.h"

#include <mutex>

#include "tunnel_log/tunnel_log.h"

namespace {
std::mutex g_mutex;
std::vector<std::string>& Lines() {
  static std::vector<std::string> lines;
  return lines;
}
}  // namespace

void TunnelLogWrite(const std::string& message) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Lines().push_back(message);
}

std::vector<std::string> CapturedLogLines() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return Lines();
}

void ClearCapturedLog() {
  std::lock_guard<std::mutex> lock(g_mutex);
  Lines().clear();
}

bool CapturedLogContains(const std::string& needle) {
  for (const auto& line : CapturedLogLines()) {
    if (line.find(needle) != std::string::npos) return true;
  }
  return false;
}
