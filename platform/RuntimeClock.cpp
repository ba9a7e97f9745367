#include "platform/RuntimeClock.h"

#include <chrono>

namespace {
using SteadyClock = std::chrono::steady_clock;
// Taken when the module's globals are constructed, i.e. when the module is loaded.
const SteadyClock::time_point gModuleLoadTime = SteadyClock::now();
}  // namespace

int64_t runtimeClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - gModuleLoadTime)
      .count();
}

double runtimeClockSeconds() {
  return std::chrono::duration<double>(SteadyClock::now() - gModuleLoadTime).count();
}
