#include "common/text_encoding.h"

#include <gtest/gtest.h>

TEST(TextEncoding, RoundTripsBmpAndSupplementaryCharacters) {
  const std::string text = "Caf\xC3\xA9 \xE2\x86\x92 \xF0\x9F\x98\x80";  // é → 😀
  const std::wstring wide = Utf8ToWide(text);
  ASSERT_EQ(wide.size(), 9u);
  EXPECT_EQ(static_cast<unsigned>(wide[3]), 0xE9u);
  EXPECT_EQ(static_cast<unsigned>(wide[7]), 0xD83Du);
  EXPECT_EQ(static_cast<unsigned>(wide[8]), 0xDE00u);
  EXPECT_EQ(WideToUtf8(wide), text);
}

TEST(TextEncoding, MalformedInputBecomesReplacementCharacters) {
  // Lone continuation, truncated sequence before ASCII, overlong form, encoded surrogate.
  EXPECT_EQ(Utf8ToWide("\x80"), std::wstring(1, wchar_t(0xFFFD)));
  EXPECT_EQ(Utf8ToWide(std::string("\xE2\x86") + "a"), (std::wstring{wchar_t(0xFFFD), L'a'}));
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), (std::wstring{wchar_t(0xFFFD), wchar_t(0xFFFD)}));
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), std::wstring(1, wchar_t(0xFFFD)));
  // A lone surrogate has no UTF-8 form.
  EXPECT_EQ(WideToUtf8(std::wstring{wchar_t(0xD800), L'x'}), "\xEF\xBF\xBDx");
}

TEST(TextEncoding, StripsOnlyALeadingBom) {
  EXPECT_EQ(StripUtf8Bom("\xEF\xBB\xBF{}"), "{}");
  EXPECT_EQ(StripUtf8Bom("{}\xEF\xBB\xBF"), "{}\xEF\xBB\xBF");
  EXPECT_EQ(StripUtf8Bom(""), "");
}
