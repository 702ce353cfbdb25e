// The "tidewire" method table through real encoded channel messages.
#include <flutter_standin_host.h>

#include <string>
#include <utility>
#include <vector>

#include "common/elevation.h"
#include "plugin_fixture.h"

namespace zelvora::testing {
namespace {

using DispatchTest = PluginTest;

constexpr char kInvalid[] = "INVALID_ARGUMENTS";

struct ArgumentCase {
  const char* method;
  EncodableValue args;
  const char* message;
};

TEST_F(DispatchTest, ArgumentErrorsAreAnsweredAtOnceWithTheirTexts) {
  const EncodableValue config("{}");
  const ArgumentCase cases[] = {
      {"initializeVless", EncodableValue(), "Invalid arguments for initializeVless"},
      {"startVless", EncodableValue("not a map"), "Invalid arguments for startVless"},
      {"startVless", Map({{"remark", EncodableValue("r")}}), "Missing remark or config"},
      {"startVless", Map({{"config", config}}), "Missing remark or config"},
      {"startVless", Map({{"remark", EncodableValue(7)}, {"config", config}}),
       "remark/config must be strings for startVless"},
      {"restartVless", EncodableValue(EncodableList{}), "Invalid arguments for restartVless"},
      {"restartVless", Map({{"config", config}}), "Missing remark or config"},
      {"restartVless", Map({{"remark", EncodableValue("r")}, {"config", EncodableValue(1.5)}}),
       "config must be a string for restartVless"},
      {"getServerDelay", Map({{"config", config}}), "Invalid arguments for getServerDelay"},
      {"getServerDelay", Map({{"config", config}, {"url", EncodableValue(int64_t{5})}}),
       "config/url must be strings for getServerDelay"},
      {"getConnectedServerDelay", EncodableValue(),
       "Invalid arguments for getConnectedServerDelay"},
      {"getConnectedServerDelay", Map({{"url", EncodableValue()}}),
       "url must be a string for getConnectedServerDelay"},
      {"getAppInfo", EncodableValue("x"), "getAppInfo requires arguments"},
      {"getAppInfo", Map({{"packageName", EncodableValue("")}}), "packageName is required"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.method) + ": " + c.message);
    ExpectError(Call(c.method, c.args), kInvalid, c.message);
  }
}

// Answered on the platform thread, at once. An elevated process without the tunnel service
// answers the restart request without relaunching and parses the configuration itself (the
// unelevated answers are the Unelevated child's).
TEST_F(DispatchTest, ShortQueriesAndUnknownMethodsAreAnsweredAtOnce) {
  ExpectSuccess(Call("initializeVless", Map({{"anything", EncodableValue(1)}})),
                EncodableValue(false));
  ExpectSuccess(Call("isProcessElevated"), EncodableValue(IsProcessElevated()));
  ExpectSuccess(Call("requestPermission"), EncodableValue(IsProcessElevated()));
  ExpectSuccess(Call("getCoreVersion"), EncodableValue("Unknown"));
  EXPECT_EQ(Call("noSuchMethod").kind, ReplyKind::kNotImplemented);
  EXPECT_EQ(Call("StartVless", Map({})).kind, ReplyKind::kNotImplemented);
  if (!IsProcessElevated()) return;
  ExpectSuccess(Call("requestElevationRestart"), EncodableValue(true));
  ExpectError(Call("startVless", Map({{"remark", EncodableValue("r")},
                                      {"config", EncodableValue(" \r\n\tplain text")}})),
              "START_FAILED", "Invalid VPN configuration. The server config could not be parsed.");
}

TEST_F(DispatchTest, StopAlwaysSucceedsAndAnnouncesDisconnected) {
  ASSERT_EQ(host_->Listen("tidewire/status").kind, ReplyKind::kSuccess);
  host_->TakeEvents("tidewire/status");
  ExpectSuccess(Call("stopVless"), EncodableValue(false));
  const auto event = host_->WaitForEvent("tidewire/status");
  ASSERT_TRUE(event.has_value());
  EXPECT_EQ(event->value, EncodableValue(IdleStatus("DISCONNECTED")));
}

// A delay test per server of a long list, with the user tapping disconnect meanwhile: every
// call gets its own worker thread, every one is answered by its method's contract, and every
// answer reaches the engine on the platform thread. Several rounds, because thread start-up
// faults show only now and then.
TEST_F(DispatchTest, HundredsOfConcurrentCallsAreAllAnsweredOnThePlatformThread) {
  size_t off_thread_before = 0;
  FlutterStandinGetMisplacedMessageCounts(&off_thread_before, nullptr);
  for (int round = 0; round < 3; ++round) {
    std::vector<std::pair<std::string, EncodableValue>> calls;
    for (int i = 0; i < 200; ++i) {
      if (i % 10 == 9) {
        calls.emplace_back("stopVless", EncodableValue());
      } else {
        const std::string url = "https://probe-" + std::to_string(i) + ".example.net/generate_204";
        calls.emplace_back("getConnectedServerDelay", Map({{"url", EncodableValue(url)}}));
      }
    }
    const auto replies = host_->InvokeMethods("tidewire", calls, std::chrono::seconds(60));
    for (size_t i = 0; i < replies.size(); ++i) {
      SCOPED_TRACE("round " + std::to_string(round) + " call " + std::to_string(i));
      ExpectSuccess(replies[i], calls[i].first == "stopVless" ? EncodableValue(false)
                                                              : EncodableValue(int32_t{-1}));
    }
  }
  size_t off_thread_after = 0;
  FlutterStandinGetMisplacedMessageCounts(&off_thread_after, nullptr);
  EXPECT_EQ(off_thread_after, off_thread_before);
}

}  // namespace
}  // namespace zelvora::testing
