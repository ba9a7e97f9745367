#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <tuple>

#include "tests/effects/EffectTestKit.h"

// Every effect at every corner of its two parameters and at the default, at 22050 to
// 192000 Hz, through noise at full scale, hot noise and silence: the output stays finite and
// bounded, and dies away in the silence (unless it is meant to ring on).
namespace {

using fxtest::Rig;
using fxtest::Stereo;

class EffectStability : public ::testing::TestWithParam<std::tuple<int, float>> {};

// Reverbs and the echo may ring for tens of seconds at their longest settings; how their tails
// fall is checked with each of them.
bool ringsLong(FxBase* proto) {
  for (const char* name : {"Plate Reverb", "Room Reverb", "Spring Reverb", "Tempo Delay"})
    if (std::string(proto->name()) == name) return true;
  return false;
}

TEST_P(EffectStability, FiniteAndBoundedAtTheExtremes) {
  FxBase* proto = fxtest::allPrototypes()[static_cast<size_t>(std::get<0>(GetParam()))];
  const float rate = std::get<1>(GetParam());
  const size_t quarter = fxtest::frames(fxtest::scaledSeconds(2.5), rate);

  Param probe[2];
  std::unique_ptr<FxBase>(proto->create())->setup(probe);
  struct Setting {
    float p0, p1;
  };
  const Setting settings[] = {{probe[0].min, probe[1].min},
                              {probe[0].min, probe[1].max},
                              {probe[0].max, probe[1].min},
                              {probe[0].max, probe[1].max},
                              {probe[0].defaultValue, probe[1].defaultValue}};

  Stereo in = fxtest::noise(4 * quarter, 1.0f, 17);
  for (size_t i = quarter; i < 2 * quarter; ++i) {
    in.l[i] *= 8.0f;
    in.r[i] *= 8.0f;
  }
  for (size_t i = 2 * quarter; i < in.size(); ++i) in.l[i] = in.r[i] = 0.0f;

  for (const Setting& s : settings) {
    Rig rig(proto, rate);
    rig.set(s.p0, s.p1);
    const Stereo out = rig.run(in);
    ASSERT_TRUE(fxtest::allFinite(out)) << s.p0 << ", " << s.p1;
    // The most any effect may add is the optical leveller's 48 dB on a quiet detector.
    const float peak = fxtest::peakOf(out);
    EXPECT_LT(peak, 8.0f * 260.0f) << s.p0 << ", " << s.p1;
    if (!ringsLong(proto)) {
      EXPECT_LT(fxtest::peakOf(out, in.size() - quarter / 4), 1e-3f) << s.p0 << ", " << s.p1;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    AllEffects, EffectStability,
    ::testing::Combine(::testing::Range(0, static_cast<int>(fxtest::allPrototypes().size())),
                       ::testing::Values(22050.0f, 44100.0f, 96000.0f, 192000.0f)),
    [](const ::testing::TestParamInfo<std::tuple<int, float>>& info) {
      return fxtest::identifier(fxtest::allPrototypes()[static_cast<size_t>(std::get<0>(info.param))]->name()) +
             "_" + std::to_string(static_cast<int>(std::get<1>(info.param)));
    });

}  // namespace
