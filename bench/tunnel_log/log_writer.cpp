// Benchmark helper: writes COUNT tunnel-log lines tagged with TAG.
//   log_writer.exe TAG COUNT
#include <cstdlib>
#include <string>

#include "tunnel_log/tunnel_log.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string tag = argv[1];
  const int count = std::atoi(argv[2]);
  // A long line makes any interleaving inside a line visible.
  const std::string padding(200, static_cast<char>('a' + tag.size() % 26));
  for (int i = 0; i < count; ++i) {
    TunnelLogWrite("writer=" + tag + " seq=" + std::to_string(i) + " " + padding + " end");
  }
  return 0;
}
