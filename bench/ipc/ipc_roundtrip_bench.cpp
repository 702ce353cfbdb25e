// Round trip of one status exchange through VpnIpcClient::QueryStatus next to a bare pipe
// exchange of the same bytes with the same reference service, plus the cost of each step the
// client adds. Installs and starts the reference service in the current Wine prefix.
//   ipc_roundtrip_bench.exe [exchanges]   (default 400)
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "fixture_files.h"
#include "ipc/request_policy.h"
#include "ipc/vpn_ipc_client.h"
#include "service_admin.h"

namespace {

using zelvora::ipc::VpnIpcClient;
using Clock = std::chrono::steady_clock;

struct Figures {
  double median_us;
  double p95_us;
};

Figures Measure(int count, const std::function<bool()>& step) {
  std::vector<double> samples;
  samples.reserve(count);
  for (int i = 0; i < count; ++i) {
    const auto start = Clock::now();
    if (!step()) {
      std::fprintf(stderr, "step failed at iteration %d\n", i);
      std::exit(1);
    }
    samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::sort(samples.begin(), samples.end());
  return {samples[samples.size() / 2], samples[(samples.size() * 95) / 100]};
}

UniqueHandle OpenBarePipe() {
  return UniqueHandle(::CreateFileW(zelvora::ipc::kTunnelPipeName, GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
}

bool ReadAll(HANDLE pipe, char* data, DWORD size) {
  DWORD total = 0;
  while (total < size) {
    DWORD moved = 0;
    if (!::ReadFile(pipe, data + total, size - total, &moved, nullptr) || moved == 0) return false;
    total += moved;
  }
  return true;
}

// The same 8 request bytes and response frame, with plain blocking I/O and nothing else.
bool BareStatusExchange() {
  UniqueHandle pipe = OpenBarePipe();
  if (!pipe) return false;
  const std::string request = zelvora::ipc::EncodeRequestHeader(zelvora::ipc::Command::Status, 0);
  DWORD written = 0;
  if (!::WriteFile(pipe.get(), request.data(), 8, &written, nullptr) || written != 8) return false;
  unsigned char length[4];
  if (!ReadAll(pipe.get(), reinterpret_cast<char*>(length), 4)) return false;
  std::string body(length[0] | (length[1] << 8) | (length[2] << 16), '\0');
  return body.empty() || ReadAll(pipe.get(), &body[0], static_cast<DWORD>(body.size()));
}

void Print(const char* name, const Figures& figures) {
  std::printf("%-34s median %9.1f us   p95 %9.1f us\n", name, figures.median_us, figures.p95_us);
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 400;
  tunnel_fixture::WriteFixtureFile(tunnel_fixture::kBehaviourFile, "");
  if (!tunnel_fixture::InstallTunnelService(
          tunnel_fixture::ProgramBeside(L"zelvora_tunnel_service.exe")) ||
      !tunnel_fixture::StartTunnelService()) {
    std::fprintf(stderr, "cannot install or start the reference service\n");
    return 1;
  }
  zelvora::ipc::StatusPayload status;
  // Warm both paths so first-use costs (DLL loads, SCM connection) stay out of the figures.
  for (int i = 0; i < 20; ++i) {
    VpnIpcClient::QueryStatus(&status, nullptr);
    BareStatusExchange();
  }

  const Figures client =
      Measure(count, [&] { return VpnIpcClient::QueryStatus(&status, nullptr); });
  const Figures bare = Measure(count, BareStatusExchange);

  std::printf("%d status exchanges each\n", count);
  Print("VpnIpcClient::QueryStatus", client);
  Print("bare pipe exchange", bare);
  std::printf("%-34s median %9.2fx      p95 %9.2fx\n", "ratio client / bare",
              client.median_us / bare.median_us, client.p95_us / bare.p95_us);

  std::printf("\nsteps the client adds, measured alone:\n");
  Print("client mutex create+wait+release", Measure(count, [] {
          NamedMutexLock lock(zelvora::ipc::kIpcClientMutexName, 3000);
          return lock.owns();
        }));
  Print("WaitNamedPipeW", Measure(count, [] {
          return ::WaitNamedPipeW(zelvora::ipc::kTunnelPipeName, 2500) != FALSE;
        }));
  // One connection, checked over and over: the identity check without the pipe's own cost.
  ::WaitNamedPipeW(zelvora::ipc::kTunnelPipeName, 2500);
  UniqueHandle held = OpenBarePipe();
  Print("identity check (SCM queries)", Measure(count, [&] {
          return held && VpnIpcClient::PipeServerIsTrustedTunnelService(held.get());
        }));
  held.reset();
  Print("IsServiceRunning", Measure(count, [] { return VpnIpcClient::IsServiceRunning(); }));
  return 0;
}
