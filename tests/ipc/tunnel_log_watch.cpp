#include "tunnel_log_watch.h"

#include <fstream>
#include <iterator>

#include "tunnel_log/tunnel_log_paths.h"

namespace {
std::string ReadLog() {
  std::ifstream in(kTunnelLogPath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
}  // namespace

TunnelLogWatch::TunnelLogWatch() : start_(ReadLog().size()) {}

std::string TunnelLogWatch::NewText() const {
  const std::string all = ReadLog();
  return all.size() >= start_ ? all.substr(start_) : all;  // rotated meanwhile
}
