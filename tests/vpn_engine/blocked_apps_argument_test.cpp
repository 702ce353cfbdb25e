#include "vpn_engine/injection/blocked_apps_argument.h"

#include <gtest/gtest.h>

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

TEST(BlockedAppsArgument, EmbedsOnlyNonEmptyStringsOfAList) {
  const EncodableMap arguments = {
      {EncodableValue("config"), EncodableValue("{}")},
      {EncodableValue("blocked_apps"),
       EncodableValue(
           EncodableList{EncodableValue("C:\\A\\a.exe"), EncodableValue(""), EncodableValue(7)})},
  };
  EXPECT_EQ(EmbedBlockedAppsMeta("{\"log\":{}}", &arguments),
            "{\"__zelvora_blocked_apps\":[\"C:\\\\A\\\\a.exe\"],\"log\":{}}");

  // A missing or wrongly typed list leaves the configuration.
  const EncodableMap not_a_list = {{EncodableValue("blocked_apps"), EncodableValue("a.exe")}};
  const EncodableMap numbers = {
      {EncodableValue("blocked_apps"), EncodableValue(EncodableList{EncodableValue(1)})}};
  const EncodableMap absent = {};
  for (const EncodableMap* arguments : {&not_a_list, &numbers, &absent}) {
    EXPECT_EQ(EmbedBlockedAppsMeta("{}", arguments), "{}");
  }
  EXPECT_EQ(EmbedBlockedAppsMeta("{}", static_cast<const EncodableMap*>(nullptr)), "{}");
}

}  // namespace
