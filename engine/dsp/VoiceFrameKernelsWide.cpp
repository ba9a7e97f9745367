// The eight-lane instantiation of a drum voice's frame arithmetic; see VoiceBandSynthWide.cpp
// for why everything the kernels include comes first, under the default target.
#include <cstdint>

#include "engine/dsp/SimdLanes.h"
#include "engine/dsp/VoiceFrameKernels.h"
#include "engine/dsp/WideLanes.h"

#if OSKRA_HAVE_WIDE_LANES

#pragma GCC push_options
// Fused multiply-adds would round differently from the four-lane kernels.
#pragma GCC optimize("fp-contract=off")
#pragma GCC target("avx2")
#include "engine/dsp/VoiceFrameLanes.h"

const VoiceFrameKernels kWideVoiceFrameKernels = voiceframe::kernelsFor<WideLanes>();

#pragma GCC pop_options

#endif
