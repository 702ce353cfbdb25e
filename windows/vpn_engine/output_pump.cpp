#include "vpn_engine/output_pump.h"

#include <iostream>
#include <thread>

#include "tunnel_log/tunnel_log.h"
#include "vpn_engine/child_output.h"

namespace {
constexpr DWORD kReadBlock = 4096;

// Calls `on_block` for every read until the pipe breaks.
template <typename OnBlock>
void ReadUntilBroken(HANDLE pipe, OnBlock on_block) {
  char buffer[kReadBlock];
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(pipe, buffer, kReadBlock, &read, nullptr) || read == 0) return;
    on_block(std::string_view(buffer, read));
  }
}
}  // namespace

void PumpXrayOutput(UniqueHandle pipe, const std::string& stream_name) {
  ReadUntilBroken(pipe.get(), [&](std::string_view block) {
    std::cerr << "[Xray " << stream_name << "] " << UpToFirstZero(block) << std::flush;
  });
}

void PumpTun2socksOutput(UniqueHandle pipe, const std::string& stream_name) {
  ReadUntilBroken(pipe.get(), [&](std::string_view block) {
    const auto line = Tun2socksReportLine(block);
    if (!line) return;
    std::cerr << "[Tun2Socks " << stream_name << "] " << *line << std::endl;
    TunnelLogWrite("[tun2socks " + stream_name + "] " + *line);
  });
}

void StartOutputPump(OutputPump pump, UniqueHandle pipe, const std::string& stream_name) {
  if (!pipe) return;
  HANDLE raw = pipe.release();
  try {
    std::thread([pump, raw, stream_name] {
      UniqueHandle owned(raw);
      try {
        pump(std::move(owned), stream_name);
      } catch (...) {
        // A reader must never take the process down; its handle closes on the way out.
      }
    }).detach();
  } catch (...) {
    // No thread could be started: nobody reads, so the pipe end is closed here.
    ::CloseHandle(raw);
  }
}
