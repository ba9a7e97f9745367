#include <benchmark/benchmark.h>

#include "engine/core/Param.h"

// The mappings run for every modulated parameter in every control pass.
static void BM_ParamModulationPass(benchmark::State& state) {
  Param params[4];
  params[0].init(Param::kLinear, -100, 100, 0, nullptr, "Pan", 0);
  params[1].init(Param::kPower, 0, 4, 2, nullptr, "Amp", 1);
  params[2].init(Param::kExponential, 0.125f, 8, 0, nullptr, "Timescale", 1);
  params[3].init(Param::kStepped, -24, 24, 0, nullptr, "Shift", 0);
  float offset = 0.001f;
  for (auto _ : state) {
    for (Param& p : params) {
      p.clearModulation();
      p.addGlobalModulation(offset);
      p.addVoiceModulation(offset);
      benchmark::DoNotOptimize(p.modulatedValue);
    }
    offset = offset > 0.5f ? 0.001f : offset * 1.01f;
  }
  state.SetItemsProcessed(state.iterations() * 4);
}
BENCHMARK(BM_ParamModulationPass);
