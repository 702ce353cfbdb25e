// The hand-made matchers against std::regex evaluating the very patterns they replace, on
// corners, every generated shape, and mutated shapes.
#include <gtest/gtest.h>

#include <random>

#include "support/config_samples.h"
#include "support/regex_reference.h"

namespace {

using regex_reference::FirstDifference;

TEST(PatternEquivalence, AgreesOnCornersShapesAndGeneratedTexts) {
  std::vector<std::string> texts = {
      "",
      R"({"__zelvora_blocked_apps":["C:\\a b\\x(1).exe","C:\\Apps\\my-app_1.0.exe","","ok.exe"],"x":1})",
      R"({"a":1,"zelvoraMeta":{"panelHost":"bad host","BYPASSSUBNETS":["10.0.0.0/8"],"directDomains":["a.b","c d"],"shareProxyPorts":[1080,0,70000,"8080",123456]},"b":2})",
      R"({"zelvoraMeta":{"PanelHost":"Panel.Example:8443"}})",
      R"({"zelvoraMeta": null, "inbounds": [1]})",
      R"({"__zelvora_blocked_apps":["a.exe"])",
      R"({"x":1, "allowInsecure": TRUE, "y":2, "ALLOWINSECURE":0,"z":"allowInsecure": 10})",
      R"({"allowInsecure":true})",
      R"("listen" : "[::1]", "listen":"[::1]x")",
      "Xray 1.8.24 (Xray, Penetrates Everything.)",
      "Xray\t1.2 Xray 3.4.5",
      "1.2.3.4",
      "1234.1.1.1",
  };
  const std::vector<std::string> shapes = config_samples::RealisticConfigs();
  texts.insert(texts.end(), shapes.begin(), shapes.end());
  std::mt19937 rng(20261206);
  // (Random byte soups are the fuzz target's business.)
  for (int round = 0; round < 600; ++round) {
    texts.push_back(config_samples::Mutate(shapes[rng() % shapes.size()], rng, 1 + rng() % 12));
  }
  for (const std::string& text : texts) ASSERT_EQ(FirstDifference(text), "") << "input: " << text;
}

}  // namespace
