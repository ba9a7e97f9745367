#include "platform/DebugOutput.h"

#include <cstring>
#include <unistd.h>

void debugOutput(const char* text) {
  if (text == nullptr) return;
  size_t left = std::strlen(text);
  while (left > 0) {
    const ssize_t n = ::write(STDOUT_FILENO, text, left);
    if (n <= 0) return;
    text += n;
    left -= static_cast<size_t>(n);
  }
}

void reportCheckFailed() { debugOutput("Warning: check is false!\n"); }
