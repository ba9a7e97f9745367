#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "effects/CompTape.h"
#include "effects/SampleGuard.h"
#include "support/AllocationCounter.h"
#include "tests/effects/EffectTestKit.h"

// What the engine relies on from every effect of both lists: 0-frame blocks, in-place
// processing, every output frame written, any block size, repeated rates and resets, broken
// input, no allocation while processing, and stability at the extremes.
namespace {

using fxtest::Rig;
using fxtest::Stereo;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

class EffectContract : public ::testing::TestWithParam<int> {
 protected:
  FxBase* prototype() const { return fxtest::allPrototypes()[static_cast<size_t>(GetParam())]; }

  // A rig with its parameters away from the defaults, so that nothing passes by accident.
  // The tape simulator draws from a generator shared by all instances: runs that are compared
  // start from the same point of it.
  std::unique_ptr<Rig> rig(float rate, bool offDefault = true) const {
    CompTape::sharedRandom().reseed(2024u);
    auto r = std::make_unique<Rig>(prototype(), rate);
    if (offDefault)
      for (Param& p : r->params) p.setValue(p.min + 0.7f * (p.max - p.min));
    return r;
  }
};

TEST_P(EffectContract, ZeroFramesDoNothing) {
  const Stereo first = fxtest::noise(256, 0.5f, 1), second = fxtest::noise(256, 0.5f, 2);
  auto plain = rig(48000.0f);
  plain->run(first);
  const Stereo expected = plain->run(second);

  auto r = rig(48000.0f);
  r->run(first);
  Stereo sentinel(8, 123.0f);
  const float* in[2] = {first.l.data(), first.r.data()};
  float* out[2] = {sentinel.l.data(), sentinel.r.data()};
  r->fx->process(in, out, 0);
  r->fx->process(in, out, -5);
  const float* const none[2] = {nullptr, nullptr};
  float* const nowhere[2] = {nullptr, nullptr};
  r->fx->process(none, nowhere, 0);
  EXPECT_TRUE(fxtest::same(sentinel, Stereo(8, 123.0f)));
  EXPECT_TRUE(fxtest::same(r->run(second), expected));
}

TEST_P(EffectContract, InPlaceMatchesSeparateBuffers) {
  const Stereo in = fxtest::noise(4096, 0.8f, 3);
  for (int block : {1, 37, 64}) {
    const Stereo expected = rig(44100.0f)->run(in, block);
    Stereo io = in;
    rig(44100.0f)->process(io, io, block, [](size_t) {});
    EXPECT_TRUE(fxtest::same(io, expected)) << block;
  }
}

TEST_P(EffectContract, WritesEveryFrameAtAnyBlockSize) {
  for (int block : {1, 7, 64, 100, 4096})
    EXPECT_TRUE(fxtest::allFinite(rig(96000.0f, false)->run(fxtest::noise(8192, 1.0f, 4), block, kNaN))) << block;
}

// Tempo, parameter and block size changes included.
TEST_P(EffectContract, NoAllocationWhileProcessing) {
  auto r = rig(48000.0f, false);
  const Stereo in = fxtest::noise(4096, 0.5f, 5);
  Stereo out(in.size());
  r->fx->setTempo(97.0f);
  r->fx->reset();
  AllocationCounter counter;
  for (int block : {64, 1, 4096}) {
    r->process(in, out, block, [&](size_t pos) {
      r->fx->setTempo(pos % 256 ? 97.0f : 140.0f);
      if (pos % 1024 == 0) r->set(r->params[0].min + pos % 3 * 0.4f * (r->params[0].max - r->params[0].min),
                                  r->params[1].max - pos % 5 * 0.2f * (r->params[1].max - r->params[1].min));
    });
  }
  r->fx->reset();
  EXPECT_EQ(counter.count(), 0);
}

// The engine tells installed effects every new rate, before or after a reset; a rate that
// cannot be run at is not taken.
TEST_P(EffectContract, SampleRateMoreThanOnce) {
  auto r = rig(44100.0f);
  const Stereo in = fxtest::noise(4096, 0.7f, 6);
  EXPECT_TRUE(fxtest::allFinite(r->run(in)));
  r->fx->setSampleRate(96000.0f);
  EXPECT_TRUE(fxtest::allFinite(r->run(in)));
  r->fx->reset();
  r->fx->setSampleRate(22050.0f);
  r->fx->setSampleRate(22050.0f);
  r->fx->reset();
  const Stereo out = r->run(in);
  EXPECT_TRUE(fxtest::allFinite(out));
  EXPECT_LT(fxtest::peakOf(out), 1000.0f);
  // Each unusable rate leaves the effect running exactly as at its last good one.
  for (float bad : {0.0f, -48000.0f, kNaN, kInf}) {
    auto poked = rig(96000.0f);
    poked->fx->setSampleRate(bad);
    const Stereo got = poked->run(in);
    EXPECT_TRUE(fxtest::same(got, rig(96000.0f)->run(in))) << bad;
  }
}

// A NaN sample is taken as silence and an infinite one as the loudest sample there is, so
// the effect goes on exactly as if it had received those.
TEST_P(EffectContract, NonFiniteInputDoesNotStick) {
  Stereo broken = fxtest::noise(24000, 0.5f, 7);
  Stereo guarded = broken;
  const std::pair<size_t, float> hits[] = {{100, kNaN},  {101, -kNaN}, {3000, kInf},   {3001, -kInf},
                                           {9000, kNaN}, {9001, kInf}, {15000, 3e38f}};
  for (const auto& [at, value] : hits) {
    broken.l[at] = broken.r[at + 7] = value;
    guarded.l[at] = guarded.r[at + 7] = guardSample(value);
  }
  for (int block : {64, 1}) {
    const Stereo out = rig(48000.0f, false)->run(broken, block);
    EXPECT_TRUE(fxtest::same(out, rig(48000.0f, false)->run(guarded, block)));
    EXPECT_TRUE(fxtest::allFinite(out));
  }
}

// What reset clears, after two seconds of noise: the chorus and the dynamics keep their state,
// so a reset changes nothing; the upward compressor answers afresh; the echo and the reverbs fall
// silent, leaving at most the given share of the energy an un-reset copy still puts out (the
// room keeps its filter states, the spring model its sample rings and so its last frame).
TEST_P(EffectContract, ResetClearsWhatTheEffectClears) {
  constexpr double kKeeps = 1.0, kFresh = 0.0;
  const std::string name = prototype()->name();
  const double leaves = name == "Tempo Delay" || name == "Diffuser" ? 1e-4
                        : name == "Plate Reverb"                    ? 1e-3
                        : name == "Room Reverb"                     ? 1e-2
                        : name == "Spring Reverb"                   ? 0.5
                        : name == "Upward Compressor"               ? kFresh
                                                                    : kKeeps;
  const bool fallsSilent = leaves != kKeeps && leaves != kFresh;
  const Stereo before = fxtest::noise(96000, 0.5f, 11);
  const Stereo probe = fallsSilent ? Stereo(48000) : fxtest::sine(9600, 200.0, 48000.0, 0.02f);
  auto probed = [&](bool warm, bool reset) {
    auto r = rig(48000.0f, false);
    if (warm) r->run(before);
    if (reset) r->fx->reset();
    return r->run(probe);
  };
  const Stereo kept = probed(true, false), cleared = probed(true, true);
  ASSERT_TRUE(fxtest::allFinite(cleared));
  if (leaves == kFresh) {
    EXPECT_FALSE(fxtest::same(cleared, kept));
  }
  if (fallsSilent) {
    EXPECT_LT(fxtest::energyOf(cleared), leaves * fxtest::energyOf(kept));
  } else {
    EXPECT_TRUE(fxtest::same(cleared, leaves == kKeeps ? kept : probed(false, false)));
  }
}

// How each effect lays out its two channels. Effects that work per channel (or with one
// detector for both) leave a right output silent when only the left input sounds, give equal
// channels for a mono input and mirrored channels for a swapped input (the transformer once its
// gains, started apart, have met); a right channel keeping its own state across calls shows in
// both. The rest spread each input over both outputs, decorrelated; the reverbs do so the same
// in calls of one frame as of 64, up to their per-call glides.
TEST_P(EffectContract, StereoLayout) {
  const struct {
    const char* name;
    bool spreads;
    size_t mirroredAfter;  // SIZE_MAX: not mirrored
    double blockTolerance;  // share of the peak; negative: calls may differ
  } layouts[] = {{"Chorus", true, SIZE_MAX, -1},          {"Diffuser", true, SIZE_MAX, -1},
                 {"Plate Reverb", true, SIZE_MAX, 0.03},   {"Room Reverb", true, SIZE_MAX, 0.03},
                 {"Spring Reverb", true, SIZE_MAX, 0.15},   {"Tempo Delay", true, SIZE_MAX, -1},
                 {"Compressor", false, 0, 0},              {"Stereo Fuzz", false, 0, -1},
                 {"Sticky Compressor", false, 0, 0},       {"L.A. Optical", false, 0, 0},
                 {"Upward Compressor", false, 0, 0},       {"Limiter", false, 0, 0},
                 {"Tape Simulator", false, 0, -1},         {"Transformer Amp", false, 400, 0}};
  const std::string name = prototype()->name();
  const auto* layout = std::find_if(std::begin(layouts), std::end(layouts), [&](const auto& l) { return name == l.name; });
  ASSERT_NE(layout, std::end(layouts)) << name;
  // Without "Age" the tape's two channels wobble alike.
  const auto run = [&](const Stereo& in, int block = 64) {
    auto r = rig(48000.0f);
    if (name == "Tape Simulator") r->params[1].setValue(0.0f);
    return r->run(in, block);
  };
  const Stereo in = fxtest::noise(96000, 0.5f, 12);
  Stereo swapped = in, leftOnly = in, rightOnly = in, mono = in;
  swapped.l.swap(swapped.r);
  std::fill(leftOnly.r.begin(), leftOnly.r.end(), 0.0f);
  std::fill(rightOnly.l.begin(), rightOnly.l.end(), 0.0f);
  mono.r = mono.l;
  const Stereo out = run(in), outSwapped = run(swapped), fromLeft = run(leftOnly), fromRight = run(rightOnly);
  const Stereo outMono = run(mono);
  const auto energy = [](const std::vector<float>& x) {
    double e = 0.0;
    for (float v : x) e += static_cast<double>(v) * v;
    return e;
  };
  ASSERT_GT(energy(fromLeft.l), 1.0);
  ASSERT_GT(energy(fromRight.r) + energy(fromRight.l), 1.0);
  if (!layout->spreads) {
    EXPECT_EQ(energy(fromLeft.r), 0.0);
    EXPECT_EQ(energy(fromRight.l), 0.0);
    for (size_t i = layout->mirroredAfter; i < in.size(); ++i) {
      ASSERT_EQ(outSwapped.l[i], out.r[i]) << i;
      ASSERT_EQ(outSwapped.r[i], out.l[i]) << i;
      ASSERT_EQ(outMono.l[i], outMono.r[i]) << i;
    }
  } else {
    // Each input reaches both outputs, and a mono input comes out as two different channels.
    for (const Stereo* s : {&fromLeft, &fromRight}) EXPECT_GT(std::min(energy(s->l), energy(s->r)), 0.1 * std::max(energy(s->l), energy(s->r)));
    std::vector<float> difference(in.size());
    for (size_t i = 0; i < in.size(); ++i) difference[i] = outMono.l[i] - outMono.r[i];
    EXPECT_GT(energy(difference), 0.1 * energy(outMono.l));
    EXPECT_FALSE(fxtest::same(fromLeft, fromRight));
  }
  if (layout->blockTolerance >= 0.0) {
    const Stereo single = run(in, 1);
    const double limit = layout->blockTolerance * fxtest::peakOf(out) + 1e-6;
    double worst[2] = {0.0, 0.0};
    for (size_t i = 0; i < in.size(); ++i) {
      worst[0] = std::max(worst[0], static_cast<double>(std::fabs(single.l[i] - out.l[i])));
      worst[1] = std::max(worst[1], static_cast<double>(std::fabs(single.r[i] - out.r[i])));
    }
    EXPECT_LE(worst[0], limit);
    EXPECT_LE(worst[1], limit);
  }
}

INSTANTIATE_TEST_SUITE_P(AllEffects, EffectContract,
                         ::testing::Range(0, static_cast<int>(fxtest::allPrototypes().size())),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return fxtest::identifier(fxtest::allPrototypes()[static_cast<size_t>(info.param)]->name());
                         });

// Every effect at every corner of its two parameters and at the default, at 22050 to 192000 Hz,
// through noise at full scale, hot noise and silence: the output stays finite and bounded, and
// dies away in the silence unless it is meant to ring on (the reverbs and the echo may ring for
// tens of seconds at their longest settings; how their tails fall is checked with each of them).
class EffectStability : public ::testing::TestWithParam<std::tuple<int, float>> {};

TEST_P(EffectStability, FiniteAndBoundedAtTheExtremes) {
  FxBase* proto = fxtest::allPrototypes()[static_cast<size_t>(std::get<0>(GetParam()))];
  const float rate = std::get<1>(GetParam());
  const std::string name = proto->name();
  const bool ringsLong = name.find("Reverb") != std::string::npos || name == "Tempo Delay";
  const size_t quarter = fxtest::frames(fxtest::scaledSeconds(2.5), rate);
  Stereo in = fxtest::noise(4 * quarter, 1.0f, 17);
  for (size_t i = quarter; i < in.size(); ++i) {
    in.l[i] *= i < 2 * quarter ? 8.0f : 0.0f;
    in.r[i] *= i < 2 * quarter ? 8.0f : 0.0f;
  }
  Param probe[2];
  std::unique_ptr<FxBase>(proto->create())->setup(probe);
  for (const auto& [p0, p1] : {std::pair(probe[0].min, probe[1].min), std::pair(probe[0].min, probe[1].max),
                               std::pair(probe[0].max, probe[1].min), std::pair(probe[0].max, probe[1].max),
                               std::pair(probe[0].defaultValue, probe[1].defaultValue)}) {
    Rig rig(proto, rate);
    rig.set(p0, p1);
    const Stereo out = rig.run(in);
    ASSERT_TRUE(fxtest::allFinite(out)) << p0 << ", " << p1;
    // The most any effect may add is the optical leveller's 48 dB on a quiet detector.
    EXPECT_LT(fxtest::peakOf(out), 8.0f * 260.0f) << p0 << ", " << p1;
    if (!ringsLong) {
      EXPECT_LT(fxtest::peakOf(out, in.size() - quarter / 4), 1e-3f) << p0 << ", " << p1;
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
