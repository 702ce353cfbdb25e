#include "console_protocol.h"

#include <flutter/standard_method_codec.h>

#include <cerrno>
#include <cstdlib>
#include <optional>

#include "json.h"
#include "value_json.h"

namespace channel_console {

namespace {

using flutter_standin::ReplyKind;

bool Fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

bool ReadString(const Json& request, const char* key, std::string* out) {
  const Json* member = request.Find(key);
  if (!member) return false;
  if (member->type != Json::Type::kString) return false;
  *out = member->text;
  return true;
}

bool ReadInteger(const Json& request, const char* key, int64_t* out) {
  const Json* member = request.Find(key);
  if (!member || member->type != Json::Type::kNumber) return false;
  if (member->text.find_first_of(".eE") != std::string::npos) return false;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(member->text.c_str(), &end, 10);
  if (errno == ERANGE || *end != '\0') return false;
  *out = value;
  return true;
}

// "type" first, so every line of ours starts with {"type" and log lines never do.
std::string Begin(const char* type) { return std::string("{\"type\":\"") + type + "\""; }

std::string ErrorFields(const std::string& code, const std::optional<std::string>& message,
                        const flutter::EncodableValue& details) {
  return ",\"code\":" + EncodableToJson(flutter::EncodableValue(code)) +
         ",\"message\":" + (message ? EncodableToJson(flutter::EncodableValue(*message)) : "null") +
         ",\"details\":" + EncodableToJson(details);
}

}  // namespace

bool IsIgnorableLine(const std::string& line) {
  for (char c : line) {
    if (c == '#') return true;
    if (c != ' ' && c != '\t' && c != '\r') return false;
  }
  return true;
}

bool ParseCommand(const std::string& line, int64_t fallback_id, Command* out, std::string* error) {
  Json request;
  std::string parse_error;
  if (!ParseJson(line, &request, &parse_error)) return Fail(error, "bad JSON: " + parse_error);
  if (request.type != Json::Type::kObject) return Fail(error, "a request is a JSON object");
  Command command;
  if (!ReadString(request, "op", &command.op_name)) return Fail(error, "missing \"op\"");

  const Json* id = request.Find("id");
  if (!id) {
    command.id = std::to_string(fallback_id);
  } else if (id->type == Json::Type::kNumber) {
    command.id = id->text;
  } else if (id->type == Json::Type::kString) {
    command.id = QuoteJson(id->text);
  } else {
    return Fail(error, "\"id\" must be a number or a string");
  }

  const Json* channel = request.Find("channel");
  if (channel && channel->type != Json::Type::kString) {
    return Fail(error, "\"channel\" must be a string");
  }
  const Json* args = request.Find("args");
  if (args && !JsonToEncodable(*args, &command.args, &parse_error)) {
    return Fail(error, "bad \"args\": " + parse_error);
  }

  const std::string& op = command.op_name;
  if (op == "call") {
    command.op = Command::Op::kCall;
    command.channel = channel ? channel->text : kDefaultMethodChannel;
    if (!ReadString(request, "method", &command.method)) {
      return Fail(error, "\"call\" needs a string \"method\"");
    }
  } else if (op == "listen" || op == "cancel") {
    command.op = op == "listen" ? Command::Op::kListen : Command::Op::kCancel;
    command.channel = channel ? channel->text : kDefaultEventChannel;
  } else if (op == "raw") {
    command.op = Command::Op::kRaw;
    command.channel = channel ? channel->text : kDefaultMethodChannel;
    std::string base64;
    if (!ReadString(request, "bytes", &base64) || !Base64Decode(base64, &command.bytes)) {
      return Fail(error, "\"raw\" needs base64 \"bytes\"");
    }
  } else if (op == "wait") {
    command.op = Command::Op::kWait;
    if (!ReadInteger(request, "ms", &command.ms) || command.ms < 0 || command.ms > 3600000) {
      return Fail(error, "\"wait\" needs \"ms\" from 0 to 3600000");
    }
  } else if (op == "window") {
    command.op = Command::Op::kWindow;
    int64_t message = 0;
    if (!ReadInteger(request, "message", &message) || message < 0 || message > 0xffffffffLL) {
      return Fail(error, "\"window\" needs an unsigned 32-bit \"message\"");
    }
    command.message = static_cast<uint32_t>(message);
    ReadInteger(request, "wparam", &command.wparam);
    ReadInteger(request, "lparam", &command.lparam);
  } else if (op == "quit") {
    command.op = Command::Op::kQuit;
  } else {
    return Fail(error, "unknown \"op\": " + op);
  }
  *out = std::move(command);
  return true;
}

std::string FormatReply(const Command& command, const flutter_standin::MethodReply& reply,
                        bool abandoned) {
  std::string line = Begin("reply") + ",\"id\":" + command.id +
                     ",\"op\":" + QuoteJson(command.op_name) +
                     ",\"channel\":" + EncodableToJson(flutter::EncodableValue(command.channel));
  if (command.op == Command::Op::kCall) {
    line += ",\"method\":" + EncodableToJson(flutter::EncodableValue(command.method));
  }
  if (abandoned) return line + ",\"status\":\"abandoned\"}";
  line += ",\"status\":" + QuoteJson(flutter_standin::ReplyKindName(reply.kind));
  switch (reply.kind) {
    case ReplyKind::kSuccess:
      line += ",\"result\":" + EncodableToJson(reply.result);
      break;
    case ReplyKind::kError:
      line += ErrorFields(reply.error_code, reply.error_message, reply.error_details);
      break;
    case ReplyKind::kMalformed:
      line += ",\"bytes\":" + QuoteJson(Base64Encode(reply.bytes));
      break;
    case ReplyKind::kNotImplemented:
    case ReplyKind::kTimedOut:
      break;
  }
  return line + "}";
}

std::string FormatPluginMessage(const std::string& channel, const uint8_t* data, size_t size) {
  const std::string channel_json = EncodableToJson(flutter::EncodableValue(channel));
  flutter_standin::ChannelEvent event = flutter_standin::DecodeChannelEvent(data, size);
  switch (event.kind) {
    case flutter_standin::EventKind::kSuccess:
      return Begin("event") + ",\"channel\":" + channel_json +
             ",\"status\":\"success\",\"value\":" + EncodableToJson(event.value) + "}";
    case flutter_standin::EventKind::kError:
      return Begin("event") + ",\"channel\":" + channel_json + ",\"status\":\"error\"" +
             ErrorFields(event.error_code, event.error_message, event.error_details) + "}";
    case flutter_standin::EventKind::kEndOfStream:
      return Begin("event") + ",\"channel\":" + channel_json + ",\"status\":\"endOfStream\"}";
    case flutter_standin::EventKind::kMalformed:
      break;
  }
  // Not an envelope: perhaps a method call from native code towards Dart.
  auto call = flutter::StandardMethodCodec::GetInstance().DecodeMethodCall(data, size);
  if (call) {
    return Begin("call") + ",\"channel\":" + channel_json +
           ",\"method\":" + EncodableToJson(flutter::EncodableValue(call->method_name())) +
           ",\"args\":" + EncodableToJson(*call->arguments()) + "}";
  }
  return Begin("event") + ",\"channel\":" + channel_json +
         ",\"status\":\"malformed\",\"bytes\":" + QuoteJson(Base64Encode(event.bytes)) + "}";
}

std::string FormatWindowReply(const Command& command, bool handled, int64_t result) {
  std::string line = Begin("reply") + ",\"id\":" + command.id +
                     ",\"op\":\"window\",\"message\":" + std::to_string(command.message);
  if (!handled) return line + ",\"status\":\"unhandled\"}";
  return line + ",\"status\":\"handled\",\"result\":" + std::to_string(result) + "}";
}

std::string FormatWaited(const Command& command) {
  return Begin("waited") + ",\"id\":" + command.id + ",\"ms\":" + std::to_string(command.ms) + "}";
}

std::string FormatInvalid(const std::string& error) {
  return Begin("invalid") + ",\"message\":" + EncodableToJson(flutter::EncodableValue(error)) + "}";
}

std::string FormatReady(const std::string& plugin_path, bool has_view) {
  return Begin("ready") + ",\"plugin\":" + EncodableToJson(flutter::EncodableValue(plugin_path)) +
         ",\"view\":" + (has_view ? "true" : "false") + "}";
}

std::string FormatFatal(const std::string& message) {
  return Begin("fatal") + ",\"message\":" + EncodableToJson(flutter::EncodableValue(message)) + "}";
}

std::string FormatBye() { return Begin("bye") + "}"; }

}  // namespace channel_console
