#include "config_text/json_text.h"

#include <algorithm>
#include <cstring>

namespace config_text {

std::string AsciiLowerCopy(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = AsciiLower(c);
  return lower;
}

bool LiteralAt(std::string_view text, size_t pos, std::string_view literal, bool icase) {
  if (pos > text.size() || text.size() - pos < literal.size()) return false;
  if (!icase) return text.compare(pos, literal.size(), literal) == 0;
  for (size_t i = 0; i < literal.size(); ++i) {
    if (AsciiLower(text[pos + i]) != AsciiLower(literal[i])) return false;
  }
  return true;
}

size_t FindLiteral(std::string_view text, std::string_view literal, size_t from, bool icase) {
  if (from > text.size()) return kNone;
  const size_t length = literal.size();
  if (length == 0) return from;
  if (text.size() - from < length) return kNone;
  // Horspool's skip table: JSON is dense with quotes, so checking every '"' for a quoted key
  // would cost far more than skipping ahead by the key's length.
  size_t shift[256];
  for (size_t& entry : shift) entry = length;
  for (size_t i = 0; i + 1 < length; ++i) {
    const char c = literal[i];
    shift[static_cast<unsigned char>(c)] = length - 1 - i;
    if (icase) {
      shift[static_cast<unsigned char>(AsciiLower(c))] = length - 1 - i;
      if (c >= 'a' && c <= 'z') shift[static_cast<unsigned char>(c - 32)] = length - 1 - i;
    }
  }
  const char last = icase ? AsciiLower(literal[length - 1]) : literal[length - 1];
  for (size_t pos = from; pos + length <= text.size();) {
    const char probe = text[pos + length - 1];
    if ((icase ? AsciiLower(probe) : probe) == last && LiteralAt(text, pos, literal, icase)) {
      return pos;
    }
    pos += shift[static_cast<unsigned char>(probe)];
  }
  return kNone;
}

size_t SkipPatternSpaces(std::string_view text, size_t pos) {
  while (pos < text.size() && IsPatternSpace(text[pos])) ++pos;
  return pos;
}

size_t JsonStringEnd(std::string_view text, size_t open) {
  // The quotes are found with memchr; a quote preceded by an odd run of backslashes is escaped.
  size_t from = open + 1;
  while (from < text.size()) {
    const void* found = std::memchr(text.data() + from, '"', text.size() - from);
    if (found == nullptr) return kNone;
    const size_t quote = static_cast<size_t>(static_cast<const char*>(found) - text.data());
    size_t backslashes = 0;
    while (quote - backslashes > open + 1 && text[quote - backslashes - 1] == '\\') ++backslashes;
    if (backslashes % 2 == 0) return quote + 1;
    from = quote + 1;
  }
  return kNone;
}

namespace {

// Walks from `open`, skipping strings; `raises` and `lowers` tell which bytes change the
// depth. Returns the position of the byte that brings the depth back to zero.
template <typename Raise, typename Lower>
size_t WalkToDepthZero(std::string_view text, size_t open, Raise raises, Lower lowers) {
  int depth = 0;
  for (size_t pos = open; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (c == '"') {
      pos = JsonStringEnd(text, pos);
      if (pos == kNone) return kNone;
      --pos;
      continue;
    }
    if (raises(c)) {
      ++depth;
    } else if (lowers(c)) {
      if (--depth == 0) return pos;
    }
  }
  return kNone;
}

}  // namespace

size_t FindMatchingCloser(std::string_view text, size_t open) {
  if (open >= text.size()) return kNone;
  const char opener = text[open];
  if (opener != '[' && opener != '{') return kNone;
  const char closer = opener == '[' ? ']' : '}';
  return WalkToDepthZero(
      text, open, [opener](char c) { return c == opener; },
      [closer](char c) { return c == closer; });
}

bool InsertAfterFirstBrace(std::string& text, std::string_view insert) {
  const size_t brace = text.find('{');
  if (brace == std::string::npos) return false;
  // A member inserted into an empty object must not bring its separating comma along.
  size_t next = brace + 1;
  while (next < text.size() && IsJsonBlank(text[next])) ++next;
  if (next < text.size() && text[next] == '}' && !insert.empty() && insert.back() == ',') {
    insert.remove_suffix(1);
  }
  text.insert(brace + 1, insert);
  return true;
}

std::string ApplySplices(std::string_view text, std::vector<Splice> splices) {
  std::stable_sort(splices.begin(), splices.end(),
                   [](const Splice& a, const Splice& b) { return a.pos < b.pos; });
  size_t size = text.size();
  for (const Splice& splice : splices) size += splice.insert.size() - splice.erase;
  std::string out;
  out.reserve(size);
  size_t copied = 0;
  for (const Splice& splice : splices) {
    if (splice.pos < copied || splice.pos + splice.erase > text.size()) continue;  // overlap
    out.append(text, copied, splice.pos - copied);
    out += splice.insert;
    copied = splice.pos + splice.erase;
  }
  out.append(text, copied, std::string_view::npos);
  return out;
}

}  // namespace config_text
