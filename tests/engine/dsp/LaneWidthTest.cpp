#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "engine/EngineTestRig.h"
#include "engine/dsp/LaneWidth.h"
#include "engine/dsp/SimdLanes.h"
#include "engine/dsp/WideLanes.h"

namespace {

using namespace engine_test;

// Every track busy with several voices and its own settings, so the band arithmetic meets
// silent and loud bands, peak moves, noise and filters, at the given lane width.
Channels busyRender(int32_t width, float rate) {
  setLaneWidthLimit(width);
  auto e = makeEngine(rate);
  std::vector<NoteEvent> events;
  for (int32_t t = 0; t < BandSynth::kTrackCount; ++t) {
    trackParam(*e, t, TrackParam::kPolyphony).setValue(8.0f);
    trackParam(*e, t, TrackParam::kDensity).setValue(-100.0f + 28.0f * static_cast<float>(t));
    trackParam(*e, t, TrackParam::kFilter).setValue(-60.0f + 17.0f * static_cast<float>(t));
    trackParam(*e, t, TrackParam::kFrequency).setValue(-200.0f + 60.0f * static_cast<float>(t));
    trackParam(*e, t, TrackParam::kModel).setValue(static_cast<float>(t % 2 == 0 ? 0 : 4 + t % 7));
    for (int32_t v = 0; v < 1 + t % 6; ++v) events.push_back({64 * v + t, 36 + t + 12 * v, 0.3f + 0.1f * v});
  }
  Channels out = render(*e, 6000, 128, events);
  setLaneWidthLimit(0);
  return out;
}

// The four-lane kernels are the reference every wider one must match bit for bit.
TEST(LaneWidth, WiderKernelsRenderTheSameBits) {
  if (supportedLaneWidth() == 4) GTEST_SKIP() << "this processor runs the four-lane kernels only";
  for (float rate : {44100.0f, 96000.0f}) {
    const Channels narrow = busyRender(4, rate);
    double loudness = 0.0;
    for (const auto& c : narrow) loudness += energy(c);
    EXPECT_GT(loudness, 0.0) << rate;
    for (int32_t width = 8; width <= supportedLaneWidth(); width *= 2) {
      const Channels wide = busyRender(width, rate);
      ASSERT_EQ(wide.size(), narrow.size());
      for (size_t c = 0; c < wide.size(); ++c) {
        ASSERT_EQ(std::memcmp(wide[c].data(), narrow[c].data(), wide[c].size() * sizeof(float)), 0)
            << rate << " width " << width << " channel " << c;
      }
    }
  }
}

TEST(LaneWidth, LimitNeverWidensBeyondSupport) {
  setLaneWidthLimit(4);
  EXPECT_EQ(laneWidth(), 4);
  setLaneWidthLimit(0);
  EXPECT_EQ(laneWidth(), supportedLaneWidth());
  EXPECT_TRUE(laneWidth() == 4 || laneWidth() == 8 || laneWidth() == 16);
}

}  // namespace

namespace {

// The wrap to the unit interval at its edges: signed zeros, values just below whole numbers,
// the end of the exact float range, NaN and infinities, at every width.
const float kWrapInputs[16] = {-0.0f, 0.0f, -0.5f, -1.0f, -1e-30f, 0.99999994f, 8388607.5f, -8388607.5f,
                               8388608.0f, NAN, INFINITY, -INFINITY, 3.75f, -3.75f, 1e10f, -2.0000002f};

void wrapFour(float* out) {
  for (int32_t i = 0; i < 16; i += 4) lanesStore(out + i, lanesWrap(Lanes::load(kWrapInputs + i)));
}

#if OSKRA_HAVE_WIDE_LANES
OSKRA_WIDE_TARGET void wrapEight(float* out) {
  for (int32_t i = 0; i < 16; i += 8) lanesStore(out + i, lanesWrap(WideLanes::load(kWrapInputs + i)));
}
OSKRA_WIDER_TARGET void wrapSixteen(float* out) { lanesStore(out, lanesWrap(WiderLanes::load(kWrapInputs))); }
#endif

TEST(LaneWidth, WrapGivesTheSameBitsAtEveryWidth) {
  float four[16];
  wrapFour(four);
  EXPECT_EQ(std::signbit(four[0]), true);  // -0 wraps to -0
  EXPECT_EQ(four[2], 0.5f);
  EXPECT_EQ(four[9], 0.0f);  // NaN
  EXPECT_EQ(four[13], 0.25f);
#if OSKRA_HAVE_WIDE_LANES
  float wide[16];
  if (supportedLaneWidth() >= 8) {
    wrapEight(wide);
    EXPECT_EQ(std::memcmp(wide, four, sizeof four), 0);
  }
  if (supportedLaneWidth() >= 16) {
    wrapSixteen(wide);
    EXPECT_EQ(std::memcmp(wide, four, sizeof four), 0);
  }
#endif
}

}  // namespace
