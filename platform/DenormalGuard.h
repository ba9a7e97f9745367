#pragma once

#include <cstdint>

#if defined(__x86_64__) || defined(_M_X64) || defined(__SSE__)
#include <xmmintrin.h>
#define OSKRA_DENORMAL_GUARD_MXCSR 1
#elif defined(__aarch64__)
#define OSKRA_DENORMAL_GUARD_FPCR 1
#endif

// While alive, the calling thread's floating-point unit flushes denormal results to zero and
// treats denormal inputs as zero; the previous mode comes back when the guard goes. Decaying
// filter and reverb states would otherwise sink into denormal numbers, which cost a hundred
// times the normal arithmetic on most processors.
class DenormalGuard {
 public:
#if defined(OSKRA_DENORMAL_GUARD_MXCSR)
  // Flush-to-zero (bit 15) and denormals-are-zero (bit 6) of the SSE control register.
  static constexpr uint32_t kFlushBits = 0x8040u;
  DenormalGuard() : mSaved(_mm_getcsr()) { _mm_setcsr(mSaved | kFlushBits); }
  ~DenormalGuard() { _mm_setcsr(mSaved); }
#elif defined(OSKRA_DENORMAL_GUARD_FPCR)
  // The flush-to-zero bit of the floating-point control register.
  static constexpr uint64_t kFlushBits = uint64_t{1} << 24;
  DenormalGuard() {
    uint64_t fpcr;
    __asm__ __volatile__("mrs %0, fpcr" : "=r"(fpcr));
    mSaved = fpcr;
    fpcr |= kFlushBits;
    __asm__ __volatile__("msr fpcr, %0" : : "r"(fpcr));
  }
  ~DenormalGuard() { __asm__ __volatile__("msr fpcr, %0" : : "r"(mSaved)); }
#else
  DenormalGuard() = default;
  ~DenormalGuard() = default;
#endif
  DenormalGuard(const DenormalGuard&) = delete;
  DenormalGuard& operator=(const DenormalGuard&) = delete;

 private:
#if defined(OSKRA_DENORMAL_GUARD_MXCSR)
  uint32_t mSaved;
#elif defined(OSKRA_DENORMAL_GUARD_FPCR)
  uint64_t mSaved;
#endif
};
