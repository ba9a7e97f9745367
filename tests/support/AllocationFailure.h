#pragma once

// Makes every heap allocation of the calling thread fail (operator new throws std::bad_alloc,
// the nothrow forms return null) while an object is alive, to show how code behaves when memory
// runs out. Works with the test binary's replaced operator new (AllocationCounter.cpp).
//
//   {
//     AllocationFailure failing;
//     EXPECT_EQ(component->initialize(context), kOutOfMemory);
//   }
class AllocationFailure {
 public:
  AllocationFailure();
  ~AllocationFailure();
  AllocationFailure(const AllocationFailure&) = delete;
  AllocationFailure& operator=(const AllocationFailure&) = delete;

 private:
  bool mWasFailing;
};
