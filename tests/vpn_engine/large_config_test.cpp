// The whole text pipeline on a 16 MB configuration, on a thread with the 1 MB stack a Windows
// thread gets by default: it must finish and agree with a small configuration of the same shape.
#include <gtest/gtest.h>
#include <windows.h>

#include <exception>

#include "config_samples.h"
#include "config_text/config_inspection.h"
#include "config_text/config_meta.h"
#include "vpn_engine/injection/config_injection.h"

namespace {

struct PipelineResult {
  size_t blocked_apps = 0;
  size_t bypass_subnets = 0;
  std::string panel_host;
  std::vector<std::string> dns;
  uint16_t socks_port = 0;
  uint16_t inbound_port = 0;
  std::string server;
  bool has_api_inbound = false;
  bool finished = false;
};

PipelineResult RunPipeline(const std::string& original) {
  PipelineResult result;
  std::string config = original;
  const ConfigMeta meta = ExtractConfigMeta(config);
  result.blocked_apps = meta.blockedApps.size();
  result.bypass_subnets = meta.bypassSubnets.size();
  result.panel_host = meta.panelHost;
  VpnInjectionInputs inputs{meta.panelHost, meta.directDomains, {"C:\\\\x\\\\app.exe"}};
  const ExeFolderLister none = [](const std::string&) { return std::vector<std::string>{}; };
  const LoopbackPortProbe all_free{[](uint16_t) { return true; }, []() -> uint16_t { return 0; }};
  const std::string injected =
      RemapBusyPorts(InjectVpnConfig(inputs, &result.dns, config, none), all_free);
  result.socks_port = ExtractSocksPort(injected);
  result.inbound_port = FindSocksInboundPort(injected);
  std::vector<std::string> lines;
  result.server = ExtractServerAddress(injected, &lines);
  result.has_api_inbound = injected.find("\"port\": 10086") != std::string::npos;
  result.finished = true;
  return result;
}

struct ThreadJob {
  const std::string* config;
  PipelineResult result;
};

DWORD WINAPI PipelineThread(void* parameter) {
  auto* job = static_cast<ThreadJob*>(parameter);
  try {
    job->result = RunPipeline(*job->config);
  } catch (const std::exception&) {
  }
  return 0;
}

TEST(LargeConfiguration, PipelineFinishesOnAOneMegabyteStack) {
  const std::string small = config_samples::LargeConfig(5 * 1024);
  const std::string large = config_samples::LargeConfig(16 * 1024 * 1024);
  ASSERT_GE(large.size(), 16u * 1024 * 1024);

  ThreadJob job{&large, {}};
  HANDLE thread = ::CreateThread(nullptr, 1024 * 1024, PipelineThread, &job,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(::WaitForSingleObject(thread, 120000), WAIT_OBJECT_0);
  ::CloseHandle(thread);
  ASSERT_TRUE(job.result.finished);

  const PipelineResult expected = RunPipeline(small);
  EXPECT_EQ(job.result.socks_port, 10808);
  EXPECT_EQ(job.result.socks_port, expected.socks_port);
  EXPECT_EQ(job.result.inbound_port, expected.inbound_port);
  EXPECT_EQ(job.result.server, "vpn.example.net");
  EXPECT_EQ(job.result.server, expected.server);
  EXPECT_EQ(job.result.dns, expected.dns);
  EXPECT_EQ(job.result.panel_host, "panel.example.org");
  EXPECT_TRUE(job.result.has_api_inbound);
  EXPECT_GT(job.result.blocked_apps, expected.blocked_apps);
  EXPECT_GT(job.result.bypass_subnets, 100000u);
}

}  // namespace
