#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "engine/modulation/EnvelopeState.h"

namespace {

// What a reader sees. The release start is read only after a note-off has set it again.
bool sameState(const EnvelopeState& a, const EnvelopeState& b) {
  const float x[3] = {a.position, a.level, a.output};
  const float y[3] = {b.position, b.level, b.output};
  return std::memcmp(x, y, sizeof x) == 0;
}

// Steps put off and run later, note-offs among them, restarts and new settings: whenever the
// record is read it holds, bit for bit, what running every step at once gives.
TEST(EnvelopeDeferral, ReadsWhatEveryStepRunAtOnceGives) {
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    EnvelopeSettings s;
    auto newSettings = [&] {
      s.initial = unit(rng);
      s.attackMs = seed % 3 == 0 ? 0.0f : 200.0f * unit(rng);
      s.decay = seed % 4 == 0 ? 4.0f : 0.01f + unit(rng);
      s.sustain = unit(rng);
      s.release = 0.01f + 0.5f * unit(rng);
    };
    newSettings();
    const float dt = seed % 2 == 0 ? 64.0f / 48000.0f : 64.0f / 22050.0f;
    EnvelopeState eager;
    EnvelopeState lazy;
    for (int i = 0; i < 4000; ++i) {
      const float action = unit(rng);
      if (action < 0.004f) {
        lazy.settle(true);  // the settings change: the steps put off run with the old ones
        newSettings();
      } else if (action < 0.008f) {
        eager.position = 0.0f;  // a note starts again
        lazy.retrigger();
      } else if (action < 0.016f) {
        eager.startRelease();
        lazy.startRelease();
      } else if (action < 0.05f) {
        lazy.settle();
        ASSERT_TRUE(sameState(eager, lazy)) << seed << " " << i;
      } else {
        const bool noteOn = action < 0.056f;
        if (noteOn) eager.position = 0.0f;
        eager.advance(dt, s);
        if (noteOn) lazy.restart();
        lazy.defer(dt, s);
      }
    }
    lazy.settle();
    EXPECT_TRUE(sameState(eager, lazy)) << seed;
  }
}

}  // namespace
