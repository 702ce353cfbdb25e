// A TUN-mode session of the engine on the simulated home machine, with the core and tun2socks
// stand-ins and a local probe target, timed: how long the start takes beyond the sequence's fixed
// waits, the probes' own time and tun2socks' own adapter creation, where that time goes step by
// step, how many programs a connect and a disconnect start, how quickly a stop takes the
// tunnel's routes, address and DNS guard away and completes, and how long a stop takes while a
// 10,000-entry LAN list is being routed. Every command the engine runs costs one process start,
// measured here first (cmd.exe run hidden, under Wine).
//
// The step breakdown comes from the engine's own progress lines on the standard error stream
// and the commands and system calls it makes, each stamped with the time since the start was
// asked for, so the same program measures any version of the engine that prints those lines.
// When tun2socks' adapter came to exist the stand-in itself records (tun_adapter_marker.h): the
// wait for the adapter is split there into the outside program's time and the engine's noticing
// it.
#include <windows.h>
#include <winsock2.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <mutex>
#include <sstream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "core_standin/standin_paths.h"
#include "core_standin/tun_adapter_marker.h"
#include "probes/data_path_probe.h"
#include "processes/hidden_command.h"
#include "session_world.h"
#include "simulated_host/home_machine.h"
#include "simulated_host/sim_text.h"
#include "simulated_host/simulated_host.h"
#include "simulated_host/standin_adapters.h"
#include "tunnel_log/tunnel_log.h"
#include "vpn_engine/session/vpn_service.h"

namespace {

using session_world::Clock;
using session_world::Config;
using session_world::kFixedWaitsMs;
using session_world::LastFigure;
using session_world::LogText;
using session_world::Ms;

// One thing that happened during a start: a progress line or a command, at `at` ms after the
// start was asked for, taking `took` ms (commands only).
struct Event {
  double at = 0;
  double took = 0;
  std::string what;
};

class Timeline {
 public:
  void Begin() {
    std::lock_guard<std::mutex> lock(mutex_);
    start_ = Clock::now();
    counter_start_ = core_standin::PerformanceCounterNow();
    events_.clear();
  }
  double Now() const { return Ms(Clock::now() - start_); }
  // A QueryPerformanceCounter reading (another process's too) as ms since the start.
  double AtReading(LONGLONG reading) const {
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(reading - counter_start_) /
           static_cast<double>(frequency.QuadPart);
  }
  void Add(double at, double took, std::string what) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back({at, took, std::move(what)});
  }
  std::vector<Event> Events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }

 private:
  mutable std::mutex mutex_;
  Clock::time_point start_ = Clock::now();
  LONGLONG counter_start_ = 0;
  std::vector<Event> events_;
};

// Takes the engine's standard-error lines and stamps each with its time.
class StampedLines : public std::streambuf {
 public:
  explicit StampedLines(Timeline* timeline) : timeline_(timeline) {}

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return 0;
    std::lock_guard<std::mutex> lock(mutex_);
    if (c == '\n') {
      timeline_->Add(timeline_->Now(), 0, line_);
      line_.clear();
    } else {
      line_ += static_cast<char>(c);
    }
    return c;
  }

 private:
  Timeline* timeline_;
  std::mutex mutex_;
  std::string line_;
};

// The simulated host's command runner with each command stamped: every command is a process
// start on Windows.
class StampedCommands : public zelvora::CommandRunner {
 public:
  StampedCommands(zelvora::CommandRunner* inner, Timeline* timeline)
      : inner_(inner), timeline_(timeline) {}
  bool Run(const std::string& command, uint32_t timeout_ms, bool log_failure) override {
    const double at = timeline_->Now();
    const bool ok = inner_->Run(command, timeout_ms, log_failure);
    timeline_->Add(at, timeline_->Now() - at, "CMD " + command);
    return ok;
  }

 private:
  zelvora::CommandRunner* inner_;
  Timeline* timeline_;
};

// The simulated machine with the engine's system calls stamped (no process start): each
// adapter listing (the engine looks for the tunnel's adapter by listing them), each route and
// address it adds through IP Helper, and each write of an adapter's DNS servers (where DNS
// protection begins).
class StampedHost : public standin_adapters::StandinHost {
 public:
  explicit StampedHost(Timeline* timeline)
      : StandinHost(simhost::HomeMachine()), timeline_(timeline) {}
  zelvora::ReadStatus ListAdapters(zelvora::AdapterListing listing,
                                   std::vector<zelvora::AdapterInfo>* adapters) override {
    const double at = timeline_->Now();
    const zelvora::ReadStatus status = StandinHost::ListAdapters(listing, adapters);
    timeline_->Add(at, timeline_->Now() - at, kListing);
    return status;
  }
  uint32_t AddIpv4Route(const zelvora::Ipv4RouteToAdd& route) override {
    const double at = timeline_->Now();
    const uint32_t error = StandinHost::AddIpv4Route(route);
    timeline_->Add(at, timeline_->Now() - at,
                   "IPH route " + simhost::Dotted(route.destination) + "/" +
                       std::to_string(route.prefix_length));
    return error;
  }
  uint32_t AddUnicastAddress(uint64_t luid, uint32_t if_index, zelvora::Ipv4Address address,
                             uint8_t prefix_length) override {
    const double at = timeline_->Now();
    const uint32_t error = StandinHost::AddUnicastAddress(luid, if_index, address, prefix_length);
    timeline_->Add(at, timeline_->Now() - at, "IPH address " + simhost::Dotted(address));
    return error;
  }
  zelvora::SystemCallResult SetAdapterDnsServers(uint64_t luid, bool ipv6,
                                                 const std::vector<std::string>& servers) override {
    const double at = timeline_->Now();
    const auto result = StandinHost::SetAdapterDnsServers(luid, ipv6, servers);
    timeline_->Add(at, timeline_->Now() - at, "CALL SetInterfaceDnsSettings");
    return result;
  }

  static constexpr char kListing[] = "LIST adapters";

 private:
  Timeline* timeline_;
};

// The steps of a TUN-mode start, each ending where the engine reports the next one begins: the
// first event (after the previous step's) whose text starts with `until`. Fixed waits inside a
// step are named so they can be taken out; a step that is another program's time is shown but
// not counted as ours.
struct Step {
  const char* name;
  const char* until;
  double fixed_ms;
  bool ours = true;
};
// The events the benchmark adds from the tun2socks stand-in's own readings.
constexpr char kTun2socksMain[] = "TUN2SOCKS main began";
constexpr char kTun2socksAdapter[] = "TUN2SOCKS adapter exists";
const Step kSteps[] = {
    {"adapter, metadata, injection", "VPN Service: Added routing rules", 0},
    {"write, validate, launch xray", "VPN Service: Xray started successfully", 0},
    {"fixed wait after xray", "VPN Service: Analyzing config", 200},
    {"SOCKS listen wait", "VPN Service: Starting Tun2Socks", 0},
    {"launch tun2socks", "VPN Service: Waiting for Zelvora adapter", 0},
    {"tun2socks creating its adapter (not ours)", kTun2socksAdapter, 0, false},
    {"engine noticing the adapter + fixed wait", "IPH address", 400},
    {"tunnel address (until it shows)", "IPH route", 0},
    {"bypass routes, SOCKS probe", "VPN Service: Adding default route", 0},
    {"default route (until it wins), TUN probe, diagnostics", "CALL SetInterfaceDnsSettings", 200},
    {"DNS protection, ready", "", 0},
};
constexpr size_t kStepCount = sizeof(kSteps) / sizeof(kSteps[0]);

// Where the engine's noticing of the adapter goes: the time the adapter existed before the
// engine next looked, and the adapter listings from then on.
struct Noticing {
  double unseen_ms = 0;
  double listing_ms = 0;
  size_t listings = 0;
};

struct Breakdown {
  double step_ms[kStepCount] = {};
  double outside_ms = 0;  // the steps that are not ours
  Noticing noticing;
  size_t commands = 0;
  double command_ms = 0;
};

// The engine's noticing between the adapter's creation (`created`) and its first command on it.
Noticing Notice(const std::vector<Event>& ordered, double created, double until) {
  Noticing noticing;
  double first_look = -1;
  for (const Event& event : ordered) {
    // A listing sees the adapter when it reads the machine, near its end: one that began just
    // before the adapter came to exist may already show it.
    const double looked = event.at + event.took;
    if (event.what != StampedHost::kListing || looked < created || event.at >= until) continue;
    if (first_look < 0) first_look = looked;
    ++noticing.listings;
    noticing.listing_ms += event.took;
  }
  noticing.unseen_ms = first_look < 0 ? 0 : first_look - created;
  return noticing;
}

// Splits a start's timeline at the steps' boundaries (the last step ends at `ready_ms`) and
// takes each step's fixed waits and probes out of it.
Breakdown Split(const std::vector<Event>& events, double ready_ms) {
  Breakdown breakdown;
  std::vector<Event> ordered = events;
  std::stable_sort(ordered.begin(), ordered.end(),
                   [](const Event& a, const Event& b) { return a.at < b.at; });
  double from = 0;
  size_t next = 0;
  for (size_t step = 0; step < kStepCount; ++step) {
    double until = ready_ms;
    if (kSteps[step].until[0] != '\0') {
      for (size_t i = next; i < ordered.size(); ++i) {
        if (ordered[i].what.rfind(kSteps[step].until, 0) == 0) {
          until = ordered[i].at;
          next = i;
          break;
        }
      }
    }
    until = std::max(from, until);
    double probes = 0;
    for (const Event& event : ordered) {
      if (event.what == "PROBE" && event.at >= from && event.at < until) probes += event.took;
    }
    breakdown.step_ms[step] = until - from - kSteps[step].fixed_ms - probes;
    if (!kSteps[step].ours) breakdown.outside_ms += breakdown.step_ms[step];
    if (step > 0 && kSteps[step - 1].until == kTun2socksAdapter) {
      breakdown.noticing = Notice(ordered, from, until);
    }
    from = until;
  }
  for (const Event& event : ordered) {
    if (event.what.rfind("CMD ", 0) != 0) continue;
    ++breakdown.commands;
    breakdown.command_ms += event.took;
  }
  return breakdown;
}

// The time of the first event whose text starts with `prefix`; -1 when there is none.
double FirstAt(const std::vector<Event>& events, const std::string& prefix) {
  double at = -1;
  for (const Event& event : events) {
    if (event.what.rfind(prefix, 0) == 0 && (at < 0 || event.at < at)) at = event.at;
  }
  return at;
}

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

void PrintCommands(const char* what, const simhost::SimulatedHost& host) {
  std::printf("commands of the last %s (%zu):\n", what, host.Commands().size());
  for (const simhost::CommandRecord& record : host.Commands()) {
    std::printf("  %s\n", record.command.c_str());
  }
}

// A stop while a 10,000-entry LAN list is being routed; false when the list was never reached.
bool TimeStopDuringLanList(zelvora::VpnService& engine, simhost::SimulatedHost& host,
                           uint16_t server_port) {
  engine.Stop(false);
  if (!engine.Start(ConfigWithLan(server_port, 10000)).empty()) return false;
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  for (;;) {
    // Routing has reached the list's sixth entry when the host sends 10.100.5.9 around the
    // tunnel by a /24 route.
    simhost::RouteChoice choice;
    if (host.LookupRoute(simhost::Ip("10.100.5.9"), &choice) && choice.mask == 0xFFFFFF00u) break;
    if (!engine.IsRunning() || Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const auto stop = Clock::now();
  engine.Stop(false);
  std::printf("stop during a 10,000-entry LAN list: %.0f ms (goal < 500)\n",
              Ms(Clock::now() - stop));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const bool show_timeline = argc > 1 && std::string(argv[1]) == "--timeline";

  ::SetCurrentDirectoryW(core_standin::Root().c_str());
  const std::chrono::microseconds process_start = MeasureProcessStart();
  Timeline timeline;
  StampedHost host(&timeline);
  host.SetProcessStartCost(process_start);
  session_world::World world(host);

  StampedLines stamped_lines(&timeline);
  std::streambuf* const console = std::cerr.rdbuf(&stamped_lines);
  StampedCommands stamped_commands(host.Seams().commands, &timeline);
  std::atomic<long long> probe_ns{0};
  zelvora::VpnServiceEnvironment environment = world.Environment();
  environment.host.commands = &stamped_commands;
  // Probes are the network's time, not ours: each is stamped so its step can leave it out.
  const auto timed_probe = [&](const std::function<int32_t()>& probe) {
    const double at = timeline.Now();
    const int32_t result = probe();
    const double took = timeline.Now() - at;
    timeline.Add(at, took, "PROBE");
    probe_ns += static_cast<long long>(took * 1e6);
    return result;
  };
  environment.probe_through_socks = [&](uint16_t port, const std::string& u) {
    return timed_probe([&] { return ProbeThroughSocks(port, u); });
  };
  environment.probe_direct = [&](const std::string& source, const std::string& u) {
    // Only a probe whose source address the host routes into the tunnel gets through.
    return timed_probe([&] {
      return standin_adapters::IntoTunnel(host, source) ? ProbeDirect("127.0.0.1", u) : -1;
    });
  };
  zelvora::VpnService engine(std::move(environment));

  const int rounds = 7;
  double own_sum = 0, counted_before_sum = 0, total_sum = 0, program_start_sum = 0;
  long fast_sum = 0, stop_sum = 0, stop_wall_sum = 0;
  Breakdown sum;
  size_t log_line_sum = 0;
  int connect_starts = 0, disconnect_starts = 0;  // of the last round
  for (int round = 0; round < rounds; ++round) {
    engine.Stop(false);
    host.ClearCommands();
    probe_ns = 0;
    const int starts_before = host.ProcessStarts();
    const size_t log_before_start = LogText().size();
    timeline.Begin();
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
    connect_starts = host.ProcessStarts() - starts_before;
    const bool last = round == rounds - 1;
    if (last) PrintCommands("connect", host);
    core_standin::Tun2socksDeviceRecord adapter{};
    if (!core_standin::ReadTun2socksDevice(&adapter) || adapter.created_at == 0) {
      std::printf("the tun2socks stand-in recorded no adapter creation\n");
      return 1;
    }
    timeline.Add(timeline.AtReading(adapter.started_at), 0, kTun2socksMain);
    timeline.Add(timeline.AtReading(adapter.created_at), 0, kTun2socksAdapter);
    const Breakdown breakdown = Split(timeline.Events(), total);
    // As counted before the stand-in recorded its adapter: tun2socks' creation time inside.
    const double counted_before = total - kFixedWaitsMs - probe_ns / 1e6;
    const double own = counted_before - breakdown.outside_ms;
    // Of the outside program's time, how much passed before its main ran (the system loading it).
    const double program_start =
        std::max(0.0, FirstAt(timeline.Events(), kTun2socksMain) -
                          FirstAt(timeline.Events(), "VPN Service: Waiting for Zelvora adapter"));
    const std::string start_log = LogText().substr(log_before_start);
    const size_t log_lines =
        static_cast<size_t>(std::count(start_log.begin(), start_log.end(), '\n'));
    if (show_timeline && last) {
      std::vector<Event> ordered = timeline.Events();
      std::stable_sort(ordered.begin(), ordered.end(),
                       [](const Event& a, const Event& b) { return a.at < b.at; });
      for (const Event& event : ordered) {
        std::printf("  %8.1f ms %+7.1f  %.100s\n", event.at, event.took, event.what.c_str());
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const size_t log_from = LogText().size();
    host.ClearCommands();
    const int stop_starts_before = host.ProcessStarts();
    const auto stop_start = Clock::now();
    engine.Stop(true);
    const long stop_wall = static_cast<long>(Ms(Clock::now() - stop_start));
    disconnect_starts = host.ProcessStarts() - stop_starts_before;
    if (last) PrintCommands("disconnect", host);
    const std::string log = LogText();
    const long fast = LastFigure(log, log_from, "DNS guard removed in ");
    const long stop = LastFigure(log, log_from, "Stop completed in ");
    std::printf(
        "round %d: start->ready %.0f ms, own work %.0f ms (as counted before %.0f ms), "
        "%zu commands; stop: fast-disconnect %ld ms, completed %ld ms (wall %ld ms)\n",
        round + 1, total, own, counted_before, breakdown.commands, fast, stop, stop_wall);
    if (round > 0) {  // the first round pays for loading the programs from disk
      own_sum += own;
      counted_before_sum += counted_before;
      program_start_sum += program_start;
      total_sum += total;
      fast_sum += fast;
      stop_sum += stop;
      stop_wall_sum += stop_wall;
      for (size_t step = 0; step < kStepCount; ++step) sum.step_ms[step] += breakdown.step_ms[step];
      sum.noticing.unseen_ms += breakdown.noticing.unseen_ms;
      sum.noticing.listing_ms += breakdown.noticing.listing_ms;
      sum.noticing.listings += breakdown.noticing.listings;
      sum.commands += breakdown.commands;
      log_line_sum += log_lines;
      sum.command_ms += breakdown.command_ms;
    }
  }
  std::cerr.rdbuf(console);
  const int n = rounds - 1;
  std::printf("\nown work by step, mean of rounds 2-%d (fixed waits and probes taken out):\n",
              rounds);
  for (size_t step = 0; step < kStepCount; ++step) {
    std::printf("  %-50s %6.1f ms\n", kSteps[step].name, sum.step_ms[step] / n);
    if (!kSteps[step].ours) {
      std::printf("    %-48s %6.1f ms\n", "of which before its main ran", program_start_sum / n);
    }
    if (step > 0 && kSteps[step - 1].until == kTun2socksAdapter) {
      std::printf("    %-48s %6.1f ms\n", "of which the adapter existed, not yet looked for",
                  sum.noticing.unseen_ms / n);
      std::printf("    %-48s %6.1f ms in %.1f listings\n", "of which listing adapters",
                  sum.noticing.listing_ms / n, static_cast<double>(sum.noticing.listings) / n);
    }
  }
  std::printf("  %-50s %6.1f ms in %.1f commands (each a process start on Windows)\n",
              "of which inside commands", sum.command_ms / n,
              static_cast<double>(sum.commands) / n);
  // What one tunnel-log line costs here: the start writes its progress there line by line.
  const auto log_start = Clock::now();
  for (int i = 0; i < 100; ++i) TunnelLogWrite("bench: log line cost " + std::to_string(i));
  const double line_ms = Ms(Clock::now() - log_start) / 100;
  std::printf("  %-50s %6.1f ms in %.1f lines of %.2f ms each\n", "of which writing the tunnel log",
              line_ms * log_line_sum / n, static_cast<double>(log_line_sum) / n, line_ms);
  std::printf(
      "\nmean of rounds 2-%d: start->ready %.0f ms, our own work %.0f ms (goal < 200, %.2fx of "
      "it);\n"
      "  counted with tun2socks' adapter creation inside (as before) %.0f ms, own work %.2fx of "
      "that\n"
      "  fast-disconnect done %ld ms after Stop (goal < 50), "
      "Stop completed %ld ms (goal < 300), Stop returned %ld ms\n",
      rounds, total_sum / n, own_sum / n, own_sum / n / 200, counted_before_sum / n,
      own_sum / counted_before_sum, fast_sum / n, stop_sum / n, stop_wall_sum / n);
  std::printf(
      "process starts: connect %d commands + 2 programs (xray, tun2socks), disconnect %d; "
      "each command costs %.1f ms here (measured: cmd.exe run hidden)\n",
      connect_starts, disconnect_starts, process_start.count() / 1000.0);
  if (!TimeStopDuringLanList(engine, host, world.server.port())) {
    std::printf("the LAN list was never reached\n");
    return 1;
  }
  return 0;
}
