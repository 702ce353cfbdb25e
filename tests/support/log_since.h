// The text the tunnel log gained since the watch was created, and lines looked for in it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tunnel_log/tunnel_log_paths.h"

class TunnelLogWatch {
 public:
  TunnelLogWatch() : start_(ReadAll().size()) {}
  std::string NewText() const {
    const std::string all = ReadAll();
    return all.size() >= start_ ? all.substr(start_) : all;  // rotated meanwhile
  }
  bool Saw(const std::string& needle) const { return NewText().find(needle) != std::string::npos; }

 private:
  static std::string ReadAll() {
    std::ifstream in(kTunnelLogPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::uint64_t start_ = 0;
};

// Each of `lines` in `text`, in this order.
inline ::testing::AssertionResult InOrder(const std::string& text,
                                          const std::vector<std::string>& lines) {
  size_t at = 0;
  for (const std::string& line : lines) {
    const size_t found = text.find(line, at);
    if (found == std::string::npos) {
      return ::testing::AssertionFailure() << "missing (in order): " << line << "\n--- log ---\n"
                                           << text;
    }
    at = found + line.size();
  }
  return ::testing::AssertionSuccess();
}
