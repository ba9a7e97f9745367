#include "platform/RuntimeRandom.h"

namespace {
thread_local uint32_t tCrtState = 1;
}

int crtRand() {
  tCrtState = tCrtState * 214013u + 2531011u;
  return static_cast<int>((tCrtState >> 16) & 0x7FFFu);
}

void crtSrand(uint32_t seed) { tCrtState = seed; }
