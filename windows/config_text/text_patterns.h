// Hand-made matchers for the few pattern shapes the configuration text work needs.
//
// Each shape is a JSON-ish "piece" such as `"port"\s*:\s*(\d+)`, or two pieces joined by a lazy
// gap such as `A[\s\S]{0,500}?B`. The matchers give exactly the first-match-from-the-left
// results of the equivalent ECMAScript expression, but they never recurse and every byte of
// the text is looked at a bounded number of times, so a multi-megabyte configuration cannot
// exhaust the stack of whichever thread runs them.
//
// Why the shortcuts are exact: within a piece every repeat is followed by a byte the repeat
// cannot consume (`\s*` then ':', `[^"]+` then '"', `\d+` at the end or before a gap whose tail
// starts with '"'), so backtracking into a piece never yields another match. A lazy gap then
// simply picks the nearest tail match at or after the anchor's end.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <vector>

#include "config_text/json_text.h"

namespace config_text {

enum class ValueKind {
  kNone,         // `"key"` alone
  kDigits,       // `"key"\s*:\s*(\d+)`
  kQuotedText,   // `"key"\s*:\s*"([^"]+)"`
  kQuotedOneOf,  // `"key"\s*:\s*"(?:a|b|c)"`
  kBareOneOf,    // `"key"\s*:\s*(a|b|c)(?=[\s,}\]]|$)`: a whole bare value
  kBracketText,  // `"key"\s*:\s*\[([^\]]*)\]`
};

struct Piece {
  std::string_view key;  // with its quotes
  ValueKind kind = ValueKind::kNone;
  std::vector<std::string_view> choices = {};  // for the *OneOf kinds, tried in order
  bool icase = false;
};

struct PieceMatch {
  size_t begin = 0;
  size_t end = 0;
  size_t capture_begin = 0;  // the value's capture (digits, text, bracket content, choice)
  size_t capture_end = 0;
};

std::optional<PieceMatch> MatchPieceAt(std::string_view text, size_t pos, const Piece& piece);

// Finds the matches of one piece at or after a position. Queries that move forward reuse the
// previous answer, so a run of forward queries costs one pass over the text.
class PieceFinder {
 public:
  PieceFinder(std::string_view text, Piece piece) : text_(text), piece_(std::move(piece)) {}
  std::optional<PieceMatch> FindFrom(size_t from);

 private:
  std::string_view text_;
  Piece piece_;
  size_t cached_from_ = kNone;        // the last query position...
  std::optional<PieceMatch> cached_;  // ...and its answer
  size_t last_closer_ = kNone;
  bool last_closer_known_ = false;
};

struct GapMatch {
  size_t begin = 0;       // start of the anchor
  size_t anchor_end = 0;  // where the gap starts
  size_t end = 0;         // end of the tail
  size_t capture_begin = 0;
  size_t capture_end = 0;
  std::string_view Capture(std::string_view text) const {
    return text.substr(capture_begin, capture_end - capture_begin);
  }
};

// `anchor[\s\S]{0,max_gap}?tail` (max_gap kNone for `*?`), iterated like a regex iterator:
// each Next() searches from the end of the previous match.
class GapSearch {
 public:
  enum class CaptureFrom { kAnchor, kTail };
  GapSearch(std::string_view text, Piece anchor, size_t max_gap, Piece tail, CaptureFrom from);
  std::optional<GapMatch> Next();

 private:
  std::string_view text_;
  PieceFinder anchors_;
  PieceFinder tails_;
  size_t max_gap_;
  CaptureFrom capture_from_;
  size_t position_ = 0;
};

// `^\d{1,3}\.\d{1,3}\.\d{1,3}\.\d{1,3}$` over the whole text.
bool IsDottedQuad(std::string_view text);

// Iterators over a slice, each starting at `*from` and leaving `*from` after the match:
// The next non-empty JSON string: the content between its quotes, escapes kept as written.
std::optional<std::string_view> NextQuotedItem(std::string_view text, size_t* from);
// `"(\d{1,3}\.\d{1,3}\.\d{1,3}\.\d{1,3})"`: the address between the quotes.
std::optional<std::string_view> NextQuotedDottedQuad(std::string_view text, size_t* from);

}  // namespace config_text
