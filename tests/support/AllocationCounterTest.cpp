#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/AllocationCounter.h"

TEST(AllocationCounter, SeesContainerAndAlignedAllocations) {
  AllocationCounter counter;
  std::vector<int> v(100);
  auto aligned = std::make_unique<std::aligned_storage_t<64, 64>>();
  std::string s(200, 'x');
  EXPECT_EQ(counter.count(), 3);
  v.clear();
  EXPECT_EQ(counter.count(), 3);
}

TEST(AllocationCounter, CountsNothingOutsideItsScope) {
  std::vector<int> before(10);
  AllocationCounter counter;
  int sum = 0;
  for (int x : before) sum += x;
  EXPECT_EQ(sum, 0);
  EXPECT_EQ(counter.count(), 0);
}
