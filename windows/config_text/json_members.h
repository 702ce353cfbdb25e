// Finds the members of one JSON object and the elements of one array in configuration text,
// without parsing the whole document: each call walks the one container it is asked about,
// skipping nested values in a single forward pass (no recursion), so a question such as "the
// port of the inbound tagged socks" is answered from that inbound object itself and never from
// whatever happens to follow it in the text.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "config_text/json_text.h"

namespace config_text {

// Bounds of one value: [begin, end).
struct ValueSpan {
  size_t begin = kNone;
  size_t end = kNone;
  std::string_view Of(std::string_view text) const { return text.substr(begin, end - begin); }
};

struct MemberSpan {
  size_t key = kNone;  // the key's opening quote
  ValueSpan value;
};

// End of the value starting at `pos` (a string, a container or a bare literal); kNone when the
// text ends first or nothing starts there.
size_t JsonValueEnd(std::string_view text, size_t pos);

// The direct member `key` (without quotes) of the object whose '{' is at `object_open`. Nested
// objects are skipped; the first member of that name counts.
std::optional<MemberSpan> FindMember(std::string_view text, size_t object_open,
                                     std::string_view key);

// The member `key` of the configuration's top-level object (the text's first '{').
std::optional<MemberSpan> FindTopLevelMember(std::string_view text, std::string_view key);

// True when the container opened at `open` holds nothing but blanks.
bool IsEmptyContainer(std::string_view text, size_t open);

// The content of a string value (between its quotes, escapes kept), or nothing when the value
// is not a string.
std::optional<std::string_view> StringContent(std::string_view text, const ValueSpan& value);

// Visits the elements of the array opened at `array_open` in order; `visit` returns false to
// stop early.
template <typename Visit>
void ForEachElement(std::string_view text, size_t array_open, Visit visit) {
  if (array_open >= text.size() || text[array_open] != '[') return;
  size_t pos = array_open + 1;
  while (true) {
    while (pos < text.size() && IsJsonBlank(text[pos])) ++pos;
    if (pos >= text.size() || text[pos] == ']') return;
    const size_t end = JsonValueEnd(text, pos);
    if (end == kNone) return;
    if (!visit(ValueSpan{pos, end})) return;
    pos = end;
    while (pos < text.size() && IsJsonBlank(text[pos])) ++pos;
    if (pos >= text.size() || text[pos] != ',') return;
    ++pos;
  }
}

}  // namespace config_text
