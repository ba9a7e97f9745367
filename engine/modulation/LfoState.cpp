#include "engine/modulation/LfoState.h"

#include "platform/RuntimeRandom.h"

LfoState::LfoState() {
  for (float& r : random) {
    r = static_cast<float>(crtRand()) * (2.0f / static_cast<float>(kCrtRandMax)) - 1.0f;
  }
}
