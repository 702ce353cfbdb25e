#include "proxy_mode/proxy_settings_backup.h"

#include <sstream>

namespace zelvora {
namespace {

constexpr char kHeader[] = "zelvora-proxy-backup v1";
constexpr uint32_t kProxyTypeProxy = 0x02;  // PROXY_TYPE_PROXY

// Values stay on one line: '%', CR and LF are written as %25, %0D, %0A.
std::string Escape(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '%') {
      out += "%25";
    } else if (c == '\r') {
      out += "%0D";
    } else if (c == '\n') {
      out += "%0A";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::optional<std::string> Unescape(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '%') {
      out.push_back(value[i]);
      continue;
    }
    const std::string code = value.substr(i + 1, 2);
    if (code == "25") {
      out.push_back('%');
    } else if (code == "0D") {
      out.push_back('\r');
    } else if (code == "0A") {
      out.push_back('\n');
    } else {
      return std::nullopt;
    }
    i += 2;
  }
  return out;
}

}  // namespace

std::string FormatProxySettingsBackup(const ProxySettingsBackup& backup) {
  std::ostringstream out;
  out << kHeader << "\n"
      << "flags=" << backup.previous.flags << "\n"
      << "server=" << Escape(backup.previous.server) << "\n"
      << "bypass=" << Escape(backup.previous.bypass) << "\n"
      << "autoconfig=" << Escape(backup.previous.autoconfig_url) << "\n"
      << "ours=" << Escape(backup.ours) << "\n"
      << "end\n";
  return out.str();
}

std::optional<ProxySettingsBackup> ParseProxySettingsBackup(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kHeader) return std::nullopt;
  ProxySettingsBackup backup;
  const char* const keys[] = {"flags=", "server=", "bypass=", "autoconfig=", "ours="};
  std::string* const fields[] = {nullptr, &backup.previous.server, &backup.previous.bypass,
                                 &backup.previous.autoconfig_url, &backup.ours};
  for (size_t i = 0; i < 5; ++i) {
    if (!std::getline(in, line)) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string key = keys[i];
    if (line.compare(0, key.size(), key) != 0) return std::nullopt;
    const std::string value = line.substr(key.size());
    if (!fields[i]) {
      if (value.empty() || value.size() > 10 ||
          value.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
      }
      const unsigned long long flags = std::stoull(value);
      if (flags > 0xFFFFFFFFull) return std::nullopt;
      backup.previous.flags = static_cast<uint32_t>(flags);
      continue;
    }
    const auto unescaped = Unescape(value);
    if (!unescaped) return std::nullopt;
    *fields[i] = *unescaped;
  }
  // A file cut short by a crash while it was written is not a backup.
  if (!std::getline(in, line) || (line != "end" && line != "end\r")) return std::nullopt;
  return backup;
}

bool StillPointsAtOurProxy(const ProxySettings& current, const std::string& ours) {
  return !ours.empty() && (current.flags & kProxyTypeProxy) != 0 && current.server == ours;
}

}  // namespace zelvora
