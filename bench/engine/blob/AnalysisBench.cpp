#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "engine/blob/AudioFileLoader.h"
#include "engine/blob/Blob.h"
#include "engine/core/Lcg.h"

// What a sound import costs: the analysis of a one-second drum hit, and of the same hit
// followed by ten minutes of quiet noise, next to decoding that long file. Only the start of a
// hit can reach a blob, so the long file should cost its decoding and little more.

namespace {

constexpr int32_t kRate = 44100;
constexpr int32_t kTailSeconds = 600;

// A tom-like hit: a falling sine under an exponential decay, with a burst of noise at the start.
std::vector<float> drumHit() {
  std::vector<float> x(kRate);
  double phase = 0.0;
  uint32_t noise = 1u;
  for (size_t n = 0; n < x.size(); ++n) {
    const double t = static_cast<double>(n) / kRate;
    noise = lcgStep(noise);
    const double burst = static_cast<int32_t>(noise) * (1.0 / 2147483648.0) * std::exp(-t / 0.02);
    x[n] = static_cast<float>(0.7 * std::sin(phase) * std::exp(-t / 0.3) + 0.2 * burst);
    phase += 6.283185307179586 * (90.0 + 40.0 * std::exp(-t / 0.08)) / kRate;
  }
  return x;
}

// The hit, then noise at -80 dB.
std::vector<float> hitWithTail() {
  std::vector<float> x = drumHit();
  uint32_t noise = 7u;
  x.resize(x.size() + static_cast<size_t>(kTailSeconds) * kRate);
  for (size_t n = static_cast<size_t>(kRate); n < x.size(); ++n) {
    noise = lcgStep(noise);
    x[n] = static_cast<float>(static_cast<int32_t>(noise) * (1e-4 / 2147483648.0));
  }
  return x;
}

// A 16-bit mono WAV file, written by hand so the benchmark needs no audio library.
std::string writeWav(const std::vector<float>& x) {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("oskra_analysis_bench_" + std::to_string(::getpid()) + ".wav"))
          .string();
  std::ofstream out(path, std::ios::binary);
  auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  const uint32_t dataBytes = static_cast<uint32_t>(x.size() * 2);
  out.write("RIFF", 4);
  u32(36 + dataBytes);
  out.write("WAVEfmt ", 8);
  u32(16);
  u16(1);
  u16(1);
  u32(kRate);
  u32(kRate * 2);
  u16(2);
  u16(16);
  out.write("data", 4);
  u32(dataBytes);
  std::vector<int16_t> pcm(x.size());
  for (size_t n = 0; n < x.size(); ++n)
    pcm[n] = static_cast<int16_t>(std::lround(std::clamp(x[n], -1.0f, 1.0f) * 32767.0f));
  out.write(reinterpret_cast<const char*>(pcm.data()), static_cast<std::streamsize>(pcm.size() * 2));
  return path;
}

void analyse(benchmark::State& state, const std::vector<float>& x) {
  for (auto _ : state) {
    Blob blob;
    benchmark::DoNotOptimize(blob.analyze(x, static_cast<float>(kRate), true, 0));
    benchmark::DoNotOptimize(blob.gridA[0].data());
  }
}

void BM_AnalyzeHit(benchmark::State& state) { analyse(state, drumHit()); }

void BM_AnalyzeHitWithLongTail(benchmark::State& state) { analyse(state, hitWithTail()); }

// Decoding alone (range 0) or decoding and analysing (range 1) the long file.
void BM_ImportLongFile(benchmark::State& state) {
  const std::string path = writeWav(hitWithTail());
  for (auto _ : state) {
    float rate = 0.0f;
    const std::vector<float> x = LoadAudioFileMono(path.c_str(), &rate, true, nullptr);
    if (state.range(0) != 0) {
      Blob blob;
      benchmark::DoNotOptimize(blob.analyze(x, rate, true, 0));
    }
    benchmark::DoNotOptimize(x.data());
  }
  std::remove(path.c_str());
}

}  // namespace

BENCHMARK(BM_AnalyzeHit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnalyzeHitWithLongTail)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImportLongFile)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
