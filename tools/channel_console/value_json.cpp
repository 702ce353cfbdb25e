#include "value_json.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace channel_console {

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

std::string DoubleToJson(double value) {
  if (std::isnan(value)) return "{\"$double\":\"NaN\"}";
  if (std::isinf(value))
    return value > 0 ? "{\"$double\":\"Infinity\"}" : "{\"$double\":\"-Infinity\"}";
  // The shortest text that reads back as the same double.
  char buffer[40];
  for (int precision = 15; precision <= 17; ++precision) {
    std::snprintf(buffer, sizeof(buffer), "%.*g", precision, value);
    if (std::strtod(buffer, nullptr) == value) break;
  }
  std::string text = buffer;
  // A double must not read back as an integer.
  if (text.find_first_of(".eEn") == std::string::npos) text += ".0";
  return text;
}

std::string FloatToJson(float value) {
  if (std::isnan(value) || std::isinf(value)) return DoubleToJson(value);
  char buffer[40];
  std::snprintf(buffer, sizeof(buffer), "%.9g", static_cast<double>(value));
  return buffer;
}

template <typename T, typename Format>
std::string ListToJson(const char* tag, const std::vector<T>& list, Format format) {
  std::string json = std::string("{\"") + tag + "\":[";
  for (size_t i = 0; i < list.size(); ++i) {
    if (i) json += ',';
    json += format(list[i]);
  }
  return json + "]}";
}

std::string StringToJson(const std::string& text) {
  if (IsValidUtf8(text)) return QuoteJson(text);
  return "{\"$utf8\":\"" + Base64Encode(std::vector<uint8_t>(text.begin(), text.end())) + "\"}";
}

bool MapHasPlainKeys(const EncodableMap& map) {
  for (const auto& pair : map) {
    const auto* key = std::get_if<std::string>(&pair.first);
    if (!key || (!key->empty() && (*key)[0] == '$') || !IsValidUtf8(*key)) return false;
  }
  return true;
}

bool ParseInteger(const std::string& text, int64_t* out) {
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno == ERANGE || end != text.c_str() + text.size() || text.empty()) return false;
  *out = value;
  return true;
}

bool IsIntegerText(const std::string& text) {
  return text.find_first_of(".eE") == std::string::npos;
}

bool ParseDouble(const Json& json, double* out) {
  if (json.type == Json::Type::kNumber) {
    *out = std::strtod(json.text.c_str(), nullptr);
    return true;
  }
  if (json.type == Json::Type::kString) {
    if (json.text == "NaN") {
      *out = std::numeric_limits<double>::quiet_NaN();
    } else if (json.text == "Infinity") {
      *out = std::numeric_limits<double>::infinity();
    } else if (json.text == "-Infinity") {
      *out = -std::numeric_limits<double>::infinity();
    } else {
      return false;
    }
    return true;
  }
  return false;
}

bool Int64FromJson(const Json& json, int64_t* out) {
  if (json.type != Json::Type::kNumber && json.type != Json::Type::kString) return false;
  return IsIntegerText(json.text) && ParseInteger(json.text, out);
}

bool Fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

// Reads a "$...List" array with `read` for each element.
template <typename T, typename Read>
bool ReadTypedList(const Json& json, const char* tag, Read read, EncodableValue* out,
                   std::string* error) {
  if (json.type != Json::Type::kArray) return Fail(error, std::string(tag) + " needs an array");
  std::vector<T> list;
  for (const Json& item : json.items) {
    T value;
    if (!read(item, &value)) return Fail(error, std::string("bad element in ") + tag);
    list.push_back(value);
  }
  *out = EncodableValue(std::move(list));
  return true;
}

bool ReadTagged(const std::string& tag, const Json& json, EncodableValue* out, std::string* error) {
  if (tag == "$int64") {
    int64_t value = 0;
    if (!Int64FromJson(json, &value)) return Fail(error, "$int64 needs an integer");
    *out = EncodableValue(value);
    return true;
  }
  if (tag == "$double") {
    double value = 0;
    if (!ParseDouble(json, &value)) return Fail(error, "$double needs a number");
    *out = EncodableValue(value);
    return true;
  }
  if (tag == "$uint8" || tag == "$utf8") {
    std::vector<uint8_t> bytes;
    if (json.type != Json::Type::kString || !Base64Decode(json.text, &bytes)) {
      return Fail(error, tag + " needs base64 text");
    }
    if (tag == "$uint8") {
      *out = EncodableValue(std::move(bytes));
    } else {
      *out = EncodableValue(std::string(bytes.begin(), bytes.end()));
    }
    return true;
  }
  if (tag == "$int32List") {
    return ReadTypedList<int32_t>(
        json, "$int32List",
        [](const Json& item, int32_t* value) {
          int64_t wide = 0;
          if (!Int64FromJson(item, &wide) || wide < INT32_MIN || wide > INT32_MAX) return false;
          *value = static_cast<int32_t>(wide);
          return true;
        },
        out, error);
  }
  if (tag == "$int64List") {
    return ReadTypedList<int64_t>(json, "$int64List", Int64FromJson, out, error);
  }
  if (tag == "$float64List") {
    return ReadTypedList<double>(json, "$float64List", ParseDouble, out, error);
  }
  if (tag == "$float32List") {
    return ReadTypedList<float>(
        json, "$float32List",
        [](const Json& item, float* value) {
          double wide = 0;
          if (!ParseDouble(item, &wide)) return false;
          *value = static_cast<float>(wide);
          return true;
        },
        out, error);
  }
  if (tag == "$map") {
    if (json.type != Json::Type::kArray) return Fail(error, "$map needs an array of pairs");
    EncodableMap map;
    for (const Json& pair : json.items) {
      if (pair.type != Json::Type::kArray || pair.items.size() != 2) {
        return Fail(error, "$map needs [key, value] pairs");
      }
      EncodableValue key, value;
      if (!JsonToEncodable(pair.items[0], &key, error) ||
          !JsonToEncodable(pair.items[1], &value, error)) {
        return false;
      }
      map[std::move(key)] = std::move(value);
    }
    *out = EncodableValue(std::move(map));
    return true;
  }
  return Fail(error, "unknown tag " + tag);
}

}  // namespace

std::string EncodableToJson(const EncodableValue& value) {
  switch (value.index()) {
    case 0:
      return "null";
    case 1:
      return std::get<bool>(value) ? "true" : "false";
    case 2:
      return std::to_string(std::get<int32_t>(value));
    case 3: {
      const int64_t number = std::get<int64_t>(value);
      if (number >= INT32_MIN && number <= INT32_MAX) {
        return "{\"$int64\":" + std::to_string(number) + "}";
      }
      return std::to_string(number);
    }
    case 4:
      return DoubleToJson(std::get<double>(value));
    case 5:
      return StringToJson(std::get<std::string>(value));
    case 6:
      return "{\"$uint8\":\"" + Base64Encode(std::get<std::vector<uint8_t>>(value)) + "\"}";
    case 7:
      return ListToJson("$int32List", std::get<std::vector<int32_t>>(value),
                        [](int32_t v) { return std::to_string(v); });
    case 8:
      return ListToJson("$int64List", std::get<std::vector<int64_t>>(value),
                        [](int64_t v) { return std::to_string(v); });
    case 9:
      return ListToJson("$float64List", std::get<std::vector<double>>(value), DoubleToJson);
    case 10: {
      std::string json = "[";
      const auto& list = std::get<EncodableList>(value);
      for (size_t i = 0; i < list.size(); ++i) {
        if (i) json += ',';
        json += EncodableToJson(list[i]);
      }
      return json + "]";
    }
    case 11: {
      const auto& map = std::get<EncodableMap>(value);
      std::string json;
      bool first = true;
      if (MapHasPlainKeys(map)) {
        json = "{";
        for (const auto& pair : map) {
          if (!first) json += ',';
          first = false;
          json += QuoteJson(std::get<std::string>(pair.first)) + ":" + EncodableToJson(pair.second);
        }
        return json + "}";
      }
      json = "{\"$map\":[";
      for (const auto& pair : map) {
        if (!first) json += ',';
        first = false;
        json += "[" + EncodableToJson(pair.first) + "," + EncodableToJson(pair.second) + "]";
      }
      return json + "]}";
    }
    case 13:
      return ListToJson("$float32List", std::get<std::vector<float>>(value), FloatToJson);
  }
  // Custom values never come off the wire.
  return "null";
}

bool JsonToEncodable(const Json& json, EncodableValue* out, std::string* error) {
  switch (json.type) {
    case Json::Type::kNull:
      *out = EncodableValue();
      return true;
    case Json::Type::kBool:
      *out = EncodableValue(json.boolean);
      return true;
    case Json::Type::kString:
      *out = EncodableValue(json.text);
      return true;
    case Json::Type::kNumber: {
      if (!IsIntegerText(json.text)) {
        *out = EncodableValue(std::strtod(json.text.c_str(), nullptr));
        return true;
      }
      int64_t number = 0;
      if (!ParseInteger(json.text, &number)) return Fail(error, "integer beyond 64 bits");
      if (number >= INT32_MIN && number <= INT32_MAX) {
        *out = EncodableValue(static_cast<int32_t>(number));
      } else {
        *out = EncodableValue(number);
      }
      return true;
    }
    case Json::Type::kArray: {
      EncodableList list;
      for (const Json& item : json.items) {
        EncodableValue value;
        if (!JsonToEncodable(item, &value, error)) return false;
        list.push_back(std::move(value));
      }
      *out = EncodableValue(std::move(list));
      return true;
    }
    case Json::Type::kObject: {
      if (json.members.size() == 1 && !json.members[0].first.empty() &&
          json.members[0].first[0] == '$') {
        return ReadTagged(json.members[0].first, json.members[0].second, out, error);
      }
      EncodableMap map;
      for (const auto& member : json.members) {
        EncodableValue value;
        if (!JsonToEncodable(member.second, &value, error)) return false;
        map[EncodableValue(member.first)] = std::move(value);
      }
      *out = EncodableValue(std::move(map));
      return true;
    }
  }
  return Fail(error, "unknown JSON value");
}

std::string Base64Encode(const std::vector<uint8_t>& bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t n = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    text += kAlphabet[n >> 18];
    text += kAlphabet[(n >> 12) & 63];
    text += kAlphabet[(n >> 6) & 63];
    text += kAlphabet[n & 63];
  }
  if (i + 1 == bytes.size()) {
    const uint32_t n = bytes[i] << 16;
    text += kAlphabet[n >> 18];
    text += kAlphabet[(n >> 12) & 63];
    text += "==";
  } else if (i + 2 == bytes.size()) {
    const uint32_t n = (bytes[i] << 16) | (bytes[i + 1] << 8);
    text += kAlphabet[n >> 18];
    text += kAlphabet[(n >> 12) & 63];
    text += kAlphabet[(n >> 6) & 63];
    text += '=';
  }
  return text;
}

bool Base64Decode(const std::string& text, std::vector<uint8_t>* out) {
  auto digit = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  out->clear();
  if (text.size() % 4 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    int values[4];
    int padding = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = text[i + k];
      if (c == '=' && last && k >= 2) {
        values[k] = 0;
        ++padding;
        continue;
      }
      if (padding > 0) return false;  // data after padding
      values[k] = digit(c);
      if (values[k] < 0) return false;
    }
    const uint32_t n = (values[0] << 18) | (values[1] << 12) | (values[2] << 6) | values[3];
    out->push_back(static_cast<uint8_t>(n >> 16));
    if (padding < 2) out->push_back(static_cast<uint8_t>((n >> 8) & 0xff));
    if (padding < 1) out->push_back(static_cast<uint8_t>(n & 0xff));
  }
  return true;
}

}  // namespace channel_console
