#include "installed_apps/file_facts/file_facts_cache.h"

#include <gtest/gtest.h>

namespace installed_apps {
namespace {

const FileStamp kCode{
    L"C:\\Users\\J\u00F6rg\\AppData\\Local\\Programs\\Microsoft VS Code\\Code.exe", 142356992,
    133461234560000000};

TEST(FileFactsCache, AnswersOnlyForTheSameStateOfTheFile) {
  FileFactsCache cache(16, 1 << 20);
  cache.StoreVersion(kCode, L"1.85.1");
  cache.StoreIcon(kCode, {0x89, 'P', 'N', 'G'});

  FileStamp other_case = kCode;
  other_case.path = L"c:\\users\\J\u00F6rg\\appdata\\local\\programs\\microsoft vs code\\code.EXE";
  const FileFacts found = cache.Find(other_case);
  ASSERT_TRUE(found.version && found.icon);
  EXPECT_EQ(*found.version, L"1.85.1");

  // An update rewrites the file: another size or time is another file.
  FileStamp updated = kCode;
  updated.modified += 1;
  EXPECT_FALSE(cache.Find(updated).version);
  FileStamp resized = kCode;
  resized.size += 4096;
  EXPECT_FALSE(cache.Find(resized).icon);
  cache.StoreVersion(updated, L"1.86.0");
  EXPECT_EQ(*cache.Find(updated).version, L"1.86.0");
  EXPECT_FALSE(cache.Find(updated).icon);  // the old icon went with the old state
  EXPECT_FALSE(cache.Find(kCode).version);
  EXPECT_EQ(cache.entries(), 1u);
}

TEST(FileFactsCache, StaysWithinItsBoundsDroppingTheLeastRecentlyUsed) {
  FileFactsCache by_count(3, 1 << 20);
  FileFactsCache by_bytes(100, 20000);
  auto stamp = [](int i) {
    return FileStamp{L"C:\\Apps\\tool" + std::to_wstring(i) + L".exe", 1, 1};
  };
  for (int i = 0; i < 10; ++i) {
    by_count.StoreIcon(stamp(i), std::vector<uint8_t>(100, 1));
    by_bytes.StoreIcon(stamp(i), std::vector<uint8_t>(4000, 1));
    if (i >= 1) by_count.Find(stamp(0));  // kept in use
  }
  EXPECT_EQ(by_count.entries(), 3u);
  EXPECT_TRUE(by_count.Find(stamp(0)).icon);
  EXPECT_TRUE(by_count.Find(stamp(9)).icon);
  EXPECT_FALSE(by_count.Find(stamp(5)).icon);
  EXPECT_LE(by_bytes.bytes(), 20000u);
  EXPECT_GE(by_bytes.entries(), 3u);
  EXPECT_TRUE(by_bytes.Find(stamp(9)).icon);
  EXPECT_FALSE(by_bytes.Find(stamp(0)).icon);
}

}  // namespace
}  // namespace installed_apps
