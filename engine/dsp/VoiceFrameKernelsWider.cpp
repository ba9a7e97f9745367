// The sixteen-lane instantiation of a drum voice's frame arithmetic, compiled for AVX-512F
// alone; see VoiceBandSynthWide.cpp for why the includes come first.
#include <cstdint>

#include "engine/dsp/SimdLanes.h"
#include "engine/dsp/VoiceFrameKernels.h"
#include "engine/dsp/WideLanes.h"

#if OSKRA_HAVE_WIDE_LANES

#pragma GCC push_options
// Fused multiply-adds would round differently from the four-lane kernels.
#pragma GCC optimize("fp-contract=off")
#pragma GCC target("avx512f")
#include "engine/dsp/VoiceFrameLanes.h"

const VoiceFrameKernels kWiderVoiceFrameKernels = voiceframe::kernelsFor<WiderLanes>();

#pragma GCC pop_options

#endif
