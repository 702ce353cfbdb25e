// Reads the lines the tunnel log gained since the watch was created.
#pragma once

#include <cstdint>
#include <string>

class TunnelLogWatch {
 public:
  TunnelLogWatch();
  std::string NewText() const;
  bool Saw(const std::string& needle) const { return NewText().find(needle) != std::string::npos; }

 private:
  std::uint64_t start_ = 0;
};
