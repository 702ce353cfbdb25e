// A TUN-mode session of the engine on the simulated home machine, with the core and tun2socks
// stand-ins and a local probe target, timed: how long the start takes beyond the sequence's fixed
// waits, the wait for tun2socks' adapter and the probes' own time, how many programs a connect
// and a disconnect start, how quickly a stop takes the tunnel's routes, address and DNS guard
// away and completes, and how long a stop takes while a 10,000-entry LAN list is being routed.
// Each command costs one process start, measured here first (cmd.exe run hidden, under Wine).
#include <windows.h>
#include <winsock2.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core_standin/standin_paths.h"
#include "probes/data_path_probe.h"
#include "processes/hidden_command.h"
#include "session_world.h"
#include "simulated_host/home_machine.h"
#include "simulated_host/sim_text.h"
#include "simulated_host/simulated_host.h"
#include "simulated_host/standin_adapters.h"
#include "vpn_engine/session/vpn_service.h"

namespace {

using session_world::Clock;
using session_world::Config;
using session_world::kFixedWaitsMs;
using session_world::LastFigure;
using session_world::LogText;
using session_world::Ms;

// Records, per round, when the engine's wait for the tunnel adapter began (its first adapter
// listing after the start) and when it saw the adapter tun2socks created.
class BenchHost : public standin_adapters::StandinHost {
 public:
  BenchHost() : StandinHost(simhost::HomeMachine()) {}
  void NewRound() {
    std::lock_guard<std::mutex> lock(times_mutex_);
    first_list_ = found_ = Clock::time_point();
  }
  double AdapterWaitMs() {
    std::lock_guard<std::mutex> lock(times_mutex_);
    return found_ > first_list_ ? Ms(found_ - first_list_) : 0;
  }
  zelvora::ReadStatus ListAdapters(zelvora::AdapterListing listing,
                                   std::vector<zelvora::AdapterInfo>* adapters) override {
    const Clock::time_point now = Clock::now();
    const zelvora::ReadStatus status = StandinHost::ListAdapters(listing, adapters);
    bool carrying = false;
    for (const zelvora::AdapterInfo& adapter : *adapters)
      carrying |= adapter.oper_up && adapter.friendly_name == L"Zelvora";
    std::lock_guard<std::mutex> lock(times_mutex_);
    if (first_list_ == Clock::time_point()) first_list_ = now;
    if (carrying && found_ == Clock::time_point()) found_ = Clock::now();
    return status;
  }

 private:
  std::mutex times_mutex_;
  Clock::time_point first_list_, found_;
};

// The median time of starting a trivial program hidden, as every command does.
std::chrono::microseconds MeasureProcessStart() {
  std::vector<long long> samples;
  for (int i = 0; i < 9; ++i) {
    const auto start = Clock::now();
    RunHiddenCommand("exit /b 0", 10000);
    samples.push_back(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
  }
  std::sort(samples.begin(), samples.end());
  return std::chrono::microseconds(samples[samples.size() / 2]);
}

std::string ConfigWithLan(uint16_t server_port, int lan_entries) {
  std::string text = Config(server_port);
  std::string list = ", \"bypassSubnets\": [\"192.168.178.0/24\"";
  for (int i = 0; i < lan_entries; ++i) {
    list += ", \"10." + std::to_string(100 + i / 256) + "." + std::to_string(i % 256) + ".0/24\"";
  }
  list += "]";
  text.insert(text.rfind("}}"), list);
  return text;
}

std::vector<std::string> CommandLines(const simhost::SimulatedHost& host) {
  std::vector<std::string> lines;
  for (const simhost::CommandRecord& record : host.Commands()) lines.push_back(record.command);
  return lines;
}

void PrintCommands(const char* what, const std::vector<std::string>& lines) {
  std::printf("commands of the last %s (%zu):\n", what, lines.size());
  for (const std::string& line : lines) std::printf("  %s\n", line.c_str());
}

}  // namespace

int main() {
  ::SetCurrentDirectoryW(core_standin::Root().c_str());
  const std::chrono::microseconds process_start = MeasureProcessStart();
  BenchHost host;
  host.SetProcessStartCost(process_start);
  session_world::World world(host);

  std::atomic<long long> probe_ns{0};
  zelvora::VpnServiceEnvironment environment = world.Environment();
  environment.probe_through_socks = [&](uint16_t port, const std::string& u) {
    const auto start = Clock::now();
    const int32_t result = ProbeThroughSocks(port, u);
    probe_ns += (Clock::now() - start).count();
    return result;
  };
  environment.probe_direct = [&](const std::string& source, const std::string& u) {
    const auto start = Clock::now();
    const int32_t result =
        standin_adapters::IntoTunnel(host, source) ? ProbeDirect("127.0.0.1", u) : -1;
    probe_ns += (Clock::now() - start).count();
    return result;
  };
  zelvora::VpnService engine(std::move(environment));
  engine.WaitPrepared();

  std::printf(
      "each command costs one process start: %.1f ms (measured: cmd.exe run hidden)\n"
      "fixed waits subtracted: %.0f ms, and the wait for tun2socks' adapter; the rest includes "
      "starting xray.exe and tun2socks.exe under Wine\n",
      process_start.count() / 1000.0, kFixedWaitsMs);
  const int rounds = 5;
  double own_sum = 0, total_sum = 0;
  long fast_sum = 0, stop_sum = 0, stop_wall_sum = 0;
  size_t commands = 0;
  int connect_starts = 0, disconnect_starts = 0;
  std::vector<std::string> connect_commands, disconnect_commands;  // of the last round
  for (int round = 0; round < rounds; ++round) {
    engine.Stop(false);
    host.ClearCommands();
    host.NewRound();
    probe_ns = 0;
    const int starts_before = host.ProcessStarts();
    const auto start = Clock::now();
    if (!engine.Start(Config(world.server.port())).empty()) return 1;
    while (!engine.IsTunnelReady()) {
      if (!engine.IsRunning() || Clock::now() - start > std::chrono::seconds(30)) {
        std::printf("session did not come up\n");
        return 1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const double total = Ms(Clock::now() - start);
    const double own = total - kFixedWaitsMs - probe_ns / 1e6 - host.AdapterWaitMs();
    commands = host.Commands().size();
    connect_starts = host.ProcessStarts() - starts_before;
    connect_commands = CommandLines(host);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const size_t log_from = LogText().size();
    host.ClearCommands();
    const int stop_starts_before = host.ProcessStarts();
    const auto stop_start = Clock::now();
    engine.Stop(true);
    const long stop_wall = static_cast<long>(Ms(Clock::now() - stop_start));
    disconnect_starts = host.ProcessStarts() - stop_starts_before;
    disconnect_commands = CommandLines(host);
    const std::string log = LogText();
    const long fast = LastFigure(log, log_from, "DNS guard removed in ");
    const long stop = LastFigure(log, log_from, "Stop completed in ");
    std::printf(
        "round %d: start->ready %.0f ms, own work %.0f ms, %zu commands; "
        "stop: fast-disconnect %ld ms, completed %ld ms (wall %ld ms)\n",
        round + 1, total, own, commands, fast, stop, stop_wall);
    if (round > 0) {  // the first round pays for loading the programs from disk
      own_sum += own;
      total_sum += total;
      fast_sum += fast;
      stop_sum += stop;
      stop_wall_sum += stop_wall;
    }
  }
  const int n = rounds - 1;
  std::printf(
      "\nmean of rounds 2-%d: start->ready %.0f ms, our own work %.0f ms (goal < 200), "
      "%zu commands;\n  fast-disconnect done %ld ms after Stop (goal < 50), "
      "Stop completed %ld ms (goal < 300), Stop returned %ld ms\n",
      rounds, total_sum / n, own_sum / n, commands, fast_sum / n, stop_sum / n, stop_wall_sum / n);
  std::printf(
      "process starts: connect %d commands + 2 programs (xray, tun2socks), "
      "disconnect %d\n",
      connect_starts, disconnect_starts);
  PrintCommands("connect", connect_commands);
  PrintCommands("disconnect", disconnect_commands);

  // A stop while a 10,000-entry LAN list is being routed.
  engine.Stop(false);
  host.ClearCommands();
  if (!engine.Start(ConfigWithLan(world.server.port(), 10000)).empty()) return 1;
  const auto lan_deadline = Clock::now() + std::chrono::seconds(60);
  for (;;) {
    // Routing has reached the list's sixth entry when the host sends 10.100.5.9 around the
    // tunnel by a /24 route.
    simhost::RouteChoice choice;
    if (host.LookupRoute(simhost::Ip("10.100.5.9"), &choice) && choice.mask == 0xFFFFFF00u) break;
    if (!engine.IsRunning() || Clock::now() > lan_deadline) {
      std::printf("the LAN list was never reached\n");
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const auto lan_stop = Clock::now();
  engine.Stop(false);
  std::printf("stop during a 10,000-entry LAN list: %.0f ms (goal < 500)\n",
              Ms(Clock::now() - lan_stop));
  return 0;
}
