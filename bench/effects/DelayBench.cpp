#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "effects/DelayLine.h"
#include "effects/MultiDelay.h"
#include "effects/SpectralDelay.h"
#include "engine/core/Lcg.h"
#include "platform/DenormalGuard.h"

// Costs of the delay primitives per sample, in 64-sample blocks at 48 kHz as the effects run
// them. Denormals are flushed as in the plug-in's processing call.
namespace {

constexpr int kBlock = 64;
constexpr float kRate = 48000.0f;

std::vector<float> testSignal(int n) {
  std::vector<float> v(n);
  uint32_t s = 1;
  for (float& x : v) {
    s = lcgStep(s);
    x = static_cast<float>(s >> 8) * (2.0f / 16777216.0f) - 1.0f;
  }
  return v;
}

// A 4.1 s line read by a head wobbling by +-3 ms, then written: one tap of the tempo delay.
void BM_DelayLineReadModulated(benchmark::State& state) {
  const DenormalGuard denormals;
  DelayLine line;
  line.init(static_cast<int>(4.1f * kRate));
  const std::vector<float> in = testSignal(kBlock);
  std::vector<float> out(kBlock);
  float phase = 0.0f;
  for (auto _ : state) {
    phase += 0.66f * kBlock / kRate;
    if (phase >= 1.0f) phase -= 1.0f;
    const float delay = 12000.0f + 0.003f * kRate * std::sin(6.2831853f * phase);
    line.readModulated(out.data(), kBlock, delay, nullptr, 0.0f);
    line.write(in.data(), kBlock);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_DelayLineReadModulated);

void BM_DelayLineAllpass(benchmark::State& state) {
  const DenormalGuard denormals;
  DelayLine line;
  line.init(static_cast<int>(0.012f * kRate));
  std::vector<float> buf = testSignal(kBlock);
  for (auto _ : state) {
    line.allpass(buf.data(), kBlock, line.length(), -0.618f, 0.0001f);
    benchmark::DoNotOptimize(buf.data());
  }
  state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_DelayLineAllpass);

// Per stereo frame: one sample of each channel.
void BM_DelayLineRotate(benchmark::State& state) {
  const DenormalGuard denormals;
  DelayLine line;
  line.init(static_cast<int>(0.01f * kRate));
  std::vector<float> a = testSignal(kBlock), b = testSignal(kBlock);
  float* pair[2] = {a.data(), b.data()};
  for (auto _ : state) {
    line.rotate(pair, kBlock, line.length(), 0.0001f);
    benchmark::DoNotOptimize(a.data());
    benchmark::DoNotOptimize(b.data());
  }
  state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_DelayLineRotate);

// A stereo pre-delay whose delay moves every 16 blocks, so a quarter of the time it crossfades.
void BM_MultiDelayStereo(benchmark::State& state) {
  const DenormalGuard denormals;
  MultiDelay d;
  d.init(static_cast<int>(0.3f * kRate) + 256, 2, 64);
  std::vector<float> l = testSignal(kBlock), r = testSignal(kBlock);
  std::vector<float> outL(kBlock), outR(kBlock);
  const float* in[2] = {l.data(), r.data()};
  float* out[2] = {outL.data(), outR.data()};
  int block = 0;
  for (auto _ : state) {
    d.write(in, kBlock);
    d.read(out, kBlock, 1000 + ((block++ / 16) % 4) * 500);
    benchmark::DoNotOptimize(outL.data());
    benchmark::DoNotOptimize(outR.data());
  }
  state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_MultiDelayStereo);

// The spring model: a 256-point spectral delay with a dispersive curve of 20 to 80 ms at 48 kHz.
// It runs once per stereo frame (on the sum of the two channels), so a frame costs one sample.
void BM_SpectralDelaySpring48k(benchmark::State& state) {
  const DenormalGuard denormals;
  constexpr int kSize = 256;
  std::vector<float> delay(kSize / 2), gain(kSize / 2);
  for (int i = 0; i < kSize / 2; ++i) {
    const float f = i * kRate / kSize;
    const float ms = f < 6000.0f ? 60.0f * std::exp(-std::fabs(6000.0f - f) / 1200.0f) + 20.0f
                                 : 50.0f / ((f - 4000.0f) / 2000.0f + 1.0f) + 4.0f;
    delay[i] = kRate / 64000.0f * ms;
    gain[i] = 1.0f / (1.0f + f / 8000.0f);
  }
  SpectralDelay d;
  d.init(kSize, 128);
  d.setDelays(delay.data(), gain.data(), kSize / 2);
  const std::vector<float> in = testSignal(kBlock);
  std::vector<float> out(kBlock);
  for (auto _ : state) {
    d.process(in.data(), out.data(), kBlock);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_SpectralDelaySpring48k);

}  // namespace
