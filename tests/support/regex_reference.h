// The configuration-text questions the engine still answers by patterns (metadata cut-out,
// allowInsecure, listen fix, version, dotted quad) answered the slow way: each pattern evaluated
// with std::regex (ECMAScript), exactly as written. The hand-made matchers must give the same
// answers (a bare allowInsecure value counts whole: the lookahead after it). Shared by the
// equivalence test, the fuzz target and the benchmark.
#pragma once

#include <map>
#include <optional>
#include <regex>
#include <string>
#include <utility>

#include "config_text/config_inspection.h"
#include "config_text/config_meta.h"
#include "config_text/config_rewrites.h"
#include "config_text/text_patterns.h"
#include "config_text/xray_core_contract.h"

namespace regex_reference {

inline bool IsDottedQuad(const std::string& text) {
  static const std::regex pattern(R"re(^\d{1,3}\.\d{1,3}\.\d{1,3}\.\d{1,3}$)re");
  return std::regex_search(text, pattern);
}

inline std::optional<std::string> IcaseCapture(const std::string& text, const char* re) {
  // Compiled once per pattern: compiling is the slow part of std::regex.
  static std::map<const char*, std::regex> compiled;
  auto it = compiled.find(re);
  if (it == compiled.end()) {
    it = compiled.emplace(re, std::regex(re, std::regex::ECMAScript | std::regex::icase)).first;
  }
  std::smatch match;
  if (!std::regex_search(text, match, it->second)) {
    return std::nullopt;
  }
  return match[1].str();
}

// The text without either member, and the panel host: what the equivalence compares.
inline ConfigMeta ExtractConfigMeta(std::string& config) {
  ConfigMeta meta;
  size_t key = config.find("\"__zelvora_blocked_apps\"");
  if (key != std::string::npos) RemoveJsonMember(config, key);
  key = config.find("\"zelvoraMeta\"");
  if (key != std::string::npos) {
    if (const auto host = IcaseCapture(config, R"delim("panelHost"\s*:\s*"([^"]+)")delim")) {
      if (IsValidHostToken(*host)) meta.panelHost = *host;
    }
    RemoveJsonMember(config, key);
  }
  return meta;
}

inline std::string StripAllowInsecure(const std::string& config) {
  const auto flags = std::regex::ECMAScript | std::regex::icase;
  static const std::regex patterns[] = {
      std::regex(R"re(,\s*"allowInsecure"\s*:\s*(true|false|1|0)(?=[\s,}\]]|$))re", flags),
      std::regex(R"re("allowInsecure"\s*:\s*(true|false|1|0)(?=[\s,}\]]|$)\s*,)re", flags),
      std::regex(R"re("allowInsecure"\s*:\s*(true|false|1|0)(?=[\s,}\]]|$))re", flags),
  };
  std::string text = config;
  for (const std::regex& pattern : patterns) text = std::regex_replace(text, pattern, "");
  return text;
}

inline std::string ListenOnIpv4Loopback(const std::string& config) {
  static const std::regex pattern(R"re("listen"\s*:\s*"\[::1\]")re");
  return std::regex_replace(config, pattern, "\"listen\": \"127.0.0.1\"");
}

inline std::string CoreVersion(const std::string& output) {
  static const std::regex pattern(R"re(Xray\s+(\d+\.\d+\.\d+))re");
  std::smatch match;
  if (!std::regex_search(output, match, pattern)) return {};
  return match[1].str();
}

// Empty when every matcher agrees with its pattern on `text`, else the first that does not.
inline std::string FirstDifference(const std::string& text) {
  std::string ours_text = text, reference_text = text;
  const ConfigMeta ours = ::ExtractConfigMeta(ours_text);
  const ConfigMeta reference = ExtractConfigMeta(reference_text);
  const std::pair<const char*, bool> checks[] = {
      {"IsDottedQuad", config_text::IsDottedQuad(text) == IsDottedQuad(text)},
      {"ExtractConfigMeta's text", ours_text == reference_text},
      {"ExtractConfigMeta's panelHost", ours.panelHost == reference.panelHost},
      {"StripAllowInsecure", ::StripAllowInsecure(text) == StripAllowInsecure(text)},
      {"ListenOnIpv4Loopback", ::ListenOnIpv4Loopback(text) == ListenOnIpv4Loopback(text)},
      {"ParseCoreVersion", xray_core::ParseCoreVersion(text) == CoreVersion(text)},
  };
  for (const auto& [what, same] : checks) {
    if (!same) return what;
  }
  return {};
}

}  // namespace regex_reference
