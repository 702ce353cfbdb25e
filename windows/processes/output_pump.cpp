#include "processes/output_pump.h"

#include <iostream>

#include "common/console_line.h"
#include "common/detached_thread.h"
#include "processes/child_output.h"
#include "tunnel_log/tunnel_log.h"

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
  const auto report = [&](const std::string& text) {
    const auto line = Tun2socksReportLine(text);
    if (!line) return;
    ConsoleLine("[Tun2Socks " + stream_name + "] " + *line);
    TunnelLogWrite("[tun2socks " + stream_name + "] " + *line);
  };
  OutputLineSplitter lines;
  ReadUntilBroken(pipe.get(), [&](std::string_view block) {
    for (const std::string& line : lines.Feed(block)) report(line);
  });
  if (const auto rest = lines.Finish()) report(*rest);
}

void StartOutputPump(OutputPump pump, UniqueHandle pipe, const std::string& stream_name) {
  if (!pipe) return;
  HANDLE raw = pipe.release();
  const bool started = zelvora::StartDetachedThread([pump, raw, stream_name] {
    UniqueHandle owned(raw);
    pump(std::move(owned), stream_name);  // a reader never takes the process down: the
                                          // starter swallows what escapes, the handle closes
  });
  // No thread could be started: nobody reads, so the pipe end is closed here.
  if (!started) ::CloseHandle(raw);
}
