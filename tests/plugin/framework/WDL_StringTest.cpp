#include <gtest/gtest.h>

#include <string>

#include "plugin/framework/WDL_String.h"

TEST(WDL_String, BoundedWritesAndTheInsertPrimitive) {
  WDL_String s;
  EXPECT_STREQ(s.Get(), "");
  s.Set(nullptr);
  EXPECT_EQ(s.GetLength(), 0);
  s.Set("abcdef", 3), s.Append("xyz", 2);
  EXPECT_STREQ(s.Get(), "abcxy");
  s.SetFormatted(6, "Bus %d of %d", 12, 9), s.AppendFormatted(0, "%s", "never");
  EXPECT_STREQ(s.Get(), "Bus 12");
  s.AppendFormatted(100, "%s", std::string(300, 'q').c_str());
  EXPECT_EQ(s.GetLength(), 106);
  s.Set("0123456789");
  s.SetAt(2, "ab", 2);  // the trailing part stays
  EXPECT_STREQ(s.Get(), "01ab456789");
  s.SetAt(9, "XYZ", 3);  // grows past the end
  EXPECT_STREQ(s.Get(), "01ab45678XYZ");
  s.SetAt(-5, "Q", 1);
  EXPECT_STREQ(s.Get(), "Q1ab45678XYZ");
  s.SetLength(2);
  WDL_String copy(s);
  copy.Append("!");
  EXPECT_EQ(std::string(s.Get()) + "|" + copy.Get(), "Q1|Q1!");
}
