#include "platform/DebugOutput.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

bool enabledByEnvironment() {
  const char* value = std::getenv("OSKRA_DEBUG_OUTPUT");
  return value != nullptr && value[0] != '\0';
}

std::atomic<bool> gEnabled{enabledByEnvironment()};

}  // namespace

void setDebugOutputEnabled(bool enabled) { gEnabled.store(enabled, std::memory_order_relaxed); }

bool debugOutputEnabled() { return gEnabled.load(std::memory_order_relaxed); }

void debugOutput(const char* text) {
  if (text == nullptr || !debugOutputEnabled()) return;
  size_t left = std::strlen(text);
  while (left > 0) {
    const ssize_t n = ::write(STDOUT_FILENO, text, left);
    if (n <= 0) return;
    text += n;
    left -= static_cast<size_t>(n);
  }
}

void reportCheckFailed() { debugOutput("Warning: check is false!\n"); }
