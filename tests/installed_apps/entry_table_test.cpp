#include "installed_apps/rules/entry_table.h"

#include <gtest/gtest.h>

#include <vector>

namespace installed_apps {
namespace {

std::vector<std::wstring> Names(const EntryTable& table) {
  std::vector<std::wstring> names;
  for (const auto& node : table) names.push_back(node.second.display_name);
  return names;
}

TEST(UpsertEntry, CleansFiltersAndKeepsInsertionOrder) {
  EntryTable table;
  UpsertEntry(table, {L"Zeta", L"C:\\z\\zeta.exe", L"", 0});
  UpsertEntry(table, {L"Alpha", L"C:\\a\\alpha.exe", L"1.0", 0});
  UpsertEntry(table, {L"", L"C:\\m\\mid.exe", L"", 0});               // name from file
  UpsertEntry(table, {L"ms-resource:x", L"C:\\r\\res.exe", L"", 0});  // name from file
  UpsertEntry(table, {L"Orphan", L"", L"", 0});                       // no executable
  UpsertEntry(table, {L"Zelvora", L"C:\\zv\\app.exe", L"", 0});       // ourselves
  UpsertEntry(table, {L"org.example.app", L"C:\\o\\o.exe", L"", 0});  // identifier
  UpsertEntry(table, {L"Readme", L"C:\\r\\readme.txt", L"", 0});      // not a program
  EXPECT_EQ(Names(table), (std::vector<std::wstring>{L"Zeta", L"Alpha", L"Mid", L"Res"}));
}

TEST(UpsertEntry, SameExecutableInOtherCaseMergesIntoOne) {
  EntryTable table;
  UpsertEntry(table, {L"Tool", L"C:\\Tools\\Tool.exe", L"", 0});
  UpsertEntry(table, {L"Example Tool Suite", L"c:\\tools\\TOOL.EXE", L"2.1", 20240101});
  UpsertEntry(table, {L"T", L"C:\\TOOLS\\tool.exe", L"9.9", 1});
  ASSERT_EQ(table.size(), 1u);
  const Entry& e = table.begin()->second;
  EXPECT_EQ(e.exe_path, L"C:\\Tools\\Tool.exe");  // first path spelling stays
  EXPECT_EQ(e.display_name, L"Example Tool Suite");
  EXPECT_EQ(e.version, L"2.1");
  EXPECT_EQ(e.install_date, 20240101u);
}

TEST(EntryTable, EraseKeepsOrderOfTheRest) {
  EntryTable table;
  for (const wchar_t* key : {L"a", L"b", L"c"}) table.Insert(key, Entry{key, key, L"", 0});
  EXPECT_FALSE(table.Insert(L"b", Entry{}));
  table.Erase(L"b");
  table.Erase(L"missing");
  table.Insert(L"b", Entry{L"b2", L"b", L"", 0});
  EXPECT_EQ(Names(table), (std::vector<std::wstring>{L"a", L"c", L"b2"}));
}

}  // namespace
}  // namespace installed_apps
