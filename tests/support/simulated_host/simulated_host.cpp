// The simulated host's IP Helper reads and writes, its adapter driver and its fault book.
#include "simulated_host/simulated_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <tuple>

#include "simulated_host/host_edits.h"
#include "simulated_host/sim_text.h"

namespace simhost {
namespace {

constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorNotFound = 1168;

}  // namespace

SimulatedHost::SimulatedHost(HostState initial) : state_(std::move(initial)) {}

zelvora::HostSeams SimulatedHost::Seams() {
  return zelvora::HostSeams{this, this, this, &filtering_};
}

bool SimulatedHost::WouldAllow(SimPacket packet, const std::wstring& adapter_name) const {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto adapter = std::find_if(state_.adapters.begin(), state_.adapters.end(),
                                      [&](const Adapter& a) { return a.name == adapter_name; });
    if (adapter == state_.adapters.end()) {
      ADD_FAILURE() << "simulated host: no adapter of that name";
      return false;
    }
    packet.interfaceLuid = adapter->luid;
    packet.loopback = adapter->loopback;
  }
  return filtering_.WouldAllow(packet);
}

HostState SimulatedHost::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

void SimulatedHost::Edit(const std::function<void(HostState&)>& change) {
  std::lock_guard<std::mutex> lock(mutex_);
  change(state_);
}

void SimulatedHost::SetHostAddresses(const std::string& name, std::vector<std::string> addresses) {
  std::lock_guard<std::mutex> lock(mutex_);
  resolver_[name] = std::move(addresses);
}

void SimulatedHost::InjectFault(Op op, int times, zelvora::ReadStatus read_status, uint32_t error) {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_[op] = Fault{times, read_status, error};
}

void SimulatedHost::InjectCommandFault(const std::string& prefix, CommandFault fault, int times,
                                       std::chrono::milliseconds delay) {
  std::lock_guard<std::mutex> lock(mutex_);
  command_faults_.push_back({prefix, fault, times, delay});
}

void SimulatedHost::OverrideBestRoute(uint32_t if_index, uint32_t next_hop) {
  std::lock_guard<std::mutex> lock(mutex_);
  best_route_override_ = true;
  best_if_index_ = if_index;
  best_next_hop_ = next_hop;
}

std::vector<CommandRecord> SimulatedHost::Commands() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return commands_;
}

void SimulatedHost::ClearCommands() {
  std::lock_guard<std::mutex> lock(mutex_);
  commands_.clear();
}

int SimulatedHost::FlushCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return flush_count_;
}

uint32_t SimulatedHost::HungMilliseconds() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return hung_ms_;
}

size_t SimulatedHost::OpenWintunHandles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return handles_.size();
}

bool SimulatedHost::WintunLoaded() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return wintun_loaded_;
}

bool SimulatedHost::TakeFault(Op op, Fault* fault) {
  auto found = faults_.find(op);
  if (found == faults_.end() || found->second.remaining <= 0) return false;
  --found->second.remaining;
  *fault = found->second;
  return true;
}

// ---- IP Helper ----

zelvora::ReadStatus SimulatedHost::ListAdapters(zelvora::AdapterListing listing,
                                                std::vector<zelvora::AdapterInfo>* adapters) {
  std::lock_guard<std::mutex> lock(mutex_);
  adapters->clear();
  Fault fault;
  if (TakeFault(Op::kListAdapters, &fault)) return fault.read_status;
  const bool with_dns = listing == zelvora::AdapterListing::kAllFamilies;
  for (const Adapter& adapter : state_.adapters) {
    if (listing == zelvora::AdapterListing::kIpv4 && adapter.if_index == 0) continue;
    zelvora::AdapterInfo info;
    info.friendly_name = adapter.name;
    info.description = adapter.description;
    info.luid = adapter.luid;
    info.if_index = adapter.if_index;
    info.ipv6_if_index = adapter.ipv6_if_index;
    info.oper_up = adapter.oper_up && adapter.admin_enabled;
    info.software_loopback = adapter.loopback;
    info.dhcpv4_enabled = adapter.dhcpv4;
    info.dns_v4_static = !adapter.static_dns_v4.empty();
    info.dns_v6_static = !adapter.static_dns_v6.empty();
    if (with_dns) {
      for (const std::string& server : adapter.ReportedDnsV4())
        info.dns_servers.push_back({true, server});
      for (const std::string& server : adapter.ReportedDnsV6())
        info.dns_servers.push_back({false, server});
    }
    for (const Address& address : adapter.addresses) {
      info.ipv4_addresses.push_back({address.text, address.prefix_length});
    }
    adapters->push_back(std::move(info));
  }
  return zelvora::ReadStatus::kOk;
}

std::vector<zelvora::Ipv4Route> SimulatedHost::ReportedRoutes() const {
  std::vector<zelvora::Ipv4Route> routes;
  for (const Route& route : state_.routes) {
    uint32_t interface_metric = 0;
    for (const Adapter& adapter : state_.adapters) {
      if (adapter.if_index == route.if_index) interface_metric = adapter.interface_metric;
    }
    routes.push_back({route.destination, route.mask, route.next_hop, route.if_index,
                      route.route_metric + interface_metric});
  }
  // The sorted table: by destination, then mask, then next hop, then interface.
  std::stable_sort(routes.begin(), routes.end(),
                   [](const zelvora::Ipv4Route& a, const zelvora::Ipv4Route& b) {
                     return std::tie(a.destination, a.mask, a.next_hop, a.if_index) <
                            std::tie(b.destination, b.mask, b.next_hop, b.if_index);
                   });
  return routes;
}

zelvora::ReadStatus SimulatedHost::ReadIpv4Routes(std::vector<zelvora::Ipv4Route>* routes) {
  std::lock_guard<std::mutex> lock(mutex_);
  routes->clear();
  Fault fault;
  if (TakeFault(Op::kReadRoutes, &fault)) return fault.read_status;
  *routes = ReportedRoutes();
  return zelvora::ReadStatus::kOk;
}

bool SimulatedHost::DeleteIpv4Route(const zelvora::Ipv4Route& route) {
  std::lock_guard<std::mutex> lock(mutex_);
  Fault fault;
  if (TakeFault(Op::kDeleteRoute, &fault)) return false;
  for (auto it = state_.routes.begin(); it != state_.routes.end(); ++it) {
    if (it->destination == route.destination && it->mask == route.mask &&
        it->next_hop == route.next_hop && it->if_index == route.if_index) {
      // IP Helper deletes from the active store; a persistent route comes back at the restart.
      if (it->store == Store::kPersistent) {
        for (const Adapter& adapter : state_.adapters) {
          if (adapter.if_index != it->if_index) continue;
          Route kept = *it;
          kept.if_index = 0;
          StoredFor(state_, adapter).routes.push_back(kept);
        }
      }
      state_.routes.erase(it);
      return true;
    }
  }
  return false;
}

uint32_t SimulatedHost::GetBestRoute(zelvora::Ipv4Address destination, zelvora::Ipv4Route* out) {
  std::lock_guard<std::mutex> lock(mutex_);
  Fault fault;
  if (TakeFault(Op::kBestRoute, &fault)) return fault.error;
  RouteChoice choice;
  const bool found = simhost::LookupRoute(state_, destination, 0, &choice);
  if (best_route_override_) {
    *out = {0, 0, best_next_hop_, best_if_index_, found ? choice.metric : 0};
    return 0;
  }
  if (!found) return kErrorNotFound;
  *out = {destination & choice.mask, choice.mask, choice.next_hop, choice.if_index, choice.metric};
  return 0;
}

bool SimulatedHost::ReadIpv6DefaultRoute(bool* present) {
  std::lock_guard<std::mutex> lock(mutex_);
  Fault fault;
  *present = false;
  if (TakeFault(Op::kReadIpv6Routes, &fault)) return false;
  *present = state_.ipv6_default_route;
  return true;
}

bool SimulatedHost::DeleteUnicastAddress(uint64_t luid, uint32_t if_index,
                                         const std::string& address) {
  std::lock_guard<std::mutex> lock(mutex_);
  Fault fault;
  if (TakeFault(Op::kDeleteAddress, &fault)) return false;
  uint32_t value = 0;
  if (!ParseDotted(address, &value)) return false;
  for (Adapter& adapter : state_.adapters) {
    if (adapter.luid != luid || adapter.if_index != if_index) continue;
    for (auto it = adapter.addresses.begin(); it != adapter.addresses.end(); ++it) {
      if (it->text != address) continue;
      adapter.addresses.erase(it);
      // The address's on-link routes go with it.
      state_.routes.erase(std::remove_if(state_.routes.begin(), state_.routes.end(),
                                         [&](const Route& r) {
                                           return r.if_index == if_index && r.next_hop == value;
                                         }),
                          state_.routes.end());
      return true;
    }
  }
  return false;
}

bool SimulatedHost::GetInterfaceMetric(uint32_t if_index, zelvora::InterfaceMetric* row) {
  std::lock_guard<std::mutex> lock(mutex_);
  Fault fault;
  if (TakeFault(Op::kGetMetric, &fault)) return false;
  for (const Adapter& adapter : state_.adapters) {
    if (adapter.if_index != if_index || if_index == 0) continue;
    row->metric = adapter.interface_metric;
    row->automatic = adapter.automatic_metric;
    return true;
  }
  return false;
}

bool SimulatedHost::SetInterfaceMetric(uint32_t if_index, const zelvora::InterfaceMetric& row) {
  std::lock_guard<std::mutex> lock(mutex_);
  Fault fault;
  if (TakeFault(Op::kSetMetric, &fault)) return false;
  for (Adapter& adapter : state_.adapters) {
    if (adapter.if_index != if_index || if_index == 0) continue;
    adapter.interface_metric = row.metric;
    adapter.automatic_metric = row.automatic;
    return true;
  }
  return false;
}

std::vector<std::string> SimulatedHost::ResolveIpv4(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  Fault fault;
  if (TakeFault(Op::kResolve, &fault)) return {};
  auto found = resolver_.find(name);
  if (found != resolver_.end()) return found->second;
  // A dotted quad is its own address, as Windows' resolver gives it back without a lookup.
  int parts = 0;
  unsigned values[4] = {};
  char tail = 0;
  if (std::sscanf(name.c_str(), "%3u.%3u.%3u.%3u%c", &values[0], &values[1], &values[2], &values[3],
                  &tail) == 4 &&
      values[0] < 256 && values[1] < 256 && values[2] < 256 && values[3] < 256) {
    parts = 4;
  }
  return parts == 4 ? std::vector<std::string>{name} : std::vector<std::string>();
}

// ---- Adapter DNS servers and the resolver cache ----

void SimulatedHost::InjectNoEffect(Op op, int times) {
  std::lock_guard<std::mutex> lock(mutex_);
  no_effect_[op] = times;
}

void SimulatedHost::RemoveSystemCall(Op op) {
  std::lock_guard<std::mutex> lock(mutex_);
  missing_calls_.push_back(op);
}

zelvora::SystemCallResult SimulatedHost::TakeCallOutcome(Op op, bool* no_effect) {
  *no_effect = false;
  if (std::find(missing_calls_.begin(), missing_calls_.end(), op) != missing_calls_.end()) {
    return zelvora::SystemCallResult::kMissing;
  }
  Fault fault;
  if (TakeFault(op, &fault)) return zelvora::SystemCallResult::kFailed;
  auto found = no_effect_.find(op);
  if (found != no_effect_.end() && found->second > 0) {
    --found->second;
    *no_effect = true;
  }
  return zelvora::SystemCallResult::kDone;
}

zelvora::SystemCallResult SimulatedHost::SetAdapterDnsServers(
    uint64_t luid, bool ipv6, const std::vector<std::string>& servers) {
  std::lock_guard<std::mutex> lock(mutex_);
  bool no_effect = false;
  const zelvora::SystemCallResult outcome = TakeCallOutcome(Op::kSetDnsServers, &no_effect);
  if (outcome != zelvora::SystemCallResult::kDone) return outcome;
  // The interface is named by the GUID of its LUID: an adapter that is gone has none.
  const auto adapter = std::find_if(state_.adapters.begin(), state_.adapters.end(),
                                    [luid](const Adapter& a) { return a.luid == luid; });
  if (adapter == state_.adapters.end()) return zelvora::SystemCallResult::kFailed;
  // Every server must be an address of the family the flags name.
  for (const std::string& server : servers) {
    uint32_t value = 0;
    if (ipv6 ? !LooksLikeIpv6(server) : !ParseDotted(server, &value)) {
      return zelvora::SystemCallResult::kFailed;
    }
  }
  if (!no_effect) (ipv6 ? adapter->static_dns_v6 : adapter->static_dns_v4) = servers;
  return zelvora::SystemCallResult::kDone;
}

zelvora::SystemCallResult SimulatedHost::FlushResolverCache() {
  std::lock_guard<std::mutex> lock(mutex_);
  bool no_effect = false;
  const zelvora::SystemCallResult outcome = TakeCallOutcome(Op::kFlushResolver, &no_effect);
  if (outcome == zelvora::SystemCallResult::kDone && !no_effect) ++flush_count_;
  return outcome;
}

// ---- Route and address changes ----

Adapter* SimulatedHost::InterfaceFor(uint64_t luid, uint32_t if_index) {
  for (Adapter& adapter : state_.adapters) {
    if (luid != 0 ? adapter.luid == luid : adapter.if_index == if_index) return &adapter;
  }
  return nullptr;
}

uint32_t SimulatedHost::AddIpv4Route(const zelvora::Ipv4RouteToAdd& route) {
  std::lock_guard<std::mutex> lock(mutex_);
  Fault fault;
  if (TakeFault(Op::kAddRoute, &fault)) return fault.error;
  if (route.luid == 0 && route.if_index == 0) return kErrorInvalidParameter;
  if (route.prefix_length > 32) return kErrorInvalidParameter;
  const uint32_t mask = MaskOfLength(route.prefix_length);
  if ((route.destination & mask) != route.destination) return kErrorInvalidParameter;
  const Adapter* adapter = InterfaceFor(route.luid, route.if_index);
  if (adapter == nullptr || adapter->if_index == 0) return kErrorNotFound;
  for (const Route& r : state_.routes) {
    if (r.destination == route.destination && r.mask == mask && r.next_hop == route.next_hop &&
        r.if_index == adapter->if_index) {
      return zelvora::kErrorObjectAlreadyExists;
    }
  }
  // Not written to the persistent store: gone at the restart.
  state_.routes.push_back(
      {route.destination, mask, route.next_hop, adapter->if_index, route.metric, Store::kActive});
  return 0;
}

uint32_t SimulatedHost::AddUnicastAddress(uint64_t luid, uint32_t if_index,
                                          zelvora::Ipv4Address address, uint8_t prefix_length) {
  std::lock_guard<std::mutex> lock(mutex_);
  Fault fault;
  if (TakeFault(Op::kAddAddress, &fault)) return fault.error;
  if ((luid == 0 && if_index == 0) || prefix_length > 32) return kErrorInvalidParameter;
  Adapter* adapter = InterfaceFor(luid, if_index);
  if (adapter == nullptr || adapter->if_index == 0) return kErrorNotFound;
  const std::string text = Dotted(address);
  for (const Address& existing : adapter->addresses) {
    if (existing.text == text) return zelvora::kErrorObjectAlreadyExists;
  }
  // Beside the addresses the interface has, with its on-link routes; gone at the restart.
  AddAddress(state_, *adapter, text, prefix_length, /*active_only=*/true);
  return 0;
}

// ---- Adapter driver ----

zelvora::WintunLoadResult SimulatedHost::LoadWintun(const std::wstring&, uint32_t* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  Fault fault;
  if (TakeFault(Op::kLoadWintun, &fault)) {
    if (error != nullptr) *error = fault.error;
    return zelvora::WintunLoadResult::kLoadFailed;
  }
  wintun_loaded_ = true;
  return zelvora::WintunLoadResult::kLoaded;
}

void SimulatedHost::UnloadWintun() {
  std::lock_guard<std::mutex> lock(mutex_);
  wintun_loaded_ = false;
}

zelvora::WintunAdapter SimulatedHost::OpenAdapter(const std::wstring& name, uint32_t* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  Fault fault;
  if (!wintun_loaded_ || TakeFault(Op::kOpenAdapter, &fault)) {
    if (error != nullptr) *error = kErrorFileNotFound;
    return 0;
  }
  // Wintun opens an adapter by its name among Wintun devices.
  for (const Adapter& adapter : state_.adapters) {
    if (adapter.name == name && adapter.instance_id.rfind(L"SWD\\Wintun\\", 0) == 0) {
      const zelvora::WintunAdapter handle = next_handle_++;
      handles_[handle] = {adapter.instance_id, false};
      return handle;
    }
  }
  if (error != nullptr) *error = kErrorFileNotFound;
  return 0;
}

zelvora::WintunAdapter SimulatedHost::CreateAdapter(const std::wstring& name,
                                                    const std::wstring& tunnel_type,
                                                    const std::wstring& requested_guid,
                                                    uint32_t* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  Fault fault;
  if (!wintun_loaded_ || TakeFault(Op::kCreateAdapter, &fault)) {
    if (error != nullptr) *error = fault.error != 0 ? fault.error : 5;
    return 0;
  }
  Adapter* adapter = nullptr;
  CreateAdapterLocked(kAppProcess, name, tunnel_type, requested_guid, &adapter);
  adapter->oper_up = true;
  const zelvora::WintunAdapter handle = next_handle_++;
  handles_[handle] = {adapter->instance_id, true};
  return handle;
}

void SimulatedHost::CloseAdapter(zelvora::WintunAdapter adapter) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = handles_.find(adapter);
  if (found == handles_.end()) return;
  if (found->second.created) RemoveAdapter(state_, found->second.instance_id);
  handles_.erase(found);
}

bool SimulatedHost::ListNetDevices(std::vector<zelvora::NetDevice>* devices, uint32_t* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  devices->clear();
  Fault fault;
  if (TakeFault(Op::kListDevices, &fault)) {
    if (error != nullptr) *error = fault.error;
    return false;
  }
  for (const Device& device : state_.devices) {
    devices->push_back({device.friendly_name, device.description, device.instance_id});
  }
  return true;
}

zelvora::DeviceRemovalResult SimulatedHost::RemoveNetDevice(const std::wstring& instance_id,
                                                            uint32_t* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  Fault fault;
  if (TakeFault(Op::kRemoveDevice, &fault)) {
    if (error != nullptr) *error = fault.error;
    return zelvora::DeviceRemovalResult::kRemoveFailed;
  }
  for (const Device& device : state_.devices) {
    if (device.instance_id != instance_id) continue;
    RemoveAdapter(state_, instance_id);
    // Handles to a removed adapter are dead; closing them later does nothing.
    for (auto& entry : handles_) {
      if (entry.second.instance_id == instance_id) entry.second.created = false;
    }
    return zelvora::DeviceRemovalResult::kRemoved;
  }
  return zelvora::DeviceRemovalResult::kOpenFailed;
}

bool SimulatedHost::ListNetworks(std::vector<zelvora::NetworkProfile>* networks) {
  std::lock_guard<std::mutex> lock(mutex_);
  networks->clear();
  Fault fault;
  if (TakeFault(Op::kListNetworks, &fault)) return false;
  for (const Network& network : state_.networks) networks->push_back({network.id, network.name});
  return true;
}

bool SimulatedHost::RenameNetwork(const std::wstring& id, const std::wstring& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  Fault fault;
  if (TakeFault(Op::kRenameNetwork, &fault)) return false;
  for (Network& network : state_.networks) {
    if (network.id != id) continue;
    network.name = name;
    return true;
  }
  return false;
}

}  // namespace simhost
