#include "installed_apps/rules/collapse.h"

#include <gtest/gtest.h>

#include <vector>

namespace installed_apps {
namespace {

std::vector<std::wstring> Paths(const EntryTable& table) {
  std::vector<std::wstring> paths;
  for (const auto& node : table) paths.push_back(node.second.exe_path);
  return paths;
}

TEST(Collapse, NormalizedNames) {
  EXPECT_EQ(NormalizeNameForCollapse(L"Example Tool 1.2.3 (64-bit)"), L"example tool");
  EXPECT_EQ(NormalizeNameForCollapse(L"  Foo (32-bit) "), L"foo");
  EXPECT_EQ(NormalizeNameForCollapse(L"Tool x64"), L"tool");
  EXPECT_EQ(NormalizeNameForCollapse(L"Tool 2.0 3.1-beta"), L"tool 2.0 3.1-beta");
  EXPECT_EQ(NormalizeNameForCollapse(L"Tool 2.0 3.1+1"), L"tool");
  EXPECT_EQ(NormalizeNameForCollapse(L"Tool 2024"), L"tool 2024");  // no dot: not a version
  EXPECT_EQ(NormalizeNameForCollapse(L"x64"), L"");
}

TEST(Collapse, SameNameKeepsTheBetterEntry) {
  EntryTable table;
  UpsertEntry(table, {L"Foo (64-bit)", L"C:\\A\\foo_helper.exe", L"", 0});
  UpsertEntry(table, {L"Other", L"C:\\O\\other.exe", L"", 0});
  UpsertEntry(table, {L"Foo", L"C:\\B\\foo.exe", L"", 0});
  CollapseByDisplayName(table);
  EXPECT_EQ(Paths(table), (std::vector<std::wstring>{L"C:\\O\\other.exe", L"C:\\B\\foo.exe"}));

  // Equal scores: the better display name wins; the first one seen wins a full tie.
  EntryTable tie;
  UpsertEntry(tie, {L"Tool 1.0", L"C:\\A\\a.exe", L"", 0});
  UpsertEntry(tie, {L"Tool 1.0.1", L"C:\\B\\b.exe", L"", 0});
  UpsertEntry(tie, {L"Tool 1.0.2", L"C:\\C\\c.exe", L"", 0});
  CollapseByDisplayName(tie);
  EXPECT_EQ(Paths(tie), (std::vector<std::wstring>{L"C:\\B\\b.exe"}));
}

TEST(Collapse, SameExecutableNameMergesOnlyCompatibleNames) {
  EntryTable table;
  UpsertEntry(table, {L"Example", L"C:\\A\\example.exe", L"", 0});
  UpsertEntry(table, {L"Example Link", L"C:\\B\\example.exe", L"", 0});
  UpsertEntry(table, {L"Studio Editor", L"C:\\S\\studio.exe", L"", 0});
  UpsertEntry(table, {L"Paint Studio", L"C:\\P\\studio.exe", L"", 0});
  UpsertEntry(table, {L"Ab", L"C:\\X\\ab.exe", L"", 0});
  UpsertEntry(table, {L"Abc", L"C:\\Y\\ab.exe", L"", 0});  // too short for a prefix match
  CollapseByExeBasename(table);
  EXPECT_EQ(Paths(table),
            (std::vector<std::wstring>{L"C:\\B\\example.exe", L"C:\\S\\studio.exe",
                                       L"C:\\P\\studio.exe", L"C:\\X\\ab.exe", L"C:\\Y\\ab.exe"}));
}

// Between copies of the same program, a Store copy, a known version and a known install date
// each count in favour.
TEST(Collapse, PreferenceRewardsStoreVersionAndDate) {
  const Entry plain{L"Notes", L"C:\\N\\notes.exe", L"", 0};
  Entry store = plain;
  store.exe_path = L"C:\\Program Files\\WindowsApps\\P\\notes.exe";
  Entry versioned = plain;
  versioned.version = L"1.0";
  Entry dated = plain;
  dated.install_date = 7;
  for (const Entry* better : {&store, &versioned, &dated}) {
    EXPECT_GT(PreferenceScore(*better), PreferenceScore(plain)) << better->exe_path;
  }
}

}  // namespace
}  // namespace installed_apps
