// Lossless mapping between standard-codec values and JSON, for the console's lines:
//   null, true/false, strings           as themselves (strings that are not UTF-8: {"$utf8": b64})
//   int32                               a plain integer
//   int64                               a plain integer outside the int32 range, otherwise
//                                       {"$int64": n} (so it stays an int64)
//   double                              a number with a fraction or exponent (1.0, 1e+300);
//                                       {"$double": "NaN" | "Infinity" | "-Infinity"}
//   uint8 list                          {"$uint8": "<base64>"}
//   int32/int64/float64/float32 lists   {"$int32List": [...]}, {"$int64List": [...]},
//                                       {"$float64List": [...]}, {"$float32List": [...]}
//   list                                an array
//   map with string keys (none "$...")  an object
//   any other map                       {"$map": [[key, value], ...]}
// Reading, a plain integer becomes an int32 when it fits and an int64 otherwise, as Dart does.
// Portable.
#pragma once

#include <flutter/encodable_value.h>

#include <cstdint>
#include <string>
#include <vector>

#include "json.h"

namespace channel_console {

std::string EncodableToJson(const flutter::EncodableValue& value);

// False, with a reason in `error`, for JSON that names no codec value (bad tags, integers
// beyond 64 bits, bad base64).
bool JsonToEncodable(const Json& json, flutter::EncodableValue* out, std::string* error);

std::string Base64Encode(const std::vector<uint8_t>& bytes);
// False for text that is not canonical base64 (padding required, no white space).
bool Base64Decode(const std::string& text, std::vector<uint8_t>* out);

}  // namespace channel_console
