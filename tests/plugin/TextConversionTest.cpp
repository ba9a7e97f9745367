#include <gtest/gtest.h>

#include "plugin/TextConversion.h"

TEST(TextConversion, ValidTextRoundTrips) {
  struct Case {
    std::string utf8;
    std::u16string utf16;
  } cases[] = {
      {"", u""},
      {"Kick 01~", u"Kick 01~"},
      {"\xC3\xA9\xDF\xBF", {0x00E9, 0x07FF}},                       // 2-byte forms
      {"\xE6\x97\xA5\xE6\x9C\xAC\xEF\xBF\xBF", {0x65E5, 0x672C, 0xFFFF}},  // 3-byte forms
      {"\xF0\x9F\xA5\x81", {0xD83E, 0xDD41}},                        // U+1F941, a surrogate pair
      {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", {0xD800, 0xDC00, 0xDBFF, 0xDFFF}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16) << c.utf8;
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8);
    EXPECT_STREQ(UTF16AsUTF8(c.utf16.c_str()).Get(), c.utf8.c_str());
    EXPECT_EQ(UTF8AsUTF16(c.utf8.c_str()).Get(), c.utf16);
  }
}

TEST(TextConversion, InvalidSequencesBecomeReplacementCharacters) {
  constexpr char16_t R = 0xFFFD;
  struct Case {
    std::string utf8;
    std::u16string utf16;
  } cases[] = {
      {"\xC3(", {R, '('}},                       // a lead without its follower
      {"\xFF\x80", {R, R}},                      // never a lead / a follower alone
      {"\xC0\xAF", {R, R}},                      // overlong '/'
      {"\xE0\x80\xAF", {R, R, R}},               // overlong 3-byte form
      {"\xF0\x80\x80\xAF", {R, R, R, R}},        // overlong 4-byte form
      {"\xED\xA0\x80", {R, R, R}},               // an encoded surrogate
      {"\xF4\x90\x80\x80", {R, R, R, R}},        // above U+10FFFF
      {"a\xE6\x97", {'a', R}},                   // truncated at the end: one replacement
      {"\xF0\x9F\xA5z", {R, 'z'}},               // truncated 4-byte form
  };
  for (const Case& c : cases) EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16) << testing::PrintToString(c.utf8);
  struct Back {
    std::u16string utf16;
    std::string utf8;
  } backs[] = {
      {{0xD800}, "\xEF\xBF\xBD"},
      {{0xDC00, 0xD83E}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {{0xD83E, 'A', 0xDD41}, "\xEF\xBF\xBD" "A" "\xEF\xBF\xBD"},
  };
  for (const Back& b : backs) EXPECT_EQ(Utf16ToUtf8(b.utf16), b.utf8);
  EXPECT_STREQ(UTF16AsUTF8(nullptr).Get(), "");
  EXPECT_EQ(UTF8AsUTF16(nullptr).Get()[0], 0);
  WDL_String out("old");
  UTF16ToUTF8(out, u"\U0001F941");
  EXPECT_STREQ(out.Get(), "\xF0\x9F\xA5\x81");
  UTF16ToUTF8(out, nullptr);
  EXPECT_EQ(out.GetLength(), 0);
}
