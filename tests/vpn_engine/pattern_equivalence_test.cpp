// The hand-made matchers against std::regex evaluating the very patterns they replace.
#include <gtest/gtest.h>

#include <random>

#include "config_samples.h"
#include "reference_comparison.h"

namespace {

using reference_comparison::FirstDifference;

TEST(PatternEquivalence, AgreesOnHandPickedCorners) {
  const std::vector<std::string> corners = {
      "",
      R"({"tag":"socks","port":0},{"protocol":"socks","port":2080})",
      R"({"tag": "socks-in" , "port" :   1080 })",
      R"("tag":"socks" "tag":"in_proxy" "port":99999999999)",
      R"("tag":"socks-inx","port":5 "tag":"socks","port":6)",
      R"("protocol":"socks")" + std::string(501, ' ') + R"("port":1)",
      R"("protocol":"socks")" + std::string(500, ' ') + R"("port":1)",
      R"("port":7)" + std::string(300, 'x') + R"("protocol":"socks")",
      R"("port":7)" + std::string(301, 'x') + R"("protocol":"socks")",
      R"("port":12345"protocol":"socks")",
      R"({"protocol":"vless","settings":{"vnext":[{"address":"127.0.0.1"},{"address":"host.example:443"}]}})",
      R"("vnext" "address":"" "address":"  https://Srv.Example/x ")",
      R"("outbounds" "address": "[2001:db8::1]:443")",
      R"("outbounds" "address": "2001:db8::1")",
      R"("protocol":"wireguard","endpoint":"wg.example:51820")",
      R"("servers" "address":"LOCALHOST" "address":"http://")",
      R"("dns":{"servers":["1.1.1.1","1.1.1.1",{"address":"8.8.8.8"},"8.8.4.4","9.9.9.9","1.0.0.1"]})",
      R"("dns":{"servers":["a]b","1.2.3.4"]})",
      R"("dns":{"servers":["1234.1.1.1","1.1.1.1""2.2.2.2"3.3.3.3"]})",
      R"({"__zelvora_blocked_apps":["C:\\a b\\x(1).exe","C:\\Apps\\my-app_1.0.exe","","ok.exe"],"x":1})",
      R"({"a":1,"zelvoraMeta":{"panelHost":"bad host","BYPASSSUBNETS":["10.0.0.0/8"],"directDomains":["a.b","c d"],"shareProxyPorts":[1080,0,70000,"8080",123456]},"b":2})",
      R"({"zelvoraMeta": null, "inbounds": [1]})",
      R"({"__zelvora_blocked_apps":["a.exe"])",
      R"({"x":1, "allowInsecure": TRUE, "y":2, "ALLOWINSECURE":0,"z":"allowInsecure": 10})",
      R"({"allowInsecure":true})",
      R"("listen" : "[::1]", "listen":"[::1]x")",
      R"("tag":"api","port":10086)",
      "Xray 1.8.24 (Xray, Penetrates Everything.)",
      "Xray\t1.2 Xray 3.4.5",
      "\"tag\"\v:\f\"socks\"\r\"port\"\n:\t42",
  };
  for (const std::string& text : corners) {
    EXPECT_EQ(FirstDifference(text), "") << "input: " << text;
  }
}

TEST(PatternEquivalence, AgreesOnRealisticConfigurations) {
  for (const std::string& config : config_samples::RealisticConfigs()) {
    ASSERT_EQ(FirstDifference(config), "") << "input: " << config;
  }
}

TEST(PatternEquivalence, AgreesOnGeneratedAndMutatedTexts) {
  std::mt19937 rng(20261206);
  const std::vector<std::string> seeds = config_samples::RealisticConfigs();
  for (int round = 0; round < 600; ++round) {
    const std::string text =
        round % 2 == 0 ? config_samples::RandomTokens(rng, 1 + rng() % 60)
                       : config_samples::Mutate(seeds[rng() % seeds.size()], rng, 1 + rng() % 12);
    ASSERT_EQ(FirstDifference(text), "") << "round " << round << " input: " << text;
  }
}

}  // namespace
