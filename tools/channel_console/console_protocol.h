// The channel console's line protocol (see README.md): parsing request lines into commands
// and formatting replies and events as JSON lines. Portable.
#pragma once

#include <flutter/encodable_value.h>

#include <cstdint>
#include <string>
#include <vector>

#include "channel_envelope.h"

namespace channel_console {

constexpr char kDefaultMethodChannel[] = "tidewire";
constexpr char kDefaultEventChannel[] = "tidewire/status";

struct Command {
  enum class Op { kCall, kListen, kCancel, kRaw, kWait, kWindow, kQuit };

  Op op = Op::kCall;
  std::string op_name;
  std::string id;  // the request's "id" as JSON text, echoed in its reply
  std::string channel;
  std::string method;            // kCall
  flutter::EncodableValue args;  // kCall, kListen, kCancel
  std::vector<uint8_t> bytes;    // kRaw
  int64_t ms = 0;                // kWait
  uint32_t message = 0;          // kWindow
  int64_t wparam = 0;            // kWindow
  int64_t lparam = 0;            // kWindow
};

// Parses one request line. `fallback_id` becomes the id when the line has none. Returns false
// with a reason in `error` for lines that are no valid request.
bool ParseCommand(const std::string& line, int64_t fallback_id, Command* out, std::string* error);

// True for lines that carry no request: blank, or a comment starting with "#".
bool IsIgnorableLine(const std::string& line);

// The reply line for a call, listen, cancel or raw request. `abandoned` marks a request left
// unanswered when the console shut down.
std::string FormatReply(const Command& command, const flutter_standin::MethodReply& reply,
                        bool abandoned);

// The line for a message the plug-in sent on `channel`: an event, an error event, the end of
// the stream, a method call towards Dart, or undecodable bytes.
std::string FormatPluginMessage(const std::string& channel, const uint8_t* data, size_t size);

// The reply line for a window request.
std::string FormatWindowReply(const Command& command, bool handled, int64_t result);

std::string FormatWaited(const Command& command);
std::string FormatInvalid(const std::string& error);
std::string FormatReady(const std::string& plugin_path, bool has_view);
std::string FormatFatal(const std::string& message);
std::string FormatBye();

}  // namespace channel_console
