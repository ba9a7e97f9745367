#include <gtest/gtest.h>

#include <algorithm>
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

// A voice alone (its entries side by side) gives what its lane gives beside another voice:
// every rate's layout, four, eight and sixteen lanes (as far as the processor has them), a
// first hop and later ones, bands without amplitude (an exact zero may differ in sign only),
// tonal peaks that move between bins, and a voice that goes from alone to beside another and
// back.
TEST(VoiceLanes, VoiceAloneMatchesItsLane) {
  for (float rate : {8000.0f, 22050.0f, 48000.0f, 96000.0f, 192000.0f}) {
    BandLayout layout;
    layout.build(rate);
    const int32_t n = layout.bandCount;
    for (int32_t width : {4, 8, 16}) {
      setLaneWidthLimit(width);
      VoiceBandSynth alone;
      VoiceBandSynth paired;
      VoiceBandSynth mixed;
      alone.prepare(layout);
      paired.prepare(layout);
      mixed.prepare(layout);
      DrumVoice a;
      DrumVoice b;
      DrumVoice c;
      DrumVoice other;
      DrumVoice otherInMixed;
      for (DrumVoice* voice : {&a, &b, &c, &other, &otherInMixed}) {
        voice->sizeSpectra(n);
        voice->seed = voice == &other || voice == &otherInMixed ? 7u : 3u;
        voice->state = DrumVoice::kHeld;
      }
      uint32_t x = 5u;
      for (int32_t hop = 0; hop < 6; ++hop) {
        for (DrumVoice* voice : {&a, &b, &c, &other, &otherInMixed}) {
          do {
            float* frame = voice->frames[voice->ringIndex];
            for (int32_t i = 0; i < DrumVoice::kFrameStride; ++i) {
              x = x * 1664525u + 1013904223u;
              // Peaky and partly silent: every fifth band and the top few are exactly 0.
              const bool silent = (i % 5 == 2 && voice != &other && voice != &otherInMixed) || i > 76;
              frame[i] = silent ? 0.0f : static_cast<float>(x >> 9) * 1e-7f * (i % 7 == 0 ? 30.0f : 1.0f);
            }
            voice->fillCount = std::min(voice->fillCount + 1, DrumVoice::kFrameRing);
            voice->ringIndex = (voice->ringIndex + 1) & (DrumVoice::kFrameRing - 1);
          } while (voice->fillCount < 3);
        }
        for (DrumVoice* copy : {&b, &c}) std::copy(std::begin(a.frames[0]), std::end(a.frames[3]), &copy->frames[0][0]);
        std::copy(std::begin(other.frames[0]), std::end(other.frames[3]), &otherInMixed.frames[0][0]);
        const bool first = hop == 0;
        DrumVoice* one[1] = {&a};
        const int32_t oneLane[1] = {9};
        const float density[2] = {0.3f, -0.6f};
        const bool firstHop[2] = {first, first};
        alone.laneHops(layout, one, oneLane, density, firstHop, 1);
        DrumVoice* two[2] = {&b, &other};
        const int32_t twoLanes[2] = {9, 10};
        paired.laneHops(layout, two, twoLanes, density, firstHop, 2);
        // Alone, then beside the other voice for two hops, then alone again.
        DrumVoice* some[2] = {&c, &otherInMixed};
        mixed.laneHops(layout, some, twoLanes, density, firstHop, hop == 2 || hop == 3 ? 2 : 1);
        for (int32_t e = 0; e < n; ++e) {
          ASSERT_EQ(mixed.laneState(9, e), paired.laneState(9, e)) << "mixed, hop " << hop << " entry " << e;
          ASSERT_EQ(alone.laneState(9, e), paired.laneState(9, e))
              << "rate " << rate << " width " << width << " hop " << hop << " entry " << e;
          ASSERT_EQ(alone.laneNoise(9, e), paired.laneNoise(9, e)) << "entry " << e;
        }
      }
    }
  }
  setLaneWidthLimit(0);
}

// A full house (a voice in every lane, so every group of every width is worked on) gives each
// voice what it gets in a hop over half the lanes: every width, first and later hops, through
// the peak moves.
TEST(VoiceLanes, FullHouseMatchesHalfHouses) {
  BandLayout layout;
  layout.build(48000.0f);
  const int32_t n = layout.bandCount;
  constexpr int32_t kVoices = VoiceBandSynth::kMaxVoices;
  constexpr int32_t kHalf = kVoices / 2;
  for (int32_t width : {4, 8, 16}) {
    setLaneWidthLimit(width);
    VoiceBandSynth full;
    VoiceBandSynth halves[2];
    full.prepare(layout);
    for (VoiceBandSynth& h : halves) h.prepare(layout);
    std::vector<DrumVoice> inFull(kVoices);
    std::vector<DrumVoice> inHalves(kVoices);
    for (int32_t v = 0; v < kVoices; ++v) {
      for (auto* voice : {&inFull[static_cast<size_t>(v)], &inHalves[static_cast<size_t>(v)]}) {
        voice->sizeSpectra(n);
        voice->seed = 40u + static_cast<uint32_t>(v);
        voice->state = DrumVoice::kHeld;
      }
    }
    int32_t lanes[kVoices];
    float density[kVoices];
    for (int32_t v = 0; v < kVoices; ++v) {
      lanes[v] = v;
      density[v] = -0.9f + 0.028f * static_cast<float>(v);
    }
    uint32_t x = 17u;
    for (int32_t hop = 0; hop < 4; ++hop) {
      DrumVoice* fullVoices[kVoices];
      DrumVoice* halfVoices[kVoices];
      for (int32_t v = 0; v < kVoices; ++v) {
        DrumVoice& f = inFull[static_cast<size_t>(v)];
        DrumVoice& h = inHalves[static_cast<size_t>(v)];
        do {
          float* frame = f.frames[f.ringIndex];
          for (int32_t i = 0; i < DrumVoice::kFrameStride; ++i) {
            x = x * 1664525u + 1013904223u;
            // Peaky, so that tonal peaks move between the high bins.
            frame[i] = static_cast<float>(x >> 9) * 1e-7f * (i % 9 == v % 9 ? 40.0f : 1.0f);
          }
          std::copy(frame, frame + DrumVoice::kFrameStride, h.frames[h.ringIndex]);
          for (DrumVoice* voice : {&f, &h}) {
            voice->fillCount = std::min(voice->fillCount + 1, DrumVoice::kFrameRing);
            voice->ringIndex = (voice->ringIndex + 1) & (DrumVoice::kFrameRing - 1);
          }
        } while (f.fillCount < 3);
        fullVoices[v] = &f;
        halfVoices[v] = &h;
      }
      bool firstHop[kVoices];
      std::fill(firstHop, firstHop + kVoices, hop == 0);
      full.laneHops(layout, fullVoices, lanes, density, firstHop, kVoices);
      for (int32_t k = 0; k < 2; ++k) {
        halves[k].laneHops(layout, halfVoices + k * kHalf, lanes + k * kHalf, density + k * kHalf, firstHop, kHalf);
      }
      for (int32_t l = 0; l < kVoices; ++l) {
        const VoiceBandSynth& half = halves[l / kHalf];
        for (int32_t e = 0; e < n; ++e) {
          ASSERT_EQ(full.laneState(l, e), half.laneState(l, e)) << "width " << width << " hop " << hop << " lane " << l
                                                                  << " entry " << e;
          ASSERT_EQ(full.laneNoise(l, e), half.laneNoise(l, e)) << "width " << width << " lane " << l;
        }
      }
    }
  }
  setLaneWidthLimit(0);
}

}  // namespace
