#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "bench/engine/BenchScene.h"
#include "engine/BandSynth.h"
#include "engine/dsp/LaneWidth.h"

// The engine's cost per second of audio at 48 kHz, rendered in host blocks of 128 frames:
// no voice sounding with the effect slots as a fresh engine has them; one drum voice on one
// track; full load (eight tracks of eight sounding voices, retriggered in turn, every effect
// slot on); and the synth track holding an eight-note chord while the other tracks' voices
// ring out. The counter "realtime" is how many times faster than real
// time the engine renders.
namespace {

constexpr float kRate = 48000.0f;
constexpr int32_t kBlock = 128;
constexpr int32_t kSecond = 48000;

struct Rig {
  std::unique_ptr<BandSynth> engine = std::make_unique<BandSynth>();
  std::vector<std::vector<float>> buffers = std::vector<std::vector<float>>(18, std::vector<float>(kBlock));
  float* outputs[18] = {};

  explicit Rig(int32_t polyphony) {
    BandSynth& e = *engine;
    e.prepare(kRate, 2);
    configureBenchScene(e, polyphony);
    e.updateEffectTypes();
    for (int32_t c = 0; c < 18; ++c) outputs[c] = buffers[static_cast<size_t>(c)].data();
  }

  void block() { engine->processBlock(outputs, kBlock, 18, 0); }
};

void report(benchmark::State& state) {
  state.counters["realtime"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// Nothing plays: a fresh engine with its default slots (a send and a main-bus effect on).
// What is left is the effects' cost and the engine's bookkeeping.
void BM_RenderSilence(benchmark::State& state) {
  auto engine = std::make_unique<BandSynth>();
  engine->prepare(kRate, 2);
  engine->updateEffectTypes();
  std::vector<std::vector<float>> buffers(18, std::vector<float>(kBlock));
  float* outputs[18];
  for (int32_t c = 0; c < 18; ++c) outputs[c] = buffers[static_cast<size_t>(c)].data();
  for (auto _ : state) {
    for (int32_t f = 0; f < kSecond; f += kBlock) engine->processBlock(outputs, kBlock, 18, 0);
    benchmark::DoNotOptimize(buffers[0].data());
  }
  report(state);
}
BENCHMARK(BM_RenderSilence)->Unit(benchmark::kMillisecond);

void BM_RenderOneVoice(benchmark::State& state) {
  Rig rig(1);
  for (auto _ : state) {
    for (int32_t f = 0; f < kSecond; f += kBlock) {
      if (f % 24000 == 0) rig.engine->processNote(36, 0.9f, 0, 0);
      rig.block();
    }
    benchmark::DoNotOptimize(rig.buffers[0].data());
  }
  report(state);
}
BENCHMARK(BM_RenderOneVoice)->Unit(benchmark::kMillisecond);

void renderFullLoad(benchmark::State& state) {
  Rig rig(8);
  BandSynth& e = *rig.engine;
  for (int32_t v = 0; v < 8; ++v)
    for (int32_t t = 0; t < 8; ++t) e.processNote(36 + t + 12 * v, 0.5f + 0.05f * v, 0, 0);
  int32_t next = 0;
  for (auto _ : state) {
    for (int32_t f = 0; f < kSecond; f += kBlock) {
      // One new note per track every 16 blocks: each voice is stolen and restarted every
      // 128 blocks (0.34 s), so all 64 keep sounding.
      if ((f / kBlock) % 16 == 0) {
        for (int32_t t = 0; t < 8; ++t) e.processNote(36 + t + 12 * (next % 8), 0.7f, 0, 0);
        ++next;
      }
      rig.block();
    }
    benchmark::DoNotOptimize(rig.buffers[0].data());
  }
  int32_t sounding = 0;
  for (const DrumTrack& t : e.tracks) sounding += t.soundingVoices.load();
  state.counters["voices"] = sounding;
  report(state);
}

void BM_RenderFullLoad(benchmark::State& state) { renderFullLoad(state); }
BENCHMARK(BM_RenderFullLoad)->Unit(benchmark::kMillisecond);

// The same with the lane width limited to the argument (4 or 8): what a processor without the
// widest vector instructions gets.
void BM_RenderFullLoadNarrow(benchmark::State& state) {
  setLaneWidthLimit(static_cast<int32_t>(state.range(0)));
  renderFullLoad(state);
  setLaneWidthLimit(0);
}
BENCHMARK(BM_RenderFullLoadNarrow)->Unit(benchmark::kMillisecond)->Arg(4)->Arg(8);

void BM_RenderSynthChord(benchmark::State& state) {
  Rig rig(8);
  BandSynth& e = *rig.engine;
  Param& synthTrack = e.params[static_cast<size_t>(BandSynth::synthParam(SynthParam::kSynthTrack))];
  auto startDrums = [&] {
    synthTrack.setValue(-1.0f);
    for (int32_t t = 0; t < 7; ++t)
      for (int32_t v = 0; v < 8; ++v) e.processNote(36 + t + 12 * v, 0.6f, 0, 0);
    synthTrack.setValue(7.0f);
  };
  startDrums();
  const int32_t chord[8] = {48, 52, 55, 59, 60, 64, 67, 71};
  for (int32_t note : chord) e.processNote(note, 0.8f, 0, 0);
  for (auto _ : state) {
    startDrums();
    for (int32_t f = 0; f < kSecond; f += kBlock) rig.block();
    benchmark::DoNotOptimize(rig.buffers[0].data());
  }
  int32_t sounding = 0;
  for (const DrumTrack& t : e.tracks) sounding += t.soundingVoices.load();
  state.counters["voices"] = sounding;
  report(state);
}
BENCHMARK(BM_RenderSynthChord)->Unit(benchmark::kMillisecond);

}  // namespace
