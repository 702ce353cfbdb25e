#include "proxy_mode/proxy_config_text.h"

#include <cstddef>
#include <cstdint>
#include <functional>

#include "config_text/config_inspection.h"
#include "config_text/json_text.h"
#include "config_text/text_patterns.h"

namespace zelvora {
namespace {

using config_text::FindLiteral;
using config_text::IsDigit;
using config_text::kNone;
using config_text::Piece;
using config_text::SkipPatternSpaces;
using config_text::ValueKind;

constexpr char kStatsTemplate[] = "\n  \"stats\": {},";
constexpr char kPolicyTemplate[] =
    "\n  \"policy\": {\n    \"system\": {\n      \"statsInboundUplink\": true,\n"
    "      \"statsInboundDownlink\": true,\n      \"statsOutboundUplink\": true,\n"
    "      \"statsOutboundDownlink\": true\n    }\n  },";

// Digits as a port number; 0 for anything outside 1..65535 (long runs included).
uint16_t PortFromDigits(std::string_view digits) {
  if (digits.empty() || digits.size() > 5) return 0;
  uint32_t value = 0;
  for (char c : digits) value = value * 10 + static_cast<uint32_t>(c - '0');
  return value >= 1 && value <= 65535 ? static_cast<uint16_t>(value) : 0;
}

// `<literal>\s*:\s*` at `pos`: the position after it, or kNone.
size_t AfterKeyColon(std::string_view text, size_t pos, std::string_view literal, bool icase) {
  if (!config_text::LiteralAt(text, pos, literal, icase)) return kNone;
  size_t at = SkipPatternSpaces(text, pos + literal.size());
  if (at >= text.size() || text[at] != ':') return kNone;
  return SkipPatternSpaces(text, at + 1);
}

// Digit run at `pos` (the `(\d+)` capture): its end, or `pos` when there is none.
size_t DigitsEnd(std::string_view text, size_t pos) {
  while (pos < text.size() && IsDigit(text[pos])) ++pos;
  return pos;
}

// Next `<literal>\s*:\s*(\d+)` at or after `from`: the capture's bounds.
std::optional<std::pair<size_t, size_t>> NextNumberAfter(std::string_view text, size_t from,
                                                         std::string_view literal) {
  for (size_t pos = FindLiteral(text, literal, from, false); pos != kNone;
       pos = FindLiteral(text, literal, pos + 1, false)) {
    const size_t value = AfterKeyColon(text, pos, literal, false);
    if (value == kNone) continue;
    const size_t end = DigitsEnd(text, value);
    if (end > value) return std::make_pair(value, end);
  }
  return std::nullopt;
}

// The new digits for the port spanning [begin, end) when it must move; nothing when it stays.
std::optional<std::string> ReplacementDigits(std::string_view config, size_t begin, size_t end,
                                             bool force, const LoopbackPortProbe& ports) {
  const uint16_t port = PortFromDigits(config.substr(begin, end - begin));
  if (port == 0) return std::nullopt;
  if (!force && ports.is_free(port)) return std::nullopt;
  const uint16_t replacement = ports.find_free();
  if (replacement == 0) return std::nullopt;
  return std::to_string(replacement);
}

}  // namespace

bool ProxyConfigLooksBalanced(std::string_view config) {
  long braces = 0;
  long brackets = 0;
  for (size_t pos = 0; pos < config.size(); ++pos) {
    const char c = config[pos];
    if (c == '"') {
      pos = config_text::JsonStringEnd(config, pos);
      if (pos == kNone) return false;  // a string that never closes
      --pos;
    } else if (c == '{') {
      ++braces;
    } else if (c == '}' && --braces < 0) {
      return false;
    } else if (c == '[') {
      ++brackets;
    } else if (c == ']' && --brackets < 0) {
      return false;
    }
  }
  return braces == 0 && brackets == 0;
}

uint16_t ProxySocksPort(std::string_view config) {
  // Each rule reads the port of the very inbound it recognises; an inbound written port-first
  // must not lend the rule the next object's port (often the server's 443).
  const std::function<bool(const InboundFields&)> rules[] = {
      [](const InboundFields& inbound) { return inbound.tag == "in_proxy"; },
      [](const InboundFields& inbound) { return inbound.protocol == "socks"; },
      [](const InboundFields&) { return true; },
  };
  for (const auto& rule : rules) {
    const auto location = FindInboundPort(config, rule);
    if (!location) continue;
    const uint16_t value = PortFromDigits(location->digits);
    return value != 0 ? value : kProxyDefaultSocksPort;
  }
  return kProxyDefaultSocksPort;
}

bool SweepLoopbackPorts(std::string* config, bool force, const LoopbackPortProbe& ports) {
  // Every candidate is found in the original text and all replacements are applied in one
  // pass, so a configuration with thousands of listeners costs one copy, not one per port.
  // Each inbound's own port (an outbound's server port is never a listener of ours), written
  // as a number or as a string of digits.
  std::vector<std::pair<size_t, size_t>> spans;
  ForEachInbound(*config, [&](size_t object_open, const InboundFields&) {
    if (const auto port = InboundOwnPort(*config, object_open)) {
      spans.emplace_back(port->offset, port->offset + port->digits.size());
    }
    return true;
  });
  // Listeners named as an address ("listen": "127.0.0.1:N", the API's form).
  for (size_t from = 0; auto capture = NextNumberAfter(*config, from, "127.0.0.1");) {
    spans.push_back(*capture);
    from = capture->second;
  }
  std::vector<config_text::Splice> splices;
  for (const auto& [begin, end] : spans) {
    if (auto digits = ReplacementDigits(*config, begin, end, force, ports)) {
      splices.push_back({begin, end - begin, std::move(*digits)});
    }
  }
  if (splices.empty()) return false;
  *config = config_text::ApplySplices(*config, std::move(splices));
  return true;
}

bool InsertStatsAndPolicy(std::string* config) {
  bool inserted = false;
  if (config->find("\"stats\"") == std::string::npos) {
    inserted |= config_text::InsertAfterFirstBrace(*config, kStatsTemplate);
  }
  if (config->find("\"policy\"") == std::string::npos) {
    inserted |= config_text::InsertAfterFirstBrace(*config, kPolicyTemplate);
  }
  return inserted;
}

bool HasApiMember(std::string_view config) {
  for (size_t pos = FindLiteral(config, "\"api\"", 0, false); pos != kNone;
       pos = FindLiteral(config, "\"api\"", pos + 1, false)) {
    if (AfterKeyColon(config, pos, "\"api\"", false) != kNone) return true;
  }
  return false;
}

void InsertApiMember(std::string* config, uint16_t port) {
  const std::string body =
      "\n  \"api\": {\n    \"tag\": \"api\",\n    \"listen\": \"127.0.0.1:" + std::to_string(port) +
      "\",\n    \"services\": [\"HandlerService\", \"StatsService\", "
      "\"LoggerService\"]\n  }";
  const std::string_view text(*config);
  for (size_t pos = FindLiteral(text, "\"log\"", 0, false); pos != kNone;
       pos = FindLiteral(text, "\"log\"", pos + 1, false)) {
    const size_t open = AfterKeyColon(text, pos, "\"log\"", false);
    if (open == kNone || open >= text.size() || text[open] != '{') continue;
    // The first "log" object decides; one that never closes falls back to the top.
    const size_t close = config_text::FindMatchingCloser(text, open);
    if (close == kNone) break;
    size_t at = close + 1;
    while (at < text.size() && config_text::IsJsonBlank(text[at])) ++at;
    config->insert(at, "," + body);
    return;
  }
  config_text::InsertAfterFirstBrace(*config, body + ",");
}

std::optional<std::string> ApiAddressInConfig(std::string_view config) {
  for (size_t pos = FindLiteral(config, "\"api\"", 0, true); pos != kNone;
       pos = FindLiteral(config, "\"api\"", pos + 1, true)) {
    const size_t open = AfterKeyColon(config, pos, "\"api\"", true);
    if (open == kNone || open >= config.size() || config[open] != '{') continue;
    const size_t close = config.find('}', open + 1);
    if (close == std::string_view::npos) continue;
    const std::string_view block = config.substr(open + 1, close - open - 1);
    auto quoted = [&](std::string_view key) -> std::optional<std::string> {
      config_text::PieceFinder finder(block, Piece{key, ValueKind::kQuotedText, {}, true});
      const auto match = finder.FindFrom(0);
      if (!match) return std::nullopt;
      return std::string(
          block.substr(match->capture_begin, match->capture_end - match->capture_begin));
    };
    std::optional<std::string> host = quoted("\"listen\"");
    if (!host) host = quoted("\"address\"");
    config_text::PieceFinder ports(block, Piece{"\"port\"", ValueKind::kDigits, {}, true});
    std::optional<std::string> port;
    if (const auto match = ports.FindFrom(0)) {
      port = std::string(
          block.substr(match->capture_begin, match->capture_end - match->capture_begin));
    }
    if (host && host->find(':') != std::string::npos) return host;
    if (host) return *host + ":" + port.value_or("");
    if (port) return "127.0.0.1:" + *port;
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace zelvora
