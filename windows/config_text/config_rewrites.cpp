#include "config_text/config_rewrites.h"

#include <string_view>

#include "config_text/config_inspection.h"
#include "config_text/json_text.h"
#include "config_text/text_patterns.h"
#include "tunnel_log/tunnel_log.h"

using config_text::Piece;
using config_text::ValueKind;

std::vector<config_text::Splice> ListenOnIpv4LoopbackSplices(const std::string& config) {
  config_text::PieceFinder finder(config, Piece{"\"listen\"", ValueKind::kQuotedOneOf, {"[::1]"}});
  std::vector<config_text::Splice> splices;
  size_t from = 0;
  while (const auto match = finder.FindFrom(from)) {
    splices.push_back({match->begin, match->end - match->begin, "\"listen\": \"127.0.0.1\""});
    from = match->end;
  }
  return splices;
}

std::string ListenOnIpv4Loopback(const std::string& config) {
  return config_text::ApplySplices(config, ListenOnIpv4LoopbackSplices(config));
}

std::optional<ApiPortLocation> FindApiInboundPort(const std::string& config) {
  const auto location =
      FindInboundPort(config, [](const InboundFields& inbound) { return inbound.tag == "api"; });
  if (!location) return std::nullopt;
  return ApiPortLocation{location->offset, location->digits};
}

std::string RemapBusyPorts(std::string config, const LoopbackPortProbe& ports) {
  // Only the inbounds' own port members move: a server's port elsewhere in the text stays as it
  // is even when a local program happens to hold the same number.
  if (const auto socks = FindSocksInboundPortLocation(config)) {
    uint16_t socks_port = 0;
    ParsePortText(socks->digits, &socks_port);
    if (!ports.is_free(socks_port)) {
      const uint16_t new_port = ports.find_free();
      if (new_port == 0) {
        TunnelLogWrite("ERROR: SOCKS port " + std::to_string(socks_port) +
                       " is in use and no free loopback port was found");
        return config;
      }
      config.replace(socks->offset, socks->digits.size(), std::to_string(new_port));
      TunnelLogWrite("WARNING: SOCKS port " + std::to_string(socks_port) +
                     " busy (another app?) \xE2\x80\x94 remapped to " + std::to_string(new_port));
    }
  }

  const auto api = FindApiInboundPort(config);
  uint16_t api_port = 0;
  if (api && ParsePortText(api->digits, &api_port) && !ports.is_free(api_port)) {
    const uint16_t new_port = ports.find_free();
    if (new_port != 0) {
      config.replace(api->offset, api->digits.size(), std::to_string(new_port));
      TunnelLogWrite("WARNING: API port " + std::to_string(api_port) +
                     " busy \xE2\x80\x94 remapped to " + std::to_string(new_port));
    }
  }
  return config;
}

std::string StripAllowInsecure(const std::string& config) {
  const Piece member{"\"allowInsecure\"", ValueKind::kBareOneOf, {"true", "false", "1", "0"}, true};

  // `,\s*"allowInsecure"\s*:\s*(true|false|1|0)`: the match starts at the comma before the key.
  // A pass gives nothing when it finds nothing to remove, so the usual text with one member or
  // none is copied once, not once per pass.
  const auto strip_with_leading_comma =
      [&member](const std::string& text) -> std::optional<std::string> {
    config_text::PieceFinder finder(text, member);
    std::string out;
    size_t copied = 0;
    size_t search = 0;
    while (const auto match = finder.FindFrom(search)) {
      search = match->begin + 1;
      size_t comma = match->begin;
      while (comma > copied && config_text::IsPatternSpace(text[comma - 1])) --comma;
      if (comma == copied || text[comma - 1] != ',') continue;
      --comma;
      out.append(text, copied, comma - copied);
      copied = match->end;
      search = copied;
    }
    if (copied == 0) return std::nullopt;
    out.append(text, copied, std::string::npos);
    return out;
  };
  // `"allowInsecure"\s*:\s*(true|false|1|0)` with an optional `\s*,` required after it.
  const auto strip = [&member](const std::string& text,
                               bool trailing_comma) -> std::optional<std::string> {
    config_text::PieceFinder finder(text, member);
    std::string out;
    size_t copied = 0;
    size_t search = 0;
    while (const auto match = finder.FindFrom(search)) {
      size_t end = match->end;
      if (trailing_comma) {
        end = config_text::SkipPatternSpaces(text, end);
        if (end >= text.size() || text[end] != ',') {
          search = match->begin + 1;
          continue;
        }
        ++end;
      }
      out.append(text, copied, match->begin - copied);
      copied = end;
      search = end;
    }
    if (copied == 0) return std::nullopt;
    out.append(text, copied, std::string::npos);
    return out;
  };
  std::optional<std::string> stripped = strip_with_leading_comma(config);
  if (auto next = strip(stripped ? *stripped : config, true)) stripped = std::move(next);
  if (auto next = strip(stripped ? *stripped : config, false)) stripped = std::move(next);
  return stripped ? std::move(*stripped) : config;
}
