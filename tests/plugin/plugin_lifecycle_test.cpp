// Registration, the window-message hook, completion callbacks, the status stream's listen and
// cancel, and destruction.
#include <flutter/plugin_registrar_windows.h>

#include <stdexcept>
#include <thread>

#include "plugin/tidewire_plugin.h"
#include "plugin_fixture.h"

namespace zelvora::testing {
namespace {

class HeadlessPluginTest : public PluginTest {
 protected:
  HeadlessPluginTest() : PluginTest(ChannelHost::ViewMode::kWithoutView) {}
};

TEST_F(HeadlessPluginTest, RegistersEverythingWithoutAView) {
  EXPECT_TRUE(host_->HasHandler("tidewire"));
  EXPECT_TRUE(host_->HasHandler("tidewire/status"));
  ExpectSuccess(Call("getCoreVersion"), EncodableValue("Unknown"));
}

TEST_F(PluginTest, WindowHookHandlesOnlyItsOwnMessage) {
  EXPECT_FALSE(host_->DispatchWindowMessage(WM_USER + 17, 0, 0).has_value());
  const UINT own = ::RegisterWindowMessageA("TIDEWIRE_INVOKE_UI_CALLBACK");
  const auto handled = host_->DispatchWindowMessage(own, 0, 0);
  ASSERT_TRUE(handled.has_value());
  EXPECT_EQ(*handled, 0);
}

TEST_F(PluginTest, DestructionUnregistersTheWindowHookAndChannelsGoQuiet) {
  host_->DestroyRegistrar();
  EXPECT_EQ(Call("getCoreVersion").kind, ReplyKind::kTimedOut);
}

TEST_F(PluginTest, ListenSendsTheInitialStateAndCancelReleasesTheSink) {
  ASSERT_EQ(host_->Listen("tidewire/status").kind, ReplyKind::kSuccess);
  auto event = host_->WaitForEvent("tidewire/status");
  ASSERT_TRUE(event.has_value());
  EXPECT_EQ(event->value, EncodableValue(IdleStatus("DISCONNECTED")));

  ASSERT_EQ(host_->Cancel("tidewire/status").kind, ReplyKind::kSuccess);
  const MethodReply again = host_->Cancel("tidewire/status");
  EXPECT_EQ(again.kind, ReplyKind::kError);
  EXPECT_EQ(again.error_message.value_or(""), "No active stream to cancel");

  // Nobody listens: a stop's status is dropped, the call still succeeds.
  ExpectSuccess(Call("stopVless"), EncodableValue(false));
  EXPECT_EQ(host_->PendingEventCount("tidewire/status"), 0u);
}

// A plug-in object of our own on a second engine, to reach RunOnUIThread directly.
TEST_F(PluginTest, ThrowingCompletionIsContainedAndTheWorkerThreadLivesOn) {
  ChannelHost second_host;
  auto* registrar =
      flutter::PluginRegistrarManager::GetInstance()->GetRegistrar<flutter::PluginRegistrarWindows>(
          second_host.registrar());
  auto plugin = std::make_unique<TidewirePlugin>(registrar);
  bool after_throw = false;
  bool after_unknown = false;
  std::thread worker([&] {
    plugin->RunOnUIThread([] { throw std::runtime_error("completion broke"); });
    after_throw = true;
    plugin->RunOnUIThread([] { throw 42; });
    after_unknown = true;
  });
  worker.join();
  host_->PumpMessages(std::chrono::milliseconds(200));  // completions run on this thread
  EXPECT_TRUE(after_throw);
  EXPECT_TRUE(after_unknown);
}

}  // namespace
}  // namespace zelvora::testing
