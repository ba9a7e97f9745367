// The eight-lane instantiation of the voice pass's band arithmetic. Everything the kernel
// headers include is included first, under the default target, so that only the kernel's own
// templates are compiled for AVX2: an inline function shared with the rest of the program must
// never be emitted here with wide instructions.
#include <cstdint>

#include "engine/SimdLanes.h"
#include "engine/WideLanes.h"

#if OSKRA_HAVE_WIDE_LANES

#pragma GCC push_options
// Fused multiply-adds would round differently from the four-lane kernels.
#pragma GCC optimize("fp-contract=off")
#pragma GCC target("avx2")
#include "engine/BandHopKernel.h"
#include "engine/ComplexChainLanes.h"

void runBandHopsWide(const BandHopTables& tables, const BandHopWork& work, const int32_t* groupLanes, int32_t groupCount,
                     uint64_t voiceLanes) {
  if (groupCount == 1) {
    bandhop::run<WideLanes, 1>(tables, work, groupLanes, 1, voiceLanes);
  } else {
    bandhop::run<WideLanes>(tables, work, groupLanes, groupCount, voiceLanes);
  }
}

#pragma GCC pop_options

#endif
