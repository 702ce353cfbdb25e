// The simulated host's route lookup, its adapters' lives (created by a process, gone with it),
// and a restart that keeps only what the persistent store holds.
#include <algorithm>
#include <cwchar>
#include <thread>

#include "simulated_host/host_edits.h"
#include "simulated_host/simulated_host.h"

namespace simhost {

uint32_t MaskOfLength(uint8_t length) {
  return length == 0 ? 0 : static_cast<uint32_t>(0xFFFFFFFFull << (32 - length));
}

void AddAddress(HostState& state, Adapter& adapter, const std::string& text, uint8_t prefix,
                bool active_only) {
  adapter.addresses.push_back({text, prefix, active_only});
  uint32_t address = 0;
  ParseDotted(text, &address);
  const uint32_t mask = MaskOfLength(prefix);
  state.routes.push_back({address & mask, mask, address, adapter.if_index, 256});
  state.routes.push_back({address, 0xFFFFFFFFu, address, adapter.if_index, 256});
  state.routes.push_back({(address & mask) | ~mask, 0xFFFFFFFFu, address, adapter.if_index, 256});
}

void RemoveAddresses(HostState& state, Adapter& adapter) {
  for (const Address& address : adapter.addresses) {
    uint32_t value = 0;
    ParseDotted(address.text, &value);
    state.routes.erase(
        std::remove_if(
            state.routes.begin(), state.routes.end(),
            [&](const Route& r) { return r.if_index == adapter.if_index && r.next_hop == value; }),
        state.routes.end());
  }
  adapter.addresses.clear();
}

namespace {

// Windows compares interface names without regard to ASCII case.
bool SameNameIgnoringCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x - L'A' + L'a');
    if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y - L'A' + L'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

StoredInterface& StoredFor(HostState& state, const Adapter& adapter) {
  for (StoredInterface& stored : state.stored_interfaces) {
    if (stored.instance_id == adapter.instance_id) return stored;
  }
  state.stored_interfaces.push_back({adapter.instance_id, adapter.luid, {}, {}, false, 0});
  return state.stored_interfaces.back();
}

namespace {

// The persistent part of an adapter's settings, kept when the adapter goes.
void KeepPersistentSettings(HostState& state, const Adapter& adapter) {
  std::vector<Address> addresses;
  if (!adapter.dhcpv4) {
    for (const Address& address : adapter.addresses) {
      if (!address.active_only) addresses.push_back(address);
    }
  }
  std::vector<Route> routes;
  for (const Route& route : state.routes) {
    if (route.if_index == adapter.if_index && route.store == Store::kPersistent) {
      routes.push_back(route);
      routes.back().if_index = 0;
    }
  }
  const bool automatic =
      adapter.metric_active_only ? adapter.boot_automatic : adapter.automatic_metric;
  const uint32_t metric =
      adapter.metric_active_only ? adapter.boot_metric : adapter.interface_metric;
  if (addresses.empty() && routes.empty() && automatic) return;
  StoredInterface& stored = StoredFor(state, adapter);
  stored.addresses.insert(stored.addresses.end(), addresses.begin(), addresses.end());
  stored.routes.insert(stored.routes.end(), routes.begin(), routes.end());
  if (!automatic) {
    stored.has_metric = true;
    stored.metric = metric;
  }
}

}  // namespace

void RemoveAdapter(HostState& state, const std::wstring& instance_id) {
  for (auto it = state.adapters.begin(); it != state.adapters.end(); ++it) {
    if (it->instance_id != instance_id) continue;
    if (it->owner != kMachine) KeepPersistentSettings(state, *it);
    const uint32_t if_index = it->if_index;
    state.routes.erase(std::remove_if(state.routes.begin(), state.routes.end(),
                                      [&](const Route& r) { return r.if_index == if_index; }),
                       state.routes.end());
    state.adapters.erase(it);
    break;
  }
  state.devices.erase(std::remove_if(state.devices.begin(), state.devices.end(),
                                     [&](const Device& d) { return d.instance_id == instance_id; }),
                      state.devices.end());
}

void ApplyStoredSettings(HostState& state, Adapter& adapter) {
  for (auto it = state.stored_interfaces.begin(); it != state.stored_interfaces.end(); ++it) {
    if (it->instance_id != adapter.instance_id) continue;
    const StoredInterface stored = *it;
    state.stored_interfaces.erase(it);
    if (!stored.addresses.empty()) {
      RemoveAddresses(state, adapter);
      adapter.dhcpv4 = false;
      for (const Address& address : stored.addresses) {
        AddAddress(state, adapter, address.text, address.prefix_length, false);
      }
    }
    for (Route route : stored.routes) {
      route.if_index = adapter.if_index;
      state.routes.push_back(route);
    }
    if (stored.has_metric) {
      adapter.interface_metric = stored.metric;
      adapter.automatic_metric = false;
    }
    return;
  }
}

// ---- route lookup ----

bool LookupRoute(const HostState& state, uint32_t destination, uint32_t source,
                 RouteChoice* choice) {
  bool found = false;
  for (const Route& route : state.routes) {
    if ((destination & route.mask) != route.destination) continue;
    const Adapter* adapter = nullptr;
    for (const Adapter& a : state.adapters) {
      if (a.if_index == route.if_index) adapter = &a;
    }
    if (adapter == nullptr || !adapter->oper_up || !adapter->admin_enabled) continue;
    // Sending needs a source address on the outgoing interface (strong host model): a route on
    // an interface without an IPv4 address carries nothing.
    if (adapter->addresses.empty()) continue;
    if (source != 0) {
      // Strong host model: a packet from a bound address leaves only through the interface
      // that has the address.
      const bool owns = std::any_of(adapter->addresses.begin(), adapter->addresses.end(),
                                    [&](const Address& address) {
                                      uint32_t value = 0;
                                      return ParseDotted(address.text, &value) && value == source;
                                    });
      if (!owns) continue;
    }
    const uint32_t metric = route.route_metric + adapter->interface_metric;
    if (!found || route.mask > choice->mask ||
        (route.mask == choice->mask && metric < choice->metric)) {
      *choice = {route.if_index, route.next_hop, route.mask, metric};
      found = true;
    }
  }
  return found;
}

bool SimulatedHost::LookupRoute(uint32_t destination, RouteChoice* choice, uint32_t source) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return simhost::LookupRoute(state_, destination, source, choice);
}

// ---- adapters' lives ----

void SimulatedHost::CreateAdapterLocked(ProcessId process, const std::wstring& name,
                                        const std::wstring& tunnel_type, std::wstring guid,
                                        Adapter** created) {
  if (guid.empty()) {
    // Wintun picks a random GUID when none is requested.
    wchar_t text[40];
    std::swprintf(text, 40, L"0C0FFEE0-0000-4000-8000-%012X", ++random_guids_);
    guid = text;
  }
  const std::wstring instance_id = L"SWD\\Wintun\\{" + guid + L"}";
  // Wintun names the new adapter as asked; an adapter that has the name already is renamed to
  // "Name 1", "Name 2"... (the first such name that is free).
  auto holder = [&](const std::wstring& candidate) -> Adapter* {
    for (Adapter& a : state_.adapters) {
      if (SameNameIgnoringCase(a.name, candidate)) return &a;
    }
    return nullptr;
  };
  if (Adapter* other = holder(name)) {
    for (int n = 1; n < 1000; ++n) {
      const std::wstring proposal = name + L" " + std::to_wstring(n);
      if (holder(proposal) != nullptr) continue;
      for (Device& device : state_.devices) {
        if (device.instance_id == other->instance_id) device.friendly_name = proposal;
      }
      other->name = proposal;
      break;
    }
  }
  uint32_t if_index = 2;
  uint64_t luid = 0x0035000010000000ull;
  for (const Adapter& a : state_.adapters) {
    if_index = std::max(if_index, a.if_index + 1);
    luid = std::max(luid, a.luid + 1);
  }
  for (const StoredInterface& stored : state_.stored_interfaces) {
    if (stored.instance_id == instance_id) luid = stored.luid;
    if_index = std::max(if_index, static_cast<uint32_t>(stored.luid & 0xFFFF) + 1);
  }
  Adapter adapter;
  adapter.name = name;
  adapter.description = tunnel_type + L" Tunnel";
  adapter.instance_id = instance_id;
  adapter.luid = luid;
  adapter.if_index = if_index;
  adapter.ipv6_if_index = if_index;
  adapter.oper_up = false;  // the link is down until a session is open
  adapter.dhcpv4 = true;
  adapter.interface_metric = 5;
  adapter.owner = process;
  state_.adapters.push_back(adapter);
  state_.devices.push_back({name, adapter.description, instance_id});
  ApplyStoredSettings(state_, state_.adapters.back());
  *created = &state_.adapters.back();
}

uint64_t SimulatedHost::CreateAdapterFor(ProcessId process, const std::wstring& name,
                                         const std::wstring& tunnel_type,
                                         const std::wstring& requested_guid, bool open_session) {
  std::lock_guard<std::mutex> lock(mutex_);
  Adapter* adapter = nullptr;
  CreateAdapterLocked(process, name, tunnel_type, requested_guid, &adapter);
  adapter->session_open = open_session;
  adapter->oper_up = open_session;
  return adapter->luid;
}

void SimulatedHost::SetSessionOpen(uint64_t luid, bool open) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Adapter& adapter : state_.adapters) {
    if (adapter.luid != luid) continue;
    adapter.session_open = open;
    adapter.oper_up = open;
  }
}

void SimulatedHost::EndProcess(ProcessId process) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::wstring> gone;
    for (const Adapter& adapter : state_.adapters) {
      if (adapter.owner == process && process != kMachine) gone.push_back(adapter.instance_id);
    }
    for (const std::wstring& instance_id : gone) RemoveAdapter(state_, instance_id);
    if (process == kAppProcess) {
      handles_.clear();
      wintun_loaded_ = false;
    }
  }
  // The process's dynamic filtering sessions close with it.
  if (process == kAppProcess) filtering_.DropAllSessions();
}

void SimulatedHost::Reboot() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // No process survives: every adapter a process created goes.
    std::vector<std::wstring> gone;
    for (const Adapter& adapter : state_.adapters) {
      if (adapter.owner != kMachine) gone.push_back(adapter.instance_id);
    }
    for (const std::wstring& instance_id : gone) RemoveAdapter(state_, instance_id);
    handles_.clear();
    wintun_loaded_ = false;
    // The active store is lost; the persistent store is applied again.
    state_.routes.erase(std::remove_if(state_.routes.begin(), state_.routes.end(),
                                       [](const Route& r) { return r.store == Store::kActive; }),
                        state_.routes.end());
    for (Adapter& adapter : state_.adapters) {
      std::vector<Address> kept;
      for (const Address& address : adapter.addresses) {
        if (!address.active_only) kept.push_back(address);
      }
      if (kept.size() != adapter.addresses.size()) {
        RemoveAddresses(state_, adapter);
        for (const Address& address : kept) {
          AddAddress(state_, adapter, address.text, address.prefix_length, false);
        }
      }
      if (adapter.metric_active_only) {
        adapter.interface_metric = adapter.boot_metric;
        adapter.automatic_metric = adapter.boot_automatic;
        adapter.metric_active_only = false;
        adapter.boot_metric = 0;
        adapter.boot_automatic = true;
      }
      ApplyStoredSettings(state_, adapter);
    }
  }
  filtering_.DropAllSessions();
}

void SimulatedHost::SetProcessStartCost(std::chrono::microseconds cost) {
  std::lock_guard<std::mutex> lock(mutex_);
  process_start_cost_ = cost;
}

int SimulatedHost::ProcessStarts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return process_starts_;
}

void SimulatedHost::PayProcessStart() {
  std::chrono::microseconds cost;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++process_starts_;
    cost = process_start_cost_;
  }
  if (cost.count() > 0) std::this_thread::sleep_for(cost);
}

}  // namespace simhost
