#include <gtest/gtest.h>

#include <cmath>

#include "engine/EngineTestRig.h"

namespace {

using namespace engine_test;

// 30 seconds of random notes, controllers, parameter values (every record, at any position of
// its range), modulation routes that push parameters far past their ranges, velocity curves,
// effect switches and host block sizes, at each supported rate: the output stays finite and
// bounded.
class RenderFuzz : public ::testing::TestWithParam<float> {};

struct Random {
  uint32_t state;
  uint32_t next() { return state = state * 1664525u + 1013904223u; }
  float unit() { return static_cast<float>(next() >> 8) * (1.0f / 16777216.0f); }
  int below(int n) { return static_cast<int>(unit() * static_cast<float>(n)); }
};

constexpr float kBound = 1000.0f;

TEST_P(RenderFuzz, StaysFiniteAndBounded) {
  const float rate = GetParam();
  Random rng{static_cast<uint32_t>(rate)};
  auto e = makeEngine(rate, rng.next());
  // Second sounds on half the tracks, so morphing and the "Model" drives have two blobs.
  for (int t = 0; t < 8; t += 2) {
    Blob& b = e->tracks[t].blobs[1];
    b.clear();
    b.mirror(1);
    b.present = 1;
  }
  e->meteringOn = true;

  const int64_t total = static_cast<int64_t>(30.0f * rate);
  std::vector<float> buffer(18 * 4096);
  float* outputs[18];
  for (int c = 0; c < 18; ++c) outputs[c] = buffer.data() + 4096 * c;
  float loudest = 0.0f;
  int64_t done = 0;
  int64_t nextEdit = 0;
  while (done < total) {
    if (done >= nextEdit) {
      nextEdit = done + static_cast<int64_t>(rate * (0.05f + 0.5f * rng.unit()));
      for (int k = rng.below(12); k > 0; --k) {
        Param& p = e->params[static_cast<size_t>(rng.below(BandSynth::kParamCount))];
        p.setNormalized(rng.unit());
      }
      // Modulation rows at full strength, so routes carry parameters past their ranges.
      for (int k = rng.below(3); k > 0; --k) {
        const int row = rng.below(8);
        param(*e, BandSynth::rowParam(row, ModRowParam::kAmount)).setNormalized(rng.unit() < 0.5f ? 0.0f : 1.0f);
      }
      if (rng.below(4) == 0) {
        PointCurve& curve = e->tracks[rng.below(8)].velocityCurve;
        curve.setPoint(rng.below(2), {static_cast<float>(rng.below(2)), rng.unit() < 0.3f ? 0.0f : rng.unit(), 0.0f});
      }
      if (rng.below(8) == 0) e->tracks[rng.below(8)].blobs[rng.below(2)].present = rng.below(3) != 0 ? 1 : 0;
      if (rng.below(20) == 0) e->resetVoices(rng.next());
      e->updateEffectTypes();
    }
    for (int k = rng.below(3); k > 0; --k) {
      const int note = rng.below(128);
      e->processNote(note, rng.below(3) == 0 ? 0.0f : rng.unit(), 0, rng.below(17) - 1);
    }
    if (rng.below(4) == 0) {
      const int channel = rng.below(16);
      e->setController(0, rng.unit() * 2.0f - 1.0f, channel);
      e->setController(1, rng.unit(), channel);
      e->setController(1001, rng.unit(), channel);
      e->setPolyPressure(rng.unit(), rng.below(128), channel);
    }
    const int frames = static_cast<int>(std::min<int64_t>(1 + rng.below(rng.below(4) == 0 ? 4096 : 300), total - done));
    const int start = rng.below(4096 - frames + 1);
    e->processBlock(outputs, frames, 18, start);
    for (int c = 0; c < 18; ++c)
      for (int i = start; i < start + frames; ++i) {
        const float v = std::fabs(outputs[c][i]);
        ASSERT_TRUE(v <= kBound) << "rate " << rate << " at frame " << done + i - start << " channel " << c << ": "
                                 << outputs[c][i];
        loudest = std::max(loudest, v);
      }
    done += frames;
  }
  EXPECT_GT(loudest, 0.0f);
  RecordProperty("loudest", std::to_string(loudest));
}

INSTANTIATE_TEST_SUITE_P(Rates, RenderFuzz, ::testing::Values(22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f),
                         [](const ::testing::TestParamInfo<float>& info) {
                           return std::to_string(static_cast<int>(info.param));
                         });

}  // namespace
