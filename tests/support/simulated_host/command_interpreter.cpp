// The simulated host's command runner: a strict interpreter for the netsh and ipconfig command
// lines the engine emits (DNS and the firewall; routes and addresses go through IP Helper),
// with the effect Windows gives each of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <thread>

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
