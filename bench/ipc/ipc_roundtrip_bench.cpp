// Round trip of one status exchange through VpnIpcClient::QueryStatus next to a bare pipe
// exchange of the same bytes with the same reference service, plus the cost of each step the
// client adds. Installs and starts the reference service in the current Wine prefix.
// The client's identity check asks the Service Control Manager only when the pipe's server is
// not the process it last confirmed; the benchmark also times that query alone, which every
// exchange used to pay, so the old and the new cost show side by side in one run.
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

// Times `step`; `before` (untimed) runs ahead of each timing.
Figures Measure(int count, const std::function<bool()>& before, const std::function<bool()>& step) {
  std::vector<double> samples;
  samples.reserve(count);
  for (int i = 0; i < count; ++i) {
    if (before && !before()) {
      std::fprintf(stderr, "step failed at iteration %d\n", i);
      std::exit(1);
    }
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

Figures Measure(int count, const std::function<bool()>& step) { return Measure(count, {}, step); }

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

// The Service Control Manager's answer for the pipe's server, asked afresh: what the identity
// check costs when it cannot rely on what it confirmed before.
bool AskServiceManagerAboutPipe(HANDLE pipe) {
  ULONG pid = 0;
  if (!::GetNamedPipeServerProcessId(pipe, &pid)) return false;
  SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return false;
  SC_HANDLE service =
      ::OpenServiceW(manager, zelvora::ipc::kTunnelServiceName, SERVICE_QUERY_STATUS);
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  const bool ok =
      service && ::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                                        reinterpret_cast<BYTE*>(&status), sizeof(status), &needed);
  if (service) ::CloseServiceHandle(service);
  ::CloseServiceHandle(manager);
  return ok && status.dwProcessId == pid;
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

  // Taken in turns, so a change of load on the machine weighs on both alike.
  const auto client_step = [&] { return VpnIpcClient::QueryStatus(&status, nullptr); };
  std::vector<double> client_samples;
  const Figures bare = Measure(
      count,
      [&] {
        const auto start = Clock::now();
        if (!client_step()) return false;
        client_samples.push_back(
            std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        return true;
      },
      BareStatusExchange);
  std::sort(client_samples.begin(), client_samples.end());
  const Figures client{client_samples[client_samples.size() / 2],
                       client_samples[(client_samples.size() * 95) / 100]};

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
  Print("identity check (as the client does)", Measure(count, [&] {
          return held && VpnIpcClient::PipeServerIsTrustedTunnelService(held.get());
        }));
  const Figures scm =
      Measure(count, [&] { return held && AskServiceManagerAboutPipe(held.get()); });
  Print("SCM asked afresh (every exchange before)", scm);
  held.reset();
  std::printf("%-34s median %9.2fx\n", "ratio (client + SCM query) / bare",
              (client.median_us + scm.median_us) / bare.median_us);
  Print("IsServiceRunning", Measure(count, [] { return VpnIpcClient::IsServiceRunning(); }));
  return 0;
}
