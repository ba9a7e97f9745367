#include <gtest/gtest.h>

#include <complex>
#include <cstring>
#include <vector>

#include "engine/dsp/LaneWidth.h"
#include "engine/voice/BandLayout.h"
#include "engine/voice/VoiceBandSynth.h"

namespace {

// A track's voices sit in rising lanes of one octet, with gaps and at both of its ends: the
// running sums add their states in voice order, bit for bit, at every width.
TEST(RunningSums, TrackOctetSumsInVoiceOrder) {
  BandLayout layout;
  layout.build(44100.0f);
  const int32_t n = layout.bandCount;
  const std::vector<std::vector<int32_t>> sets = {{8, 9, 11, 15}, {0, 7}, {16, 17, 18, 19, 20, 21, 22, 23}, {63}};
  for (int32_t width : {4, 8, 16}) {
    setLaneWidthLimit(width);
    for (const std::vector<int32_t>& lanes : sets) {
      const int32_t count = static_cast<int32_t>(lanes.size());
      VoiceBandSynth synth;
      synth.prepare(layout);
      std::vector<DrumVoice> voices(lanes.size());
      std::vector<DrumVoice*> pointers;
      uint32_t x = 5u;
      for (DrumVoice& voice : voices) {
        voice.sizeSpectra(n);
        voice.state = DrumVoice::kHeld;
        for (float* frame : voice.frames)
          for (int32_t i = 0; i < DrumVoice::kFrameStride; ++i) {
            x = x * 1664525u + 1013904223u;
            frame[i] = static_cast<float>(x >> 9) * 1e-7f;
          }
        voice.fillCount = DrumVoice::kFrameRing;
        pointers.push_back(&voice);
      }
      const std::vector<float> density(lanes.size(), 0.3f);
      const bool firstHop[8] = {true, true, true, true, true, true, true, true};
      for (int hop = 0; hop < 2; ++hop) {
        synth.laneHops(layout, pointers.data(), lanes.data(), density.data(), firstHop, count);
      }
      std::vector<std::complex<float>> total(static_cast<size_t>(n));
      synth.runningSums(lanes.data(), count, n, total.data());
      for (int32_t e = 0; e < n; ++e) {
        float sum[2] = {0.0f, 0.0f};
        float all[2] = {0.0f, 0.0f};
        for (int32_t lane : lanes) {
          const std::complex<float> z = synth.laneState(lane, e);
          sum[0] = sum[0] + z.real();
          sum[1] = sum[1] + z.imag();
          all[0] = all[0] + sum[0];
          all[1] = all[1] + sum[1];
        }
        const float want[2] = {all[0] + sum[0], all[1] + sum[1]};
        ASSERT_EQ(std::memcmp(&total[static_cast<size_t>(e)], want, sizeof want), 0)
            << "width " << width << " lanes from " << lanes[0] << " entry " << e;
      }
    }
  }
  setLaneWidthLimit(0);
}

}  // namespace
