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
constexpr int32_t kBands = 80;
constexpr float kDensityBaseline = 0.25220588f;  // the column density of an even blob

}  // namespace voiceframe

// The walk of a knot integral (KnotIntegrator.h) over one knot list laid out ahead: segment
// s (-1 .. n - 1) at index s + 1. Every field is formed by exactly the operations the walk
// uses, so F comes out bit for bit the same.
struct alignas(64) KnotSegments {
  // So many knots give segments that fit a lane table of 64 values.
  static constexpr int32_t kMaxKnots = 63;
  // Room past the last segment, where whole lane groups (up to 16 lanes) run on.
  static constexpr int32_t kRoom = 112;
  float width[kRoom];  // one more than the segments: the last segment's next is itself
  float start[kRoom];
  float base[kRoom];
  float a[kRoom];
  float b[kRoom];
  float d[kRoom];
  float mean[kRoom];
};

// The kernels of one lane width.
struct VoiceFrameKernels {
  // columns[j] for the 48 mesh columns below the top one: the frequency of column j among the
  // frequency rows (rowsA / rowsB: the six rows of blobs A and B, mixed by x), at the row
  // position reached by the two time curves around the column (reached: seven positions).
  void (*columnFrequencies)(const float* const* rowsA, const float* const* rowsB, const float* reached, float x,
                            float* columns);
  // Loudness in time for the bands first .. end - 1 (at most 80), shifted down by s: the row
  // rates (seven) of the time curves around each band's column position, times the band's
  // column density above the baseline. columns holds the 49 column frequencies and a sentinel
  // above them. Writes out[band] and, when scratch is given, scratch[band] = the density above
  // the baseline; density may be out itself.
  void (*bandAmplitudes)(const float* columns, const float* rates, float s, int32_t first, int32_t end,
                         const float* density, float* out, float* scratch);
  // resampleKnotDensity for 2 .. KnotSegments::kMaxKnots knots and 1 .. kMaxDensityBins bins.
  void (*knotDensity)(const float* knots, int32_t n, float* out, int32_t bins, float scale, float t0, float step);
  // out[i] *= gain for i < count, then squared when square is set: (x·gain)·(x·gain), the
  // same bits as the two steps one after the other.
  void (*scaleBands)(float* out, int32_t count, float gain, bool square);
  // out[i] *= weights[i] for i < count, then squared when square is set.
  void (*weighBands)(float* out, const float* weights, int32_t count, bool square);
  // The model's pitch offsets (offsets[0 .. 8]: one per time curve, with an extrapolated one at
  // each end) spread over the 49 columns by a quadratic B-spline and added to them.
  void (*spreadOffsets)(const float* offsets, float* columns);
  // applyContrast(values, count, amount), the same bits for every value.
  void (*contrastBands)(float* values, int32_t count, float amount);
  static constexpr int32_t kMaxDensityBins = 127;
};

// The kernels for the lane width in use (LaneWidth.h).
const VoiceFrameKernels& voiceFrameKernels();
#if defined(__x86_64__) && !defined(OSKRA_SCALAR_LANES)
extern const VoiceFrameKernels kWideVoiceFrameKernels;
extern const VoiceFrameKernels kWiderVoiceFrameKernels;
#endif
