// Arbitrary bytes through every configuration-text function; small inputs are also checked
// against std::regex evaluating the patterns the matchers replace.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config_text/config_inspection.h"
#include "config_text/config_meta.h"
#include "config_text/json_text.h"
#include "support/regex_reference.h"
#include "vpn_engine/injection/config_injection.h"

namespace {

// std::regex recurses per character; beyond this the reference itself would be the risk.
constexpr size_t kReferenceLimit = 2048;

void RunEverything(const std::string& text) {
  std::vector<std::string> dns;
  VpnInjectionInputs inputs;
  std::string meta_text = text;
  const ConfigMeta meta = ExtractConfigMeta(meta_text);
  inputs.panelHost = meta.panelHost;
  inputs.directDomains = meta.directDomains;
  inputs.blockedApps = meta.blockedApps;
  const ExeFolderLister lister = [](const std::string&) {
    return std::vector<std::string>{"a.exe", "Setup.exe"};
  };
  const std::string injected = InjectVpnConfig(inputs, &dns, meta_text, lister);
  const LoopbackPortProbe probe{[](uint16_t port) { return port % 2 == 0; },
                                []() -> uint16_t { return 40000; }};
  const std::string remapped = RemapBusyPorts(injected, probe);
  (void)ExtractSocksPort(remapped);
  (void)StripAllowInsecure(remapped);
  (void)InjectVpnConfig({"", {}, {"x.exe"}}, &dns, text, lister);  // with the TUN inbound
  BlockedAppsArgument argument{true, true, {text, "x.exe"}};
  std::string embedded = EmbedBlockedAppsMeta(text, argument);
  (void)ExtractConfigMeta(embedded);
  for (size_t pos = 0; pos < text.size(); pos += 1 + text.size() / 8) {
    std::string copy = text;
    RemoveJsonMember(copy, pos);
    (void)config_text::FindMatchingCloser(text, pos);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (size <= kReferenceLimit) {
    const std::string difference = regex_reference::FirstDifference(text);
    if (!difference.empty()) {
      std::fprintf(stderr, "mismatch with the std::regex reference: %s\n", difference.c_str());
      std::abort();
    }
  }
  RunEverything(text);
  return 0;
}
