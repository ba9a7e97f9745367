#include <gtest/gtest.h>

#include <cstring>

#include "EngineTestRig.h"
#include "engine/LaneWidth.h"

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
