#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "effects/FxChorus.h"
#include "tests/effects/EffectTestKit.h"

// The chorus voices read at delays that swing, under the LFO, between base + 0.33 W and
// base + 2.38 W: base the larger of 10 ms and 36 samples, W the width that "Depth" and "Rate"
// give (slower rates swing wider), never so wide that the longest delay leaves a third of the
// voice line.
namespace {

using fxtest::Rig;
using fxtest::Stereo;

TEST(Chorus, VoiceDelaysStayInTheirRange) {
  for (double rate : {44100.0, 96000.0}) {
    for (float depth : {1.0f, 10.0f, 100.0f}) {
      for (float lfo : {0.5f, 2.0f, 10.0f}) {
        const double line = std::max(std::floor(0.25 * rate), 512.0);
        const double base = std::max(0.01 * rate, 36.0);
        const double width = std::min((1.0 / (lfo * 1.5 * 3.14 + 0.01) + 0.1) * rate * depth / 1700.0,
                                      std::floor(line / 3.0) - base);
        const double lowest = base + 0.33 * width, highest = base + 2.38 * width;

        Rig rig = Rig::of<FxChorus>(static_cast<float>(rate));
        rig.set(depth, lfo);
        const auto& fx = static_cast<const FxChorus&>(*rig.fx);
        const Stereo in = fxtest::noise(64, 0.5f, 9);
        double seen[2] = {1e9, -1e9};
        // Two periods of the slowest LFO, to see its whole swing.
        const double seconds = lfo == 0.5f ? 4.0 : fxtest::scaledSeconds(2.0);
        const int blocks = static_cast<int>(seconds * rate / 64.0);
        for (int b = 0; b < blocks; ++b) {
          const Stereo out = rig.run(in);
          ASSERT_TRUE(fxtest::allFinite(out));
          for (const DelayLine& voice : fx.voiceLines) {
            double d = voice.head.expectedWritePos - voice.head.position;
            if (d < 0.0) d += voice.length();
            seen[0] = std::min(seen[0], d);
            seen[1] = std::max(seen[1], d);
          }
        }
        const std::string where = std::to_string(rate) + " Hz, depth " + std::to_string(depth) +
                                  ", rate " + std::to_string(lfo);
        EXPECT_GE(seen[0], lowest - 1.0) << where;
        EXPECT_LE(seen[1], highest + 1.0) << where;
        // A slow LFO is followed closely: the voices cover nearly the whole swing.
        if (lfo == 0.5f) {
          EXPECT_GT(seen[1] - seen[0], 0.9 * (highest - lowest)) << where;
        }
      }
    }
  }
}

}  // namespace
