#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "effects/FxBase.h"
#include "engine/FxSlot.h"
#include "engine/Param.h"
#include "engine/PeakMeters.h"
#include "support/AllocationCounter.h"

namespace {

int gProbesDeleted = 0;

// An effect whose output is easy to predict: wet = 0.5 * in + 1 on both channels.
class Probe : public FxBase {
 public:
  ~Probe() override { ++gProbesDeleted; }
  const char* name() override { return "Probe"; }
  void setup(Param* p) override {
    p[0].init(Param::kLinear, 0.0f, 10.0f, 0.0f, "%.1f", "A", 3.0f);
    p[1].init(Param::kLinear, 0.0f, 10.0f, 0.0f, "%.1f", "B", 4.0f);
    params = p;
  }
  FxBase* create() override { return new Probe(); }
  void setSampleRate(float rate) override { sampleRate = rate; }
  void process(const float* const in[2], float* const out[2], int nFrames) override {
    ++processCalls;
    frames += nFrames;
    for (int i = 0; i < nFrames; ++i) {
      for (int c = 0; c < 2; ++c) out[c][i] = wet(in[c][i]);
    }
  }
  void reset() override { ++resets; }
  static float wet(float x) { return 0.5f * x + 1.0f; }

  float sampleRate = 0.0f;
  int processCalls = 0;
  int frames = 0;
  int resets = 0;
};

struct Stereo {
  explicit Stereo(int n, float scale = 1.0f) : l(static_cast<size_t>(n)), r(static_cast<size_t>(n)) {
    for (int i = 0; i < n; ++i) {
      l[static_cast<size_t>(i)] = scale * std::sin(0.1f * static_cast<float>(i));
      r[static_cast<size_t>(i)] = scale * 0.5f * std::cos(0.07f * static_cast<float>(i));
    }
  }
  const float* const* in() {
    ptrs[0] = l.data();
    ptrs[1] = r.data();
    return ptrs;
  }
  float* const* out() {
    ptrs[0] = l.data();
    ptrs[1] = r.data();
    return ptrs;
  }
  std::vector<float> l, r;
  float* ptrs[2];
};

class FxSlotTest : public ::testing::Test {
 protected:
  Probe* install(float rate = 48000.0f, bool keep = false) {
    Probe* p = new Probe();
    EXPECT_EQ(slot.setEffect(p, 3, rate, params, keep), p);
    return p;
  }
  FxSlot slot;
  Param params[2];
};

TEST_F(FxSlotTest, BypassCopiesAndMetersTheDryPath) {
  Stereo in(64), out(64, 0.0f);
  slot.sampleRate = 48000.0f;
  slot.process(in.in(), out.out(), 64);
  EXPECT_EQ(out.l, in.l);
  EXPECT_EQ(out.r, in.r);
  EXPECT_GT(slot.inputPeaks[0], 0.9f);
  EXPECT_EQ(slot.outputPeaks[0], 0.0f);  // a send: nothing of its own comes out
  slot.dryPass = 1;
  slot.process(in.in(), out.out(), 64);
  EXPECT_EQ(slot.outputPeaks[0], slot.inputPeaks[0]);
  EXPECT_EQ(slot.outputPeaks[1], slot.inputPeaks[1]);

  // An installed effect that is off is not called either.
  Probe* p = install();
  slot.process(in.in(), out.out(), 64);
  EXPECT_EQ(p->processCalls, 0);
  EXPECT_EQ(p->resets, 0);
  EXPECT_EQ(out.l, in.l);
}

TEST_F(FxSlotTest, InstallsOnlyWhileSilent) {
  const int deletedBefore = gProbesDeleted;
  Probe* first = install(44100.0f);
  EXPECT_EQ(slot.typeIndex.load(), 3);
  EXPECT_EQ(slot.effect.load(), first);
  EXPECT_EQ(first->sampleRate, 44100.0f);
  EXPECT_EQ(first->params, params);
  EXPECT_STREQ(params[0].label, "A");
  EXPECT_EQ(params[0].value, 3.0f);

  // Sounding: refused, though the rate is taken.
  slot.target = 1.0f;
  Probe refused;
  EXPECT_EQ(slot.setEffect(&refused, 4, 48000.0f, params, false), nullptr);
  EXPECT_EQ(slot.sampleRate.load(), 48000.0f);
  EXPECT_EQ(slot.typeIndex.load(), 3);
  EXPECT_EQ(slot.effect.load(), first);
  slot.target = 0.0f;
  slot.fade = 0.3f;
  EXPECT_EQ(slot.setEffect(&refused, 4, 48000.0f, params, false), nullptr);
  slot.fade = 0.0f;

  // While a pass is running the old effect may still be in use.
  slot.beginPass(7, false);
  EXPECT_EQ(slot.setEffect(&refused, 4, 48000.0f, params, false), nullptr);
  EXPECT_EQ(slot.typeIndex.load(), 3);
  slot.endPass();

  // Silent: the old one goes; with keepValues the values survive the new declaration.
  params[0].setValue(7.0f);
  params[1].setValue(8.0f);
  Probe* second = new Probe();
  EXPECT_EQ(slot.setEffect(second, 5, 48000.0f, params, true), second);
  EXPECT_EQ(gProbesDeleted, deletedBefore + 1);
  EXPECT_EQ(params[0].value, 7.0f);
  EXPECT_EQ(params[1].value, 8.0f);
  Probe* third = new Probe();
  EXPECT_EQ(slot.setEffect(third, 6, 48000.0f, params, false), third);
  EXPECT_EQ(params[0].value, 3.0f);
  EXPECT_EQ(params[1].value, 4.0f);
  EXPECT_EQ(slot.setEffect(nullptr, 6, 48000.0f, params, false), nullptr);
}

TEST_F(FxSlotTest, TargetFollowsTypeAndPower) {
  install();
  EXPECT_FALSE(slot.beginPass(3, false));
  EXPECT_EQ(slot.target.load(), 0.0f);
  slot.endPass();
  EXPECT_FALSE(slot.beginPass(2, true));
  slot.endPass();
  EXPECT_TRUE(slot.beginPass(3, true));
  EXPECT_EQ(slot.target.load(), 1.0f);
  slot.endPass();
  slot.fade = 0.5f;
  EXPECT_TRUE(slot.beginPass(2, true));  // fading out still needs the pass
  EXPECT_EQ(slot.target.load(), 0.0f);
  slot.endPass();
}

// A send fades its effect in from silence at the speed limit, one reset at the start.
TEST_F(FxSlotTest, SendFadesInAtTheSpeedLimit) {
  for (float rate : {22050.0f, 48000.0f, 192000.0f}) {
    SCOPED_TRACE(rate);
    FxSlot s;
    Probe* p = new Probe();
    ASSERT_EQ(s.setEffect(p, 0, rate, params, false), p);
    s.target = 1.0f;
    const double limit = 300.0 / (rate + 1.0);
    Stereo in(64), out(64, 0.0f);
    int frame = 0;
    for (int block = 0; block < 2; ++block) {
      s.process(in.in(), out.out(), 64);
      for (int j = 0; j < 64; ++j, ++frame) {
        const double g = std::min(1.0, frame * limit);
        if (frame * limit + 64 * limit > 1.0) break;  // the last chunk slows to land on 1
        EXPECT_NEAR(out.l[static_cast<size_t>(j)], g * Probe::wet(in.l[static_cast<size_t>(j)]), 1e-5);
        EXPECT_NEAR(out.r[static_cast<size_t>(j)], g * Probe::wet(in.r[static_cast<size_t>(j)]), 1e-5);
      }
      frame = (block + 1) * 64;
    }
    for (int block = 0; block < 100 && s.fade.load() < 1.0f; ++block) s.process(in.in(), out.out(), 64);
    EXPECT_EQ(s.fade.load(), 1.0f);
    EXPECT_EQ(p->resets, 1);
    // Steady: the effect alone.
    const int calls = p->processCalls;
    s.process(in.in(), out.out(), 64);
    EXPECT_EQ(p->processCalls, calls + 1);
    for (int j = 0; j < 64; ++j) EXPECT_EQ(out.l[static_cast<size_t>(j)], Probe::wet(in.l[static_cast<size_t>(j)]));
  }
}

TEST_F(FxSlotTest, FullFadeTakesAbout160FramesAt48k) {
  Probe* p = install(48000.0f);
  slot.target = 1.0f;
  Stereo in(1), out(1);
  int frames = 0;
  while (slot.fade.load() < 1.0f && frames < 1000) {
    slot.process(in.in(), out.out(), 1);
    ++frames;
  }
  EXPECT_NEAR(frames, 160, 1);
  EXPECT_EQ(p->frames, frames);
}

TEST_F(FxSlotTest, MainSlotCrossfadesFromTheDryBus) {
  slot.dryPass = 1;
  install(48000.0f);
  slot.target = 1.0f;
  const float limit = 300.0f / 48001.0f;
  Stereo bus(200);
  const Stereo dry = bus;
  // One call of 200 frames in place: chunks of 64, 64, 64 and 8.
  slot.process(bus.in(), bus.out(), 200);
  for (int i = 0; i < 120; ++i) {
    const double g = i * static_cast<double>(limit);
    EXPECT_NEAR(bus.l[static_cast<size_t>(i)], (1 - g) * dry.l[static_cast<size_t>(i)] + g * Probe::wet(dry.l[static_cast<size_t>(i)]), 1e-5);
  }
  EXPECT_EQ(slot.fade.load(), 1.0f);

  // Fading out again ends in the bypass, which no longer calls the effect.
  Probe* p = static_cast<Probe*>(slot.effect.load());
  slot.target = 0.0f;
  Stereo next(64);
  for (int block = 0; block < 10; ++block) slot.process(next.in(), next.out(), 64);
  EXPECT_EQ(slot.fade.load(), 0.0f);
  const int calls = p->processCalls;
  Stereo last(64), lastOut(64, 0.0f);
  slot.process(last.in(), lastOut.out(), 64);
  EXPECT_EQ(p->processCalls, calls);
  EXPECT_EQ(lastOut.l, last.l);
}

TEST_F(FxSlotTest, InPlaceMatchesSeparateBuffers) {
  FxSlot other;
  Param otherParams[2];
  ASSERT_NE(other.setEffect(new Probe(), 3, 44100.0f, otherParams, false), nullptr);
  install(44100.0f);
  slot.dryPass = other.dryPass = 1;
  slot.target = other.target = 1.0f;
  for (int block = 0; block < 6; ++block) {
    Stereo a(64), b(64), out(64, 0.0f);
    slot.process(a.in(), a.out(), 64);
    other.process(b.in(), out.out(), 64);
    EXPECT_EQ(a.l, out.l);
    EXPECT_EQ(a.r, out.r);
  }
}

TEST_F(FxSlotTest, NothingIsAllocatedWhileProcessing) {
  install(48000.0f);
  slot.dryPass = 1;
  Stereo bus(64);
  AllocationCounter counter;
  for (int block = 0; block < 20; ++block) {
    slot.beginPass(3, block < 10);
    slot.process(bus.in(), bus.out(), 64);
    slot.endPass();
  }
  EXPECT_EQ(counter.count(), 0);
}

TEST(PeakMeters, JumpUpFallBackAndRest) {
  std::vector<float> a = {0.1f, -0.8f, 0.3f}, b = {0.0f, 0.2f, 0.0f};
  const float* channels[2] = {a.data(), b.data()};
  float meters[2] = {0.0f, 0.5f};
  updatePeakMeters(meters, channels, 3, 2, 48000.0f);
  EXPECT_EQ(meters[0], 0.8f);
  const double t = 3.0 / 48000.0;
  EXPECT_NEAR(meters[1], 0.5 + (0.2 - 0.5) * t / (t + 0.1), 1e-7);

  std::vector<float> silent(4800, 0.0f);
  const float* quiet[1] = {silent.data()};
  float m[1] = {1.0f};
  updatePeakMeters(m, quiet, 4800, 1, 48000.0f);  // 0.1 s: halfway down
  EXPECT_NEAR(m[0], 0.5f, 1e-6f);
  m[0] = 1e-9f;
  updatePeakMeters(m, quiet, 1, 1, 48000.0f);
  EXPECT_EQ(m[0], 0.0f);

  // NaN samples never stick in a meter.
  std::vector<float> bad = {std::numeric_limits<float>::quiet_NaN(), 0.25f};
  const float* badChannels[1] = {bad.data()};
  float n[1] = {std::numeric_limits<float>::quiet_NaN()};
  updatePeakMeters(n, badChannels, 2, 1, 48000.0f);
  EXPECT_TRUE(std::isfinite(n[0]));
}

}  // namespace
