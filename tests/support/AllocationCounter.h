#pragma once

#include <cstdint>

// Counts heap allocations made by the calling thread while a counter is alive. The test binary
// replaces the global operator new (every form), so an allocation hidden in a container, a
// std::function or a string is seen as well.
//
//   AllocationCounter counter;
//   sequencer.advance(0.01);
//   EXPECT_EQ(counter.count(), 0);
class AllocationCounter {
 public:
  AllocationCounter();
  ~AllocationCounter();
  AllocationCounter(const AllocationCounter&) = delete;
  AllocationCounter& operator=(const AllocationCounter&) = delete;

  int64_t count() const;

 private:
  int64_t mStart;
  bool mWasActive;
};
