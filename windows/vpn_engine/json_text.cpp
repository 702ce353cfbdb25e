#include "vpn_engine/json_text.h"

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
  if (!icase) return text.find(literal, from);
  if (literal.empty()) return from;
  const char first = AsciiLower(literal[0]);
  for (size_t pos = from; pos + literal.size() <= text.size(); ++pos) {
    if (AsciiLower(text[pos]) == first && LiteralAt(text, pos, literal, true)) return pos;
  }
  return kNone;
}

size_t SkipPatternSpaces(std::string_view text, size_t pos) {
  while (pos < text.size() && IsPatternSpace(text[pos])) ++pos;
  return pos;
}

namespace {

// Walks from `open` with a JSON string state. `counts` tells which bytes raise and lower the
// depth; returns the position of the byte that brings the depth back to zero.
template <typename Raise, typename Lower>
size_t WalkToDepthZero(std::string_view text, size_t open, Raise raises, Lower lowers) {
  int depth = 0;
  bool in_string = false;
  bool escaped = false;
  for (size_t pos = open; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    if (c == '"') {
      in_string = true;
    } else if (raises(c)) {
      ++depth;
    } else if (lowers(c)) {
      if (--depth == 0) return pos;
    }
  }
  return kNone;
}

}  // namespace

size_t FindArrayEnd(std::string_view text, size_t open) {
  if (open >= text.size() || text[open] != '[') return kNone;
  // Only a ']' ends the walk; a '}' that reaches depth zero (malformed text) does not.
  int depth = 0;
  bool in_string = false;
  bool escaped = false;
  for (size_t pos = open; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      ++depth;
    } else if (c == ']' || c == '}') {
      --depth;
      if (c == ']' && depth == 0) return pos;
    }
  }
  return kNone;
}

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
  text.insert(brace + 1, insert);
  return true;
}

}  // namespace config_text
