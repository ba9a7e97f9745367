#include "engine/dsp/LaneWidth.h"

#include <atomic>

#include "engine/dsp/WideLanes.h"

namespace {

int32_t detectLaneWidth() {
#if OSKRA_HAVE_WIDE_LANES
  // These also check that the operating system saves the wide registers.
  if (__builtin_cpu_supports("avx512f")) return 16;
  if (__builtin_cpu_supports("avx2")) return 8;
#endif
  return 4;
}

std::atomic<int32_t> gLimit{16};

}  // namespace

int32_t supportedLaneWidth() {
  static const int32_t width = detectLaneWidth();
  return width;
}

int32_t laneWidth() {
  const int32_t limit = gLimit.load(std::memory_order_relaxed);
  const int32_t supported = supportedLaneWidth();
  return limit < supported ? limit : supported;
}

void setLaneWidthLimit(int32_t width) {
  gLimit.store(width == 4 || width == 8 ? width : 16, std::memory_order_relaxed);
}
