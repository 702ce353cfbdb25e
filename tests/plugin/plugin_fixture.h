// A registered plug-in behind the SDK stand-in, driven with real channel bytes, plus a view of
// what the plug-in wrote to the tunnel log since the fixture began.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>

#include "channel_host.h"
#include "service_admin.h"
#include "support/byte_files.h"
#include "tunnel_log/tunnel_log_paths.h"
#include "zelvora_vless_windows/tidewire_plugin.h"

namespace zelvora::testing {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using flutter_standin::ChannelHost;
using flutter_standin::MethodReply;
using flutter_standin::ReplyKind;

inline std::string ReadTunnelLog() { return ReadFileBytes(kTunnelLogPath); }

inline EncodableValue Map(std::initializer_list<std::pair<const char*, EncodableValue>> items) {
  EncodableMap map;
  for (const auto& [key, value] : items) map[EncodableValue(key)] = value;
  return EncodableValue(map);
}

inline EncodableList IdleStatus(const char* state) {
  return EncodableList{EncodableValue("0"), EncodableValue("0"), EncodableValue("0"),
                       EncodableValue("0"), EncodableValue("0"), EncodableValue(state)};
}

class PluginTest : public ::testing::Test {
 protected:
  // The tests of the app without a tunnel service own that world: a service left installed by
  // an earlier test program that was cut short is stopped and removed first.
  explicit PluginTest(ChannelHost::ViewMode mode = ChannelHost::ViewMode::kWithView,
                      bool without_service = true)
      : log_offset_(((void)(without_service && tunnel_fixture::DeleteTunnelService()),
                     ReadTunnelLog().size())),
        host_(std::make_unique<ChannelHost>(mode)) {
    TidewirePluginRegisterWithRegistrar(host_->registrar());
  }

  MethodReply Call(const std::string& method, const EncodableValue& args = EncodableValue()) {
    return host_->InvokeMethod("tidewire", method, args, std::chrono::seconds(20));
  }

  // Tunnel-log text written since this test began (the log may have rotated: then all of it).
  std::string NewLog() const {
    const std::string log = ReadTunnelLog();
    return log.size() >= log_offset_ ? log.substr(log_offset_) : log;
  }
  bool LogHas(const std::string& text) const { return NewLog().find(text) != std::string::npos; }

  size_t log_offset_;
  std::unique_ptr<ChannelHost> host_;
};

// Expectation helpers that print the reply on failure.
inline void ExpectError(const MethodReply& reply, const std::string& code,
                        const std::string& message) {
  ASSERT_EQ(reply.kind, ReplyKind::kError) << flutter_standin::ReplyKindName(reply.kind);
  EXPECT_EQ(reply.error_code, code);
  EXPECT_EQ(reply.error_message.value_or("<null>"), message);
  EXPECT_TRUE(reply.error_details.IsNull());
}

inline void ExpectSuccess(const MethodReply& reply, const EncodableValue& value) {
  ASSERT_EQ(reply.kind, ReplyKind::kSuccess)
      << flutter_standin::ReplyKindName(reply.kind) << " " << reply.error_code << " "
      << reply.error_message.value_or("");
  EXPECT_EQ(reply.result, value);
}

}  // namespace zelvora::testing
