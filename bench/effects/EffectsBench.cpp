#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "effects/EffectRegistry.h"
#include "effects/FxBase.h"
#include "engine/core/Lcg.h"
#include "engine/core/Param.h"
#include "platform/DenormalGuard.h"

// Cost of each effect per stereo frame at 48 kHz with its default parameters, in the
// 64-frame blocks the engine runs, with denormals flushed as the plug-in's audio thread has
// them.
namespace {

constexpr int kBlock = 64;
constexpr int kBlocks = 64;  // a 4096-frame stretch of noise, looped
constexpr int kWarmUpBlocks = 3 * 48000 / kBlock;

void runEffect(benchmark::State& state, bool mainList, int index) {
  const DenormalGuard denormals;
  const EffectRegistry& reg = getEffectRegistry();
  FxBase* proto = (mainList ? reg.mainList : reg.sendList)[static_cast<size_t>(index)];
  std::unique_ptr<FxBase> fx(proto->create());
  Param params[2];
  fx->setup(params);
  fx->setSampleRate(48000.0f);
  fx->setTempo(120.0f);
  fx->reset();

  std::vector<float> l(kBlock * kBlocks), r(kBlock * kBlocks), outL(kBlock), outR(kBlock);
  uint32_t x = 12345u;
  for (size_t i = 0; i < l.size(); ++i) {
    x = lcgStep(x);
    l[i] = static_cast<float>(static_cast<int32_t>(x)) * 2.3e-10f;
    x = lcgStep(x);
    r[i] = static_cast<float>(static_cast<int32_t>(x)) * 2.3e-10f;
  }
  float* out[2] = {outL.data(), outR.data()};
  // Three seconds before timing: the delay lines are filled and touched, and whatever glides
  // to its setting (delays, loop gains, echo length) has arrived, so the steady cost is timed.
  for (int i = 0; i < kWarmUpBlocks; ++i) {
    const float* in[2] = {l.data() + (i % kBlocks) * kBlock, r.data() + (i % kBlocks) * kBlock};
    fx->process(in, out, kBlock);
  }
  int block = 0;
  for (auto _ : state) {
    const float* in[2] = {l.data() + block * kBlock, r.data() + block * kBlock};
    fx->process(in, out, kBlock);
    benchmark::DoNotOptimize(outL.data());
    benchmark::DoNotOptimize(outR.data());
    benchmark::ClobberMemory();
    block = (block + 1) % kBlocks;
  }
  state.SetItemsProcessed(state.iterations() * kBlock);
  // Seconds per stereo frame, shown in ns.
  state.counters["per_frame"] =
      benchmark::Counter(static_cast<double>(kBlock), benchmark::Counter::kIsIterationInvariantRate |
                                                          benchmark::Counter::kInvert);
  state.SetLabel(proto->name());
}

void registerAll() {
  const EffectRegistry& reg = getEffectRegistry();
  for (int i = 0; i < static_cast<int>(reg.mainList.size()); ++i)
    benchmark::RegisterBenchmark((std::string("BM_Effect/main/") + std::to_string(i)).c_str(),
                                 [i](benchmark::State& s) { runEffect(s, true, i); });
  for (int i = 0; i < static_cast<int>(reg.sendList.size()); ++i)
    benchmark::RegisterBenchmark((std::string("BM_Effect/send/") + std::to_string(i)).c_str(),
                                 [i](benchmark::State& s) { runEffect(s, false, i); });
}

const int gRegistered = (registerAll(), 0);

}  // namespace
