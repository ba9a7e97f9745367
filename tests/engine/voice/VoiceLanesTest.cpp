#include <gtest/gtest.h>

#include <complex>
#include <cstring>
#include <vector>

#include "engine/dsp/LaneWidth.h"
#include "engine/voice/BandLayout.h"
#include "engine/voice/VoiceBandSynth.h"

namespace {

// Voices that keep their states in lanes across hops give what hops with the states in the
// voices give: through skipped hops, cleared and restarted voices, a voice sounding without a
// hop next to ones that have one, and every width.
TEST(VoiceLanes, KeptStatesMatchStatesInTheVoices) {
  BandLayout layout;
  layout.build(48000.0f);
  const int32_t n = layout.bandCount;
  constexpr int kVoices = 10;
  const int32_t lanes[kVoices] = {0, 3, 5, 17, 18, 30, 31, 40, 62, 63};
  for (int32_t width : {4, 8, 16}) {
    setLaneWidthLimit(width);
    VoiceBandSynth kept;
    VoiceBandSynth plain;
    kept.prepare(layout);
    plain.prepare(layout);
    std::vector<DrumVoice> a(kVoices);
    std::vector<DrumVoice> b(kVoices);
    for (int v = 0; v < kVoices; ++v) {
      for (auto* voice : {&a[v], &b[v]}) {
        voice->sizeSpectra(n);
        voice->seed = 100u + static_cast<uint32_t>(v);
        voice->state = DrumVoice::kHeld;
      }
    }
    uint32_t x = 9u;
    bool first[kVoices];
    std::fill(first, first + kVoices, true);
    for (int hop = 0; hop < 12; ++hop) {
      if (hop == 5) {
        a[2].goIdle();  // ends, and comes back two hops later as a new note
        b[2].goIdle();
      }
      if (hop == 7) {
        a[2].state = b[2].state = DrumVoice::kHeld;
        first[2] = true;
        a[6].clearSpectra();
        b[6].clearSpectra();
      }
      DrumVoice* withA[kVoices];
      DrumVoice* withB[kVoices];
      int32_t laneOf[kVoices];
      float density[kVoices];
      bool firstHop[kVoices];
      int count = 0;
      for (int v = 0; v < kVoices; ++v) {
        if (a[v].state == DrumVoice::kIdle) continue;
        // As the voice pass renders: a new frame, three for a new note.
        do {
          for (auto* voice : {&a[v], &b[v]}) {
            float* frame = voice->frames[voice->ringIndex];
            uint32_t y = x;
            for (int i = 0; i < DrumVoice::kFrameStride; ++i) {
              y = y * 1664525u + 1013904223u;
              frame[i] = static_cast<float>(y >> 9) * 1e-7f;
            }
            voice->fillCount = std::min(voice->fillCount + 1, DrumVoice::kFrameRing);
            voice->ringIndex = (voice->ringIndex + 1) & (DrumVoice::kFrameRing - 1);
          }
          x = x * 22695477u + 1u;
        } while (a[v].fillCount < 3);
        // Voice 4 sounds on without hops every third hop (as on the synth track).
        if (v == 4 && hop % 3 == 1) continue;
        withA[count] = &a[v];
        withB[count] = &b[v];
        laneOf[count] = lanes[v];
        density[count] = -0.8f + 0.17f * static_cast<float>(v);
        firstHop[count] = first[v];
        first[v] = false;
        ++count;
      }
      kept.laneHops(layout, withA, laneOf, density, firstHop, count);
      plain.drumHops(layout, withB, density, firstHop, count);
      std::vector<std::complex<float>> total(static_cast<size_t>(n));
      kept.runningSums(laneOf, count, n, total.data());
      for (int32_t e = 0; e < n; ++e) {
        std::complex<float> sum = 0.0f;
        std::complex<float> all = 0.0f;
        for (int v = 0; v < count; ++v) {
          sum = {sum.real() + withB[v]->stateRe[e], sum.imag() + withB[v]->stateIm[e]};
          all = {all.real() + sum.real(), all.imag() + sum.imag()};
        }
        const std::complex<float> want = {all.real() + sum.real(), all.imag() + sum.imag()};
        ASSERT_EQ(std::memcmp(&total[static_cast<size_t>(e)], &want, sizeof want), 0)
            << "width " << width << " hop " << hop << " entry " << e;
      }
    }
    EXPECT_NE(a[0].stateRe, b[0].stateRe);  // the kept voices' own vectors are left alone
  }
  setLaneWidthLimit(0);
}

}  // namespace
