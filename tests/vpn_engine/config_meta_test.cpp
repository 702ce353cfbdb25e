#include "config_text/config_meta.h"

#include <gtest/gtest.h>

namespace {

TEST(ExtractConfigMeta, ReadsAndCutsBothMembersWhereverTheyStand) {
  std::string config =
      R"({"__zelvora_blocked_apps":["C:\\Program Files\\App\\my app-1.0_x.exe","C:\\x\\bad(1).exe","chrome.exe"],)"
      R"("log":{},"zelvoraMeta":{"panelHost":"panel.example.org","bypassSubnets":["10.0.0.0/8"],)"
      R"("DirectDomains":["a.example.org","bad host"],"shareProxyPorts":[1080,0,70000,"8080",123456,-5,80.5,"x1"]},)"
      R"("outbounds":[]})";
  const ConfigMeta meta = ExtractConfigMeta(config);
  EXPECT_EQ(config, R"({"log":{},"outbounds":[]})");
  EXPECT_EQ(meta.blockedApps, (std::vector<std::string>{
                                  "C:\\\\Program Files\\\\App\\\\my app-1.0_x.exe", "chrome.exe"}));
  EXPECT_EQ(meta.panelHost, "panel.example.org");
  EXPECT_EQ(meta.bypassSubnets, (std::vector<std::string>{"10.0.0.0/8"}));
  EXPECT_EQ(meta.directDomains, (std::vector<std::string>{"a.example.org"}));
  // Each entry whole: digits inside 123456, -5 or 80.5 are not ports.
  EXPECT_EQ(meta.shareProxyPorts, (std::vector<uint32_t>{1080, 8080}));

  // Last: the text stays valid JSON.
  std::string last = "{\n  \"log\": {},\n  \"zelvoraMeta\": {\"panelHost\": \"bad host\"}\n}";
  EXPECT_EQ(ExtractConfigMeta(last).panelHost, "");
  EXPECT_EQ(last, "{\n  \"log\": {}}");
}

TEST(RemoveJsonMember, CutsExactlyTheMemberOrNothing) {
  std::string config = R"({"zelvoraMeta": null, "inbounds": [{"port": 1}]})";
  RemoveJsonMember(config, config.find("\"zelvoraMeta\""));
  EXPECT_EQ(config, R"({ "inbounds": [{"port": 1}]})");

  std::string text = R"({"a":1,"k":"x\"}y"})";
  RemoveJsonMember(text, text.find("\"k\""));
  EXPECT_EQ(text, R"({"a":1})");

  // A member that cannot be delimited stays.
  for (std::string text :
       {std::string(R"({"k":[1,2)"), std::string(R"({"k" 1})"), std::string(R"({"k":"open)")}) {
    const std::string before = text;
    RemoveJsonMember(text, 1);
    EXPECT_EQ(text, before);
  }
  std::string quoted = R"({"k":{"a":"]}"}})";
  RemoveJsonMember(quoted, 1);
  EXPECT_EQ(quoted, "{}");  // brackets inside a string do not end the object
}

TEST(IsValidHostToken, AcceptsHostCharactersOnly) {
  EXPECT_TRUE(IsValidHostToken("*.Example-1.org:443"));
  EXPECT_TRUE(IsValidHostToken(std::string(253, 'a')));
  for (const std::string& bad :
       {std::string(254, 'a'), std::string(), std::string("a b"), std::string("a/b")}) {
    EXPECT_FALSE(IsValidHostToken(bad)) << bad;
  }
}

TEST(EmbedBlockedAppsMeta, WritesStringItemsFirstWithEscapes) {
  BlockedAppsArgument argument{true, true, {"C:\\Apps\\a\"b.exe", "", "x.exe"}};
  EXPECT_EQ(EmbedBlockedAppsMeta(R"( {"log":{}})", argument),
            R"( {"__zelvora_blocked_apps":["C:\\Apps\\a\"b.exe","x.exe"],"log":{}})");
  EXPECT_EQ(EmbedBlockedAppsMeta("{}", {false, true, {"x.exe"}}), "{}");
  EXPECT_EQ(EmbedBlockedAppsMeta("{}", {true, false, {}}), "{}");
  EXPECT_EQ(EmbedBlockedAppsMeta("{}", {true, true, {""}}), "{}");
  EXPECT_EQ(EmbedBlockedAppsMeta("no brace", argument), "no brace");
}

}  // namespace
