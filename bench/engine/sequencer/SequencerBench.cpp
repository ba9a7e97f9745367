#include <benchmark/benchmark.h>

#include "engine/core/PointCurve.h"
#include "engine/sequencer/Sequencer.h"

// What the block processing spends on the sequencer per 64-frame sub-block: one advance and a
// poll of the lanes it reports, with every lane busy and all humanising on.
static void BM_SequencerSubBlock(benchmark::State& state) {
  Sequencer s(8, 16, 32);
  s.params[Sequencer::kBpm].setValue(174.0f);
  s.params[Sequencer::kSwing].setValue(20.0f);
  s.params[Sequencer::kLooseTime].setValue(40.0f);
  s.params[Sequencer::kLooseVelo].setValue(40.0f);
  for (int lane = 0; lane < 8; ++lane) {
    for (int i = 0; i < 32; ++i) s.addNote(lane, i * 512 + lane * 16, 256, 100);
  }
  const double dt = 64.0 / 48000.0;
  int events = 0;
  for (auto _ : state) {
    const int last = s.advance(dt);
    for (int lane = 0; lane <= last; ++lane) events += s.pollLane(lane) >= 0;
    benchmark::DoNotOptimize(events);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SequencerSubBlock);

// An LFO shape of 64 points evaluated once per control pass.
static void BM_PointCurveEvaluate64(benchmark::State& state) {
  PointCurve c(64);
  c.loopMode = 1;
  for (int i = 1; i < 64; ++i) c.insertPoint({static_cast<float>(i) / 64.0f, (i % 3) * 0.4f, 0.3f});
  float t = 0.0f;
  for (auto _ : state) {
    float y = 0.0f;
    benchmark::DoNotOptimize(c.evaluate(t, &y));
    benchmark::DoNotOptimize(y);
    t += 0.0137f;
    if (t > 1.0f) t -= 1.0f;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PointCurveEvaluate64);
