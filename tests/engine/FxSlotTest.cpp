#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "effects/FxBase.h"
#include "engine/FxSlot.h"
#include "engine/core/Param.h"
#include "engine/dsp/PeakMeters.h"

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
    for (int i = 0; i < nFrames; ++i) out[0][i] = wet(in[0][i]), out[1][i] = wet(in[1][i]);
  }
  void reset() override { ++resets; }
  static float wet(float x) { return 0.5f * x + 1.0f; }

  float sampleRate = 0.0f;
  int processCalls = 0;
  int resets = 0;
};

struct Stereo {
  explicit Stereo(int n, float scale = 1.0f) : l(static_cast<size_t>(n)), r(static_cast<size_t>(n)), p{l.data(), r.data()} {
    for (size_t i = 0; i < l.size(); ++i) l[i] = scale * std::sin(0.1f * i), r[i] = scale * 0.5f * std::cos(0.07f * i);
  }
  std::vector<float> l, r;
  float* p[2];  // points at this object's own channels
};

class FxSlotTest : public ::testing::Test {
 protected:
  Probe* install(float rate = 48000.0f) {
    Probe* p = new Probe();
    EXPECT_EQ(slot.setEffect(p, 3, rate, params, false), p);
    return p;
  }
  FxSlot slot;
  Param params[2];
};

TEST_F(FxSlotTest, BypassCopiesAndMetersTheDryPath) {
  Stereo in(64), out(64, 0.0f);
  slot.sampleRate = 48000.0f;
  slot.process(in.p, out.p, 64);
  EXPECT_EQ(out.l, in.l);
  EXPECT_EQ(out.r, in.r);
  EXPECT_GT(slot.inputPeaks[0], 0.9f);
  EXPECT_EQ(slot.outputPeaks[0], 0.0f);  // a send: nothing of its own comes out
  slot.dryPass = 1;
  Probe* p = install();  // installed but off: not called either
  slot.process(in.p, out.p, 64);
  EXPECT_EQ(slot.outputPeaks[1], slot.inputPeaks[1]);
  EXPECT_EQ(p->processCalls + p->resets, 0);
}

TEST_F(FxSlotTest, InstallsOnlyWhileSilentAndIdle) {
  const int deletedBefore = gProbesDeleted;
  Probe* first = install(44100.0f);
  EXPECT_TRUE(slot.typeIndex.load() == 3 && first->sampleRate == 44100.0f && first->params == params);
  EXPECT_TRUE(std::string(params[0].label) == "A" && params[0].value == 3.0f);
  // Sounding, fading or inside a pass (the old effect may be in use): refused, though the
  // rate is taken.
  Probe refused;
  for (int c = 0; c < 3; ++c) {
    slot.target = c == 0 ? 1.0f : 0.0f;
    slot.fade = c == 1 ? 0.3f : 0.0f;
    if (c == 2) slot.beginPass(7, false);
    EXPECT_EQ(slot.setEffect(&refused, 4, 48000.0f + c, params, false), nullptr) << c;
    EXPECT_TRUE(slot.sampleRate.load() == 48000.0f + c && slot.typeIndex.load() == 3 && slot.effect.load() == first);
  }
  slot.endPass();
  // Silent: the old one goes; with keepValues the values survive the new declaration.
  params[0].setValue(7.0f);
  Probe* second = new Probe();
  EXPECT_EQ(slot.setEffect(second, 5, 48000.0f, params, true), second);
  EXPECT_TRUE(gProbesDeleted == deletedBefore + 1 && params[0].value == 7.0f);
  Probe* third = new Probe();
  EXPECT_EQ(slot.setEffect(third, 6, 48000.0f, params, false), third);
  EXPECT_EQ(params[0].value, 3.0f);
  EXPECT_EQ(slot.setEffect(nullptr, 6, 48000.0f, params, false), nullptr);
}

TEST_F(FxSlotTest, TargetFollowsTypeAndPower) {
  install();
  const struct {
    int type;
    bool power;
    float fade;
    bool live;
    float target;
  } cases[] = {{3, false, 0, false, 0}, {2, true, 0, false, 0}, {3, true, 0, true, 1}, {2, true, 0.5f, true, 0}};
  for (const auto& c : cases) {
    slot.fade = c.fade;
    EXPECT_EQ(slot.beginPass(c.type, c.power), c.live) << c.type;
    EXPECT_EQ(slot.target.load(), c.target);
    slot.endPass();
  }
}

// A send fades its effect in from silence at the speed limit, with one reset at the start.
TEST_F(FxSlotTest, SendFadesInAtTheSpeedLimit) {
  for (float rate : {22050.0f, 48000.0f, 192000.0f}) {
    FxSlot s;
    Probe* p = new Probe();
    ASSERT_EQ(s.setEffect(p, 0, rate, params, false), p);
    s.target = 1.0f;
    const double limit = 300.0 / (rate + 1.0);
    Stereo in(64), out(64, 0.0f);
    int blocks = 0;
    for (int frame = 0; s.fade.load() < 1.0f && blocks < 100; ++blocks) {
      s.process(in.p, out.p, 64);
      for (int j = 0; j < 64 && (frame + 64) * limit <= 1.0; ++j, ++frame) {  // the last chunk slows to land on 1
        EXPECT_NEAR(out.l[j], frame * limit * Probe::wet(in.l[j]), 1e-5) << rate;
        EXPECT_NEAR(out.r[j], frame * limit * Probe::wet(in.r[j]), 1e-5) << rate;
      }
      frame = (blocks + 1) * 64;
    }
    EXPECT_NEAR(blocks, 1.0 / (64 * limit), 1.0);
    EXPECT_EQ(p->resets, 1);
    s.process(in.p, out.p, 64);  // steady: the effect alone
    for (int j = 0; j < 64; ++j) EXPECT_EQ(out.l[j], Probe::wet(in.l[j]));
  }
}

TEST_F(FxSlotTest, MainSlotCrossfadesFromTheDryBusInPlace) {
  FxSlot other;
  Param otherParams[2];
  ASSERT_NE(other.setEffect(new Probe(), 3, 48000.0f, otherParams, false), nullptr);
  Probe* p = install(48000.0f);
  slot.dryPass = other.dryPass = 1;
  slot.target = other.target = 1.0f;
  // One call of 200 frames in place (chunks of 64, 64, 64 and 8), the same into other buffers.
  Stereo bus(200), separate(200), out(200, 0.0f);
  const Stereo dry = bus;
  slot.process(bus.p, bus.p, 200);
  other.process(separate.p, out.p, 200);
  EXPECT_TRUE(bus.l == out.l && bus.r == out.r);
  for (int i = 0; i < 120; ++i) {
    const double g = i * 300.0 / 48001.0;
    EXPECT_NEAR(bus.l[i], (1 - g) * dry.l[i] + g * Probe::wet(dry.l[i]), 1e-5);
  }
  EXPECT_EQ(slot.fade.load(), 1.0f);
  // Fading out again ends in the bypass, which no longer calls the effect.
  slot.target = 0.0f;
  for (int block = 0; block < 10; ++block) slot.process(bus.p, bus.p, 64);
  const int calls = p->processCalls;
  slot.process(bus.p, bus.p, 64);
  EXPECT_TRUE(slot.fade.load() == 0.0f && p->processCalls == calls);
}

TEST(PeakMeters, JumpUpFallBackAndRest) {
  std::vector<float> a = {0.1f, -0.8f, 0.3f}, b = {0.0f, 0.2f, 0.0f};
  const float* channels[2] = {a.data(), b.data()};
  float meters[2] = {0.0f, 0.5f};
  updatePeakMeters(meters, channels, 3, 2, 48000.0f);
  EXPECT_EQ(meters[0], 0.8f);  // up at once, down slowly
  EXPECT_TRUE(meters[1] > 0.49f && meters[1] < 0.5f);
  std::vector<float> quiet(4800, 0.0f);
  const float* silent[1] = {quiet.data()};
  updatePeakMeters(meters, silent, 4800, 1, 48000.0f);  // 0.1 s: halfway down
  EXPECT_NEAR(meters[0], 0.4f, 1e-6f);
  meters[0] = 1e-9f;
  updatePeakMeters(meters, silent, 1, 1, 48000.0f);
  EXPECT_EQ(meters[0], 0.0f);
  quiet[1] = std::numeric_limits<float>::quiet_NaN();  // never sticks in a meter
  meters[0] = std::numeric_limits<float>::quiet_NaN();
  updatePeakMeters(meters, silent, 2, 1, 48000.0f);
  EXPECT_TRUE(std::isfinite(meters[0]));

  // The loudest sample wherever it lies, NaNs passed over, for every length round a multiple
  // of four and of sixteen (the search runs sixteen samples to a step, then four, then one).
  for (int32_t n = 1; n <= 40; ++n) {
    for (int32_t at = 0; at < n; ++at) {
      std::vector<float> x(static_cast<size_t>(n), 0.25f);
      x[static_cast<size_t>(at)] = -0.75f;
      // NaNs right after the peak and four and sixteen samples on, where a lane-wise search
      // meets them.
      for (int32_t nan : {at + 1, at + 4, at + 16}) {
        if (nan < n) x[static_cast<size_t>(nan)] = std::numeric_limits<float>::quiet_NaN();
      }
      const float* channel[1] = {x.data()};
      float meter[1] = {0.0f};
      updatePeakMeters(meter, channel, n, 1, 48000.0f);
      EXPECT_EQ(meter[0], 0.75f) << n << " " << at;
    }
  }
}

}  // namespace
