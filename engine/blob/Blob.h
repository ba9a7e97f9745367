#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/FloatGrid.h"

// Blob time is a warped count of 64-sample frames at 44100 Hz: linear up to 25 units, then
// growing by 4 % per unit, so the 96 units of a blob cover about 405 frames (0.588 s).
float blobTimeToFrames(float blobTime);
float framesToBlobTime(float frames);

// Bilinear sample of a grid of curves at a fractional curve index and point index. The cell
// indices are clamped into the grid (per curve for the point index), so positions outside it
// extrapolate the border cells.
float sampleGridBilinear(const FloatGrid& grid, float curveIndex, float pointIndex);

// Copies every point of every source curve into the destination curve of the same index, as far
// as both reach. The destination's shape never changes.
void copyGridValues(FloatGrid& destination, const FloatGrid& source);

// The editable time-frequency picture of a drum sound, held as two sets of monotone curves that
// together form a mesh of 41 rows by 49 columns of nodes. Where the curves' points crowd, the
// picture is loud; where they spread, it is quiet.
//
// gridA holds 7 time curves of 41 points on 0..96 (the times of the nodes on columns 0, 8, ..,
// 48); gridB holds 6 frequency curves of 49 points on 0..80 (the band positions of the nodes on
// rows 0, 8, .., 40). Point 0 of every curve is 0 and the last point is the range end in any
// blob that was constructed, cleared or read. Both grids are sized by the constructor and
// never reshaped: the voices keep pointers into them.
struct Blob {
  static constexpr int32_t kTimeCurves = 7;
  static constexpr int32_t kTimePoints = 41;
  static constexpr int32_t kFrequencyCurves = 6;
  static constexpr int32_t kFrequencyPoints = 49;
  static constexpr float kTimeRange = 96.0f;
  static constexpr float kFrequencyRange = 80.0f;
  static constexpr int32_t kMeshRows = kTimePoints;
  static constexpr int32_t kMeshColumns = kFrequencyPoints;
  static constexpr int32_t kCurveSpacing = 8;  // mesh lines between neighbouring curves
  static constexpr int32_t kFormatVersion = 1;
  static constexpr int32_t kByteSize = 1137;
  static constexpr int32_t kWorkSize = 98;     // twice the longest curve
  static constexpr float kFramesPerSecond = 689.0625f;  // 44100 / 64
  // Densities count as loudness only above 7/17 of a straight ramp's (41 points per 96 time
  // units, 49 per 80 bands). 7/17 is kept as the float32 stored sounds were made with, one step
  // below 7.f / 17.f.
  static constexpr float kSevenSeventeenths = 0.41176468f;
  static constexpr float kTimeDensityBaseline = 0.17585784f;
  static constexpr float kFrequencyDensityBaseline = 0.25220588f;

  FloatGrid gridA;  // time curves
  FloatGrid gridB;  // frequency curves
  float energy = 1e30f;         // total weighted density, for loudness normalisation
  float tailPosition = -1.0f;   // last time still dense, plus 1
  int32_t activePoints = -1;    // one past the last point index still dense on a time curve
  std::array<float, kTimeCurves> decayHalfLife{};  // seconds; 0 when not dense to the end
  std::string name;             // the stem of the file it came from; "<off>" for an empty slot
  uint32_t present = 1;         // 0 when the slot holds no blob
  uint32_t revision = 0;        // raised by every content change; observers compare it
  int32_t modified = 0;         // above 0 while edits are not saved to a file
  std::vector<float> workForward;
  std::vector<float> workBackward;

  // Ramps on both grids, with the derived fields that belong to them, so a constructed blob
  // plays like a cleared one. Construction counts as no content change (revision stays 0).
  Blob();

  // Back to ramps, then refresh. Returns what refresh returns.
  float clear();
  // axis != 0 mirrors the frequency direction, axis 0 the time direction (only the active
  // part of the time curves); then refresh.
  void mirror(int32_t axis);
  // Re-spaces the inner points of every curve and recomputes the derived fields. Returns the
  // total absolute change of the points.
  float refresh();
  float computeEnergy() const;
  // The smallest spacing refresh keeps between neighbouring points of a grid whose first curve
  // has `points` points.
  static float minimumGap(int32_t points);

  // The stored form (1137 bytes: a version byte and one 16-bit step code per stored point).
  // A null buffer only measures. position may be null. Returns the bytes written.
  int32_t serialize(uint8_t* buffer, int32_t capacity, int32_t* position) const;
  std::vector<uint8_t>& toBytes(std::vector<uint8_t>& out) const;
  // Returns the bytes consumed: 0 for an unknown version, 1 when the buffer is too short or the
  // position negative (the blob is then unchanged), 1137 after a full read, which ends with a
  // refresh. After a full read every curve is non-decreasing and inside its range, whatever
  // the bytes.
  int32_t deserialize(const uint8_t* buffer, int32_t size, int32_t* position);

  static float timeFromSeconds(float seconds);
  // Seconds at a normalised time 0..1 of the blob's axis.
  static float secondsFromTime(float normalisedTime);

  // Turns a recorded hit (mono samples at any rate) into the two grids and refreshes; true
  // only when the grids were replaced. Silence, a level too low to measure, or a sample rate
  // that is not finite and positive leave the blob untouched and give false. Non-finite
  // samples count as 0. lowCut lowers everything below about 140 Hz; frameOffset moves the
  // analysis frames later into the hit (0 for an import). Only the first ~0.6 s after the hit's
  // start reach the blob, so the cost hardly depends on the input's length.
  bool analyze(const std::vector<float>& samples, float sampleRate, bool lowCut, int32_t frameOffset);

  // Paint tools. Positions, motions and radii are normalised: x across the frequency axis
  // (0..1 = 0..80), y along the time axis (0..1 = 0..96). A radius of 10 or more on an axis
  // leaves that axis's curves alone. An edit with a NaN or infinite position or amount (or a NaN
  // radius) is dropped.
  // Fractional mesh (column, row) of the node lying at (frequency, time) in picture units.
  void locate(float frequency, float time, float& column, float& row, int32_t maxIterations) const;
  // Attract with strength > 0, repel with strength < 0.
  void attract(float x, float y, float radiusX, float radiusY, float strength);
  void drag(float x, float y, float dx, float dy, float radiusX, float radiusY);
  // Takes the source's points and derived fields (no refresh needed); with the name also its
  // name, present and modified.
  void assign(const Blob& source, bool withName);

  // Views for the editor.
  static void getGridSizes(int32_t& rows, int32_t& columns);
  // positions: 41 rows of 49 (time / 96, frequency / 80) pairs, stored interleaved (98 floats
  // per row); densities: 41 rows of 49. Both are reshaped when they do not fit.
  void renderMap(FloatGrid& positions, FloatGrid& densities, float contrast, bool fadeEdges) const;
  // Amplitude envelope of the pair mixed by morph (0 = a, 1 = b; a null b means a), one value
  // per element of out, normalised to a peak of at most 1. An empty out is left alone.
  static void renderWaveform(const Blob* a, const Blob* b, float morph, std::vector<float>& out);

 private:
  template <typename Update>
  void editNear(float frequency, float time, float radiusF, float radiusT, bool editTime,
                bool editFrequency, Update update);
};
