#include "engine/LaneWidth.h"

#include <atomic>

#include "engine/WideLanes.h"

namespace {

bool detectWideLanes() {
#if OSKRA_HAVE_WIDE_LANES
  // Also checks that the operating system saves the wide registers.
  return __builtin_cpu_supports("avx2") != 0;
#else
  return false;
#endif
}

std::atomic<bool>& wideLanesSwitch() {
  static std::atomic<bool> on{wideLanesSupported()};
  return on;
}

}  // namespace

bool wideLanesSupported() {
  static const bool supported = detectWideLanes();
  return supported;
}

bool wideLanesEnabled() { return wideLanesSwitch().load(std::memory_order_relaxed); }

void setWideLanesEnabled(bool enabled) {
  wideLanesSwitch().store(enabled && wideLanesSupported(), std::memory_order_relaxed);
}
