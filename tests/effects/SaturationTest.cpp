#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "effects/CompTape.h"
#include "effects/ParaDist.h"
#include "tests/effects/EffectTestKit.h"

namespace {

using fxtest::Rig;
using fxtest::Stereo;

// The wobble of the cutoff and the band weight: a smooth curve through its random points that
// stays within them, centred on one half.
TEST(Tape, WobbleIsASmoothCurveThroughRandomPoints) {
  SharedLcg random(99u);
  CompTape::Wobble wobble;
  double previous = wobble.value(), sum = 0.0;
  const int steps = 200000;
  for (int i = 0; i < steps; ++i) {
    wobble.advance(0.01f, random);
    const double v = wobble.value();
    ASSERT_LE(std::fabs(v - previous), 0.0101) << i;
    ASSERT_TRUE(v >= 0.0 && v <= 1.0) << i;
    previous = v;
    sum += v;
  }
  EXPECT_NEAR(sum / steps, 0.5, 0.03);
}

// All instances draw from one generator, in processing order: a second instance goes on with
// the sequence instead of repeating the first one's points, and replaying the sequence replays
// them. At 192 Hz every 64-frame chunk takes a new point in each source.
TEST(Tape, InstancesShareOneRandomSequence) {
  const auto points = [](Rig& rig) {
    std::vector<float> p;
    for (const CompTape::Channel& ch : rig.as<CompTape>().channels)
      for (const CompTape::Wobble* w : {&ch.cutoffWobble, &ch.bandWobble}) p.push_back(w->points[2]);
    return p;
  };
  CompTape::sharedRandom().reseed(4242u);
  Rig first = Rig::of<CompTape>(192.0f), second = Rig::of<CompTape>(192.0f);
  first.run(Stereo(64));
  second.run(Stereo(64));
  CompTape::sharedRandom().reseed(4242u);
  Rig replay = Rig::of<CompTape>(192.0f);
  replay.run(Stereo(64));
  EXPECT_NE(points(first), points(second));
  EXPECT_EQ(points(first), points(replay));
}

// Rates far below the usual ones keep the fuzz's filter stable: its cutoff is held where the
// filter still converges.
TEST(Fuzz, StableAtVeryLowRates) {
  for (float rate : {2000.0f, 4000.0f, 6000.0f}) {
    Rig rig = Rig::of<ParaDist>(rate);
    rig.set(100.0f, 100.0f);
    const Stereo out = rig.run(fxtest::noise(fxtest::frames(5.0, rate), 1.0f, 8));
    EXPECT_TRUE(fxtest::allFinite(out)) << rate;
    EXPECT_LT(fxtest::peakOf(out), 2.0f) << rate;
  }
}

}  // namespace
