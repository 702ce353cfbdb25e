// Proxy-only mode under Wine with the core stand-in: a session from start to stop with the system
// proxy, counters, version and both delay tests; a busy SOCKS port; a core that dies; refusals.
#include "proxy_mode/xray_service.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "common/text_encoding.h"
#include "core_standin/standin_paths.h"
#include "proxy_mode/system_proxy.h"
#include "vpn_engine/local_http_server.h"
#include "vpn_engine/loopback_ports.h"

namespace zelvora {
namespace {

const core_standin::UseAsCurrentFolder kUseStandin;

using Clock = std::chrono::steady_clock;

// Collects what the service writes to the standard error stream (from any thread).
class ErrorCapture : public std::streambuf {
 public:
  ErrorCapture() : old_(std::cerr.rdbuf(this)) {}
  ~ErrorCapture() override { std::cerr.rdbuf(old_); }
  bool Has(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_.find(text) != std::string::npos;
  }

 protected:
  int overflow(int c) override {
    if (c != EOF) {
      std::lock_guard<std::mutex> lock(mutex_);
      text_.push_back(static_cast<char>(c));
    }
    return c;
  }
  std::streamsize xsputn(const char* data, std::streamsize size) override {
    std::lock_guard<std::mutex> lock(mutex_);
    text_.append(data, static_cast<size_t>(size));
    return size;
  }

 private:
  std::streambuf* old_;
  std::mutex mutex_;
  std::string text_;
};

template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(8)) {
  const auto deadline = Clock::now() + limit;
  while (!condition()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

std::string ProxyConfig(uint16_t port, const std::string& extra = "") {
  return "{\n  \"log\": {\"loglevel\": \"warning\"},\n  \"inbounds\": [{\"tag\": \"in_proxy\", "
         "\"port\": " +
         std::to_string(port) +
         ", \"listen\": \"127.0.0.1\", \"protocol\": \"socks\"}],\n  \"outbounds\": [{\"tag\": "
         "\"proxy\", \"protocol\": \"vless\", \"streamSettings\": {\"tlsSettings\": "
         "{\"allowInsecure\": true}}}],\n  \"marker\": \"" +
         extra + "\"\n}";
}

std::wstring ProxyServer() {
  SystemProxyState state;
  return ReadSystemProxy(&state) ? state.server : L"<unreadable>";
}

std::string FileText(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(XrayService, SessionFromStartToStop) {
  ErrorCapture errors;
  LocalHttpServer server;
  const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/ping";
  const uint16_t port = FindFreeLoopbackPort();
  XrayService service;
  ASSERT_FALSE(service.XrayPath().empty());
  ASSERT_TRUE(service.Start(ProxyConfig(port)));
  EXPECT_TRUE(service.IsRunning());
  const std::wstring expected = L"socks=localhost:" + std::to_wstring(port);
  ASSERT_TRUE(WaitFor([&] { return ProxyServer() == expected; })) << WideToUtf8(ProxyServer());
  EXPECT_TRUE(errors.Has("System proxy set to localhost:" + std::to_string(port)));
  SystemProxyState state;
  ASSERT_TRUE(ReadSystemProxy(&state));
  EXPECT_NE(state.flags & PROXY_TYPE_PROXY, 0u);
  // Only the proxy bit is checked: Wine reads the flags back without the direct bit and the
  // bypass list back empty, although both are stored.

  // The written file: amended, without "allowInsecure", with the API the service reads.
  const std::string written = FileText(service.ConfigPath());
  EXPECT_EQ(written.find("allowInsecure"), std::string::npos);
  EXPECT_NE(written.find("\"stats\": {}"), std::string::npos);
  EXPECT_NE(written.find("\"statsOutboundUplink\": true"), std::string::npos);
  EXPECT_NE(written.find("\"listen\": \"" + service.ApiAddress() + "\""), std::string::npos)
      << service.ApiAddress() << "\n"
      << written;

  // Traffic through the port shows in the counters the API reports.
  EXPECT_GE(service.MeasureConnectedDelay(url), 1);
  uint64_t up = 0;
  uint64_t down = 0;
  ASSERT_TRUE(WaitFor([&] {
    service.GetTrafficTotals(&up, &down);
    return up > 0 && down > 0;
  }));
  EXPECT_GT(down, 40u) << "a response's worth of bytes";
  EXPECT_LT(up, 400u) << "one small request, counted once";
  EXPECT_EQ(service.GetCoreVersion().rfind("Xray 1.8.24 (Zelvora core stand-in)", 0), 0u);

  // A delay test runs its own instance on other ports and leaves the session alone.
  EXPECT_GE(service.MeasureServerDelay(ProxyConfig(port), url), 1);
  EXPECT_TRUE(service.IsRunning());
  EXPECT_GE(HeadProbe(port, url), 1);
  EXPECT_EQ(ProxyServer(), expected);

  const std::wstring file = service.ConfigPath();
  service.Stop();
  EXPECT_FALSE(service.IsRunning());
  EXPECT_FALSE(std::filesystem::exists(file));
  service.GetTrafficTotals(&up, &down);
  EXPECT_EQ(up + down, 0u);
  EXPECT_EQ(HeadProbe(port, url), -1) << "the core is gone";
  ASSERT_TRUE(ReadSystemProxy(&state));
  EXPECT_EQ(state.flags & PROXY_TYPE_PROXY, 0u) << "flags " << state.flags;
  EXPECT_EQ(service.MeasureConnectedDelay(url), -1);
}

TEST(XrayService, BusySocksPortIsMovedBeforeTheCoreStarts) {
  ErrorCapture errors;
  SOCKET holder = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  const uint16_t busy = FindFreeLoopbackPort();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(busy);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ::listen(holder, 1);
  XrayService service;
  ASSERT_TRUE(service.Start(ProxyConfig(busy)));
  ASSERT_TRUE(WaitFor([&] { return errors.Has("System proxy set to localhost:"); }));
  const std::string written = FileText(service.ConfigPath());
  EXPECT_EQ(written.find("\"port\": " + std::to_string(busy)), std::string::npos) << written;
  EXPECT_NE(ProxyServer(), L"socks=localhost:" + std::to_wstring(busy));
  EXPECT_TRUE(service.IsRunning());
  service.Stop();
  ::closesocket(holder);
}

TEST(XrayService, CoreDyingOnItsOwnEndsTheSessionButLeavesTheProxyUntilStop) {
  ErrorCapture errors;
  const uint16_t port = FindFreeLoopbackPort();
  XrayService service;
  ASSERT_TRUE(service.Start(ProxyConfig(port, "standin_exit_after_ms:1500")));
  ASSERT_TRUE(WaitFor([&] { return !service.IsRunning(); }));
  EXPECT_TRUE(errors.Has("Xray process terminated unexpectedly"));
  EXPECT_EQ(ProxyServer(), L"socks=localhost:" + std::to_wstring(port));
  service.Stop();
  SystemProxyState state;
  ASSERT_TRUE(ReadSystemProxy(&state));
  EXPECT_EQ(state.flags & PROXY_TYPE_PROXY, 0u);
}

TEST(XrayService, RefusalsAndAnswersWithoutASession) {
  ErrorCapture errors;
  XrayService service;
  EXPECT_FALSE(service.Start("{\"inbounds\": [{\"port\": 1}]"));
  EXPECT_TRUE(errors.Has("Invalid Xray configuration JSON"));
  EXPECT_FALSE(service.IsRunning());
  EXPECT_EQ(service.MeasureServerDelay("{\"a\": \"open}", "http://127.0.0.1/"), -1);
  EXPECT_EQ(service.MeasureConnectedDelay("http://127.0.0.1/"), -1);
  EXPECT_EQ(service.GetCoreVersion(), "1.8.24") << "from -version without an API client";
  uint64_t up = 1;
  uint64_t down = 1;
  service.GetTrafficTotals(&up, &down);
  EXPECT_EQ(up + down, 0u);
  service.Stop();  // nothing to stop: harmless
}

TEST(XrayService, ApiCommandThatHangsReturnsAfterItsTimeOut) {
  ErrorCapture errors;
  XrayService service;
  std::string output = "old";
  const auto start = Clock::now();
  EXPECT_TRUE(service.RunXrayApiCommand("standin-sleep 20000", &output));
  const auto took = Clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(2900));
  EXPECT_LT(took, std::chrono::milliseconds(6000));
  EXPECT_EQ(output, "");
  EXPECT_TRUE(errors.Has("RunXrayApiCommand: Timeout waiting for command: standin-sleep 20000"));
}

TEST(WriteProxyConfig, FreshFilesWithoutInsecureMembers) {
  std::wstring first;
  std::wstring second;
  ASSERT_TRUE(WriteProxyConfig("{\"allowInsecure\": true, \"a\": 1}", &first));
  ASSERT_TRUE(WriteProxyConfig("{}", &second));
  EXPECT_NE(first, second) << "two writes never share a file";
  EXPECT_NE(first.find(L"\\tidewire\\xray_config_"), std::wstring::npos);
  EXPECT_EQ(FileText(first).find("allowInsecure"), std::string::npos);
  EXPECT_EQ(DetectApiAddress(first), std::nullopt);
  std::filesystem::remove(first);
  std::filesystem::remove(second);
}

}  // namespace
}  // namespace zelvora
