#pragma once

#include <cstdint>

// A built-in reference model: how a drum family changes with velocity in other ways than
// loudness. Five velocity layers (0, 1, 2 and 3 spread over velocities 0..100/127, layer 4 at
// 127); layer 3 is the neutral one (profile all 1.0).
//
// Layout of a layer of kReferenceLayerSize floats:
//   0..11     band gain profile, 12 points over the 80 bands
//   12..151   time maps: per time curve, 20 points giving the blob time (0..96) read when the
//             voice is at t = 96 * p / 20, p = 0..19
//   152..271  frequency offsets: 6 rows (position among the frequency curves) x 20 columns
//             (frequency * 19 / 80), in frequency units
struct ReferenceModel {
  static constexpr int kLayerCount = 5;
  static constexpr int kLayerSize = 272;
  static constexpr int kProfilePoints = 12;
  static constexpr int kTimeMapOffset = 12;
  static constexpr int kTimeMapPoints = 20;
  static constexpr int kTimeMapCurves = 7;
  static constexpr int kOffsetTableOffset = 152;
  static constexpr int kOffsetRows = 6;
  static constexpr int kOffsetColumns = 20;

  const char* name;
  float layers[kLayerCount][kLayerSize];
};

// The number of built-in models (7) and their names in table order; an index outside the
// table gives an empty name.
int32_t getReferenceModelCount();
const char* getReferenceModelName(int32_t index);

// The read-only model table; null for an index outside the table.
const ReferenceModel* getReferenceModel(int32_t index);

// The position among the five velocity layers: 0..3 over velocities 0..100/127, 3..4 above,
// held within 0..3.999 (a NaN velocity gives 0). layer is its integer part (0..3), fraction
// the rest; a model value is (1 - fraction)·layers[layer] + fraction·layers[layer + 1].
void referenceLayerPosition(float velocity, int32_t& layer, float& fraction);
