// Small scanners over configuration text. The configuration is never parsed as a document;
// these helpers answer local questions about it (is this a JSON blank, where does this array
// end) in one forward or backward pass, without recursion.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace config_text {

constexpr size_t kNone = std::string_view::npos;

// The bytes a regular-expression "\s" matches in the "C" locale: space, \t, \n, \v, \f, \r.
inline bool IsPatternSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
// The blanks JSON itself allows between tokens.
inline bool IsJsonBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
std::string AsciiLowerCopy(std::string_view text);

// True when `literal` stands at `pos` (letters compared without case when `icase`).
bool LiteralAt(std::string_view text, size_t pos, std::string_view literal, bool icase);
// First position at or after `from` where `literal` stands, or kNone.
size_t FindLiteral(std::string_view text, std::string_view literal, size_t from, bool icase);
// First position at or after `pos` that is not a pattern space.
size_t SkipPatternSpaces(std::string_view text, size_t pos);

// From the '"' at `open`, the position just past the quote that closes that string (a quote
// after an odd run of backslashes is escaped and does not close it); kNone when the text ends
// first. Every scanner here steps over strings with this, so brackets and quotes inside them
// never count.
size_t JsonStringEnd(std::string_view text, size_t open);

// From the '[' or '{' at `open`, the position of its closer, counting only that kind of bracket
// and skipping strings; kNone when the text ends first.
size_t FindMatchingCloser(std::string_view text, size_t open);

// Inserts `insert` just after the first '{' of `text`, without its trailing comma when that
// object is empty; false (text unchanged) when the text has no '{'.
bool InsertAfterFirstBrace(std::string& text, std::string_view insert);

// One change to a text: `erase` bytes at `pos` replaced by `insert`.
struct Splice {
  size_t pos = 0;
  size_t erase = 0;
  std::string insert;
};

// The text with every splice applied, built in one pass: splices are given against the same
// original text, must not overlap, and those at one position keep their order. Many changes to
// a long text thus cost one copy instead of one shift of the whole rest per change.
std::string ApplySplices(std::string_view text, std::vector<Splice> splices);

}  // namespace config_text
