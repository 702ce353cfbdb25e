#include "config_text/text_patterns.h"

#include <utility>

namespace config_text {

namespace {

// Position just after `"key"\s*:\s*` at `pos`, or kNone.
size_t MatchKeyColon(std::string_view text, size_t pos, const Piece& piece) {
  if (!LiteralAt(text, pos, piece.key, piece.icase)) return kNone;
  size_t at = SkipPatternSpaces(text, pos + piece.key.size());
  if (at >= text.size() || text[at] != ':') return kNone;
  return SkipPatternSpaces(text, at + 1);
}

// A byte that may follow a complete bare JSON value.
bool IsValueEnd(char c) { return IsPatternSpace(c) || c == ',' || c == '}' || c == ']'; }

}  // namespace

std::optional<PieceMatch> MatchPieceAt(std::string_view text, size_t pos, const Piece& piece) {
  if (piece.kind == ValueKind::kNone) {
    if (!LiteralAt(text, pos, piece.key, piece.icase)) return std::nullopt;
    const size_t end = pos + piece.key.size();
    return PieceMatch{pos, end, end, end};
  }
  const size_t value = MatchKeyColon(text, pos, piece);
  if (value == kNone) return std::nullopt;
  switch (piece.kind) {
    case ValueKind::kDigits: {
      size_t end = value;
      while (end < text.size() && IsDigit(text[end])) ++end;
      if (end == value) return std::nullopt;
      return PieceMatch{pos, end, value, end};
    }
    case ValueKind::kQuotedText: {
      if (value >= text.size() || text[value] != '"') return std::nullopt;
      const size_t close = text.find('"', value + 1);
      if (close == kNone || close == value + 1) return std::nullopt;
      return PieceMatch{pos, close + 1, value + 1, close};
    }
    case ValueKind::kQuotedOneOf: {
      if (value >= text.size() || text[value] != '"') return std::nullopt;
      for (std::string_view choice : piece.choices) {
        const size_t after = value + 1 + choice.size();
        if (LiteralAt(text, value + 1, choice, piece.icase) && after < text.size() &&
            text[after] == '"') {
          return PieceMatch{pos, after + 1, value + 1, after};
        }
      }
      return std::nullopt;
    }
    case ValueKind::kBareOneOf: {
      // A bare literal is a whole value: "1" does not match the start of 10.
      for (std::string_view choice : piece.choices) {
        const size_t after = value + choice.size();
        if (LiteralAt(text, value, choice, piece.icase) &&
            (after == text.size() || IsValueEnd(text[after]))) {
          return PieceMatch{pos, value + choice.size(), value, value + choice.size()};
        }
      }
      return std::nullopt;
    }
    case ValueKind::kBracketText: {
      if (value >= text.size() || text[value] != '[') return std::nullopt;
      const size_t close = text.find(']', value + 1);
      if (close == kNone) return std::nullopt;
      return PieceMatch{pos, close + 1, value + 1, close};
    }
    case ValueKind::kNone:
      break;
  }
  return std::nullopt;
}

std::optional<PieceMatch> PieceFinder::FindFrom(size_t from) {
  // A forward query that does not pass the last answer has the same answer: nothing matched
  // between the last query position and that answer.
  if (cached_from_ != kNone && from >= cached_from_ && (!cached_ || from <= cached_->begin)) {
    return cached_;
  }
  // A value that needs a closing byte cannot match once no such byte is left; stopping there
  // keeps a text full of unclosed candidates linear.
  const bool needs_closer =
      piece_.kind == ValueKind::kBracketText || piece_.kind == ValueKind::kQuotedText;
  if (needs_closer && !last_closer_known_) {
    last_closer_ = text_.rfind(piece_.kind == ValueKind::kBracketText ? ']' : '"');
    last_closer_known_ = true;
  }
  const size_t last_closer = last_closer_;
  std::optional<PieceMatch> found;
  for (size_t pos = FindLiteral(text_, piece_.key, from, piece_.icase); pos != kNone;
       pos = FindLiteral(text_, piece_.key, pos + 1, piece_.icase)) {
    if (needs_closer && (last_closer == kNone || pos > last_closer)) break;
    found = MatchPieceAt(text_, pos, piece_);
    if (found) break;
  }
  cached_from_ = from;
  cached_ = found;
  return found;
}

GapSearch::GapSearch(std::string_view text, Piece anchor, size_t max_gap, Piece tail,
                     CaptureFrom from)
    : text_(text),
      anchors_(text, std::move(anchor)),
      tails_(text, std::move(tail)),
      max_gap_(max_gap),
      capture_from_(from) {}

std::optional<GapMatch> GapSearch::Next() {
  while (position_ <= text_.size()) {
    const std::optional<PieceMatch> anchor = anchors_.FindFrom(position_);
    if (!anchor) {
      position_ = kNone;
      return std::nullopt;
    }
    // The lazy gap takes the nearest tail; a farther one is never preferred.
    const std::optional<PieceMatch> tail = tails_.FindFrom(anchor->end);
    if (tail && (max_gap_ == kNone || tail->begin - anchor->end <= max_gap_)) {
      position_ = tail->end;
      const PieceMatch& captured = capture_from_ == CaptureFrom::kAnchor ? *anchor : *tail;
      return GapMatch{anchor->begin, anchor->end, tail->end, captured.capture_begin,
                      captured.capture_end};
    }
    position_ = anchor->begin + 1;
  }
  return std::nullopt;
}

namespace {

// `\d{1,3}\.\d{1,3}\.\d{1,3}\.\d{1,3}` at `pos`; the position after it, or kNone.
size_t MatchDottedQuadAt(std::string_view text, size_t pos) {
  for (int group = 0; group < 4; ++group) {
    if (group > 0) {
      if (pos >= text.size() || text[pos] != '.') return kNone;
      ++pos;
    }
    size_t digits = 0;
    while (pos < text.size() && IsDigit(text[pos]) && digits < 3) {
      ++pos;
      ++digits;
    }
    if (digits == 0) return kNone;
  }
  return pos;
}

}  // namespace

bool IsDottedQuad(std::string_view text) { return MatchDottedQuadAt(text, 0) == text.size(); }

std::optional<std::string_view> NextQuotedItem(std::string_view text, size_t* from) {
  // Items are taken as the JSON strings they are: each opening quote is paired with its own
  // closing quote (an escaped quote does not close), so an empty item "" is passed over
  // without pairing the closing quote of one item with the opening quote of the next.
  for (size_t open = text.find('"', *from); open != kNone; open = text.find('"', open)) {
    const size_t end = JsonStringEnd(text, open);
    if (end == kNone) break;
    const size_t close = end - 1;
    if (close > open + 1) {
      *from = close + 1;
      return text.substr(open + 1, close - open - 1);
    }
    open = close + 1;
  }
  *from = text.size();
  return std::nullopt;
}

std::optional<std::string_view> NextQuotedDottedQuad(std::string_view text, size_t* from) {
  for (size_t open = text.find('"', *from); open != kNone; open = text.find('"', open + 1)) {
    const size_t end = MatchDottedQuadAt(text, open + 1);
    if (end != kNone && end < text.size() && text[end] == '"') {
      *from = end + 1;
      return text.substr(open + 1, end - open - 1);
    }
  }
  *from = text.size();
  return std::nullopt;
}

}  // namespace config_text
