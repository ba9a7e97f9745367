#include "engine/core/EffectRandomTable.h"

#include "platform/RuntimeRandom.h"

namespace {

std::array<float, kEffectRandomCount> draw() {
  std::array<float, kEffectRandomCount> table{};
  for (float& v : table) v = static_cast<float>(crtRand()) / static_cast<float>(kCrtRandMax) - 0.3f;
  return table;
}

// Drawn at load, on the loading thread, like the rest of the module's start values.
[[maybe_unused]] const std::array<float, kEffectRandomCount>& kDrawnAtLoad = effectRandomTable();

}  // namespace

const std::array<float, kEffectRandomCount>& effectRandomTable() {
  static const std::array<float, kEffectRandomCount> table = draw();
  return table;
}
