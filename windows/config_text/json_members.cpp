#include "config_text/json_members.h"

namespace config_text {

namespace {

// Bytes a container walk must look at: quotes and brackets. The rest is skipped in a tight loop.
struct ContainerBytes {
  bool marks[256] = {};
  constexpr ContainerBytes() {
    for (unsigned char c : {'"', '{', '}', '[', ']'}) marks[c] = true;
  }
};
constexpr ContainerBytes kContainerBytes;

size_t SkipBlanks(std::string_view text, size_t pos) {
  while (pos < text.size() && IsJsonBlank(text[pos])) ++pos;
  return pos;
}

}  // namespace

size_t JsonValueEnd(std::string_view text, size_t pos) {
  if (pos >= text.size()) return kNone;
  const char first = text[pos];
  if (first == '"') return JsonStringEnd(text, pos);
  if (first == '{' || first == '[') {
    // Both kinds of bracket count, so a stray closer of the other kind cannot end the walk
    // early inside a well-formed value.
    size_t depth = 0;
    for (size_t at = pos; at < text.size(); ++at) {
      while (at < text.size() && !kContainerBytes.marks[static_cast<unsigned char>(text[at])]) ++at;
      if (at >= text.size()) break;
      const char c = text[at];
      if (c == '"') {
        at = JsonStringEnd(text, at);
        if (at == kNone) return kNone;
        --at;
      } else if (c == '{' || c == '[') {
        ++depth;
      } else if (c == '}' || c == ']') {
        if (--depth == 0) return at + 1;
      }
    }
    return kNone;
  }
  if (first == ',' || first == '}' || first == ']' || first == ':' || IsJsonBlank(first)) {
    return kNone;
  }
  size_t end = pos;
  while (end < text.size() && text[end] != ',' && text[end] != '}' && text[end] != ']' &&
         !IsJsonBlank(text[end])) {
    ++end;
  }
  return end;
}

std::optional<MemberSpan> FindMember(std::string_view text, size_t object_open,
                                     std::string_view key) {
  if (object_open >= text.size() || text[object_open] != '{') return std::nullopt;
  size_t pos = object_open + 1;
  while (true) {
    pos = SkipBlanks(text, pos);
    if (pos >= text.size() || text[pos] != '"') return std::nullopt;
    const size_t key_begin = pos;
    const size_t key_end = JsonStringEnd(text, pos);
    if (key_end == kNone) return std::nullopt;
    const bool wanted = text.substr(pos + 1, key_end - pos - 2) == key;
    pos = SkipBlanks(text, key_end);
    if (pos >= text.size() || text[pos] != ':') return std::nullopt;
    const size_t value = SkipBlanks(text, pos + 1);
    const size_t value_end = JsonValueEnd(text, value);
    if (value_end == kNone) return std::nullopt;
    if (wanted) return MemberSpan{key_begin, ValueSpan{value, value_end}};
    pos = SkipBlanks(text, value_end);
    if (pos >= text.size() || text[pos] != ',') return std::nullopt;
    ++pos;
  }
}

std::optional<MemberSpan> FindTopLevelMember(std::string_view text, std::string_view key) {
  const size_t top = text.find('{');
  if (top == kNone) return std::nullopt;
  return FindMember(text, top, key);
}

bool IsEmptyContainer(std::string_view text, size_t open) {
  if (open >= text.size() || (text[open] != '{' && text[open] != '[')) return false;
  const size_t next = SkipBlanks(text, open + 1);
  return next < text.size() && text[next] == (text[open] == '{' ? '}' : ']');
}

std::optional<std::string_view> StringContent(std::string_view text, const ValueSpan& value) {
  if (value.begin >= text.size() || text[value.begin] != '"' || value.end - value.begin < 2) {
    return std::nullopt;
  }
  return text.substr(value.begin + 1, value.end - value.begin - 2);
}

}  // namespace config_text
