#include <gtest/gtest.h>

#include <string>

#include "plugin/framework/WDL_String.h"

// What the framework writes names with: bounded sets and formats, and copies of their own.
TEST(WDL_String, BoundedWrites) {
  WDL_String s;
  EXPECT_STREQ(s.Get(), "");
  s.Set(nullptr);
  EXPECT_EQ(s.GetLength(), 0);
  s.Set("abcdef", 3);
  EXPECT_STREQ(s.Get(), "abc");
  s.SetFormatted(6, "Bus %d of %d", 12, 9);
  WDL_String copy(s);
  copy.Set(std::string(300, 'q').c_str());
  EXPECT_EQ(std::string(s.Get()) + "|" + std::to_string(copy.GetLength()), "Bus 12|300");
}
