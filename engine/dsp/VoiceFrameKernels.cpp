#include "engine/dsp/VoiceFrameKernels.h"

#include "engine/dsp/LaneWidth.h"
#include "engine/dsp/SimdLanes.h"
#include "engine/dsp/VoiceFrameLanes.h"
#include "engine/dsp/WideLanes.h"

namespace {

constexpr VoiceFrameKernels kFourLaneKernels = voiceframe::kernelsFor<Lanes>();

}  // namespace

const VoiceFrameKernels& voiceFrameKernels() {
#if OSKRA_HAVE_WIDE_LANES
  const int32_t width = laneWidth();
  if (width == WiderLanes::kWidth) return kWiderVoiceFrameKernels;
  if (width == WideLanes::kWidth) return kWideVoiceFrameKernels;
#endif
  return kFourLaneKernels;
}
