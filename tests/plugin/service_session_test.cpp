// Connections through the reference tunnel service with real worker and status threads:
// the order of events, the session timer across restart, failure tolerance and cancellation.
#include <flutter_standin_host.h>

#include <thread>
#include <vector>

#include "fixture_files.h"
#include "ipc/request_policy.h"
#include "ipc/vpn_ipc_client.h"
#include "plugin_fixture.h"
#include "service_admin.h"
#include "standin_core.h"
#include "support/held_mutex.h"
#include "support/local_http_server.h"

namespace zelvora::testing {
namespace {

using flutter_standin::ChannelEvent;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr char kStatus[] = "tidewire/status";

// A configuration as the app sends it (the service only passes it on).
const char kConfig[] = R"({"inbounds": [{"tag": "socks-in", "port": 10808, "protocol": "socks"}],
  "outbounds": [{"protocol": "vless", "settings": {"vnext": [{"address": "vpn.example.net",
    "port": 443, "users": [{"id": "6c9b3c1e-9f5e-4c1a-9a51-0f0d6f4a2b11"}]}]}}]})";

struct Status {
  int64_t duration, up_delta, down_delta, up_total, down_total;
  std::string state;
};

Status ParseStatus(const ChannelEvent& event) {
  const auto& list = std::get<EncodableList>(event.value);
  const auto number = [&](size_t i) { return std::stoll(std::get<std::string>(list.at(i))); };
  return {number(0), number(1), number(2), number(3), number(4), std::get<std::string>(list[5])};
}

class ServiceSessionTest : public PluginTest {
 protected:
  ServiceSessionTest() : PluginTest(ChannelHost::ViewMode::kWithView, /*without_service=*/false) {}

  static void SetUpTestSuite() {
    ASSERT_TRUE(tunnel_fixture::InstallTunnelService(
        tunnel_fixture::ProgramBeside(L"zelvora_tunnel_service.exe")));
  }
  static void TearDownTestSuite() { tunnel_fixture::DeleteTunnelService(); }

  void SetUp() override {
    FlutterStandinGetMisplacedMessageCounts(&off_thread_at_start_, nullptr);
    SetBehaviour("");
    ASSERT_TRUE(tunnel_fixture::StopTunnelService());
    ASSERT_EQ(host_->Listen(kStatus).kind, ReplyKind::kSuccess);
    EXPECT_EQ(NextStatus().state, "DISCONNECTED");
  }
  void TearDown() override {
    Call("stopVless");
    SetBehaviour("");
  }

  static void SetBehaviour(const std::string& lines) {
    ASSERT_TRUE(tunnel_fixture::WriteFixtureFile(tunnel_fixture::kBehaviourFile, lines));
  }

  size_t off_thread_at_start_ = 0;

  static EncodableValue Args() {
    return Map({{"remark", EncodableValue("Reality NL")}, {"config", EncodableValue(kConfig)}});
  }
  MethodReply Start(const char* method = "startVless") { return Call(method, Args()); }

  // Sends `methods` 150 ms apart without waiting for answers (each from its own thread, as
  // Dart's futures would) while this thread pumps its messages; the replies in call order.
  std::vector<MethodReply> CallOverlapping(const std::vector<const char*>& methods) {
    std::vector<std::pair<std::string, EncodableValue>> calls;
    for (const char* method : methods) calls.emplace_back(method, Args());
    return host_->InvokeMethods("tidewire", calls, seconds(40), milliseconds(150));
  }

  Status NextStatus(milliseconds timeout = milliseconds(10000)) {
    const auto event = host_->WaitForEvent(kStatus, timeout);
    if (!event) {
      ADD_FAILURE() << "no status event";
      return {};
    }
    return ParseStatus(*event);
  }
};

TEST_F(ServiceSessionTest, ConnectRestartAndDisconnectTellTheAppEachStep) {
  ExpectSuccess(Start(), EncodableValue(false));
  EXPECT_EQ(NextStatus().state, "CONNECTING");

  // The service reports a ready tunnel and totals that grow by 1500/4500 per query.
  Status first = NextStatus();
  Status second = NextStatus();
  EXPECT_EQ(second.state, "CONNECTED");
  EXPECT_EQ(second.up_delta, second.up_total - first.up_total);
  EXPECT_GT(second.up_total, first.up_total);
  ExpectSuccess(Call("getVpnTunnelState"), Map({{"running", EncodableValue(true)},
                                                {"tunnelReady", EncodableValue(true)},
                                                {"adapterPresent", EncodableValue(true)}}));
  std::this_thread::sleep_for(seconds(1));
  const Status before_restart = NextStatus();
  ASSERT_GE(before_restart.duration, 1);

  ExpectSuccess(Start("restartVless"), EncodableValue(false));
  host_->TakeEvents(kStatus);
  Status after_restart = NextStatus();
  if (after_restart.state == "CONNECTING") after_restart = NextStatus();
  EXPECT_EQ(after_restart.state, "CONNECTED");
  EXPECT_GE(after_restart.duration, before_restart.duration);  // the session time carries on

  ExpectSuccess(Call("stopVless"), EncodableValue(false));
  host_->TakeEvents(kStatus);
  host_->PumpMessages(milliseconds(1500));
  EXPECT_EQ(host_->PendingEventCount(kStatus), 0u) << "polling must end with the session";
  size_t off_thread = 0;
  FlutterStandinGetMisplacedMessageCounts(&off_thread, nullptr);
  EXPECT_EQ(off_thread, off_thread_at_start_) << "replies and events left the platform thread";

  // A new session starts its clock at zero.
  ExpectSuccess(Start(), EncodableValue(false));
  EXPECT_EQ(NextStatus().state, "CONNECTING");
  EXPECT_EQ(NextStatus().duration, 0);
}

// A service that stops answering status queries ends the session after the third failure,
// one that stopped ends it at once; either way polling ends with it, and a service that still
// runs keeps its own session.
TEST_F(ServiceSessionTest, ALostServiceEndsTheSession) {
  for (const bool service_stops : {false, true}) {
    ExpectSuccess(Start(), EncodableValue(false));
    EXPECT_EQ(NextStatus().state, "CONNECTING");
    EXPECT_EQ(NextStatus().state, "CONNECTED");
    if (service_stops) {
      ASSERT_TRUE(tunnel_fixture::StopTunnelService());
    } else {
      SetBehaviour("status=err:busy");
    }
    host_->TakeEvents(kStatus);
    EXPECT_EQ(NextStatus(milliseconds(15000)).state, "DISCONNECTED");
    host_->PumpMessages(milliseconds(1500));
    EXPECT_EQ(host_->PendingEventCount(kStatus), 0u);
    if (!service_stops) EXPECT_NE(tunnel_fixture::TunnelServicePid(), 0u);
    SetBehaviour("");
  }
}

// Overlapping connect, disconnect and restart calls, sent the way an impatient user taps:
// whatever happens inside, the last call decides the end state, and every earlier start
// that it overtook says so.
TEST_F(ServiceSessionTest, TheLastOfOverlappingCallsDecidesTheEndState) {
  struct Case {
    std::vector<const char*> calls;
    std::vector<const char*> answers;  // "ok" or the error code
    bool running_after;
  };
  const Case cases[] = {
      {{"startVless", "stopVless", "startVless"}, {"ABORTED", "ok", "ok"}, true},
      {{"startVless", "stopVless"}, {"ABORTED", "ok"}, false},
      {{"startVless", "restartVless"}, {"ABORTED", "ok"}, true},
  };
  for (const Case& c : cases) {
    SetBehaviour("delay_ms=700");  // every reply of the service takes a while
    const std::vector<MethodReply> replies = CallOverlapping(c.calls);
    ASSERT_EQ(replies.size(), c.answers.size());
    for (size_t i = 0; i < replies.size(); ++i) {
      const std::string got = replies[i].kind == ReplyKind::kSuccess ? "ok" : replies[i].error_code;
      EXPECT_EQ(got, c.answers[i]) << "call " << i << " " << c.calls[i];
    }
    SetBehaviour("");
    ipc::StatusPayload status;
    ASSERT_TRUE(ipc::VpnIpcClient::QueryStatus(&status, nullptr));
    EXPECT_EQ(status.running, c.running_after) << c.calls.size() << " calls";
    ExpectSuccess(Call("stopVless"), EncodableValue(false));
    host_->TakeEvents(kStatus);
  }
}

// A tunnel that never becomes ready: the app sees CONNECTING without a running clock.
TEST_F(ServiceSessionTest, ATunnelThatIsNeverReadyStaysConnectingWithoutDuration) {
  SetBehaviour("status=raw:OK running=1 tunnel=0 up=700 down=900\n");
  ExpectSuccess(Start(), EncodableValue(false));
  host_->TakeEvents(kStatus);
  for (int i = 0; i < 3; ++i) {
    const Status status = NextStatus();
    EXPECT_EQ(status.state, "CONNECTING");
    EXPECT_EQ(status.duration, 0);
  }
  SetBehaviour("");  // the tunnel comes up
  Status ready = NextStatus();
  if (ready.state == "CONNECTING") ready = NextStatus();
  EXPECT_EQ(ready.state, "CONNECTED");
  EXPECT_LE(ready.duration, 1);

  // Idle again, with a service whose status query fails: the state answer falls back to what
  // the plug-in last knew instead of failing.
  ExpectSuccess(Call("stopVless"), EncodableValue(false));
  SetBehaviour("status=err:busy\n");
  ExpectSuccess(Call("getVpnTunnelState"), Map({{"running", EncodableValue(false)},
                                                {"tunnelReady", EncodableValue(false)},
                                                {"adapterPresent", EncodableValue(false)}}));
}

// Another process of the session holds the client mutex while the user disconnects. "stopVless"
// answers as always; once the holder lets go, the stop still reaches the service, unless a newer
// call came first (then that call decides the end state). Meanwhile the app is never told of
// the session again.
TEST_F(ServiceSessionTest, AStopKeptFromTheServiceArrivesOnceTheMutexIsFree) {
  struct Case {
    bool start_while_pending;
    bool running_after;
  };
  for (const Case c : {Case{false, false}, Case{true, true}}) {
    ExpectSuccess(Start(), EncodableValue(false));
    HeldMutex other_process(ipc::kIpcClientMutexName, 60000);
    ExpectSuccess(Call("stopVless"), EncodableValue(false));  // after the mutex's limit
    host_->TakeEvents(kStatus);                               // up to the stop's DISCONNECTED
    std::thread letting_go([&] {
      if (c.start_while_pending) std::this_thread::sleep_for(milliseconds(1500));
      other_process.Release();
    });
    if (c.start_while_pending) ExpectSuccess(Start(), EncodableValue(false));
    letting_go.join();

    ipc::StatusPayload status;
    for (int i = 0; i < 300; ++i) {  // a hang catcher: the stop arrives within a second
      host_->PumpMessages(milliseconds(100));
      status = {};
      ASSERT_TRUE(ipc::VpnIpcClient::QueryStatus(&status, nullptr));
      if (status.running == c.running_after) break;
    }
    EXPECT_EQ(status.running, c.running_after) << "start while pending: " << c.start_while_pending;
    if (!c.start_while_pending) {
      host_->PumpMessages(milliseconds(1500));
      for (const ChannelEvent& event : host_->TakeEvents(kStatus)) {
        EXPECT_EQ(ParseStatus(event).state, "DISCONNECTED");
      }
    }
    ExpectSuccess(Call("stopVless"), EncodableValue(false));
    host_->TakeEvents(kStatus);
  }
}

// The session outlives the app: a reopened app (a new plug-in on a new engine) learns of it
// when it listens, then follows it like its own until the service ends it.
TEST_F(ServiceSessionTest, ReopenedAppFollowsTheSessionTheServiceKept) {
  ExpectSuccess(Start(), EncodableValue(false));
  host_->DestroyRegistrar();
  host_ = std::make_unique<ChannelHost>();
  TidewirePluginRegisterWithRegistrar(host_->registrar());
  ASSERT_EQ(host_->Listen(kStatus).kind, ReplyKind::kSuccess);
  NextStatus();
  const Status later = NextStatus();
  EXPECT_EQ(later.state, "CONNECTED");
  EXPECT_GT(NextStatus().up_total, later.up_total);

  // Another client (or the service itself) ends the session.
  ASSERT_TRUE(ipc::VpnIpcClient::Stop(nullptr));
  Status last = NextStatus();
  if (last.state != "DISCONNECTED") last = NextStatus();
  EXPECT_EQ(last.state, "DISCONNECTED");
}

// The plug-in goes away while a start is under way: waiting for the client mutex (another
// exchange holds it), waiting for the service's slow ping, or with its request already with
// the service, which answers one byte every 150 ms. The destructor never waits past its own
// bound, nothing reaches the engine once destruction began, the start is not answered as a
// success, and no session outlives the app's exit.
TEST_F(ServiceSessionTest, DestroyingThePluginDuringAStartCancelsOrUndoesIt) {
  struct Case {
    const char* behaviour;
    bool hold_mutex;
    const char* journal_before_destroy;  // destroy once the service saw this (or after 500 ms)
    const char* worker_ended;            // the log line that says the start's worker is done
    const char* journal_after;           // exactly, or nullptr: the session was stopped
  };
  const Case cases[] = {
      {"", true, nullptr, "IPC client ping cancelled before it was sent", ""},
      {"delay_ms=1500", false, nullptr, "IPC client start cancelled", "ping 0\n"},
      {"start=drip:150\n", false, "start ",
       "[plugin] Worker finished after the plug-in was destroyed", nullptr},
  };
  const auto journal = [] { return tunnel_fixture::ReadFixtureFile(tunnel_fixture::kJournalFile); };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.behaviour);
    ASSERT_TRUE(tunnel_fixture::StartTunnelService());
    ASSERT_TRUE(tunnel_fixture::WriteFixtureFile(tunnel_fixture::kJournalFile, ""));
    SetBehaviour(c.behaviour);
    std::unique_ptr<HeldMutex> other_exchange;
    if (c.hold_mutex) other_exchange = std::make_unique<HeldMutex>(ipc::kIpcClientMutexName);
    MethodReply start_reply;
    std::thread starter([&] { start_reply = Start(); });
    if (c.journal_before_destroy) {
      for (int i = 0; i < 200 && journal().find(c.journal_before_destroy) == std::string::npos;
           ++i) {
        host_->PumpMessages(milliseconds(50));
      }
      ASSERT_NE(journal().find(c.journal_before_destroy), std::string::npos) << journal();
    } else {
      std::this_thread::sleep_for(milliseconds(500));
    }
    size_t off_thread_before = 0, during_shutdown_before = 0;
    FlutterStandinGetMisplacedMessageCounts(&off_thread_before, &during_shutdown_before);
    const auto destroy_began = std::chrono::steady_clock::now();
    host_->DestroyRegistrar();
    // Only a hang: the destructor's own wait ends at 2 s.
    EXPECT_LT(std::chrono::steady_clock::now() - destroy_began, seconds(20));
    starter.join();
    other_exchange.reset();
    EXPECT_NE(start_reply.kind, ReplyKind::kSuccess);
    for (int i = 0; i < 300 && !LogHas(c.worker_ended); ++i) {
      std::this_thread::sleep_for(milliseconds(50));
    }
    EXPECT_TRUE(LogHas(c.worker_ended)) << NewLog();
    if (c.hold_mutex) EXPECT_FALSE(LogHas("worker(s) still running after")) << NewLog();
    size_t off_thread_after = 0, during_shutdown_after = 0;
    FlutterStandinGetMisplacedMessageCounts(&off_thread_after, &during_shutdown_after);
    EXPECT_EQ(off_thread_after, off_thread_before);
    EXPECT_EQ(during_shutdown_after, during_shutdown_before);
    SetBehaviour("");
    if (c.journal_after) {
      EXPECT_EQ(journal(), c.journal_after);
    } else {
      EXPECT_NE(journal().find("stop 0\n"), std::string::npos) << journal();
    }
    ipc::StatusPayload status;
    ASSERT_TRUE(ipc::VpnIpcClient::QueryStatus(&status, nullptr));
    EXPECT_FALSE(status.running);
    // A new plug-in for the next case, as a reopened app gets.
    host_ = std::make_unique<ChannelHost>();
    TidewirePluginRegisterWithRegistrar(host_->registrar());
    log_offset_ = ReadTunnelLog().size();
  }
}

// The delay test of the live session goes through the SOCKS port of the configuration the
// service runs (here served by the core stand-in on a port the system had free); once that
// port is dead the app gets -1.
TEST_F(ServiceSessionTest, ConnectedDelayGoesThroughTheSessionsSocksPort) {
  auto core = std::make_unique<StandinCore>();
  ASSERT_TRUE(core->Start());
  const std::string port = std::to_string(core->socks_port());
  std::string config = kConfig;
  config.replace(config.find("10808"), 5, port);
  ExpectSuccess(Call("startVless", Map({{"remark", EncodableValue("Reality NL")},
                                        {"config", EncodableValue(config)}})),
                EncodableValue(false));

  LocalHttpServer target;
  const std::string url = "http://127.0.0.1:" + std::to_string(target.port()) + "/generate_204";
  const MethodReply measured = Call("getConnectedServerDelay", Map({{"url", EncodableValue(url)}}));
  ASSERT_EQ(measured.kind, ReplyKind::kSuccess);
  EXPECT_GE(std::get<int32_t>(measured.result), 1);
  ASSERT_EQ(target.requests().size(), 1u) << "the probe must reach the target through the relay";

  core.reset();  // the session's core is gone
  ExpectSuccess(Call("getConnectedServerDelay", Map({{"url", EncodableValue(url)}})),
                EncodableValue(int32_t{-1}));
}

}  // namespace
}  // namespace zelvora::testing
