#include "probes/engine_stats.h"

#include <cstdint>

#include "config_text/text_patterns.h"
#include "config_text/xray_core_contract.h"

namespace {

using config_text::Piece;
using config_text::PieceFinder;
using config_text::ValueKind;

// A counter far beyond any real byte count (more digits than fit) stops at the largest value
// instead of failing the whole reading.
uint64_t CounterValue(std::string_view digits) {
  uint64_t value = 0;
  for (char c : digits) {
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (INT64_MAX - digit) / 10) return INT64_MAX;
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace

EngineTrafficTotals ParseEngineStats(std::string_view output) {
  EngineTrafficTotals totals;
  const size_t stat = output.find(xray_core::kStatArrayKey);
  if (stat == std::string_view::npos) return totals;
  const size_t open = output.find('[', stat);
  if (open == std::string_view::npos) return totals;
  size_t pos = open;
  for (;;) {
    const size_t begin = output.find('{', pos);
    if (begin == std::string_view::npos) break;
    const size_t end = output.find('}', begin);
    if (end == std::string_view::npos) break;
    pos = end + 1;
    const std::string_view object = output.substr(begin, end - begin + 1);
    PieceFinder names(object, Piece{xray_core::kStatNameKey, ValueKind::kQuotedText});
    PieceFinder values(object, Piece{xray_core::kStatValueKey, ValueKind::kDigits});
    const auto name_match = names.FindFrom(0);
    if (!name_match) continue;
    const std::string_view name = object.substr(
        name_match->capture_begin, name_match->capture_end - name_match->capture_begin);
    const auto value_match = values.FindFrom(0);
    const uint64_t value =
        value_match
            ? CounterValue(object.substr(value_match->capture_begin,
                                         value_match->capture_end - value_match->capture_begin))
            : 0;
    if (name.find(xray_core::kProxyUplinkCounter) != std::string_view::npos) {
      totals.uplink += value;
    } else if (name.find(xray_core::kProxyDownlinkCounter) != std::string_view::npos) {
      totals.downlink += value;
    }
  }
  return totals;
}
