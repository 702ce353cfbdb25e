// A small JSON reader and string quoting for the console's line protocol. Numbers keep their
// text, so the console can tell integers from doubles and read 64-bit integers exactly.
// Portable.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace channel_console {

struct Json {
  enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };

  Type type = Type::kNull;
  bool boolean = false;
  std::string text;  // a number's text, or a string's UTF-8 content
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;  // in input order

  // The member named `key`, or null.
  const Json* Find(const std::string& key) const;
};

// Parses one JSON text (surrounding white space allowed). On failure returns false with a
// short reason in `error`.
bool ParseJson(const std::string& text, Json* out, std::string* error);

// `utf8` as a JSON string literal, quotes included. The bytes must be valid UTF-8.
std::string QuoteJson(const std::string& utf8);

// True when `bytes` is well-formed UTF-8.
bool IsValidUtf8(const std::string& bytes);

}  // namespace channel_console
