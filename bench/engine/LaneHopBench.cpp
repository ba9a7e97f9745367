#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "engine/dsp/LaneWidth.h"
#include "engine/voice/BandLayout.h"
#include "engine/voice/DrumVoice.h"
#include "engine/voice/VoiceBandSynth.h"

// One hop of the voice pass for a number of sounding drum voices (the argument), each in its
// own lane, at the widest lanes the processor has: the band hop kernel with its interleaving,
// without the frames. The time per voice shows how the kernel's cost grows with its lanes.
namespace {

void BM_LaneHops(benchmark::State& state) {
  const int32_t count = static_cast<int32_t>(state.range(0));
  BandLayout layout;
  layout.build(48000.0f);
  const int32_t n = layout.bandCount;
  VoiceBandSynth synth;
  synth.prepare(layout);
  std::vector<DrumVoice> voices(static_cast<size_t>(count));
  std::vector<DrumVoice*> pointers;
  std::vector<int32_t> lanes;
  std::vector<float> density;
  uint32_t x = 17u;
  for (int32_t v = 0; v < count; ++v) {
    DrumVoice& voice = voices[static_cast<size_t>(v)];
    voice.sizeSpectra(n);
    voice.seed = 40u + static_cast<uint32_t>(v);
    voice.state = DrumVoice::kHeld;
    for (auto& frame : voice.frames) {
      for (float& value : frame) {
        x = x * 1664525u + 1013904223u;
        value = static_cast<float>(x >> 9) * 1e-7f;
      }
    }
    voice.fillCount = DrumVoice::kFrameRing;
    pointers.push_back(&voice);
    lanes.push_back(v);
    density.push_back(-0.5f + 0.01f * static_cast<float>(v));
  }
  std::vector<char> firstHop(static_cast<size_t>(count), 0);
  for (auto _ : state) {
    for (DrumVoice& voice : voices) voice.ringIndex = (voice.ringIndex + 1) & (DrumVoice::kFrameRing - 1);
    synth.laneHops(layout, pointers.data(), lanes.data(), density.data(), reinterpret_cast<const bool*>(firstHop.data()),
                   count);
    benchmark::ClobberMemory();
  }
  state.counters["perVoice"] = benchmark::Counter(static_cast<double>(state.iterations()) * count,
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_LaneHops)->Arg(16)->Arg(32)->Arg(48)->Arg(64);

}  // namespace
