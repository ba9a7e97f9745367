#include "engine/voice/ReferenceModel.h"

#include <array>
#include <cstddef>

namespace {

constexpr int32_t kModelCount = 7;
constexpr int32_t kNeutralLayer = 3;

// What velocity does to each family besides loudness: how much brighter the top of the band
// profile gets per layer, and how far (in bands) the whole sound shifts per layer. Both are
// zero at the neutral layer, so a hit at velocity 100 sounds exactly as its blobs say; softer
// hits turn darker and a little lower, a full hit a little brighter.
struct ModelCharacter {
  const char* name;
  float tiltPerLayer;
  float shiftPerLayer;
};

constexpr ModelCharacter kCharacters[kModelCount] = {
    {"Kick", 0.08f, 0.15f},        {"Snare", 0.12f, 0.1f},     {"Tom", 0.1f, 0.2f},
    {"Hihat Closed", 0.15f, 0.05f}, {"Hihat Open", 0.15f, 0.05f}, {"Crash", 0.15f, 0.05f},
    {"Piano", 0.2f, 0.0f},
};

constexpr ReferenceModel makeModel(const ModelCharacter& character) {
  ReferenceModel model{character.name, {}};
  for (int32_t layer = 0; layer < ReferenceModel::kLayerCount; ++layer) {
    float* values = model.layers[layer];
    const float steps = static_cast<float>(layer - kNeutralLayer);
    for (int32_t k = 0; k < ReferenceModel::kProfilePoints; ++k) {
      const float height = static_cast<float>(k) / static_cast<float>(ReferenceModel::kProfilePoints - 1);
      values[k] = 1.0f + character.tiltPerLayer * steps * height;
    }
    // The time maps leave timing alone: point p is read at t = 96·p/20 and gives that t back,
    // and the renderer extends the last segment to 96 and beyond.
    for (int32_t curve = 0; curve < ReferenceModel::kTimeMapCurves; ++curve) {
      for (int32_t p = 0; p < ReferenceModel::kTimeMapPoints; ++p) {
        values[ReferenceModel::kTimeMapOffset + curve * ReferenceModel::kTimeMapPoints + p] =
            96.0f * static_cast<float>(p) / static_cast<float>(ReferenceModel::kTimeMapPoints);
      }
    }
    const float shift = character.shiftPerLayer * steps;
    for (int32_t i = 0; i < ReferenceModel::kOffsetRows * ReferenceModel::kOffsetColumns; ++i) {
      values[ReferenceModel::kOffsetTableOffset + i] = shift;
    }
  }
  return model;
}

constexpr std::array<ReferenceModel, kModelCount> makeTable() {
  std::array<ReferenceModel, kModelCount> table{};
  for (int32_t m = 0; m < kModelCount; ++m) table[static_cast<size_t>(m)] = makeModel(kCharacters[m]);
  return table;
}

// Built by the compiler: read-only data, ready before any initialiser runs.
constexpr std::array<ReferenceModel, kModelCount> kTable = makeTable();

}  // namespace

int32_t getReferenceModelCount() { return kModelCount; }

const char* getReferenceModelName(int32_t index) {
  if (index < 0 || index >= kModelCount) return "";
  return kTable[static_cast<size_t>(index)].name;
}

const ReferenceModel* getReferenceModel(int32_t index) {
  if (index < 0 || index >= kModelCount) return nullptr;
  return &kTable[static_cast<size_t>(index)];
}

void referenceLayerPosition(float velocity, int32_t& layer, float& fraction) {
  constexpr float kNeutralVelocity = 0.78740156f;  // 100/127
  constexpr float kTopSpan = 0.21259844f;          // 27/127
  float v = velocity < kNeutralVelocity ? velocity * 3.0f / kNeutralVelocity
                                        : (velocity - kNeutralVelocity) / kTopSpan + 3.0f;
  // Written so that a NaN lands on layer 0 instead of reaching the index.
  if (!(v > 0.0f)) v = 0.0f;
  if (v > 3.999f) v = 3.999f;
  layer = static_cast<int32_t>(v);
  fraction = v - static_cast<float>(layer);
}
