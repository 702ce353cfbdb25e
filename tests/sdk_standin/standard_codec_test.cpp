// The standard codec byte for byte: every tag, the size escapes, alignment counted from the
// start of the whole message, envelopes, and refusal of truncated or garbage bytes.

#include <flutter/byte_buffer_streams.h>
#include <flutter/method_result_functions.h>
#include <flutter/standard_message_codec.h>
#include <flutter/standard_method_codec.h>
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using Bytes = std::vector<uint8_t>;

const flutter::StandardMessageCodec& MessageCodec() {
  return flutter::StandardMessageCodec::GetInstance();
}
const flutter::StandardMethodCodec& MethodCodec() {
  return flutter::StandardMethodCodec::GetInstance();
}

Bytes Encode(const EncodableValue& value) { return *MessageCodec().EncodeMessage(value); }

Bytes DoubleBytes(double value) {
  Bytes bytes(8);
  std::memcpy(bytes.data(), &value, 8);
  return bytes;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Encodes, checks the bytes, and checks that decoding gives the value back.
void ExpectEncoding(const EncodableValue& value, const Bytes& expected) {
  EXPECT_EQ(Encode(value), expected);
  auto decoded = MessageCodec().DecodeMessage(expected);
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(*decoded, value);
}

// Every tag; typed lists aligned after their count (empty ones too, as Dart's reader expects);
// a double inside a list padded from the start of the whole message.
TEST(StandardCodecTest, EncodesEveryTagByteForByte) {
  ExpectEncoding(EncodableValue(), {0});
  ExpectEncoding(EncodableValue(true), {1});
  ExpectEncoding(EncodableValue(false), {2});
  ExpectEncoding(EncodableValue(int32_t{-2}), {3, 0xfe, 0xff, 0xff, 0xff});
  ExpectEncoding(EncodableValue(int64_t{0x0102030405060708}), {4, 8, 7, 6, 5, 4, 3, 2, 1});
  ExpectEncoding(EncodableValue(1.5), Concat({{6, 0, 0, 0, 0, 0, 0, 0}, DoubleBytes(1.5)}));
  ExpectEncoding(EncodableValue(std::string("h\xc3\xa9")), {7, 3, 'h', 0xc3, 0xa9});
  ExpectEncoding(EncodableValue(std::string()), {7, 0});
  ExpectEncoding(EncodableValue(Bytes{1, 2, 3}), {8, 3, 1, 2, 3});
  ExpectEncoding(EncodableValue(std::vector<int32_t>{1, -1}),
                 {9, 2, 0, 0, 1, 0, 0, 0, 0xff, 0xff, 0xff, 0xff});
  ExpectEncoding(EncodableValue(std::vector<int64_t>{1}),
                 {10, 1, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0});
  ExpectEncoding(EncodableValue(std::vector<double>{2.0}),
                 Concat({{11, 1, 0, 0, 0, 0, 0, 0}, DoubleBytes(2.0)}));
  ExpectEncoding(EncodableValue(std::vector<float>{1.0f}), {14, 1, 0, 0, 0, 0, 0x80, 0x3f});
  ExpectEncoding(EncodableValue(std::vector<int32_t>{}), {9, 0, 0, 0});
  ExpectEncoding(EncodableValue(std::vector<double>{}), {11, 0, 0, 0, 0, 0, 0, 0});
  ExpectEncoding(
      EncodableValue(EncodableList{
          EncodableValue(int32_t{1}),
          EncodableValue(EncodableMap{{EncodableValue("k"), EncodableValue(EncodableList{})}}),
          EncodableValue(2.0)}),
      Concat({{12, 3, 3, 1, 0, 0, 0, 13, 1, 7, 1, 'k', 12, 0, 6, 0}, DoubleBytes(2.0)}));
}

TEST(StandardCodecTest, UsesSizeEscapesAtTheirBoundaries) {
  struct Case {
    size_t size;
    Bytes prefix;
  };
  for (const Case& c : {Case{253, {7, 253}}, Case{254, {7, 254, 254, 0}},
                        Case{65535, {7, 254, 0xff, 0xff}}, Case{65536, {7, 255, 0, 0, 1, 0}}}) {
    SCOPED_TRACE(c.size);
    std::string text(c.size, 'x');
    Bytes expected = c.prefix;
    expected.insert(expected.end(), text.begin(), text.end());
    ExpectEncoding(EncodableValue(text), expected);
  }
}

TEST(StandardCodecTest, CountsAlignmentFromTheEnvelopeByte) {
  // After the envelope byte and the tag the double needs six bytes of padding, not seven.
  EncodableValue value(1.5);
  EXPECT_EQ(*MethodCodec().EncodeSuccessEnvelope(&value),
            Concat({{0, 6, 0, 0, 0, 0, 0, 0}, DoubleBytes(1.5)}));
  EncodableValue ints(std::vector<int32_t>{7});
  EXPECT_EQ(*MethodCodec().EncodeSuccessEnvelope(&ints), Bytes({0, 9, 1, 0, 7, 0, 0, 0}));
}

TEST(StandardCodecTest, EncodesMethodCallsAndEnvelopes) {
  flutter::MethodCall<EncodableValue> call(
      "m", std::make_unique<EncodableValue>(EncodableList{EncodableValue(1.5)}));
  const Bytes call_bytes = Concat({{7, 1, 'm', 12, 1, 6, 0, 0}, DoubleBytes(1.5)});
  EXPECT_EQ(*MethodCodec().EncodeMethodCall(call), call_bytes);
  auto decoded = MethodCodec().DecodeMethodCall(call_bytes);
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(decoded->method_name(), "m");
  EXPECT_EQ(*decoded->arguments(), EncodableValue(EncodableList{EncodableValue(1.5)}));

  flutter::MethodCall<EncodableValue> no_args("go", nullptr);
  EXPECT_EQ(*MethodCodec().EncodeMethodCall(no_args), Bytes({7, 2, 'g', 'o', 0}));

  EXPECT_EQ(*MethodCodec().EncodeSuccessEnvelope(), Bytes({0, 0}));
  // An empty message goes out as null.
  EXPECT_EQ(*MethodCodec().EncodeErrorEnvelope("E"), Bytes({1, 7, 1, 'E', 0, 0}));
  EncodableValue details(int32_t{3});
  EXPECT_EQ(*MethodCodec().EncodeErrorEnvelope("E", "no", &details),
            Bytes({1, 7, 1, 'E', 7, 2, 'n', 'o', 3, 3, 0, 0, 0}));
}

struct Outcome {
  std::string kind;
  std::string code;
  std::string message;
  EncodableValue value;
};

// Runs DecodeAndProcessResponseEnvelope and records what reached the result.
std::pair<bool, Outcome> ProcessEnvelope(const Bytes& bytes) {
  Outcome outcome{"none", "", "", EncodableValue()};
  flutter::MethodResultFunctions<EncodableValue> result(
      [&](const EncodableValue* value) {
        outcome.kind = "success";
        if (value) outcome.value = *value;
      },
      [&](const std::string& code, const std::string& message, const EncodableValue* details) {
        outcome.kind = "error";
        outcome.code = code;
        outcome.message = message;
        if (details) outcome.value = *details;
      },
      [&] { outcome.kind = "notImplemented"; });
  bool ok = MethodCodec().DecodeAndProcessResponseEnvelope(bytes.data(), bytes.size(), &result);
  return {ok, outcome};
}

TEST(StandardCodecTest, ProcessesResponseEnvelopes) {
  auto success = ProcessEnvelope({0, 3, 9, 0, 0, 0});
  EXPECT_TRUE(success.first);
  EXPECT_EQ(success.second.kind, "success");
  EXPECT_EQ(success.second.value, EncodableValue(int32_t{9}));

  auto error = ProcessEnvelope({1, 7, 1, 'E', 0, 3, 3, 0, 0, 0});
  EXPECT_TRUE(error.first);
  EXPECT_EQ(error.second.kind, "error");
  EXPECT_EQ(error.second.code, "E");
  EXPECT_EQ(error.second.message, "");
  EXPECT_EQ(error.second.value, EncodableValue(int32_t{3}));

  // Malformed envelopes reach the result not at all.
  for (const Bytes& bad : {Bytes{2, 0}, Bytes{1, 3, 1, 0, 0, 0, 0, 0}, Bytes{1, 7, 1, 'E', 3},
                           Bytes{0}, Bytes{1, 7, 1, 'E', 1, 0}}) {
    auto outcome = ProcessEnvelope(bad);
    EXPECT_FALSE(outcome.first);
    EXPECT_EQ(outcome.second.kind, "none");
  }
}

TEST(StandardCodecTest, ReadsLegacyLargeIntAsItsText) {
  auto decoded = MessageCodec().DecodeMessage(Bytes{5, 3, '1', '0', '0'});
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(*decoded, EncodableValue(std::string("100")));
}

TEST(StandardCodecTest, RefusesEveryTruncationOfAValidMessage) {
  EncodableValue rich(EncodableMap{
      {EncodableValue("list"),
       EncodableValue(EncodableList{EncodableValue(int64_t{5}), EncodableValue(0.25),
                                    EncodableValue(std::string(300, 'y'))})},
      {EncodableValue(int32_t{1}), EncodableValue(std::vector<float>{1.0f, 2.0f})},
      {EncodableValue(true), EncodableValue(std::vector<int64_t>{1, 2})},
  });
  const Bytes full = Encode(rich);
  // Nothing at all is the engine's null message, not a truncation.
  auto empty = MessageCodec().DecodeMessage(full.data(), 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_TRUE(empty->IsNull());
  for (size_t size = 1; size < full.size(); ++size) {
    Bytes truncated(full.begin(), full.begin() + size);
    EXPECT_EQ(MessageCodec().DecodeMessage(truncated.data(), truncated.size()), nullptr) << size;
  }
}

TEST(StandardCodecTest, RefusesGarbageWithoutHugeAllocations) {
  // Unknown tags.
  for (int tag = 15; tag < 256; ++tag) {
    Bytes bytes{static_cast<uint8_t>(tag), 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(MessageCodec().DecodeMessage(bytes), nullptr) << tag;
  }
  // Sizes that promise four gigabytes of strings, lists, maps and typed elements.
  for (uint8_t tag : {7, 8, 9, 10, 11, 12, 13, 14}) {
    Bytes bytes{tag, 255, 0xff, 0xff, 0xff, 0xff, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    EXPECT_EQ(MessageCodec().DecodeMessage(bytes), nullptr) << int(tag);
  }
  // Nesting far deeper than any real message, which would otherwise exhaust the stack.
  Bytes deep;
  for (int i = 0; i < 100000; ++i) {
    deep.push_back(12);
    deep.push_back(1);
  }
  deep.push_back(0);
  EXPECT_EQ(MessageCodec().DecodeMessage(deep), nullptr);
}

TEST(StandardCodecTest, AcceptsNestingUpToTheLimit) {
  const int depth = flutter::StandardCodecSerializer::kMaxNestingDepth - 1;
  Bytes nested;
  for (int i = 0; i < depth; ++i) {
    nested.push_back(12);
    nested.push_back(1);
  }
  nested.push_back(0);
  EXPECT_NE(MessageCodec().DecodeMessage(nested), nullptr);
}

TEST(StandardCodecTest, RefusesMethodCallsWithoutAStringNameOrWholeArguments) {
  EXPECT_EQ(MethodCodec().DecodeMethodCall(nullptr, 0), nullptr);
  EXPECT_EQ(MethodCodec().DecodeMethodCall(Bytes{3, 1, 0, 0, 0, 0}), nullptr);
  EXPECT_EQ(MethodCodec().DecodeMethodCall(Bytes{7, 1, 'm'}), nullptr);
  EXPECT_EQ(MethodCodec().DecodeMethodCall(Bytes{7, 5, 'm'}), nullptr);
  EXPECT_EQ(MethodCodec().DecodeMethodCall(Bytes{7, 1, 'm', 12, 2, 0}), nullptr);
}

}  // namespace
