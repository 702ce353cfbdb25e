// The simulated host's command runner: a strict interpreter for the route, netsh and ipconfig
// command lines the engine emits, with the effect Windows gives each of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <thread>

#include "simulated_host/host_edits.h"
#include "simulated_host/sim_text.h"
#include "simulated_host/simulated_host.h"
#include "tunnel_log/tunnel_log.h"

namespace simhost {
namespace {

// One word of the command line as the program receives it, and how it was written.
struct Word {
  std::string raw;    // as written, quotes included
  std::string value;  // quotes removed
};

// Splits on single blanks outside double quotes. False for anything a careful caller never
// writes: doubled or edge blanks, an open quote, control characters, or characters that the
// command interpreter or the argument parser would treat specially.
bool SplitWords(const std::string& line, std::vector<Word>* words) {
  words->clear();
  if (line.empty() || line.front() == ' ' || line.back() == ' ') return false;
  Word current;
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char ch = line[i];
    const unsigned char byte = static_cast<unsigned char>(ch);
    if (byte < 0x20 || byte == 0x7F) return false;
    // A path between quotes keeps its backslashes as written, unless one stands before a quote
    // (the argument parser would read an escaped quote there).
    const bool path_backslash = ch == '\\' && quoted && i + 1 < line.size() && line[i + 1] != '"';
    if (std::string("&|<>^%`\\").find(ch) != std::string::npos && !path_backslash) return false;
    if (ch == '"') {
      quoted = !quoted;
      current.raw += ch;
      continue;
    }
    if (ch == ' ' && !quoted) {
      if (current.raw.empty()) return false;
      words->push_back(current);
      current = Word();
      continue;
    }
    current.raw += ch;
    current.value += ch;
  }
  if (quoted || current.raw.empty()) return false;
  words->push_back(current);
  return true;
}

// Matches one word against one pattern word: literal text, or a literal prefix followed by a
// slot: {ip} dotted quad, {n} decimal, {ports} decimal list, {q} a non-empty "quoted" value.
bool MatchWord(const std::string& pattern, const Word& word, std::vector<std::string>* slots) {
  const size_t brace = pattern.find('{');
  if (brace == std::string::npos) return word.raw == pattern;
  const std::string prefix = pattern.substr(0, brace);
  const std::string kind = pattern.substr(brace);
  if (word.raw.compare(0, prefix.size(), prefix) != 0) return false;
  const std::string rest = word.raw.substr(prefix.size());
  if (kind == "{q}") {
    if (rest.size() < 3 || rest.front() != '"' || rest.back() != '"') return false;
    const std::string inner = rest.substr(1, rest.size() - 2);
    if (inner.find('"') != std::string::npos) return false;
    slots->push_back(inner);
    return true;
  }
  if (rest.find('"') != std::string::npos || rest.empty()) return false;
  if (kind == "{ip}") {
    uint32_t value = 0;
    if (!ParseDotted(rest, &value)) return false;
  } else if (kind == "{ip6}") {
    if (!LooksLikeIpv6(rest)) return false;
  } else if (kind == "{n}") {
    if (!std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return false;
    }
  } else if (kind == "{ports}") {
    // netsh takes ports 0 to 65535 only; one value outside fails the whole command.
    bool digit_seen = false;
    uint32_t value = 0;
    for (const char c : rest) {
      if (c >= '0' && c <= '9') {
        digit_seen = true;
        value = value * 10 + static_cast<uint32_t>(c - '0');
        if (value > 65535) return false;
      } else if (c == ',' && digit_seen) {
        digit_seen = false;
        value = 0;
      } else {
        return false;
      }
    }
    if (!digit_seen) return false;
  } else {
    return false;
  }
  slots->push_back(rest);
  return true;
}

bool Match(const std::vector<Word>& words, const std::vector<std::string>& pattern,
           std::vector<std::string>* slots) {
  slots->clear();
  if (words.size() != pattern.size()) return false;
  for (size_t i = 0; i < words.size(); ++i) {
    if (!MatchWord(pattern[i], words[i], slots)) return false;
  }
  return true;
}

uint32_t IpOf(const std::string& text) {
  uint32_t value = 0;
  ParseDotted(text, &value);
  return value;
}

uint8_t PrefixLength(uint32_t mask) {
  uint8_t length = 0;
  while (length < 32 && (mask & (0x80000000u >> length)) != 0) ++length;
  return length;
}

uint32_t MaskOf(uint8_t length) { return MaskOfLength(length); }

// netsh finds interfaces by name without regard to ASCII case.
bool SameInterfaceName(const std::wstring& name, const std::string& wanted) {
  const std::string utf8 = Utf8(name);
  if (utf8.size() != wanted.size()) return false;
  for (size_t i = 0; i < utf8.size(); ++i) {
    char a = utf8[i], b = wanted[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

Adapter* FindByName(HostState& state, const std::string& name) {
  for (Adapter& adapter : state.adapters) {
    if (SameInterfaceName(adapter.name, name)) return &adapter;
  }
  return nullptr;
}

// The interface whose subnet holds `gateway`, as route.exe picks it.
const Adapter* InterfaceForGateway(const HostState& state, uint32_t gateway) {
  for (const Adapter& adapter : state.adapters) {
    if (!adapter.oper_up || !adapter.admin_enabled) continue;
    for (const Address& address : adapter.addresses) {
      const uint32_t mask = MaskOf(address.prefix_length);
      if ((IpOf(address.text) & mask) == (gateway & mask)) return &adapter;
    }
  }
  return nullptr;
}

bool SameRoute(const Route& r, uint32_t destination, uint32_t mask, uint32_t next_hop) {
  return r.destination == destination && r.mask == mask && r.next_hop == next_hop;
}

// route.exe's DELETE also deletes the matching persistent routes.
template <typename Matches>
void ForgetStoredRoutes(HostState& state, Matches matches) {
  for (StoredInterface& stored : state.stored_interfaces) {
    stored.routes.erase(std::remove_if(stored.routes.begin(), stored.routes.end(), matches),
                        stored.routes.end());
  }
  state.stored_interfaces.erase(
      std::remove_if(state.stored_interfaces.begin(), state.stored_interfaces.end(),
                     [](const StoredInterface& s) {
                       return s.addresses.empty() && s.routes.empty() && !s.has_metric;
                     }),
      state.stored_interfaces.end());
}

}  // namespace

bool SimulatedHost::Run(const std::string& command, uint32_t timeout_ms, bool log_failure) {
  PayProcessStart();
  CommandFault fault = CommandFault::kFail;
  bool faulted = false;
  std::chrono::milliseconds delay(0);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (PendingCommandFault& pending : command_faults_) {
      if (pending.remaining > 0 && command.compare(0, pending.prefix.size(), pending.prefix) == 0) {
        --pending.remaining;
        fault = pending.fault;
        delay = pending.delay;
        faulted = true;
        break;
      }
    }
  }
  if (faulted && fault == CommandFault::kSlow) {
    // A command slower than its time-out is ended there, as the runner ends it on Windows.
    if (delay > std::chrono::milliseconds(timeout_ms)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
      fault = CommandFault::kHang;
    } else {
      std::this_thread::sleep_for(delay);
    }
  }
  bool ok = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!faulted || fault == CommandFault::kSlow) {
      ok = Interpret(command);
    } else if (fault == CommandFault::kNoEffect) {
      HostState saved = state_;
      ok = Interpret(command);
      state_ = saved;
    } else if (fault == CommandFault::kHang) {
      hung_ms_ += timeout_ms;
    }
    commands_.push_back({command, timeout_ms, log_failure, ok});
  }
  if (faulted && fault == CommandFault::kHang) {
    TunnelLogWrite("CMD timeout: " + command);
  } else if (!ok && log_failure) {
    TunnelLogWrite("CMD exit=1: " + command);
  }
  return ok;
}

bool SimulatedHost::Interpret(const std::string& command) {
  std::vector<Word> words;
  std::vector<std::string> s;
  if (!SplitWords(command, &words)) {
    ADD_FAILURE() << "simulated host: malformed command line: " << command;
    return false;
  }
  HostState& st = state_;

  // ---- route ----
  if (Match(words, {"route", "DELETE", "0.0.0.0", "MASK", "0.0.0.0", "{ip}"}, &s)) {
    ForgetStoredRoutes(st, [&](const Route& r) { return SameRoute(r, 0, 0, IpOf(s[0])); });
    const size_t before = st.routes.size();
    st.routes.erase(std::remove_if(st.routes.begin(), st.routes.end(),
                                   [&](const Route& r) { return SameRoute(r, 0, 0, IpOf(s[0])); }),
                    st.routes.end());
    return st.routes.size() != before;
  }
  if (Match(words, {"route", "DELETE", "{ip}"}, &s)) {
    const uint32_t destination = IpOf(s[0]);
    ForgetStoredRoutes(st, [&](const Route& r) { return r.destination == destination; });
    const size_t before = st.routes.size();
    st.routes.erase(std::remove_if(st.routes.begin(), st.routes.end(),
                                   [&](const Route& r) { return r.destination == destination; }),
                    st.routes.end());
    return st.routes.size() != before;  // "Element not found" when nothing matched
  }
  if (Match(words, {"route", "ADD", "{ip}", "MASK", "{ip}", "{ip}", "METRIC", "{n}"}, &s)) {
    const uint32_t destination = IpOf(s[0]), mask = IpOf(s[1]), gateway = IpOf(s[2]);
    if ((destination & mask) != destination) return false;  // route.exe rejects host bits
    const Adapter* adapter = InterfaceForGateway(st, gateway);
    if (adapter == nullptr) return false;
    for (const Route& r : st.routes) {
      if (SameRoute(r, destination, mask, gateway)) return false;  // "already exists"
    }
    // route.exe without -p adds to the active store only.
    st.routes.push_back({destination, mask, gateway, adapter->if_index,
                         static_cast<uint32_t>(std::stoul(s[3])), Store::kActive});
    return true;
  }

  // ---- netsh interface ----
  if (Match(words, {"netsh", "interface", "set", "interface", "name={q}", "admin=ENABLED"}, &s)) {
    Adapter* adapter = FindByName(st, s[0]);
    if (adapter == nullptr) return false;
    adapter->admin_enabled = true;
    return true;
  }
  // netsh writes to the persistent store unless store=active is given (then the change lasts
  // until the restart).
  const bool active_store = !words.empty() && words.back().raw == "store=active";
  if (active_store) words.pop_back();
  if (Match(words,
            {"netsh", "interface", "ip", "set", "address", "name={q}", "source=static", "addr={ip}",
             "mask={ip}", "gateway=none"},
            &s)) {
    Adapter* adapter = FindByName(st, s[0]);
    if (adapter == nullptr || adapter->if_index == 0) return false;
    RemoveAddresses(st, *adapter);
    adapter->dhcpv4 = false;
    AddAddress(st, *adapter, s[1], PrefixLength(IpOf(s[2])), active_store);
    return true;
  }
  if (Match(words,
            {"netsh", "interface", "ipv4", "set", "interface", "interface={q}", "metric={n}"},
            &s)) {
    Adapter* adapter = FindByName(st, s[0]);
    if (adapter == nullptr || adapter->if_index == 0) return false;
    if (active_store && !adapter->metric_active_only) {
      adapter->metric_active_only = true;
      adapter->boot_metric = adapter->interface_metric;
      adapter->boot_automatic = adapter->automatic_metric;
    } else if (!active_store) {
      adapter->metric_active_only = false;
      adapter->boot_metric = 0;
      adapter->boot_automatic = true;
    }
    adapter->interface_metric = static_cast<uint32_t>(std::stoul(s[1]));
    adapter->automatic_metric = false;
    return true;
  }
  if (Match(words,
            {"netsh", "interface", "ip", "add", "route", "0.0.0.0/0", "{q}", "{ip}", "metric={n}"},
            &s)) {
    Adapter* adapter = FindByName(st, s[0]);
    if (adapter == nullptr || adapter->if_index == 0) return false;
    const uint32_t next_hop = IpOf(s[1]);
    for (const Route& r : st.routes) {
      if (SameRoute(r, 0, 0, next_hop) && r.if_index == adapter->if_index) return false;
    }
    st.routes.push_back({0, 0, next_hop, adapter->if_index, static_cast<uint32_t>(std::stoul(s[2])),
                         active_store ? Store::kActive : Store::kPersistent});
    return true;
  }
  if (active_store) {
    ADD_FAILURE() << "simulated host: store=active on a command that has no store: " << command;
    return false;
  }

  // ---- netsh DNS ----
  if (Match(words, {"netsh", "interface", "ipv4", "delete", "dns", "name={q}", "all"}, &s)) {
    Adapter* adapter = FindByName(st, s[0]);
    if (adapter == nullptr) return false;
    adapter->static_dns_v4.clear();
    return true;
  }
  if (Match(words, {"netsh", "interface", "ipv6", "delete", "dns", "name={q}", "all"}, &s)) {
    Adapter* adapter = FindByName(st, s[0]);
    if (adapter == nullptr) return false;
    adapter->static_dns_v6.clear();
    return true;
  }
  if (Match(words,
            {"netsh", "interface", "ipv4", "set", "dns", "name={q}", "static", "{ip}", "primary",
             "validate=no"},
            &s)) {
    Adapter* adapter = FindByName(st, s[0]);
    if (adapter == nullptr) return false;
    adapter->static_dns_v4 = {s[1]};
    return true;
  }
  if (Match(words,
            {"netsh", "interface", "ipv4", "add", "dns", "name={q}", "{ip}", "index={n}",
             "validate=no"},
            &s)) {
    Adapter* adapter = FindByName(st, s[0]);
    if (adapter == nullptr) return false;
    std::vector<std::string>& list = adapter->static_dns_v4;
    if (std::find(list.begin(), list.end(), s[1]) != list.end()) return false;
    const size_t index = std::stoul(s[2]);
    if (index == 0) return false;
    list.insert(list.begin() + static_cast<long>(std::min(index - 1, list.size())), s[1]);
    return true;
  }
  if (Match(words,
            {"netsh", "interface", "ipv6", "set", "dns", "name={q}", "static", "{ip6}", "primary",
             "validate=no"},
            &s)) {
    Adapter* adapter = FindByName(st, s[0]);
    if (adapter == nullptr) return false;
    adapter->static_dns_v6 = {s[1]};
    return true;
  }
  if (Match(words,
            {"netsh", "interface", "ipv6", "add", "dns", "name={q}", "{ip6}", "index={n}",
             "validate=no"},
            &s)) {
    Adapter* adapter = FindByName(st, s[0]);
    if (adapter == nullptr) return false;
    std::vector<std::string>& list = adapter->static_dns_v6;
    if (std::find(list.begin(), list.end(), s[1]) != list.end()) return false;
    const size_t index = std::stoul(s[2]);
    if (index == 0) return false;
    list.insert(list.begin() + static_cast<long>(std::min(index - 1, list.size())), s[1]);
    return true;
  }
  if (Match(words, {"netsh", "interface", "ipv4", "set", "dns", "name={q}", "dhcp"}, &s)) {
    Adapter* adapter = FindByName(st, s[0]);
    if (adapter == nullptr) return false;
    adapter->static_dns_v4.clear();
    return true;
  }
  if (Match(words, {"netsh", "interface", "ipv6", "set", "dns", "name={q}", "dhcp"}, &s)) {
    Adapter* adapter = FindByName(st, s[0]);
    if (adapter == nullptr) return false;
    adapter->static_dns_v6.clear();
    return true;
  }
  if (Match(words, {"ipconfig", "/flushdns"}, &s)) {
    ++flush_count_;
    return true;
  }

  // ---- firewall ----
  if (Match(words,
            {"netsh", "advfirewall", "firewall", "add", "rule", "name={q}", "dir=in",
             "action=allow", "program={q}", "protocol=TCP", "localport={ports}",
             "profile=private,domain", "remoteip=LocalSubnet"},
            &s)) {
    // Windows keeps rules with the same display name side by side.
    st.firewall_rules.push_back(
        {s[0], "in", "allow", "TCP", s[2], "private,domain", "LocalSubnet", s[1]});
    return true;
  }
  if (Match(words, {"netsh", "advfirewall", "firewall", "delete", "rule", "name={q}"}, &s)) {
    const size_t before = st.firewall_rules.size();
    st.firewall_rules.erase(std::remove_if(st.firewall_rules.begin(), st.firewall_rules.end(),
                                           [&](const FirewallRule& r) { return r.name == s[0]; }),
                            st.firewall_rules.end());
    return st.firewall_rules.size() != before;  // "No rules match the specified criteria."
  }

  ADD_FAILURE() << "simulated host: command of no known form: " << command;
  return false;
}

}  // namespace simhost
