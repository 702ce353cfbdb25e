// The channel console's JSON lines: the value mapping must be lossless both ways, requests
// must parse or be refused with a reason, and every line we print must start with {"type".

#include "console_protocol.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "json.h"
#include "value_json.h"

namespace {

using channel_console::Command;
using channel_console::EncodableToJson;
using channel_console::Json;
using channel_console::JsonToEncodable;
using channel_console::ParseCommand;
using channel_console::ParseJson;
using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

EncodableValue FromJson(const std::string& text) {
  Json json;
  std::string error;
  EXPECT_TRUE(ParseJson(text, &json, &error)) << text << ": " << error;
  EncodableValue value;
  EXPECT_TRUE(JsonToEncodable(json, &value, &error)) << text << ": " << error;
  return value;
}

TEST(ValueJsonTest, MapsEveryValueLosslessly) {
  const std::vector<EncodableValue> values = {
      EncodableValue(),
      EncodableValue(true),
      EncodableValue(int32_t{-7}),
      EncodableValue(int64_t{7}),
      EncodableValue(int64_t{1} << 40),
      EncodableValue(std::numeric_limits<int64_t>::min()),
      EncodableValue(2.0),
      EncodableValue(-0.0),
      EncodableValue(0.1),
      EncodableValue(1e300),
      EncodableValue(std::numeric_limits<double>::infinity()),
      EncodableValue(std::string("tab\t\"q\" \xe2\x86\x92 \x01")),
      EncodableValue(std::string("\xff\xfe not UTF-8")),
      EncodableValue(std::vector<uint8_t>{0, 1, 254, 255}),
      EncodableValue(std::vector<int32_t>{INT32_MIN, 0}),
      EncodableValue(std::vector<int64_t>{INT64_MAX}),
      EncodableValue(std::vector<double>{0.5, -1e-300}),
      EncodableValue(std::vector<float>{0.1f, 3.0f}),
      EncodableValue(EncodableList{EncodableValue(1), EncodableValue(EncodableList{})}),
      EncodableValue(EncodableMap{{EncodableValue("plain"), EncodableValue(1)}}),
      EncodableValue(EncodableMap{{EncodableValue("$looks-tagged"), EncodableValue(1)}}),
      EncodableValue(EncodableMap{{EncodableValue(int32_t{1}), EncodableValue("one")},
                                  {EncodableValue(2.5), EncodableValue()}}),
  };
  for (const EncodableValue& value : values) {
    const std::string json = EncodableToJson(value);
    EXPECT_EQ(FromJson(json), value) << json;
  }
  const std::string nan = EncodableToJson(EncodableValue(std::nan("")));
  EXPECT_TRUE(std::isnan(std::get<double>(FromJson(nan))));
}

TEST(ValueJsonTest, ReadsPlainNumbersAsDartWould) {
  EXPECT_EQ(FromJson("2147483647"), EncodableValue(int32_t{2147483647}));
  EXPECT_EQ(FromJson("2147483648"), EncodableValue(int64_t{2147483648}));
  EXPECT_EQ(FromJson("1.0"), EncodableValue(1.0));
  EXPECT_EQ(FromJson("1e2"), EncodableValue(100.0));
  EXPECT_EQ(EncodableToJson(EncodableValue(3.0)), "3.0");
  EXPECT_EQ(FromJson("\"\\u00e9\\ud83d\\ude00\""),
            EncodableValue(std::string("\xc3\xa9\xf0\x9f\x98\x80")));
}

TEST(ValueJsonTest, RefusesWhatNamesNoValue) {
  for (const char* text : {"99999999999999999999", "{\"$uint8\":\"abc\"}", "{\"$nope\":1}",
                           "{\"$int32List\":[1.5]}", "{\"$map\":[[1]]}"}) {
    Json json;
    std::string error;
    ASSERT_TRUE(ParseJson(text, &json, &error)) << text;
    EncodableValue value;
    EXPECT_FALSE(JsonToEncodable(json, &value, &error)) << text;
    EXPECT_FALSE(error.empty());
  }
  for (const char* text :
       {"", "{", "[1,]", "{\"a\" 1}", "01", "\"\\ud800\"", "tru", "1 2", "\"a\nb\""}) {
    Json json;
    std::string error;
    EXPECT_FALSE(ParseJson(text, &json, &error)) << text;
  }
  std::string deep(100000, '[');
  Json json;
  std::string error;
  EXPECT_FALSE(ParseJson(deep, &json, &error));
}

TEST(ConsoleProtocolTest, ParsesRequestsWithDefaults) {
  Command command;
  std::string error;
  ASSERT_TRUE(
      ParseCommand(R"({"op":"call","method":"m","args":{"k":[1]},"id":"a"})", 5, &command, &error));
  EXPECT_EQ(command.op, Command::Op::kCall);
  EXPECT_EQ(command.channel, "tidewire");
  EXPECT_EQ(command.id, "\"a\"");
  EXPECT_EQ(command.args, FromJson(R"({"k":[1]})"));

  ASSERT_TRUE(ParseCommand(R"({"op":"listen"})", 5, &command, &error));
  EXPECT_EQ(command.channel, "tidewire/status");
  EXPECT_EQ(command.id, "5");
  EXPECT_TRUE(command.args.IsNull());

  ASSERT_TRUE(ParseCommand(R"({"op":"raw","bytes":"AQI=","channel":"c"})", 1, &command, &error));
  EXPECT_EQ(command.bytes, std::vector<uint8_t>({1, 2}));
  EXPECT_EQ(command.channel, "c");

  ASSERT_TRUE(ParseCommand(R"({"op":"wait","ms":250})", 1, &command, &error));
  EXPECT_EQ(command.ms, 250);
  EXPECT_TRUE(channel_console::IsIgnorableLine("  # a comment"));
  EXPECT_TRUE(channel_console::IsIgnorableLine("\r"));
}

TEST(ConsoleProtocolTest, RefusesBadRequestsWithAReason) {
  for (const char* line :
       {"[]", R"({"method":"m"})", R"({"op":"call"})", R"({"op":"raw","bytes":"@@"})",
        R"({"op":"wait","ms":-1})", R"({"op":"wait","ms":1.5})", R"({"op":"fly"})",
        R"({"op":"call","method":"m","id":[1]})", R"({"op":"call","method":"m","channel":3})",
        R"({"op":"call","method":"m","args":{"$int64":"x"}})"}) {
    Command command;
    std::string error;
    EXPECT_FALSE(ParseCommand(line, 1, &command, &error)) << line;
    EXPECT_FALSE(error.empty()) << line;
  }
}

TEST(ConsoleProtocolTest, FormatsRepliesAndPluginMessages) {
  Command command;
  std::string error;
  ASSERT_TRUE(ParseCommand(R"({"op":"call","method":"m","id":3})", 1, &command, &error));
  const std::vector<uint8_t> failure{1, 7, 1, 'E', 0, 0};
  EXPECT_EQ(channel_console::FormatReply(
                command, flutter_standin::DecodeMethodReply(failure.data(), failure.size()), false),
            R"({"type":"reply","id":3,"op":"call","channel":"tidewire","method":"m",)"
            R"("status":"error","code":"E","message":null,"details":null})");
  EXPECT_EQ(
      channel_console::FormatReply(command, flutter_standin::DecodeMethodReply(nullptr, 0), true),
      R"({"type":"reply","id":3,"op":"call","channel":"tidewire","method":"m",)"
      R"("status":"abandoned"})");

  const std::vector<uint8_t> event{0, 7, 1, 'x'};
  EXPECT_EQ(channel_console::FormatPluginMessage("s", event.data(), event.size()),
            R"({"type":"event","channel":"s","status":"success","value":"x"})");
  EXPECT_EQ(channel_console::FormatPluginMessage("s", nullptr, 0),
            R"({"type":"event","channel":"s","status":"endOfStream"})");
  const std::vector<uint8_t> call{7, 1, 'c', 0};
  EXPECT_EQ(channel_console::FormatPluginMessage("s", call.data(), call.size()),
            R"({"type":"call","channel":"s","method":"c","args":null})");
  const std::vector<uint8_t> junk{9};
  EXPECT_EQ(channel_console::FormatPluginMessage("s", junk.data(), junk.size()),
            R"({"type":"event","channel":"s","status":"malformed","bytes":"CQ=="})");
}

}  // namespace
