#include <gtest/gtest.h>

#include <thread>

#include "platform/RuntimeRandom.h"

// The first draws of the Windows runtime after seeding with 1, as every Windows program sees them.
TEST(RuntimeRandom, MatchesTheWindowsRuntimeSequence) {
  crtSrand(1);
  EXPECT_EQ(crtRand(), 41);
  EXPECT_EQ(crtRand(), 18467);
  EXPECT_EQ(crtRand(), 6334);
  EXPECT_EQ(crtRand(), 26500);
  EXPECT_EQ(crtRand(), 19169);
}

TEST(RuntimeRandom, StaysWithinFifteenBitsAndIsPerThread) {
  crtSrand(12345);
  for (int i = 0; i < 100000; ++i) {
    const int r = crtRand();
    ASSERT_GE(r, 0);
    ASSERT_LE(r, kCrtRandMax);
  }
  // A new thread starts from the runtime's own start value, untouched by this thread's draws.
  int first = -1;
  std::thread([&] { first = crtRand(); }).join();
  EXPECT_EQ(first, 41);
}
