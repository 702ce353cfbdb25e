#include "plugin/method_args.h"

namespace zelvora {
namespace {

const flutter::EncodableValue* FindArg(const flutter::EncodableMap& map, const char* key) {
  const auto it = map.find(flutter::EncodableValue(std::string(key)));
  return it == map.end() ? nullptr : &it->second;
}

}  // namespace

const flutter::EncodableMap* ArgumentMap(const flutter::EncodableValue* arguments) {
  return arguments ? std::get_if<flutter::EncodableMap>(arguments) : nullptr;
}

bool HasArg(const flutter::EncodableMap& map, const char* key) {
  return FindArg(map, key) != nullptr;
}

bool TryGetStringArg(const flutter::EncodableMap& map, const char* key, std::string* out) {
  if (!out) return false;
  const flutter::EncodableValue* value = FindArg(map, key);
  const auto* text = value ? std::get_if<std::string>(value) : nullptr;
  if (!text) return false;
  *out = *text;
  return true;
}

bool GetOptionalBoolArg(const flutter::EncodableMap& map, const char* key) {
  const flutter::EncodableValue* value = FindArg(map, key);
  const auto* flag = value ? std::get_if<bool>(value) : nullptr;
  return flag && *flag;
}

}  // namespace zelvora
