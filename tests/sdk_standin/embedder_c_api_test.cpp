// The embedder's C API directly, where the client wrapper would hide the behaviour: delegate
// order and replacement, response handles answered once, and destruction handlers.

#include <flutter_plugin_registrar.h>
#include <flutter_standin_host.h>
#include <flutter_windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Calls {
  std::vector<std::string> log;
};

bool FirstDelegate(HWND, UINT message, WPARAM, LPARAM, void* user_data, LRESULT* result) {
  static_cast<Calls*>(user_data)->log.push_back("first");
  if (message != WM_APP) return false;
  *result = 1;
  return true;
}

bool SecondDelegate(HWND, UINT, WPARAM, LPARAM, void* user_data, LRESULT* result) {
  static_cast<Calls*>(user_data)->log.push_back("second");
  *result = 2;
  return true;
}

TEST(EmbedderCApiTest, RunsTopLevelDelegatesInRegistrationOrder) {
  FlutterDesktopPluginRegistrarRef registrar = FlutterStandinCreateRegistrar(nullptr);
  Calls calls;
  FlutterDesktopPluginRegistrarRegisterTopLevelWindowProcDelegate(registrar, FirstDelegate, &calls);
  FlutterDesktopPluginRegistrarRegisterTopLevelWindowProcDelegate(registrar, SecondDelegate,
                                                                  &calls);
  LRESULT result = 0;
  EXPECT_TRUE(FlutterStandinDispatchWindowMessage(registrar, nullptr, WM_APP, 0, 0, &result));
  EXPECT_EQ(result, 1);
  EXPECT_EQ(calls.log, std::vector<std::string>({"first"}));

  calls.log.clear();
  EXPECT_TRUE(FlutterStandinDispatchWindowMessage(registrar, nullptr, WM_APP + 1, 0, 0, &result));
  EXPECT_EQ(result, 2);
  EXPECT_EQ(calls.log, std::vector<std::string>({"first", "second"}));

  // Registering again moves the delegate behind the others.
  FlutterDesktopPluginRegistrarRegisterTopLevelWindowProcDelegate(registrar, FirstDelegate, &calls);
  EXPECT_EQ(FlutterStandinWindowProcDelegateCount(registrar), 2u);
  EXPECT_TRUE(FlutterStandinDispatchWindowMessage(registrar, nullptr, WM_APP, 0, 0, &result));
  EXPECT_EQ(result, 2);

  FlutterDesktopPluginRegistrarUnregisterTopLevelWindowProcDelegate(registrar, SecondDelegate);
  FlutterDesktopPluginRegistrarUnregisterTopLevelWindowProcDelegate(registrar, FirstDelegate);
  EXPECT_FALSE(FlutterStandinDispatchWindowMessage(registrar, nullptr, WM_APP, 0, 0, &result));
  FlutterStandinDestroyRegistrar(registrar);
}

struct Answers {
  int count = 0;
  std::vector<uint8_t> last;
};

void RecordAnswer(const uint8_t* reply, size_t size, void* user_data) {
  auto* answers = static_cast<Answers*>(user_data);
  ++answers->count;
  answers->last.assign(reply, reply + size);
}

// Keeps every response handle so the test decides when and from where to answer.
struct HeldHandles {
  std::vector<const FlutterDesktopMessageResponseHandle*> handles;
};

void HoldMessage(FlutterDesktopMessengerRef, const FlutterDesktopMessage* message,
                 void* user_data) {
  static_cast<HeldHandles*>(user_data)->handles.push_back(message->response_handle);
}

TEST(EmbedderCApiTest, AnswersEachMessageExactlyOnceFromAnyThread) {
  FlutterDesktopPluginRegistrarRef registrar = FlutterStandinCreateRegistrar(nullptr);
  FlutterDesktopMessengerRef messenger = FlutterDesktopPluginRegistrarGetMessenger(registrar);
  HeldHandles held;
  FlutterDesktopMessengerSetCallback(messenger, "c", HoldMessage, &held);

  Answers first, second;
  const uint8_t message[] = {0, 0};
  ASSERT_TRUE(FlutterStandinSendToPlugin(registrar, "c", message, 2, RecordAnswer, &first));
  ASSERT_TRUE(FlutterStandinSendToPlugin(registrar, "c", message, 2, RecordAnswer, &second));
  ASSERT_EQ(held.handles.size(), 2u);

  const uint8_t answer[] = {0, 1};
  std::thread worker([&] {
    FlutterDesktopMessengerSendResponse(messenger, held.handles[0], answer, 2);
    // A second answer to the same message is dropped.
    FlutterDesktopMessengerSendResponse(messenger, held.handles[0], answer, 1);
  });
  worker.join();
  EXPECT_EQ(first.count, 1);
  EXPECT_EQ(first.last, std::vector<uint8_t>({0, 1}));

  // The unanswered one is answered empty when the engine goes away.
  FlutterStandinDestroyRegistrar(registrar);
  EXPECT_EQ(second.count, 1);
  EXPECT_TRUE(second.last.empty());
}

int destruction_calls = 0;
void CountDestruction(FlutterDesktopPluginRegistrarRef) { ++destruction_calls; }
void CountDestructionToo(FlutterDesktopPluginRegistrarRef) { destruction_calls += 10; }

TEST(EmbedderCApiTest, RunsEveryDistinctDestructionHandlerOnce) {
  FlutterDesktopPluginRegistrarRef registrar = FlutterStandinCreateRegistrar(nullptr);
  destruction_calls = 0;
  // Two plug-in DLLs each bring their own wrapper, so their own handler.
  FlutterDesktopPluginRegistrarSetDestructionHandler(registrar, CountDestruction);
  FlutterDesktopPluginRegistrarSetDestructionHandler(registrar, CountDestruction);
  FlutterDesktopPluginRegistrarSetDestructionHandler(registrar, CountDestructionToo);
  FlutterStandinDestroyRegistrar(registrar);
  EXPECT_EQ(destruction_calls, 11);
}

struct ObservedSends {
  std::atomic<int> count{0};
  std::atomic<bool> host_gone{false};
  std::atomic<int> after_destroy{0};
};

void CountSend(const char*, const uint8_t*, size_t, void* user_data) {
  auto* observed = static_cast<ObservedSends*>(user_data);
  observed->count.fetch_add(1);
  if (observed->host_gone.load()) observed->after_destroy.fetch_add(1);
}

TEST(EmbedderCApiTest, StopsDeliveringTheMomentTheRegistrarIsDestroyed) {
  FlutterDesktopPluginRegistrarRef registrar = FlutterStandinCreateRegistrar(nullptr);
  ObservedSends observed;
  FlutterStandinSetMessageObserver(registrar, CountSend, &observed);
  // A plug-in thread keeps its own reference and sends as fast as it can.
  FlutterDesktopMessengerRef messenger =
      FlutterDesktopMessengerAddRef(FlutterDesktopPluginRegistrarGetMessenger(registrar));
  std::atomic<bool> refused{false};
  std::thread sender([&] {
    const uint8_t event[] = {0, 0};
    while (FlutterDesktopMessengerSend(messenger, "events", event, 2)) {
    }
    refused = true;
  });
  while (observed.count.load() < 100) std::this_thread::yield();
  FlutterStandinDestroyRegistrar(registrar);
  observed.host_gone = true;
  sender.join();
  EXPECT_TRUE(refused.load());
  EXPECT_EQ(observed.after_destroy.load(), 0);
  FlutterDesktopMessengerRelease(messenger);
}

}  // namespace
