// A simulated Windows host behind the engine's seams: one HostState that the IP Helper calls
// read and change, the command interpreter changes and the adapter driver creates and removes
// devices in.
//
// The interpreter accepts exactly the netsh and ipconfig forms the engine is meant to emit
// (quoting included) and fails the running test on any other command line, so a typo or an
// unsafely quoted name is a red test. Faults can be injected per operation.
// Which Windows behaviours the simulation assumes is written down in ASSUMPTIONS.md.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "simulated_host/host_state.h"
#include "simulated_host/simulated_filtering_engine.h"
#include "vpn_engine/host/adapter_driver.h"
#include "vpn_engine/host/command_runner.h"
#include "vpn_engine/host/host_network.h"
#include "vpn_engine/host/host_seams.h"

namespace simhost {

// Operations a fault can be injected into.
enum class Op {
  kListAdapters,
  kReadRoutes,
  kDeleteRoute,
  kBestRoute,
  kReadIpv6Routes,
  kDeleteAddress,
  kGetMetric,
  kSetMetric,
  kResolve,
  kLoadWintun,
  kOpenAdapter,
  kCreateAdapter,
  kListDevices,
  kRemoveDevice,
  kListNetworks,
  kRenameNetwork,
  // Adapter DNS servers and the resolver cache (SetInterfaceDnsSettings, DnsFlushResolverCache).
  kSetDnsServers,
  kFlushResolver,
  // Route and address changes.
  kAddRoute,
  kAddAddress,
};

// What an injected fault does to a command.
enum class CommandFault {
  kFail,      // exits 1 without effect
  kHang,      // still running at its time-out: ended, exit 1, no effect
  kNoEffect,  // exits 0 but changes nothing (Windows applied it late or not at all)
  kSlow,      // takes `delay` of real time, then behaves normally (past its time-out: kHang)
};

// One command the engine ran, as the runner received it.
struct CommandRecord {
  std::string command;
  uint32_t timeout_ms = 0;
  bool log_failure = false;
  bool succeeded = false;
};

// The route Windows chooses for a packet: the longest matching prefix on an interface that is
// up, then the smallest sum of route and interface metric.
struct RouteChoice {
  uint32_t if_index = 0;
  uint32_t next_hop = 0;  // the interface's own address for an on-link destination
  uint32_t mask = 0;
  uint32_t metric = 0;
};
bool LookupRoute(const HostState& state, uint32_t destination, uint32_t source,
                 RouteChoice* choice);

class SimulatedHost : public zelvora::HostNetwork,
                      public zelvora::CommandRunner,
                      public zelvora::AdapterDriver {
 public:
  explicit SimulatedHost(HostState initial);

  zelvora::HostSeams Seams();

  // The host's filtering platform (WFP), with its leak question.
  SimulatedFilteringEngine& Filtering() { return filtering_; }
  // Would `packet`, sent through the adapter of this friendly name, get out?
  bool WouldAllow(SimPacket packet, const std::wstring& adapter_name) const;

  // Whole-state snapshot, comparable with ==.
  HostState Snapshot() const;
  // Direct access for scenario set-up in tests.
  void Edit(const std::function<void(HostState&)>& change);

  // Where a packet to `destination` (host order) leaves. `source` non-zero: the socket is bound
  // to that address, and the packet leaves only through the interface that has it.
  bool LookupRoute(uint32_t destination, RouteChoice* choice, uint32_t source = 0) const;

  // A Wintun adapter created by `process` through the driver, as Wintun creates it (renaming an
  // adapter that has the name already); `requested_guid` empty: a random one. `open_session`:
  // the creator opens a session at once, which brings the link up. The adapter's LUID.
  uint64_t CreateAdapterFor(ProcessId process, const std::wstring& name,
                            const std::wstring& tunnel_type, const std::wstring& requested_guid,
                            bool open_session);
  void SetSessionOpen(uint64_t luid, bool open);
  // The process ended (a crash or a kill included): the adapters it created go, and with the
  // engine's process its Wintun handles and filtering sessions.
  void EndProcess(ProcessId process);
  // A restart: every process ends, the active store is lost, the persistent store is applied.
  void Reboot();

  // Every command costs a process start; `cost` of real time each (none by default).
  void SetProcessStartCost(std::chrono::microseconds cost);
  int ProcessStarts() const;

  // Names the resolver knows.
  void SetHostAddresses(const std::string& name, std::vector<std::string> addresses);

  // The next `times` calls of `op` fail (reads: sizing failure unless `read_status` says
  // otherwise; best route: `error`).
  void InjectFault(Op op, int times = 1,
                   zelvora::ReadStatus read_status = zelvora::ReadStatus::kSizingFailed,
                   uint32_t error = 50);
  // The next `times` commands that start with `prefix` get `fault`.
  void InjectCommandFault(const std::string& prefix, CommandFault fault, int times = 1,
                          std::chrono::milliseconds delay = std::chrono::milliseconds(0));
  // ---- Adapter DNS servers and the resolver cache ----
  // The next `times` calls of `op` report success and change nothing (Windows applied it late or
  // not at all). For kSetDnsServers and kFlushResolver.
  void InjectNoEffect(Op op, int times = 1);
  // This Windows does not have the call behind `op` (SetInterfaceDnsSettings before Windows 10
  // build 19041): it answers kMissing, and the engine falls back to its commands.
  void RemoveSystemCall(Op op);

  // Answers GetBestRoute with this interface index and next hop instead of computing it.
  void OverrideBestRoute(uint32_t if_index, uint32_t next_hop);

  std::vector<CommandRecord> Commands() const;
  void ClearCommands();
  // Resolver-cache flushes, by the call or by ipconfig.
  int FlushCount() const;
  // Sum of the time-outs of commands that hung (the time a real run would have spent).
  uint32_t HungMilliseconds() const;
  // Wintun handles the driver has handed out and not closed.
  size_t OpenWintunHandles() const;
  bool WintunLoaded() const;

  // HostNetwork
  zelvora::ReadStatus ListAdapters(zelvora::AdapterListing listing,
                                   std::vector<zelvora::AdapterInfo>* adapters) override;
  zelvora::ReadStatus ReadIpv4Routes(std::vector<zelvora::Ipv4Route>* routes) override;
  bool DeleteIpv4Route(const zelvora::Ipv4Route& route) override;
  uint32_t GetBestRoute(zelvora::Ipv4Address destination, zelvora::Ipv4Route* route) override;
  bool ReadIpv6DefaultRoute(bool* present) override;
  bool DeleteUnicastAddress(uint64_t luid, uint32_t if_index, const std::string& address) override;
  bool GetInterfaceMetric(uint32_t if_index, zelvora::InterfaceMetric* row) override;
  bool SetInterfaceMetric(uint32_t if_index, const zelvora::InterfaceMetric& row) override;
  std::vector<std::string> ResolveIpv4(const std::string& name) override;
  zelvora::SystemCallResult SetAdapterDnsServers(uint64_t luid, bool ipv6,
                                                 const std::vector<std::string>& servers) override;
  zelvora::SystemCallResult FlushResolverCache() override;
  // Route and address changes.
  uint32_t AddIpv4Route(const zelvora::Ipv4RouteToAdd& route) override;
  uint32_t AddUnicastAddress(uint64_t luid, uint32_t if_index, zelvora::Ipv4Address address,
                             uint8_t prefix_length) override;

  // CommandRunner
  bool Run(const std::string& command, uint32_t timeout_ms, bool log_failure) override;

  // AdapterDriver
  zelvora::WintunLoadResult LoadWintun(const std::wstring& path, uint32_t* error) override;
  void UnloadWintun() override;
  zelvora::WintunAdapter OpenAdapter(const std::wstring& name, uint32_t* error) override;
  zelvora::WintunAdapter CreateAdapter(const std::wstring& name, const std::wstring& tunnel_type,
                                       const std::wstring& requested_guid,
                                       uint32_t* error) override;
  void CloseAdapter(zelvora::WintunAdapter adapter) override;
  bool ListNetDevices(std::vector<zelvora::NetDevice>* devices, uint32_t* error) override;
  zelvora::DeviceRemovalResult RemoveNetDevice(const std::wstring& instance_id,
                                               uint32_t* error) override;
  bool ListNetworks(std::vector<zelvora::NetworkProfile>* networks) override;
  bool RenameNetwork(const std::wstring& id, const std::wstring& name) override;

 private:
  struct Fault {
    int remaining = 0;
    zelvora::ReadStatus read_status = zelvora::ReadStatus::kSizingFailed;
    uint32_t error = 0;
  };
  struct PendingCommandFault {
    std::string prefix;
    CommandFault fault;
    int remaining;
    std::chrono::milliseconds delay;
  };
  struct WintunHandle {
    std::wstring instance_id;
    bool created = false;  // closing a created adapter removes it
  };
  void CreateAdapterLocked(ProcessId process, const std::wstring& name,
                           const std::wstring& tunnel_type, std::wstring guid, Adapter** created);
  void PayProcessStart();

  bool TakeFault(Op op, Fault* fault);  // requires mutex_
  // Whether the call behind `op` exists, fails or has no effect this time. Requires mutex_.
  zelvora::SystemCallResult TakeCallOutcome(Op op, bool* no_effect);
  // The adapter IP Helper means: by LUID, or by index when the LUID is 0. Requires mutex_.
  Adapter* InterfaceFor(uint64_t luid, uint32_t if_index);
  // Interprets one command line against state_; false when it fails as Windows would.
  // A command of no known form fails the running test. Requires mutex_.
  bool Interpret(const std::string& command);
  std::vector<zelvora::Ipv4Route> ReportedRoutes() const;  // requires mutex_

  SimulatedFilteringEngine filtering_;
  mutable std::mutex mutex_;
  HostState state_;
  std::map<std::string, std::vector<std::string>> resolver_;
  std::map<Op, Fault> faults_;
  std::map<Op, int> no_effect_;
  std::vector<Op> missing_calls_;
  std::vector<PendingCommandFault> command_faults_;
  bool best_route_override_ = false;
  uint32_t best_if_index_ = 0;
  uint32_t best_next_hop_ = 0;
  std::vector<CommandRecord> commands_;
  int flush_count_ = 0;
  uint32_t hung_ms_ = 0;
  bool wintun_loaded_ = false;
  std::map<zelvora::WintunAdapter, WintunHandle> handles_;
  zelvora::WintunAdapter next_handle_ = 0x1000;
  uint32_t random_guids_ = 0;
  std::chrono::microseconds process_start_cost_{0};
  int process_starts_ = 0;
};

}  // namespace simhost
