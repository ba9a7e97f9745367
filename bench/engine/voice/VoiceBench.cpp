#include <benchmark/benchmark.h>

#include <complex>
#include <vector>

#include "engine/blob/Blob.h"
#include "engine/dsp/SpectralSynth.h"
#include "engine/voice/DrumVoiceSynth.h"

// One drum voice frame: the band amplitudes of a sounding voice with the reference model of the
// argument (-1: none, as a fresh track has), as the voice pass renders at least once per
// 64-frame control pass. The tail frames (past the blob's end) are cheaper; this keeps the
// voice inside the blob by restarting it.
static void BM_DrumVoiceFrame(benchmark::State& state) {
  const int32_t modelIndex = static_cast<int32_t>(state.range(0));
  Blob a;
  Blob b;
  a.clear();
  b.clear();
  DrumVoiceSynth voice;
  voice.setModel(modelIndex);
  voice.transform = 0.3f;
  voice.contrast = 0.4f;
  voice.start(&a, &b, 0.3f, 0.9f, 1.0f);
  std::vector<float> out(80);
  for (auto _ : state) {
    if (voice.elapsed > 90.0f) voice.start(&a, &b, 0.3f, 0.9f, 1.0f);
    voice.advance(1.0f, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DrumVoiceFrame)->Arg(2)->Arg(-1);

// A track synthesiser's work per control pass: 40 narrow bands and 80 bins added, one hop
// synthesised and 64 frames read through the shelf.
static void BM_SpectralSynthHop(benchmark::State& state) {
  SpectralSynth synth(256, 1, 64);
  synth.setSampleRate(48000.0f, 2.0f, 10.0f);
  std::vector<int32_t> bins(40);
  for (int k = 0; k < 40; ++k) bins[size_t(k)] = k / 2;
  std::vector<float> w0(40, 0.6f), w1(40, 0.4f), out(64);
  std::vector<std::complex<float>> values(120, {0.01f, 0.02f});
  const std::complex<float>* bandValues[1] = {values.data()};
  float* channel = out.data();
  bool silent = false;
  for (auto _ : state) {
    synth.addBands(bins.data(), w0.data(), w1.data(), bandValues, 40, 1);
    synth.addBins(bandValues, 24, 80, 1);
    synth.synthesizeFrame(1);
    synth.read(&channel, 0, 64, 1, &silent);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SpectralSynthHop);
