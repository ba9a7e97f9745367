#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cmath>

#include "engine/EngineTestRig.h"
#include "platform/DenormalGuard.h"
#include "support/AllocationCounter.h"

namespace {

using namespace engine_test;

constexpr float kRate = 48000.0f;

// With static parameters the output does not depend on how the host cuts its blocks: the
// control passes stay 64 frames apart across calls. Half a second keeps every voice before the
// end of its blob, where the renderer draws from a generator all engines share.
TEST(BandSynthRender, HostBlockSizeDoesNotChangeTheOutput) {
  const std::vector<NoteEvent> notes = {{0, 36, 0.9f},     {1000, 48, 0.6f},      {5000, 37, 0.8f}, {9000, 36, 0.0f},
                                        {12345, 41, 0.5f}, {20000, 48, 0.0f, -1}, {20001, 37, 0.0f}};
  Channels reference;
  for (int block : {4096, 1, 7, 64, 100}) {
    auto e = makeEngine(kRate);
    trackParam(*e, 0, TrackParam::kPolyphony).setValue(2.0f);
    trackParam(*e, 1, TrackParam::kOutput).setValue(1.0f);
    trackParam(*e, 5, TrackParam::kPan).setValue(-40.0f);
    const Channels out = render(*e, 24000, block, notes);
    if (reference.empty()) {
      reference = out;
      EXPECT_GT(energy(out[0]), 1.0);
      EXPECT_GT(energy(out[2]), 1.0);
      continue;
    }
    for (size_t c = 0; c < out.size(); ++c) {
      ASSERT_EQ(out[c], reference[c]) << "block " << block << " channel " << c;
    }
  }
}

// Which output channels a track reaches: mute and solo, its "Output" pair, and how many
// channels the host gives.
TEST(BandSynthRender, Routing) {
  struct Row {
    int16_t mute, solo;
    int output, channels, pair;  // pair -1: silent everywhere
  };
  const Row rows[] = {
      {0, -1, 0, 18, 0},      {1 << 2, -1, 0, 18, -1}, {1 << 2, 2, 0, 18, 0}, {0, 3, 0, 18, -1},
      {1 << 3, -1, 0, 18, 0}, {0, -1, 1, 18, 1},       {0, -1, 8, 18, 8},     {0, -1, 3, 4, -1},
      {0, -1, 3, 8, 3},       {0, -1, 0, 1, -1},       {0, -1, 0, 3, 0},      {0, -1, 1, 3, -1},
  };
  for (const Row& r : rows) {
    auto e = makeEngine(kRate);
    e->muteMask = r.mute;
    e->soloTrack = r.solo;
    trackParam(*e, 2, TrackParam::kOutput).setValue(static_cast<float>(r.output));
    const Channels out = render(*e, 6000, 256, {{0, 38, 0.9f}}, r.channels);
    for (int c = 0; c < r.channels; ++c) {
      const bool expected = r.pair >= 0 && c / 2 == r.pair;
      EXPECT_EQ(energy(out[static_cast<size_t>(c)]) > 0.0, expected)
          << "mute " << r.mute << " solo " << r.solo << " output " << r.output << " channels " << r.channels
          << " channel " << c;
    }
  }
}

// A send passes the track through its slot and into the main pair; a switched-off slot fades
// its effect out.
TEST(BandSynthRender, SendsReachTheMainPairThroughTheirSlot) {
  struct Row {
    int slot;
    float level;
    bool power;
  };
  for (const Row& r : {Row{0, 0.5f, true}, Row{1, 2.0f, true}, Row{0, 0.0f, true}, Row{0, 1.0f, false}}) {
    auto e = makeEngine(kRate);
    param(*e, BandSynth::slotParam(r.slot, SlotParam::kPower)).setValue(r.power ? 1.0f : 0.0f);
    PassThrough* fx = installPassThrough(*e, r.slot);
    ASSERT_NE(fx, nullptr);
    trackParam(*e, 2, TrackParam::kOutput).setValue(1.0f);
    trackParam(*e, 2, r.slot == 0 ? TrackParam::kSend1 : TrackParam::kSend2).setValue(r.level);
    const Channels out = render(*e, 12000, 128, {{0, 38, 0.9f}});
    ASSERT_GT(energy(out[2]), 1.0);
    for (int c = 0; c < 2; ++c) {
      const auto& main = out[static_cast<size_t>(c)];
      const auto& bus = out[static_cast<size_t>(2 + c)];
      if (!r.power || r.level == 0.0f) {
        EXPECT_EQ(energy(main), 0.0);
        continue;
      }
      // Once faded in (about 160 frames), the main pair carries the send exactly.
      for (size_t i = 1000; i < main.size(); ++i) ASSERT_EQ(main[i], r.level * bus[i]) << i;
    }
    EXPECT_EQ(fx->calls > 0, r.power);
  }
}

// "Pan" moves a track towards the side it names: fully to one side the other is silent, in the
// middle both sides carry the same.
TEST(BandSynthRender, PanMovesTheTrackToTheSideItNames) {
  for (float pan : {-100.0f, -40.0f, 0.0f, 40.0f, 100.0f}) {
    auto e = makeEngine(kRate);
    trackParam(*e, 0, TrackParam::kPan).setValue(pan);
    trackParam(*e, 0, TrackParam::kWidth).setValue(0.0f);
    const Channels out = render(*e, 4800, 256, {{0, 36, 0.9f}});
    const double left = energy(out[0]), right = energy(out[1]);
    ASSERT_GT(left + right, 1.0) << pan;
    EXPECT_EQ(pan == 100.0f, left == 0.0) << pan;
    EXPECT_EQ(pan == -100.0f, right == 0.0) << pan;
    EXPECT_TRUE(pan < 0.0f ? left > 2.0 * right : pan > 0.0f ? right > 2.0 * left : out[0] == out[1]) << pan;
  }
}

// Modulation and voices are updated once every 64 frames, counted across the host's calls: the
// first pass at frame 0, so n frames hold ceil(n / 64) passes whatever the calls' sizes. The first
// LFO, running freely, counts them.
TEST(BandSynthRender, ControlPassesEvery64FramesAcrossHostCalls) {
  for (int frames : {1, 63, 64, 65, 1000}) {
    const double passes = std::ceil(frames / 64.0);
    for (int block : {1, 37, 64, 4096}) {
      auto e = makeEngine(kRate);
      render(*e, frames, block);
      EXPECT_NEAR(e->globalSources.lfos[0].phase, passes * 64.0 / kRate * 0.25, 1e-6) << frames << " " << block;
    }
  }
}

// A call of 0 frames renders nothing and leaves the control countdown alone.
TEST(BandSynthRender, AnEmptyCallRendersNothing) {
  auto e = makeEngine(kRate);
  render(*e, 100, 100, {{0, 36, 1.0f}});
  std::vector<float> buffer(18, 7.0f);
  float* outputs[18];
  for (int c = 0; c < 18; ++c) outputs[c] = &buffer[static_cast<size_t>(c)];
  const int64_t samples = e->sampleCounter;
  const int32_t countdown = e->controlCountdown;
  e->processBlock(outputs, 0, 18, 0);
  EXPECT_EQ(e->sampleCounter, samples);
  EXPECT_EQ(e->controlCountdown, countdown);
  EXPECT_EQ(buffer, std::vector<float>(18, 7.0f));
  // The call and frame counters wrap round after half a day instead of overflowing.
  e->renderedFrames = INT32_MAX;
  render(*e, 64, 64);
  EXPECT_EQ(e->renderedFrames, INT32_MIN + 63);
}

// Everything the audio thread does with notes, controllers, modulation, meters and effect
// slots (installed, fading, steady) runs without a single allocation.
TEST(BandSynthRender, NoAllocationWhileRendering) {
  auto e = makeEngine(kRate);
  for (int s = 0; s < BandSynth::kSlotCount; ++s) param(*e, BandSynth::slotParam(s, SlotParam::kPower)).setValue(1.0f);
  e->updateEffectTypes();
  e->meteringOn = true;
  for (int t = 0; t < 8; ++t) {
    trackParam(*e, t, TrackParam::kPolyphony).setValue(4.0f);
    trackParam(*e, t, TrackParam::kSend1).setValue(0.5f);
    trackParam(*e, t, TrackParam::kSend2).setValue(0.5f);
  }
  // A modulation row from the first LFO onto track 1's "Frequency", scaled by the mod wheel.
  param(*e, BandSynth::rowParam(0, ModRowParam::kSource)).setValue(ModSource::kLfo1);
  param(*e, BandSynth::rowParam(0, ModRowParam::kAmount)).setValue(0.5f);
  param(*e, BandSynth::rowParam(0, ModRowParam::kScaler)).setValue(ModScaler::kModWheel);
  param(*e, BandSynth::rowParam(0, ModRowParam::kTarget)).setValue(6.0f + 12.0f + 1.0f);

  std::vector<float> buffer(18 * 4096);
  float* outputs[18];
  for (int c = 0; c < 18; ++c) outputs[c] = buffer.data() + 4096 * c;
  AllocationCounter counter;
  for (int block = 0; block < 200; ++block) {
    const int note = 36 + block % 24;
    e->processNote(note, block % 3 == 0 ? 0.0f : 0.8f, 0, block % 2);
    e->setController(1001, static_cast<float>(block % 128) / 127.0f, block % 2);
    e->setController(0, static_cast<float>(block % 16) / 8.0f - 1.0f, 0);
    e->setPolyPressure(0.5f, note, -1);
    if (block == 60) synthParam(*e, SynthParam::kSynthTrack).setValue(2.0f);
    if (block == 120) param(*e, BandSynth::slotParam(1, SlotParam::kPower)).setValue(0.0f);
    const int frames = 1 + (block * 97) % 700;
    e->processBlock(outputs, frames, 18, 4096 - frames);
  }
  EXPECT_EQ(counter.count(), 0);
  EXPECT_GT(e->outputMeter[0], 0.0f);
}

// A new rate reaches the installed effects and the slots' own fade speed.
TEST(BandSynthRender, PrepareTellsTheEffectsTheRate) {
  auto e = makeEngine(kRate);
  PassThrough* fx = installPassThrough(*e, 2);
  ASSERT_NE(fx, nullptr);
  EXPECT_EQ(fx->rate, kRate);
  e->prepare(96000.0f, 2);
  EXPECT_EQ(fx->rate, 96000.0f);
  EXPECT_EQ(e->slot(2).sampleRate.load(), 96000.0f);
  e->prepare(0.0f, 2);  // refused
  EXPECT_EQ(e->sampleRate, 96000.0f);
}

TEST(BandSynthRender, DenormalsAreFlushedOnlyWhileRendering) {
  const unsigned before = _mm_getcsr();
  {
    const DenormalGuard guard;
    volatile float tiny = 1e-30f;
    EXPECT_EQ(tiny * 1e-10f, 0.0f);
  }
  EXPECT_EQ(_mm_getcsr(), before);
  auto e = makeEngine(kRate);
  render(*e, 64, 64, {{0, 36, 1.0f}});
  EXPECT_EQ(_mm_getcsr(), before);
}

// The meters follow at most nine pairs, however many channels the host gives.
TEST(BandSynthRender, MetersStayWithinTheirPairs) {
  auto e = makeEngine(kRate);
  e->meteringOn = true;
  trackParam(*e, 0, TrackParam::kOutput).setValue(8.0f);
  render(*e, 4096, 512, {{0, 36, 1.0f}}, 24);
  EXPECT_GT(e->outputMeter[16], 0.0f);
  EXPECT_EQ(e->outputMeter[0], 0.0f);
}

}  // namespace
