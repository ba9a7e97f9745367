#pragma once

#include <atomic>
#include <cstdint>

// The 32-bit linear congruential step shared by the engine's, the sequencer's and the
// effects' random sources: x := x * 1664525 + 1013904223 (mod 2^32).
constexpr uint32_t lcgStep(uint32_t x) { return x * 1664525u + 1013904223u; }

// A generator shared by several instances or threads. A draw is a relaxed load and a relaxed
// store, not a locked read-modify-write: two threads drawing at once may get the same value,
// which only changes the random sequence, but never tears the state or races in the
// language's sense.
class SharedLcg {
 public:
  explicit constexpr SharedLcg(uint32_t seed) : mState(seed) {}

  uint32_t next() {
    const uint32_t x = lcgStep(mState.load(std::memory_order_relaxed));
    mState.store(x, std::memory_order_relaxed);
    return x;
  }

  uint32_t peek() const { return mState.load(std::memory_order_relaxed); }
  void reseed(uint32_t seed) { mState.store(seed, std::memory_order_relaxed); }

 private:
  std::atomic<uint32_t> mState;
};
