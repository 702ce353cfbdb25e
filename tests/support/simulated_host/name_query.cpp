// The paths of name queries and connections through the simulated machine and its tunnel.
#include "simulated_host/name_query.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "core_standin/standin_json.h"
#include "simulated_host/sim_text.h"

namespace simhost {
namespace {

using standin_json::Value;

constexpr const char* kDnsClient = "C:\\Windows\\System32\\svchost.exe";

bool IsLoopbackAddress(const std::string& remote) {
  return remote == "::1" || remote.rfind("127.", 0) == 0;
}

// The tunnel's adapters: the engine's Wintun adapter and Xray's own, both named "Zelvora".
bool IsTunnel(const Adapter& adapter) {
  return adapter.name.rfind(L"Zelvora", 0) == 0 &&
         adapter.instance_id.rfind(L"SWD\\Wintun\\", 0) == 0;
}

const Adapter* ByIndex(const HostState& state, uint32_t if_index) {
  for (const Adapter& a : state.adapters) {
    if (a.if_index == if_index && if_index != 0) return &a;
  }
  return nullptr;
}

const Adapter* Loopback(const HostState& state) {
  for (const Adapter& a : state.adapters) {
    if (a.loopback) return &a;
  }
  return nullptr;
}

// ---- the core's routing, read with the core stand-in's own JSON reader ----

bool InCidr(const std::string& remote, const std::string& entry) {
  uint32_t address = 0;
  if (!ParseDotted(remote, &address)) return false;
  const size_t slash = entry.find('/');
  uint32_t network = 0;
  if (!ParseDotted(entry.substr(0, slash), &network)) return false;
  const int bits = slash == std::string::npos ? 32 : std::atoi(entry.c_str() + slash + 1);
  const uint32_t mask = bits == 0 ? 0 : static_cast<uint32_t>(0xFFFFFFFFull << (32 - bits));
  return (address & mask) == (network & mask);
}

bool IpMatches(const std::string& remote, const std::string& entry) {
  if (entry == "geoip:private") {
    for (const char* range :
         {"10.0.0.0/8", "172.16.0.0/12", "192.168.0.0/16", "127.0.0.0/8", "169.254.0.0/16"}) {
      if (InCidr(remote, range)) return true;
    }
    return false;
  }
  return InCidr(remote, entry);  // other geoip: lists are not modelled and match nothing
}

bool PortMatches(uint16_t port, const Value& value) {
  if (value.kind == Value::Kind::kNumber) return static_cast<uint16_t>(value.number) == port;
  if (value.kind != Value::Kind::kString) return false;
  const std::string& text = value.text;
  size_t from = 0;
  while (from <= text.size()) {
    const size_t comma = std::min(text.find(',', from), text.size());
    const std::string item = text.substr(from, comma - from);
    const size_t dash = item.find('-');
    const long low = std::atol(item.c_str());
    const long high = dash == std::string::npos ? low : std::atol(item.c_str() + dash + 1);
    if (port >= low && port <= high) return true;
    from = comma + 1;
  }
  return false;
}

// The tag of the inbound a flow from the tunnel arrives on: Xray's own TUN inbound, or the
// SOCKS inbound tun2socks connects to.
std::string TunnelInboundTag(const Value& config) {
  const Value* inbounds = config.Get("inbounds");
  std::string socks;
  for (size_t i = 0; inbounds && inbounds->At(i); ++i) {
    const Value& inbound = *inbounds->At(i);
    const std::string protocol = inbound.String("protocol").value_or("");
    if (protocol == "tun") return inbound.String("tag").value_or("");
    if (protocol == "socks" && socks.empty()) socks = inbound.String("tag").value_or("");
  }
  return socks;
}

const Value* OutboundTagged(const Value& config, const std::string& tag) {
  const Value* outbounds = config.Get("outbounds");
  for (size_t i = 0; outbounds && outbounds->At(i); ++i) {
    if (outbounds->At(i)->String("tag") == tag) return outbounds->At(i);
  }
  return nullptr;
}

// Xray's routing: the first rule whose conditions all hold names the outbound; rules on what
// a plain IP flow does not carry (domains, processes, users) do not hold. No rule: the first
// outbound.
const Value* CoreOutboundFor(const Value& config, bool tcp, const std::string& remote,
                             uint16_t port) {
  const std::string inbound = TunnelInboundTag(config);
  const Value* routing = config.Get("routing");
  const Value* rules = routing ? routing->Get("rules") : nullptr;
  for (size_t i = 0; rules && rules->At(i); ++i) {
    const Value& rule = *rules->At(i);
    bool holds = true;
    for (const char* unmodelled : {"domain", "process", "user", "source", "protocol", "attrs"}) {
      if (rule.Get(unmodelled)) holds = false;
    }
    if (const Value* tags = rule.Get("inboundTag")) {
      bool listed = false;
      for (size_t t = 0; tags->At(t); ++t) listed |= tags->At(t)->text == inbound;
      holds &= listed;
    }
    if (const Value* ips = rule.Get("ip")) {
      bool listed = false;
      for (size_t t = 0; ips->At(t); ++t) listed |= IpMatches(remote, ips->At(t)->text);
      holds &= listed;
    }
    if (const Value* ports = rule.Get("port")) holds &= PortMatches(port, *ports);
    if (const Value* network = rule.Get("network")) {
      holds &= network->text.find(tcp ? "tcp" : "udp") != std::string::npos;
    }
    if (!holds) continue;
    if (const auto tag = rule.String("outboundTag")) return OutboundTagged(config, *tag);
  }
  const Value* outbounds = config.Get("outbounds");
  return outbounds ? outbounds->At(0) : nullptr;
}

// The server address of a proxy outbound.
std::string ServerOf(const Value& outbound) {
  const Value* settings = outbound.Get("settings");
  if (!settings) return {};
  for (const char* list : {"vnext", "servers"}) {
    const Value* servers = settings->Get(list);
    if (servers && servers->At(0)) return servers->At(0)->String("address").value_or("");
  }
  return {};
}

Path Trace(SimulatedHost& host, const CoreView& core, const std::string& program, bool tcp,
           const std::string& remote, uint16_t port, const Adapter* bound, int depth) {
  const HostState state = host.Snapshot();
  Path path;
  std::optional<Adapter> adapter;
  if (IsLoopbackAddress(remote)) {
    if (const Adapter* loopback = Loopback(state)) adapter = *loopback;
  } else {
    // The route lookup; a socket bound to an adapter's address leaves only through it (the
    // strong host model).
    uint32_t destination = 0;
    uint32_t source = 0;
    if (bound != nullptr && !bound->addresses.empty()) {
      ParseDotted(bound->addresses.front().text, &source);
    }
    RouteChoice choice;
    if (ParseDotted(remote, &destination) && host.LookupRoute(destination, &choice, source)) {
      if (const Adapter* found = ByIndex(state, choice.if_index)) adapter = *found;
    }
  }
  if (!adapter) {
    path.exit = Exit::kBlocked;  // no route
    return path;
  }
  path.sent_on = adapter->name;
  SimPacket packet{program, tcp, remote, port, 0};
  if (!host.WouldAllow(packet, adapter->name)) {
    path.exit = Exit::kBlocked;
    path.leaves_on = adapter->name;
    return path;
  }
  if (adapter->loopback) {
    path.exit = Exit::kLocal;
    return path;
  }
  if (!IsTunnel(*adapter)) {
    path.exit = Exit::kOutsideTunnel;
    path.leaves_on = adapter->name;
    return path;
  }
  if (depth > 0) {
    path.exit = Exit::kLoop;  // what the core sent out came back into the tunnel
    return path;
  }
  const auto config = standin_json::Parse(core.config);
  const Value* outbound = config ? CoreOutboundFor(*config, tcp, remote, port) : nullptr;
  const std::string protocol = outbound ? outbound->String("protocol").value_or("") : "";
  if (protocol == "freedom") {
    Path sent = Trace(host, core, core.program, tcp, remote, port, nullptr, depth + 1);
    sent.sent_on = adapter->name;
    return sent;
  }
  if (outbound == nullptr || protocol == "blackhole") {
    path.exit = Exit::kBlocked;
    return path;
  }
  path.exit = Exit::kThroughProxy;
  const Path to_server =
      Trace(host, core, core.program, true, ServerOf(*outbound), 443, nullptr, depth + 1);
  path.leaves_on = to_server.leaves_on;
  return path;
}

}  // namespace

Path AppNameQuery(SimulatedHost& host, const CoreView& core) {
  const HostState state = host.Snapshot();
  const Adapter* preferred = nullptr;
  for (const Adapter& a : state.adapters) {
    if (!a.oper_up || !a.admin_enabled || a.loopback || a.ReportedDnsV4().empty()) continue;
    if (preferred == nullptr || a.interface_metric < preferred->interface_metric) preferred = &a;
  }
  if (preferred == nullptr) return Path{};
  const std::string server = preferred->ReportedDnsV4().front();
  Path path = Trace(host, core, kDnsClient, false, server, 53, preferred, 0);
  path.server = server;
  return path;
}

Path Connection(SimulatedHost& host, const CoreView& core, const std::string& program, bool tcp,
                const std::string& remote, uint16_t port) {
  return Trace(host, core, program, tcp, remote, port, nullptr, 0);
}

Path CoreServerLookup(SimulatedHost& host, const CoreView& core, bool* needed) {
  *needed = false;
  const auto config = standin_json::Parse(core.config);
  if (!config) return Path{};
  // The outbound the catch-all sends to: the one whose server the core must reach.
  const Value* proxy = CoreOutboundFor(*config, true, "192.0.2.1", 443);
  const std::string server = proxy ? ServerOf(*proxy) : "";
  uint32_t ignored = 0;
  if (server.empty() || ParseDotted(server, &ignored)) return Path{};
  const Value* stream = proxy->Get("streamSettings");
  const Value* sockopt = stream ? stream->Get("sockopt") : nullptr;
  const std::string strategy =
      sockopt ? sockopt->String("domainStrategy").value_or("AsIs") : "AsIs";
  const Value* dns = config->Get("dns");
  const Value* hosts = dns ? dns->Get("hosts") : nullptr;
  if (strategy != "AsIs" && hosts && hosts->Get(server)) return Path{};
  *needed = true;
  Path path = AppNameQuery(host, core);
  // Through the proxy, the lookup waits for the connection that waits for the lookup.
  if (path.exit == Exit::kThroughProxy) path.exit = Exit::kLoop;
  return path;
}

}  // namespace simhost
