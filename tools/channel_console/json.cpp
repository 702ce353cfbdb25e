#include "json.h"

#include <cstdint>

namespace channel_console {

namespace {

// Deeper input is refused instead of recursing without bound on a hostile line.
constexpr int kMaxDepth = 200;

class Parser {
 public:
  explicit Parser(const std::string& text) : text_(text) {}

  bool ParseDocument(Json* out, std::string* error) {
    SkipSpace();
    if (!ParseValue(out, 0)) {
      if (error) *error = error_;
      return false;
    }
    SkipSpace();
    if (pos_ != text_.size()) {
      if (error) *error = "unexpected text after the value";
      return false;
    }
    return true;
  }

 private:
  bool Fail(const char* why) {
    if (error_.empty()) error_ = why;
    return false;
  }

  void SkipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                   text_[pos_] == '\r' || text_[pos_] == '\n')) {
      ++pos_;
    }
  }

  bool Consume(const char* word) {
    size_t i = 0;
    while (word[i]) {
      if (pos_ + i >= text_.size() || text_[pos_ + i] != word[i]) return false;
      ++i;
    }
    pos_ += i;
    return true;
  }

  bool ParseValue(Json* out, int depth) {
    if (depth > kMaxDepth) return Fail("nested too deeply");
    if (pos_ >= text_.size()) return Fail("unexpected end of input");
    const char c = text_[pos_];
    if (c == '{') return ParseObject(out, depth);
    if (c == '[') return ParseArray(out, depth);
    if (c == '"') {
      out->type = Json::Type::kString;
      return ParseString(&out->text);
    }
    if (c == '-' || (c >= '0' && c <= '9')) return ParseNumber(out);
    if (Consume("true")) {
      out->type = Json::Type::kBool;
      out->boolean = true;
      return true;
    }
    if (Consume("false")) {
      out->type = Json::Type::kBool;
      return true;
    }
    if (Consume("null")) {
      out->type = Json::Type::kNull;
      return true;
    }
    return Fail("unexpected character");
  }

  bool ParseObject(Json* out, int depth) {
    out->type = Json::Type::kObject;
    ++pos_;
    SkipSpace();
    if (pos_ < text_.size() && text_[pos_] == '}') {
      ++pos_;
      return true;
    }
    for (;;) {
      SkipSpace();
      if (pos_ >= text_.size() || text_[pos_] != '"') return Fail("expected a member name");
      std::string key;
      if (!ParseString(&key)) return false;
      SkipSpace();
      if (pos_ >= text_.size() || text_[pos_] != ':') return Fail("expected ':'");
      ++pos_;
      SkipSpace();
      Json value;
      if (!ParseValue(&value, depth + 1)) return false;
      out->members.emplace_back(std::move(key), std::move(value));
      SkipSpace();
      if (pos_ < text_.size() && text_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (pos_ < text_.size() && text_[pos_] == '}') {
        ++pos_;
        return true;
      }
      return Fail("expected ',' or '}'");
    }
  }

  bool ParseArray(Json* out, int depth) {
    out->type = Json::Type::kArray;
    ++pos_;
    SkipSpace();
    if (pos_ < text_.size() && text_[pos_] == ']') {
      ++pos_;
      return true;
    }
    for (;;) {
      SkipSpace();
      Json item;
      if (!ParseValue(&item, depth + 1)) return false;
      out->items.push_back(std::move(item));
      SkipSpace();
      if (pos_ < text_.size() && text_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (pos_ < text_.size() && text_[pos_] == ']') {
        ++pos_;
        return true;
      }
      return Fail("expected ',' or ']'");
    }
  }

  bool ParseNumber(Json* out) {
    const size_t start = pos_;
    auto digits = [&] {
      const size_t from = pos_;
      while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
      return pos_ > from;
    };
    if (text_[pos_] == '-') ++pos_;
    if (pos_ < text_.size() && text_[pos_] == '0') {
      ++pos_;
    } else if (!digits()) {
      return Fail("bad number");
    }
    if (pos_ < text_.size() && text_[pos_] == '.') {
      ++pos_;
      if (!digits()) return Fail("bad number");
    }
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
      if (!digits()) return Fail("bad number");
    }
    out->type = Json::Type::kNumber;
    out->text = text_.substr(start, pos_ - start);
    return true;
  }

  bool ReadHex4(uint32_t* value) {
    if (text_.size() - pos_ < 4) return Fail("bad \\u escape");
    uint32_t result = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[pos_ + i];
      result <<= 4;
      if (c >= '0' && c <= '9') {
        result |= c - '0';
      } else if (c >= 'a' && c <= 'f') {
        result |= c - 'a' + 10;
      } else if (c >= 'A' && c <= 'F') {
        result |= c - 'A' + 10;
      } else {
        return Fail("bad \\u escape");
      }
    }
    pos_ += 4;
    *value = result;
    return true;
  }

  static void AppendUtf8(uint32_t code_point, std::string* out) {
    if (code_point < 0x80) {
      out->push_back(static_cast<char>(code_point));
    } else if (code_point < 0x800) {
      out->push_back(static_cast<char>(0xc0 | (code_point >> 6)));
      out->push_back(static_cast<char>(0x80 | (code_point & 0x3f)));
    } else if (code_point < 0x10000) {
      out->push_back(static_cast<char>(0xe0 | (code_point >> 12)));
      out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3f)));
      out->push_back(static_cast<char>(0x80 | (code_point & 0x3f)));
    } else {
      out->push_back(static_cast<char>(0xf0 | (code_point >> 18)));
      out->push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3f)));
      out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3f)));
      out->push_back(static_cast<char>(0x80 | (code_point & 0x3f)));
    }
  }

  bool ParseString(std::string* out) {
    ++pos_;  // opening quote
    for (;;) {
      if (pos_ >= text_.size()) return Fail("unterminated string");
      const unsigned char c = static_cast<unsigned char>(text_[pos_++]);
      if (c == '"') return true;
      if (c < 0x20) return Fail("control character in string");
      if (c != '\\') {
        out->push_back(static_cast<char>(c));
        continue;
      }
      if (pos_ >= text_.size()) return Fail("unterminated string");
      const char escape = text_[pos_++];
      switch (escape) {
        case '"':
        case '\\':
        case '/':
          out->push_back(escape);
          break;
        case 'b':
          out->push_back('\b');
          break;
        case 'f':
          out->push_back('\f');
          break;
        case 'n':
          out->push_back('\n');
          break;
        case 'r':
          out->push_back('\r');
          break;
        case 't':
          out->push_back('\t');
          break;
        case 'u': {
          uint32_t code_point = 0;
          if (!ReadHex4(&code_point)) return false;
          if (code_point >= 0xd800 && code_point < 0xdc00) {
            uint32_t low = 0;
            if (!Consume("\\u") || !ReadHex4(&low) || low < 0xdc00 || low >= 0xe000) {
              return Fail("unpaired surrogate");
            }
            code_point = 0x10000 + ((code_point - 0xd800) << 10) + (low - 0xdc00);
          } else if (code_point >= 0xdc00 && code_point < 0xe000) {
            return Fail("unpaired surrogate");
          }
          AppendUtf8(code_point, out);
          break;
        }
        default:
          return Fail("bad escape");
      }
    }
  }

  const std::string& text_;
  size_t pos_ = 0;
  std::string error_;
};

}  // namespace

const Json* Json::Find(const std::string& key) const {
  for (const auto& member : members) {
    if (member.first == key) return &member.second;
  }
  return nullptr;
}

bool ParseJson(const std::string& text, Json* out, std::string* error) {
  *out = Json();
  return Parser(text).ParseDocument(out, error);
}

std::string QuoteJson(const std::string& utf8) {
  static const char kHex[] = "0123456789abcdef";
  std::string quoted = "\"";
  for (const char ch : utf8) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '"') {
      quoted += "\\\"";
    } else if (c == '\\') {
      quoted += "\\\\";
    } else if (c == '\n') {
      quoted += "\\n";
    } else if (c == '\r') {
      quoted += "\\r";
    } else if (c == '\t') {
      quoted += "\\t";
    } else if (c < 0x20 || c == 0x7f) {
      quoted += "\\u00";
      quoted += kHex[c >> 4];
      quoted += kHex[c & 0xf];
    } else {
      quoted += ch;
    }
  }
  quoted += '"';
  return quoted;
}

bool IsValidUtf8(const std::string& bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    size_t extra = 0;
    uint32_t code_point = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xe0) == 0xc0) {
      extra = 1;
      code_point = c & 0x1f;
    } else if ((c & 0xf0) == 0xe0) {
      extra = 2;
      code_point = c & 0x0f;
    } else if ((c & 0xf8) == 0xf0) {
      extra = 3;
      code_point = c & 0x07;
    } else {
      return false;
    }
    if (bytes.size() - i <= extra) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xc0) != 0x80) return false;
      code_point = (code_point << 6) | (next & 0x3f);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    static const uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (code_point < kMinimum[extra] || code_point > 0x10ffff ||
        (code_point >= 0xd800 && code_point < 0xe000)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

}  // namespace channel_console
