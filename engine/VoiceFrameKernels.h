#pragma once

#include <cstdint>

// The parts of a drum voice's band frame that run across columns or bands in lanes, at the lane
// width in use (LaneWidth.h); VoiceFrameLanes.h holds their arithmetic. Every width gives the
// same bits.

namespace voiceframe {

// The voice's mesh.
constexpr int32_t kCurves = 7;           // time curves
constexpr int32_t kFrequencyRows = 6;    // frequency curves
constexpr int32_t kCurveSpacing = 8;     // mesh columns from one time curve to the next
constexpr int32_t kMixedColumns = (kCurves - 1) * kCurveSpacing;  // 48: all but the top column

}  // namespace voiceframe

// The kernels of one lane width.
struct VoiceFrameKernels {
  // columns[j] for the 48 mesh columns below the top one: the frequency of column j among the
  // frequency rows (rowsA / rowsB: the six rows of blobs A and B, mixed by x), at the row
  // position reached by the two time curves around the column (reached: seven positions).
  void (*columnFrequencies)(const float* const* rowsA, const float* const* rowsB, const float* reached, float x,
                            float* columns);
};

// The kernels for the lane width in use (LaneWidth.h).
const VoiceFrameKernels& voiceFrameKernels();
#if defined(__x86_64__) && !defined(OSKRA_SCALAR_LANES)
extern const VoiceFrameKernels kWideVoiceFrameKernels;
extern const VoiceFrameKernels kWiderVoiceFrameKernels;
#endif
