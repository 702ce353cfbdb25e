// Reading method-call arguments: a value counts as a string only when it holds a string, as a
// boolean only when it holds a boolean.
#pragma once

#include <flutter/encodable_value.h>

#include <string>

namespace zelvora {

// The argument map, or null when the arguments are absent or not a map.
const flutter::EncodableMap* ArgumentMap(const flutter::EncodableValue* arguments);

bool HasArg(const flutter::EncodableMap& map, const char* key);

// False when `out` is null, the key is absent or its value is not a string.
bool TryGetStringArg(const flutter::EncodableMap& map, const char* key, std::string* out);

// An optional boolean: absent or of another type counts as false.
bool GetOptionalBoolArg(const flutter::EncodableMap& map, const char* key);

}  // namespace zelvora
