#include "engine/VoiceFrameKernels.h"

#include "engine/LaneWidth.h"
#include "engine/SimdLanes.h"
#include "engine/VoiceFrameLanes.h"
#include "engine/WideLanes.h"

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
