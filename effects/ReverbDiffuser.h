#pragma once

#include <cstdint>

#include "effects/BassToMono.h"
#include "effects/DelayLine.h"
#include "effects/FxBase.h"
#include "effects/MultiDelay.h"

// "Diffuser" on a send: eight delayed 45-degree rotations in a row behind a pre-delay, which
// smear a hit into a dense, lossless burst (nothing is fed back, so the tail ends once the
// longest path has passed). "Length" scales the delays; they glide a sample per chunk, so a
// fresh instance's burst grows in over its first seconds. Returns only the wet signal.
class ReverbDiffuser : public FxBase {
 public:
  static constexpr int kChunk = 16;
  static constexpr int kLines = 8;

  const char* name() override { return "Diffuser"; }
  void setup(Param* p) override;
  FxBase* create() override { return new ReverbDiffuser(); }
  void setSampleRate(float rate) override;
  void process(const float* const in[2], float* const out[2], int nFrames) override;
  void reset() override;

  DelayLine lines[kLines];
  MultiDelay preDelay;
  int32_t lineDelays[kLines] = {};  // current delays, gliding to the wanted ones
  BassToMonoState bass;
  float sampleRate = 0.0f;
};
