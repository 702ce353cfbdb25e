#include "config_text/config_meta.h"

#include <optional>
#include <string_view>

#include "config_text/config_inspection.h"
#include "config_text/json_members.h"
#include "config_text/text_patterns.h"

using config_text::kNone;
using config_text::Piece;
using config_text::ValueKind;

namespace {

constexpr std::string_view kBlockedAppsKey = "\"__zelvora_blocked_apps\"";
constexpr std::string_view kMetaKey = "\"zelvoraMeta\"";

bool IsBaseNameChar(char c) {
  return c == ' ' || c == '-' || c == '.' || c == '_' || config_text::IsDigit(c) ||
         (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsAcceptableBlockedApp(std::string_view item) {
  if (item.empty() || item.size() > 253) return false;
  const size_t slash = item.find_last_of("\\/");
  const std::string_view base = slash == std::string_view::npos ? item : item.substr(slash + 1);
  if (base.empty()) return false;
  for (char c : base) {
    if (!IsBaseNameChar(c)) return false;
  }
  return true;
}

// The bracket content of the first `"key"\s*:\s*\[([^\]]*)\]` anywhere, ignoring key case.
std::optional<std::string_view> FindArrayContent(std::string_view text, std::string_view key) {
  config_text::PieceFinder finder(text, Piece{key, ValueKind::kBracketText, {}, true});
  const auto match = finder.FindFrom(0);
  if (!match) return std::nullopt;
  return text.substr(match->capture_begin, match->capture_end - match->capture_begin);
}

template <typename Keep>
void CollectQuotedItems(std::string_view content, std::vector<std::string>* out, Keep keep) {
  size_t from = 0;
  while (const auto item = config_text::NextQuotedItem(content, &from)) {
    if (keep(*item)) out->emplace_back(*item);
  }
}

void ReadBypassList(std::string& config, ConfigMeta* meta) {
  const size_t key_pos = config_text::FindLiteral(config, kBlockedAppsKey, 0, false);
  if (key_pos == std::string::npos) return;
  if (const auto content = FindArrayContent(config, kBlockedAppsKey)) {
    CollectQuotedItems(*content, &meta->blockedApps, IsAcceptableBlockedApp);
  }
  RemoveJsonMember(config, key_pos);
}

// The ports of a list whose content (between its brackets) is `content`: each element whole, a
// number or a string of digits from 1 to 65535. Anything else ("-5", 123456, 80.5) is no port
// and opens nothing; it is never read as the digits it happens to contain.
void ReadPortList(std::string_view content, std::vector<uint32_t>* ports) {
  const std::string_view array(content.data() - 1, content.size() + 2);
  config_text::ForEachElement(array, 0, [&](const config_text::ValueSpan& element) {
    const std::string_view digits =
        config_text::StringContent(array, element).value_or(element.Of(array));
    uint16_t port = 0;
    if (ParsePortText(std::string(digits), &port)) ports->push_back(port);
    return true;
  });
}

void ReadMetaObject(std::string& config, ConfigMeta* meta) {
  const size_t key_pos = config_text::FindLiteral(config, kMetaKey, 0, false);
  if (key_pos == std::string::npos) return;

  // The keys below are looked for in the whole text; the "zelvoraMeta" key only gates them.
  config_text::PieceFinder panel(config, Piece{"\"panelHost\"", ValueKind::kQuotedText, {}, true});
  if (const auto match = panel.FindFrom(0)) {
    std::string host =
        config.substr(match->capture_begin, match->capture_end - match->capture_begin);
    if (IsValidHostToken(host)) meta->panelHost = std::move(host);
  }
  if (const auto content = FindArrayContent(config, "\"bypassSubnets\"")) {
    CollectQuotedItems(*content, &meta->bypassSubnets, [](std::string_view) { return true; });
  }
  if (const auto content = FindArrayContent(config, "\"directDomains\"")) {
    CollectQuotedItems(*content, &meta->directDomains,
                       [](std::string_view item) { return IsValidHostToken(std::string(item)); });
  }
  if (const auto content = FindArrayContent(config, "\"shareProxyPorts\"")) {
    ReadPortList(*content, &meta->shareProxyPorts);
  }
  RemoveJsonMember(config, key_pos);
}

// End of a scalar value starting at `pos` (a string with its escapes, or a bare literal).
size_t ScalarValueEnd(std::string_view text, size_t pos) {
  if (text[pos] == '"') return config_text::JsonStringEnd(text, pos);
  size_t end = pos;
  while (end < text.size() && text[end] != ',' && text[end] != '}' && text[end] != ']' &&
         !config_text::IsJsonBlank(text[end])) {
    ++end;
  }
  return end;
}

}  // namespace

ConfigMeta ExtractConfigMeta(std::string& config) {
  ConfigMeta meta;
  ReadBypassList(config, &meta);
  ReadMetaObject(config, &meta);
  return meta;
}

bool IsValidHostToken(const std::string& token) {
  if (token.empty() || token.size() > 253) return false;
  for (char c : token) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || config_text::IsDigit(c) ||
                    c == '*' || c == '-' || c == '.' || c == ':' || c == '_';
    if (!ok) return false;
  }
  return true;
}

void RemoveJsonMember(std::string& text, size_t key_pos) {
  if (key_pos >= text.size()) return;
  size_t start = key_pos;
  while (start > 0 && config_text::IsJsonBlank(text[start - 1])) --start;
  const bool comma_before = start > 0 && text[start - 1] == ',';

  // The value is what follows the key and its colon. Searching onwards for the next bracket
  // instead would, for a scalar value, swallow whatever array or object comes next.
  const size_t key_end = text.find('"', key_pos + 1);
  if (key_end == std::string::npos) return;
  size_t value = key_end + 1;
  while (value < text.size() && config_text::IsJsonBlank(text[value])) ++value;
  if (value >= text.size() || text[value] != ':') return;
  ++value;
  while (value < text.size() && config_text::IsJsonBlank(text[value])) ++value;
  if (value >= text.size()) return;

  size_t end;
  if (text[value] == '[' || text[value] == '{') {
    const size_t closer = config_text::FindMatchingCloser(text, value);
    if (closer == kNone) return;
    end = closer + 1;
  } else {
    end = ScalarValueEnd(text, value);
    if (end == kNone || end == value) return;
  }
  while (end < text.size() && config_text::IsJsonBlank(text[end])) ++end;
  const bool comma_after = end < text.size() && text[end] == ',';
  if (comma_after) ++end;
  if (!comma_after && comma_before) --start;
  text.erase(start, end - start);
}

std::string EmbedBlockedAppsMeta(const std::string& config, const BlockedAppsArgument& argument) {
  if (!argument.has_arguments || !argument.has_list || argument.items.empty()) return config;
  std::string array = "[";
  bool wrote_any = false;
  for (const std::string& item : argument.items) {
    if (item.empty()) continue;
    if (wrote_any) array += ',';
    array += '"';
    for (char c : item) {
      if (c == '"' || c == '\\') array += '\\';
      array += c;
    }
    array += '"';
    wrote_any = true;
  }
  if (!wrote_any) return config;
  array += ']';
  std::string result = config;
  config_text::InsertAfterFirstBrace(result, "\"__zelvora_blocked_apps\":" + array + ",");
  return result;
}
