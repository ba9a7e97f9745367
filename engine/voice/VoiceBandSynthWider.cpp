// The sixteen-lane instantiation of the voice pass's band arithmetic, compiled for AVX-512F
// alone; see the eight-lane one for why the includes come first.
#include <cstdint>

#include "engine/dsp/SimdLanes.h"
#include "engine/dsp/WideLanes.h"

#if OSKRA_HAVE_WIDE_LANES

#pragma GCC push_options
// Fused multiply-adds would round differently from the four-lane kernels.
#pragma GCC optimize("fp-contract=off")
#pragma GCC target("avx512f")
#include "engine/dsp/ComplexChainLanes.h"
#include "engine/voice/BandHopKernel.h"

void runBandHopSingleWider(const BandHopTables& tables, const BandHopSingle& work) {
  bandhop::runSingle<WiderLanes>(tables, work);
}

void runBandHopsWider(const BandHopTables& tables, const BandHopWork& work, const int32_t* groupLanes,
                      int32_t groupCount, uint64_t voiceLanes) {
  constexpr int32_t kEveryGroup = bandhop::kLanes / WiderLanes::kWidth;
  if (groupCount == 1) {
    bandhop::run<WiderLanes, 1>(tables, work, groupLanes, 1, voiceLanes);
  } else if (groupCount == kEveryGroup) {
    // Groups come in rising order without repeats: this many of them are every group.
    bandhop::run<WiderLanes, kEveryGroup>(tables, work, groupLanes, kEveryGroup, voiceLanes);
  } else {
    bandhop::run<WiderLanes>(tables, work, groupLanes, groupCount, voiceLanes);
  }
}

#pragma GCC pop_options

#endif
