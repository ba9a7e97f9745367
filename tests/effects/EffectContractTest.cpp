#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "effects/CompTape.h"
#include "effects/SampleGuard.h"
#include "support/AllocationCounter.h"
#include "tests/effects/EffectTestKit.h"

// What the engine relies on from every effect of both lists: 0-frame blocks, in-place
// processing, every output frame written, any block size, repeated rates and resets, broken
// input, and no allocation while processing.
namespace {

using fxtest::Rig;
using fxtest::Stereo;

class EffectContract : public ::testing::TestWithParam<int> {
 protected:
  FxBase* prototype() const { return fxtest::allPrototypes()[static_cast<size_t>(GetParam())]; }

  // The tape simulator draws from a generator shared by all instances: runs that are
  // compared start from the same point of it.
  static void sameRandomStart() { CompTape::sharedRandom().reseed(2024u); }

  // Parameters away from the defaults, so that nothing passes by accident.
  static void offDefault(Rig& rig) {
    for (Param& p : rig.params) p.setValue(p.min + 0.7f * (p.max - p.min));
  }
};

TEST_P(EffectContract, ZeroFramesDoNothing) {
  const Stereo first = fxtest::noise(256, 0.5f, 1), second = fxtest::noise(256, 0.5f, 2);
  sameRandomStart();
  Rig plain(prototype(), 48000.0f);
  offDefault(plain);
  plain.run(first);
  const Stereo expected = plain.run(second);

  sameRandomStart();
  Rig rig(prototype(), 48000.0f);
  offDefault(rig);
  rig.run(first);
  Stereo sentinel(8, 123.0f);
  const float* in[2] = {first.l.data(), first.r.data()};
  float* out[2] = {sentinel.l.data(), sentinel.r.data()};
  rig.fx->process(in, out, 0);
  rig.fx->process(in, out, -5);
  const float* const none[2] = {nullptr, nullptr};
  float* const nowhere[2] = {nullptr, nullptr};
  rig.fx->process(none, nowhere, 0);
  for (size_t i = 0; i < sentinel.size(); ++i) {
    EXPECT_EQ(sentinel.l[i], 123.0f);
    EXPECT_EQ(sentinel.r[i], 123.0f);
  }
  const Stereo after = rig.run(second);
  EXPECT_EQ(after.l, expected.l);
  EXPECT_EQ(after.r, expected.r);
}

TEST_P(EffectContract, InPlaceMatchesSeparateBuffers) {
  const Stereo in = fxtest::noise(4096, 0.8f, 3);
  for (int block : {1, 37, 64}) {
    sameRandomStart();
    Rig separate(prototype(), 44100.0f);
    offDefault(separate);
    const Stereo expected = separate.run(in, block);
    sameRandomStart();
    Rig inPlace(prototype(), 44100.0f);
    offDefault(inPlace);
    Stereo io = in;
    inPlace.runInPlace(io, block);
    EXPECT_EQ(io.l, expected.l) << block;
    EXPECT_EQ(io.r, expected.r) << block;
  }
}

TEST_P(EffectContract, WritesEveryFrameAtAnyBlockSize) {
  for (int block : {1, 7, 64, 100, 4096}) {
    Rig rig(prototype(), 96000.0f);
    const Stereo in = fxtest::noise(8192, 1.0f, 4);
    Stereo out(in.size(), std::numeric_limits<float>::quiet_NaN());
    for (size_t pos = 0; pos < in.size(); pos += static_cast<size_t>(block)) {
      const int n = static_cast<int>(std::min<size_t>(static_cast<size_t>(block), in.size() - pos));
      const float* src[2] = {in.l.data() + pos, in.r.data() + pos};
      float* dst[2] = {out.l.data() + pos, out.r.data() + pos};
      rig.fx->process(src, dst, n);
    }
    EXPECT_TRUE(fxtest::allFinite(out)) << block;
  }
}

TEST_P(EffectContract, NoAllocationWhileProcessing) {
  Rig rig(prototype(), 48000.0f);
  const Stereo in = fxtest::noise(4096, 0.5f, 5);
  Stereo out(in.size());
  rig.fx->setTempo(97.0f);
  rig.fx->reset();
  AllocationCounter counter;
  for (size_t pos = 0; pos < in.size(); pos += 64) {
    const float* src[2] = {in.l.data() + pos, in.r.data() + pos};
    float* dst[2] = {out.l.data() + pos, out.r.data() + pos};
    rig.fx->setTempo(97.0f);
    rig.fx->process(src, dst, 64);
  }
  rig.fx->reset();
  EXPECT_EQ(counter.count(), 0);
}

// The engine tells installed effects every new rate, before or after a reset.
TEST_P(EffectContract, SampleRateMoreThanOnce) {
  Rig rig(prototype(), 44100.0f);
  offDefault(rig);
  const Stereo in = fxtest::noise(4096, 0.7f, 6);
  Stereo out = rig.run(in);
  EXPECT_TRUE(fxtest::allFinite(out));
  rig.fx->setSampleRate(96000.0f);
  out = rig.run(in);
  EXPECT_TRUE(fxtest::allFinite(out));
  rig.fx->reset();
  rig.fx->setSampleRate(22050.0f);
  rig.fx->setSampleRate(22050.0f);
  rig.fx->reset();
  out = rig.run(in);
  EXPECT_TRUE(fxtest::allFinite(out));
  EXPECT_LT(fxtest::peakOf(out), 1000.0f);
  // A rate that cannot be run at is not taken.
  for (float bad : {0.0f, -48000.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()})
    rig.fx->setSampleRate(bad);
  out = rig.run(in);
  EXPECT_TRUE(fxtest::allFinite(out));
}

// A NaN sample is taken as silence and an infinite one as the loudest sample there is, so
// the effect goes on exactly as if it had received those.
TEST_P(EffectContract, NonFiniteInputDoesNotStick) {
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  Stereo broken = fxtest::noise(24000, 0.5f, 7);
  Stereo guarded = broken;
  const struct {
    size_t at;
    float value;
  } hits[] = {{100, nan}, {101, -nan}, {3000, inf}, {3001, -inf}, {9000, nan}, {9001, inf}, {15000, 3e38f}};
  for (const auto& h : hits) {
    broken.l[h.at] = h.value;
    broken.r[h.at + 7] = h.value;
    guarded.l[h.at] = guardSample(h.value);
    guarded.r[h.at + 7] = guardSample(h.value);
  }
  for (int block : {64, 1}) {
    sameRandomStart();
    Rig a(prototype(), 48000.0f);
    const Stereo outBroken = a.run(broken, block);
    sameRandomStart();
    Rig b(prototype(), 48000.0f);
    const Stereo outGuarded = b.run(guarded, block);
    EXPECT_EQ(outBroken.l, outGuarded.l);
    EXPECT_EQ(outBroken.r, outGuarded.r);
    EXPECT_TRUE(fxtest::allFinite(outBroken));
  }
}

INSTANTIATE_TEST_SUITE_P(AllEffects, EffectContract,
                         ::testing::Range(0, static_cast<int>(fxtest::allPrototypes().size())),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return fxtest::identifier(fxtest::allPrototypes()[static_cast<size_t>(info.param)]->name());
                         });

}  // namespace
