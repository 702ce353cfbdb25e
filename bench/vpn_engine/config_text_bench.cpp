// Times the configuration-text functions and the whole engine pipeline on configurations of
// 5 KB to 8 MB, next to std::regex evaluating the patterns of the same questions where it can
// run at all.
//
// std::regex recurses once per character its repeats consume, so the reference runs on a
// thread with a 1 GB stack; above 1 MB it would need more than that and is skipped.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

#include "config_text/config_inspection.h"
#include "config_text/config_meta.h"
#include "retired_patterns.h"
#include "support/config_samples.h"
#include "vpn_engine/injection/config_injection.h"

void TunnelLogWrite(const std::string&) {}

namespace {

using Clock = std::chrono::steady_clock;

// Best of several runs, in milliseconds; at least three runs and about 200 ms in total.
double TimeMs(const std::function<void()>& work) {
  double best = 1e300;
  const auto start = Clock::now();
  for (int run = 0; run < 3 || (Clock::now() - start < std::chrono::milliseconds(200) && run < 200);
       ++run) {
    const auto t0 = Clock::now();
    work();
    best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  return best;
}

void RunOnBigStack(const std::function<void()>& work) {
  constexpr size_t kStack = size_t{1} << 30;
#ifdef _WIN32
  HANDLE thread = ::CreateThread(
      nullptr, kStack,
      [](void* p) -> DWORD {
        (*static_cast<const std::function<void()>*>(p))();
        return 0;
      },
      const_cast<std::function<void()>*>(&work), STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  ::WaitForSingleObject(thread, INFINITE);
  ::CloseHandle(thread);
#else
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kStack);
  pthread_t thread;
  pthread_create(
      &thread, &attributes,
      [](void* p) -> void* {
        (*static_cast<const std::function<void()>*>(p))();
        return nullptr;
      },
      const_cast<std::function<void()>*>(&work));
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
#endif
}

const ExeFolderLister kNoStoreApps = [](const std::string&) { return std::vector<std::string>{}; };
const LoopbackPortProbe kAllFree{[](uint16_t) { return true; }, []() -> uint16_t { return 0; }};

std::string Pipeline(const std::string& original) {
  std::string config = original;
  const ConfigMeta meta = ExtractConfigMeta(config);
  std::vector<std::string> dns;
  const std::string injected =
      RemapBusyPorts(InjectVpnConfig({meta.panelHost, meta.directDomains, meta.blockedApps}, &dns,
                                     config, kNoStoreApps),
                     kAllFree);
  std::vector<std::string> lines;
  ExtractServerAddress(injected, &lines);
  return std::to_string(ExtractSocksPort(injected)) + StripAllowInsecure(injected);
}

}  // namespace

int main() {
  const size_t sizes[] = {5 * 1024, 100 * 1024, 1024 * 1024, 8 * 1024 * 1024};
  std::printf("%-22s %10s %10s %10s %10s\n", "ms (best of runs)", "5 KB", "100 KB", "1 MB", "8 MB");
  struct Row {
    const char* name;
    std::function<void(const std::string&)> ours;
    std::function<void(const std::string&)> reference;  // empty: no reference
  };
  std::vector<std::string> configs;
  for (size_t size : sizes) configs.push_back(config_samples::LargeConfig(size));
  std::vector<std::string> injected;
  for (const std::string& config : configs) {
    std::string copy = config;
    const ConfigMeta meta = ExtractConfigMeta(copy);
    std::vector<std::string> dns;
    std::fprintf(stderr, "(preparing %zu bytes)\n", config.size());
    injected.push_back(InjectVpnConfig({meta.panelHost, meta.directDomains, meta.blockedApps}, &dns,
                                       copy, kNoStoreApps));
  }
  const std::vector<Row> rows = {
      {"ExtractConfigMeta",
       [](const std::string& c) {
         std::string copy = c;
         ExtractConfigMeta(copy);
       },
       [](const std::string& c) {
         std::string copy = c;
         regex_reference::ExtractConfigMeta(copy);
       }},
      {"InjectVpnConfig",
       [](const std::string& c) {
         std::vector<std::string> dns;
         InjectVpnConfig({"panel.example.org", {}, {"a.exe"}}, &dns, c, kNoStoreApps);
       },
       {}},
      {"RemapBusyPorts", [](const std::string& c) { RemapBusyPorts(c, kAllFree); }, {}},
      {"ExtractSocksPort", [](const std::string& c) { ExtractSocksPort(c); },
       [](const std::string& c) { regex_reference::ExtractSocksPort(c); }},
      {"FindSocksInboundPort", [](const std::string& c) { FindSocksInboundPort(c); },
       [](const std::string& c) { regex_reference::FindSocksInboundPort(c); }},
      {"ExtractServerAddress",
       [](const std::string& c) {
         std::vector<std::string> lines;
         ExtractServerAddress(c, &lines);
       },
       [](const std::string& c) {
         std::vector<std::string> lines;
         regex_reference::ExtractServerAddress(c, &lines);
       }},
      {"ExtractDnsServers", [](const std::string& c) { ExtractDnsServers(c); },
       [](const std::string& c) { regex_reference::ExtractDnsServers(c); }},
      {"StripAllowInsecure", [](const std::string& c) { StripAllowInsecure(c); },
       [](const std::string& c) { regex_reference::StripAllowInsecure(c); }},
      {"whole pipeline", [](const std::string& c) { Pipeline(c); }, {}},
  };
  for (const Row& row : rows) {
    // The injection steps run on what the engine has at that point: the text after
    // metadata removal and injection; the others on the application's text.
    const bool on_injected = std::string(row.name) == "RemapBusyPorts";
    std::vector<double> ours;
    std::printf("%-22s", row.name);
    for (size_t i = 0; i < configs.size(); ++i) {
      const std::string& input = on_injected ? injected[i] : configs[i];
      ours.push_back(TimeMs([&] { row.ours(input); }));
      std::printf(" %10.3f", ours.back());
    }
    std::printf("   8MB/1MB %.1fx\n", ours[3] / ours[2]);
    if (!row.reference) continue;
    std::printf("%-22s", "  std::regex");
    for (size_t i = 0; i < configs.size(); ++i) {
      if (configs[i].size() > 1024 * 1024 + 4096) {
        std::printf(" %10s", "skipped");
        continue;
      }
      double ms = 0;
      RunOnBigStack([&] { ms = TimeMs([&] { row.reference(configs[i]); }); });
      std::printf(" %10.3f", ms);
    }
    std::printf("\n");
  }
  return 0;
}
