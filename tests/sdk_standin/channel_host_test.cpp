// The embedder, client wrapper and ChannelHost together, with the echo plug-in registered the
// way a real plug-in is: real encoded bytes through flutter_windows.dll in both directions.

#include "channel_host.h"

#include <flutter_standin_host.h>
#include <gtest/gtest.h>

#include <chrono>

#include "echo_plugin.h"

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using flutter_standin::ChannelHost;
using flutter_standin::EventKind;
using flutter_standin::ReplyKind;
using namespace std::chrono_literals;

constexpr char kMethods[] = "tidewire";
constexpr char kStatus[] = "tidewire/status";
constexpr UINT kProbeMessage = WM_APP + 7;

class ChannelHostTest : public ::testing::Test {
 protected:
  void SetUp() override { EchoPluginRegisterWithRegistrar(host_.registrar()); }

  int AddDelegate(std::optional<int32_t> value) {
    EncodableMap args{{EncodableValue("message"), EncodableValue(int32_t{kProbeMessage})}};
    if (value) args[EncodableValue("value")] = EncodableValue(*value);
    auto reply = host_.InvokeMethod(kMethods, "addDelegate", EncodableValue(args));
    EXPECT_EQ(reply.kind, ReplyKind::kSuccess);
    return std::get<int32_t>(reply.result);
  }

  ChannelHost host_;
};

TEST_F(ChannelHostTest, AnswersMethodCallsWithEveryKindOfReply) {
  EncodableValue nested(EncodableMap{
      {EncodableValue("list"),
       EncodableValue(EncodableList{EncodableValue(1.5), EncodableValue(int64_t{1} << 40)})},
      {EncodableValue("bytes"), EncodableValue(std::vector<uint8_t>{0, 255})}});
  auto echo = host_.InvokeMethod(kMethods, "echo", nested);
  EXPECT_EQ(echo.kind, ReplyKind::kSuccess);
  EXPECT_EQ(echo.result, nested);

  auto error = host_.InvokeMethod(kMethods, "fail");
  EXPECT_EQ(error.kind, ReplyKind::kError);
  EXPECT_EQ(error.error_code, "TEST_ERROR");
  EXPECT_FALSE(error.error_message.has_value());
  EXPECT_EQ(host_.InvokeMethod(kMethods, "fail", EncodableValue("why")).error_message,
            std::optional<std::string>("why"));

  EXPECT_EQ(host_.InvokeMethod(kMethods, "noSuchMethod").kind, ReplyKind::kNotImplemented);
  // Nobody listens on this channel: the engine answers empty.
  EXPECT_EQ(host_.InvokeMethod("elsewhere", "echo").kind, ReplyKind::kNotImplemented);

  auto later = host_.InvokeMethod(kMethods, "later", EncodableValue(int32_t{9}));
  EXPECT_EQ(later.kind, ReplyKind::kSuccess);
  EXPECT_EQ(later.result, EncodableValue(int32_t{9}));

  EXPECT_EQ(host_.InvokeMethod(kMethods, "never", EncodableValue(), 100ms).kind,
            ReplyKind::kTimedOut);
}

TEST_F(ChannelHostTest, AnswersGarbageBytesCleanly) {
  for (const std::vector<uint8_t>& garbage :
       {std::vector<uint8_t>{0xff, 0xff}, std::vector<uint8_t>{7, 200, 'x'},
        std::vector<uint8_t>{3, 1, 2, 3, 4}, std::vector<uint8_t>{}}) {
    EXPECT_EQ(host_.SendRaw(kMethods, garbage).kind, ReplyKind::kNotImplemented);
    EXPECT_EQ(host_.SendRaw(kStatus, garbage).kind, ReplyKind::kNotImplemented);
  }
  EXPECT_EQ(host_.InvokeMethod(kMethods, "echo", EncodableValue(true)).result,
            EncodableValue(true));
}

TEST_F(ChannelHostTest, ListensCancelsAndReceivesEventsFromOtherThreads) {
  auto cancel_first = host_.Cancel(kStatus);
  EXPECT_EQ(cancel_first.kind, ReplyKind::kError);
  EXPECT_EQ(cancel_first.error_code, "error");
  EXPECT_EQ(cancel_first.error_message, std::optional<std::string>("No active stream to cancel"));

  auto refused = host_.Listen(kStatus, EncodableValue("refuse"));
  EXPECT_EQ(refused.kind, ReplyKind::kError);
  EXPECT_EQ(refused.error_code, "REFUSED");

  auto listen = host_.Listen(kStatus);
  EXPECT_EQ(listen.kind, ReplyKind::kSuccess);
  EXPECT_TRUE(listen.result.IsNull());
  auto first = host_.WaitForEvent(kStatus, 10s);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->value, EncodableValue("listening"));

  ASSERT_EQ(host_.InvokeMethod(kMethods, "emit", EncodableValue(int32_t{50})).kind,
            ReplyKind::kSuccess);
  for (int32_t i = 0; i < 50; ++i) {
    auto event = host_.WaitForEvent(kStatus, 10s);
    ASSERT_TRUE(event.has_value()) << i;
    EXPECT_EQ(event->kind, EventKind::kSuccess);
    EXPECT_EQ(event->value, EncodableValue(EncodableList{EncodableValue(i)}));
  }

  host_.InvokeMethod(kMethods, "errorEvent");
  auto error_event = host_.WaitForEvent(kStatus, 10s);
  ASSERT_TRUE(error_event.has_value());
  EXPECT_EQ(error_event->kind, EventKind::kError);
  EXPECT_EQ(error_event->error_code, "EVENT_ERROR");
  host_.InvokeMethod(kMethods, "endStream");
  auto end = host_.WaitForEvent(kStatus, 10s);
  ASSERT_TRUE(end.has_value());
  EXPECT_EQ(end->kind, EventKind::kEndOfStream);

  EXPECT_EQ(host_.Cancel(kStatus).kind, ReplyKind::kSuccess);
  EXPECT_EQ(host_.Cancel(kStatus).kind, ReplyKind::kError);
  // After cancel the plug-in has no sink: nothing more arrives.
  host_.InvokeMethod(kMethods, "emit", EncodableValue(int32_t{3}));
  EXPECT_FALSE(host_.WaitForEvent(kStatus, 100ms).has_value());
}

TEST_F(ChannelHostTest, CallsWindowDelegatesInIdOrderAndTheFirstValueWins) {
  const int pass = AddDelegate(std::nullopt);
  const int first = AddDelegate(11);
  const int second = AddDelegate(22);
  // The echo plug-in's own UI delegate took id 1.
  EXPECT_EQ(pass, 2);
  EXPECT_EQ(first, 3);
  EXPECT_EQ(second, 4);

  EXPECT_EQ(host_.DispatchWindowMessage(kProbeMessage, 0, 0), std::optional<LRESULT>(11));
  // Through the hidden window's real window procedure too.
  EXPECT_EQ(host_.SendWindowMessage(kProbeMessage, 0, 0), 11);

  host_.InvokeMethod(kMethods, "removeDelegate", EncodableValue(int32_t{first}));
  EXPECT_EQ(host_.DispatchWindowMessage(kProbeMessage, 0, 0), std::optional<LRESULT>(22));
  host_.InvokeMethod(kMethods, "removeDelegate", EncodableValue(int32_t{second}));
  EXPECT_EQ(host_.DispatchWindowMessage(kProbeMessage, 0, 0), std::nullopt);
  // Messages no delegate wants reach the default window procedure.
  EXPECT_EQ(host_.DispatchWindowMessage(WM_APP + 99, 0, 0), std::nullopt);
}

TEST_F(ChannelHostTest, DestroyingTheRegistrarDeletesThePluginAndAnswersWhatIsLeft) {
  const int destroyed_before = EchoPluginDestroyedCount();
  ASSERT_EQ(host_.Listen(kStatus).kind, ReplyKind::kSuccess);
  EXPECT_GT(FlutterStandinWindowProcDelegateCount(host_.registrar()), 0u);
  host_.InvokeMethod(kMethods, "never", EncodableValue(), 10ms);
  FlutterDesktopMessengerRef messenger =
      FlutterDesktopMessengerAddRef(FlutterDesktopPluginRegistrarGetMessenger(host_.registrar()));

  host_.DestroyRegistrar();
  EXPECT_EQ(EchoPluginDestroyedCount(), destroyed_before + 1);
  EXPECT_EQ(host_.registrar(), nullptr);
  EXPECT_EQ(host_.InvokeMethod(kMethods, "echo").kind, ReplyKind::kTimedOut);
  // Sends after the engine went away fail instead of reaching a host that may be gone.
  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(messenger));
  const uint8_t byte = 0;
  EXPECT_FALSE(FlutterDesktopMessengerSend(messenger, kStatus, &byte, 1));
  FlutterDesktopMessengerRelease(messenger);
}

}  // namespace
