// The whole text pipeline on a 16 MB configuration, on a thread with the 1 MB stack a Windows
// thread gets by default: it must finish and read what the text says.
#include <gtest/gtest.h>
#include <windows.h>

#include <exception>

#include "config_text/config_inspection.h"
#include "config_text/config_meta.h"
#include "support/config_samples.h"
#include "vpn_engine/injection/config_injection.h"

namespace {

struct Pipeline {
  const std::string* config;
  ConfigMeta meta;
  std::vector<std::string> dns;
  uint16_t socks_port = 0, inbound_port = 0;
  std::string server, injected;
  bool finished = false;
};

DWORD WINAPI RunPipeline(void* parameter) {
  auto* run = static_cast<Pipeline*>(parameter);
  try {
    std::string config = *run->config;
    run->meta = ExtractConfigMeta(config);
    const VpnInjectionInputs inputs{
        run->meta.panelHost, run->meta.directDomains, {"C:\\\\x\\\\app.exe"}};
    const ExeFolderLister none = [](const std::string&) { return std::vector<std::string>{}; };
    const LoopbackPortProbe all_free{[](uint16_t) { return true; }, []() -> uint16_t { return 0; }};
    run->injected = RemapBusyPorts(InjectVpnConfig(inputs, &run->dns, config, none), all_free);
    run->socks_port = ExtractSocksPort(run->injected);
    run->inbound_port = FindSocksInboundPort(run->injected);
    run->server = ExtractServerAddress(run->injected);
    run->finished = true;
  } catch (const std::exception&) {
  }
  return 0;
}

TEST(LargeConfiguration, PipelineFinishesOnAOneMegabyteStack) {
  const std::string large = config_samples::LargeConfig(16 * 1024 * 1024);
  ASSERT_GE(large.size(), 16u * 1024 * 1024);
  Pipeline run{&large};
  HANDLE thread = ::CreateThread(nullptr, 1024 * 1024, RunPipeline, &run,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  ASSERT_NE(thread, nullptr);
  // A hang catcher: the pipeline takes about a second under Wine.
  EXPECT_EQ(::WaitForSingleObject(thread, 120000), WAIT_OBJECT_0);
  ::CloseHandle(thread);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.socks_port, 10808);
  EXPECT_EQ(run.inbound_port, 10808);
  EXPECT_EQ(run.server, "vpn.example.net");
  EXPECT_EQ(run.dns, (std::vector<std::string>{"1.1.1.1", "8.8.8.8"}));
  EXPECT_EQ(run.meta.panelHost, "panel.example.org");
  EXPECT_EQ(run.meta.directDomains, std::vector<std::string>{"a.example.org"});
  // Every entry of the long lists, to the last one.
  EXPECT_GT(run.meta.blockedApps.size(), 50000u);
  const std::string last = "\\\\app" + std::to_string(run.meta.blockedApps.size() - 1) + ".exe";
  EXPECT_NE(run.meta.blockedApps.back().find(last), std::string::npos) << last;
  EXPECT_GT(run.meta.bypassSubnets.size(), 100000u);
  EXPECT_NE(run.injected.find("\"port\": 10086"), std::string::npos);
}

}  // namespace
