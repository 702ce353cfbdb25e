#include "probes/core_traffic.h"

#include <cstdint>
#include <string>

#include "config_text/json_members.h"

namespace {

using config_text::ValueSpan;

constexpr uint64_t kLargest = static_cast<uint64_t>(INT64_MAX);
constexpr std::string_view kOutboundPrefix = "outbound>>>";
constexpr std::string_view kApiOutboundPrefix = "outbound>>>api>>>";
constexpr std::string_view kUplinkSuffix = ">>>traffic>>>uplink";
constexpr std::string_view kDownlinkSuffix = ">>>traffic>>>downlink";

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// The counter's value: digits, bare or quoted; 0 for anything else.
uint64_t CounterValue(std::string_view text, const ValueSpan& span) {
  std::string_view digits = span.Of(text);
  if (const auto quoted = config_text::StringContent(text, span)) digits = *quoted;
  if (digits.empty()) return 0;
  uint64_t value = 0;
  for (char c : digits) {
    if (!config_text::IsDigit(c)) return 0;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (kLargest - digit) / 10) return kLargest;
    value = value * 10 + digit;
  }
  return value;
}

void AddCapped(uint64_t* total, uint64_t amount) {
  *total = amount > kLargest - *total ? kLargest : *total + amount;
}

}  // namespace

std::optional<TrafficTotals> ReadCoreTraffic(std::string_view output,
                                             std::string_view only_outbound) {
  const auto stat = config_text::FindTopLevelMember(output, "stat");
  if (!stat) return std::nullopt;
  TrafficTotals totals;
  config_text::ForEachElement(output, stat->value.begin, [&](const ValueSpan& element) {
    const auto name_member = config_text::FindMember(output, element.begin, "name");
    if (!name_member) return true;
    const auto name = config_text::StringContent(output, name_member->value);
    if (!name || !StartsWith(*name, kOutboundPrefix) || StartsWith(*name, kApiOutboundPrefix)) {
      return true;
    }
    if (!only_outbound.empty()) {
      const std::string_view tag = name->substr(kOutboundPrefix.size());
      if (tag.substr(0, only_outbound.size()) != only_outbound ||
          tag.substr(only_outbound.size(), 3) != ">>>") {
        return true;
      }
    }
    const auto value_member = config_text::FindMember(output, element.begin, "value");
    const uint64_t value = value_member ? CounterValue(output, value_member->value) : 0;
    if (EndsWith(*name, kUplinkSuffix)) AddCapped(&totals.uplink, value);
    if (EndsWith(*name, kDownlinkSuffix)) AddCapped(&totals.downlink, value);
    return true;
  });
  return totals;
}
