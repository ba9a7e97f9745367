#include "engine/voice/DrumVoiceSynth.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "engine/core/FloatGrid.h"
#include "engine/dsp/KnotIntegrator.h"
#include "engine/dsp/SimdLanes.h"
#include "engine/dsp/VoiceFrameKernels.h"
#include "engine/voice/ReferenceModel.h"

static_assert(voiceframe::kCurves == DrumVoiceSynth::kCurves &&
                  voiceframe::kFrequencyRows == DrumVoiceSynth::kFrequencyCurves &&
                  voiceframe::kCurveSpacing == Blob::kCurveSpacing &&
                  voiceframe::kMixedColumns + 1 == DrumVoiceSynth::kColumns &&
                  voiceframe::kBands == DrumVoiceSynth::kBands &&
                  voiceframe::kDensityBaseline == Blob::kFrequencyDensityBaseline,
              "the frame kernels' mesh is the voice's");

namespace {

constexpr int32_t kSentinel = DrumVoiceSynth::kColumns;  // entry 49 of columnFrequencies
constexpr float kSentinelFrequency = 80.000999f;
constexpr float kTopColumnFrequency = 80.0f;
constexpr float kLastCurveRow = 4.999f;
constexpr float kTailFirstCurveRow = 3.999f;
constexpr float kMaxRowRate = 20.0f;
constexpr float kMinHalfLife = 0.001f;
constexpr float kTailWander = 0.01f;
// Offset-table column per frequency unit: 19 columns over the 80 bands, one step short of 19/80
// so the top band stays inside the last column.
constexpr float kOffsetColumnsPerBand = 0.23749876f;
// Profile point per band: 11 steps over the 80 bands, just short.
constexpr float kProfileStepsPerBand = 0.13923874f;
constexpr float kUnitPerDraw = 2.3283e-10f;
// The loudness a fully negative contrast normalises every sound to.
constexpr float kFlatLoudness = 2.2f;

// hi when v > hi, lo when v is below lo or NaN, else v.
inline float clampNaNLow(float v, float lo, float hi) {
  if (!(v >= lo)) return lo;
  return v > hi ? hi : v;
}

// One generator serves the tail wander of every voice of every instance. A draw is a relaxed
// load and store, so concurrent voices on different threads may repeat a value but never race;
// the sequence is not part of any stored state.
std::atomic<uint32_t> gTailNoise{123u};

float drawTailNoise() {
  uint32_t x = gTailNoise.load(std::memory_order_relaxed);
  x ^= x << 5;
  x ^= x >> 7;
  gTailNoise.store(x, std::memory_order_relaxed);
  return static_cast<float>(x) * kUnitPerDraw;
}

// The model's values at the voice's velocity: linear between two layers.
struct LayerPair {
  const float* low;
  const float* high;
  float fraction;
  float at(int32_t index) const { return (1.0f - fraction) * low[index] + fraction * high[index]; }
};

LayerPair layersFor(const ReferenceModel& model, float velocity) {
  int32_t layer = 0;
  float fraction = 0.0f;
  referenceLayerPosition(velocity, layer, fraction);
  return {model.layers[layer], model.layers[layer + 1], fraction};
}

// The blob time that curve k reads when the voice is at t: the model's time map, linear
// between its 20 points and extended past the last one.
float mappedTime(const float* model, int32_t curve, float t) {
  const float p = t * static_cast<float>(ReferenceModel::kTimeMapPoints) / Blob::kTimeRange;
  const int32_t i = truncClamped(p, 0, ReferenceModel::kTimeMapPoints - 2);
  const float f = p - static_cast<float>(i);
  const int32_t base = ReferenceModel::kTimeMapOffset + curve * ReferenceModel::kTimeMapPoints + i;
  const float low = model[base];
  return low + f * (model[base + 1] - low);
}

// The frequency offset at a position among the frequency curves (0..5) and a frequency
// (0..80), bilinear in the offset table. Both positions are held inside the table, so a
// damaged blob cannot read past it.
float offsetAt(const float* model, float curveRow, float frequency) {
  const float row = clampNaNLow(curveRow, 0.0f, static_cast<float>(ReferenceModel::kOffsetRows - 1));
  const float column =
      clampNaNLow(frequency * kOffsetColumnsPerBand, 0.0f, static_cast<float>(ReferenceModel::kOffsetColumns - 1));
  const int32_t r = std::min(static_cast<int32_t>(row), ReferenceModel::kOffsetRows - 2);
  const int32_t c = std::min(static_cast<int32_t>(column), ReferenceModel::kOffsetColumns - 2);
  const float fr = row - static_cast<float>(r);
  const float fc = column - static_cast<float>(c);
  const int32_t base = ReferenceModel::kOffsetTableOffset + r * ReferenceModel::kOffsetColumns + c;
  const float top = (1.0f - fc) * model[base] + fc * model[base + 1];
  const float bottom = (1.0f - fc) * model[base + ReferenceModel::kOffsetColumns] +
                       fc * model[base + ReferenceModel::kOffsetColumns + 1];
  return (1.0f - fr) * top + fr * bottom;
}

float mixedHalfLife(const Blob& a, const Blob& b, int32_t k, float x) {
  const size_t i = static_cast<size_t>(k);
  const float h = (1.0f - x) * a.decayHalfLife[i] + x * b.decayHalfLife[i];
  return h > kMinHalfLife ? h : kMinHalfLife;
}

// Every curve the voice reads is there at its full length. Blob grids are sized once and never
// reshaped, so this only fails for a missing blob.
bool hasVoiceShape(const Blob* blob) {
  if (blob == nullptr) return false;
  if (blob->gridA.size() < static_cast<size_t>(DrumVoiceSynth::kCurves)) return false;
  if (blob->gridB.size() < static_cast<size_t>(DrumVoiceSynth::kFrequencyCurves)) return false;
  for (size_t c = 0; c < static_cast<size_t>(DrumVoiceSynth::kCurves); ++c)
    if (blob->gridA[c].size() < static_cast<size_t>(Blob::kTimePoints)) return false;
  for (size_t c = 0; c < static_cast<size_t>(DrumVoiceSynth::kFrequencyCurves); ++c)
    if (blob->gridB[c].size() < static_cast<size_t>(DrumVoiceSynth::kColumns)) return false;
  return true;
}

// Square root of a blob's energy; a damaged (negative or NaN) energy counts as none.
float rootEnergy(const Blob& blob) { return blob.energy > 0.0f ? std::sqrt(blob.energy) : 0.0f; }


}  // namespace

DrumVoiceSynth::DrumVoiceSynth() {
  modelProfile.fill(1.0f);
  spreadProfile();
  columnFrequencies.fill(kUnsetRow);
  columnFrequencies[49] = 160.0f;
  columnFrequencies[50] = 240.0f;
  rowPositions.fill(kUnsetRow);
  rowRates.fill(kUnsetRow);
  curveRows.fill(kUnsetRow);
  modelOffsets.fill(kUnsetRow);
}

void DrumVoiceSynth::start(const Blob* a, const Blob* b, float morph, float noteVelocity, float noteGainScale) {
  if (b == nullptr) b = a;
  blobA = a;
  blobB = b;
  if (!std::isfinite(morph)) morph = 0.0f;
  const bool playable = hasVoiceShape(a) && hasVoiceShape(b);
  for (int32_t c = 0; c < kCurves; ++c) {
    const size_t i = static_cast<size_t>(c);
    if (playable) {
      curves[i].begin(a->gridA[i].data(), b->gridA[i].data(), Blob::kTimePoints, morph);
    } else {
      curves[i] = VoiceCurve();
    }
    rowRates[i] = 0.0f;
    curveRows[i] = 0.0f;
    rowPositions[i] = kUnsetRow;
  }
  elapsed = 0.0f;
  elapsedFrames = 0.0f;
  level = 1.0f;
  velocity = noteVelocity;
  gainScale = noteGainScale;

  if (const ReferenceModel* model = getReferenceModel(modelIndex)) {
    const float* values = modelAtVelocity(*model);
    for (int32_t k = 0; k < kProfilePoints; ++k) modelProfile[static_cast<size_t>(k)] = values[k];
  }
  spreadProfile();
}

const float* DrumVoiceSynth::modelAtVelocity(const ReferenceModel& model) {
  static_assert(kModelValues == ReferenceModel::kLayerSize, "a whole layer");
  if (&model != mixedModel || std::memcmp(&velocity, &mixedVelocity, sizeof(float)) != 0) {
    const LayerPair layers = layersFor(model, velocity);
    for (int32_t i = 0; i < kModelValues; ++i) modelValues[static_cast<size_t>(i)] = layers.at(i);
    mixedModel = &model;
    mixedVelocity = velocity;
  }
  return modelValues.data();
}

void DrumVoiceSynth::spreadProfile() {
  modelProfile[kProfilePoints] = modelProfile[kProfilePoints - 1];
  for (int32_t band = 0; band < kBands; ++band) {
    const float y = static_cast<float>(band) * kProfileStepsPerBand;
    const int32_t i = static_cast<int32_t>(y);
    const float f = y - static_cast<float>(i);
    bandProfile[static_cast<size_t>(band)] =
        (1.0f - f) * modelProfile[static_cast<size_t>(i)] + f * modelProfile[static_cast<size_t>(i) + 1];
  }
}

void DrumVoiceSynth::setModel(int32_t index) { modelIndex = index; }

void DrumVoiceSynth::setBlobs(const Blob* a, const Blob* b) {
  if (b == nullptr) b = a;
  // The same copies as before, every curve already on them: nothing to do (the common case,
  // once per control pass).
  if (a == blobA && b == blobB && a != nullptr) {
    bool same = a->gridA.size() >= static_cast<size_t>(kCurves) && b->gridA.size() >= static_cast<size_t>(kCurves);
    for (int32_t c = 0; same && c < kCurves; ++c) {
      const KnotIntegrator& cursor = curves[static_cast<size_t>(c)].cursor;
      same = cursor.knots == a->gridA[static_cast<size_t>(c)].data() &&
             cursor.knotsB == b->gridA[static_cast<size_t>(c)].data();
    }
    if (same) return;
  }
  if (!hasVoiceShape(a) || !hasVoiceShape(b)) return;
  blobA = a;
  blobB = b;
  for (int32_t c = 0; c < kCurves; ++c) {
    const size_t i = static_cast<size_t>(c);
    if (curves[i].cursor.knots != nullptr) curves[i].repoint(a->gridA[i].data(), b->gridA[i].data());
  }
}

void DrumVoiceSynth::advance(float dtFrames, float* out) {
  elapsedFrames += dtFrames;
  const float newTime = framesToBlobTime(elapsedFrames);
  renderBands(newTime - elapsed, out, nullptr, true);
  elapsed = newTime;
}

void DrumVoiceSynth::renderBands(float delta, float* out, float* scratch, bool squared) {
  const float t = elapsed + delta;
  elapsed = t;
  if (!hasVoiceShape(blobA) || !hasVoiceShape(blobB)) {
    std::fill(out, out + kBands, 0.0f);
    if (scratch != nullptr) std::fill(scratch, scratch + kBands, 0.0f);
    return;
  }
  const Blob& a = *blobA;
  const Blob& b = *blobB;
  const float x = transform;

  // Loudness normalisation: the mixed blob's energy, pulled towards a fixed level by a
  // negative contrast (which lifts quiet parts and would otherwise overshoot). Weighted as a
  // sum: the form L + (fixed - L) * flatten cancels to 0 for a large L at full flattening.
  const float mixed = (1.0f - x) * rootEnergy(a) + (x > 0.0f ? x * rootEnergy(b) : 0.0f);
  const float flatten = std::min(std::max(-contrast, 0.0f), 1.0f);
  const float loudness = mixed * (1.0f - flatten) + kFlatLoudness * flatten;
  const float gain = std::sqrt(amplitude) * gainScale / std::max(loudness, 1e-6f);

  const ReferenceModel* model = getReferenceModel(modelIndex);
  const float* layers = model != nullptr ? modelAtVelocity(*model) : nullptr;

  // Rows reached by the time curves; without time passing they keep their values.
  if (delta > 0.0f) {
    if (t >= kTailStart) {
      // Past the end of the blob the rows stay; the rates die away by the blobs' half-lives
      // and the column rows wander slightly near the last frequency curve.
      const float seconds =
          std::max((blobTimeToFrames(t) - blobTimeToFrames(t - delta)) / Blob::kFramesPerSecond, 0.0f);
      float loudest = 0.0f;
      for (int32_t k = 0; k < kCurves; ++k) {
        const size_t i = static_cast<size_t>(k);
        const float h = mixedHalfLife(a, b, k, x);
        rowRates[i] *= h / (h + seconds);
        curveRows[i] = clampNaNLow(curveRows[i] + (drawTailNoise() - 0.5f) * kTailWander, kTailFirstCurveRow,
                                   kLastCurveRow);
        loudest = std::max(loudest, rowRates[i]);
      }
      level = loudest * loudest;
    } else {
      for (int32_t k = 0; k < kCurves; ++k) {
        const size_t i = static_cast<size_t>(k);
        const float tk = model != nullptr ? mappedTime(layers, k, t) : t;
        const float row = curves[i].rowAt(tk);
        rowRates[i] = clampNaNLow((row - rowPositions[i]) / delta - Blob::kTimeDensityBaseline, 0.0f, kMaxRowRate);
        rowPositions[i] = row;
        curveRows[i] = clampNaNLow(row * 0.125f, 0.0f, kLastCurveRow);
      }
    }
  }

  // Column frequencies: each column's position among the frequency curves, interpolated
  // between the rows of its two neighbouring time curves.
  float* columns = columnFrequencies.data();
  // The rows' addresses, read once: the stores into the columns could otherwise alias them.
  const float* rowsA[kFrequencyCurves];
  const float* rowsB[kFrequencyCurves];
  for (int32_t r = 0; r < kFrequencyCurves; ++r) {
    rowsA[r] = a.gridB[static_cast<size_t>(r)].data();
    rowsB[r] = b.gridB[static_cast<size_t>(r)].data();
  }
  const VoiceFrameKernels& kernels = voiceFrameKernels();
  kernels.columnFrequencies(rowsA, rowsB, curveRows.data(), x, columns);
  columns[kColumns - 1] = kTopColumnFrequency;

  // Model pitch: an offset per time curve, spread over the columns by a quadratic B-spline.
  if (model != nullptr) {
    float* o = modelOffsets.data() + 1;  // o[-1] .. o[7]
    for (int32_t k = 0; k < kCurves; ++k) {
      o[k] = offsetAt(layers, curveRows[static_cast<size_t>(k)], columns[k * Blob::kCurveSpacing]);
    }
    o[-1] = (2.0f * o[0] - o[1]) * 0.1f;
    o[kCurves] = (2.0f * o[kCurves - 1] - o[kCurves - 2]) * 0.1f;
    kernels.spreadOffsets(o - 1, columns);
  }

  // Band range after the shift: bands shifted in from outside the picture stay silent.
  const float s = frequencyShift;
  const int32_t first = truncClamped(s, 0, kBands);
  const int32_t cut = truncClamped(-s, 0, kBands);
  const int32_t end = kBands - cut;

  if (first < end) {
    // Loudness in frequency: how many columns fall into each band.
    float* density = scratch != nullptr ? scratch : out;
    resampleKnotDensity(columns, kColumns, density + first, end - first, 1.0f, static_cast<float>(first) - s, 1.0f);
    columns[kSentinel] = kSentinelFrequency;

    kernels.bandAmplitudes(columns, rowRates.data(), s, first, end, density, out, scratch);

    kernels.contrastBands(out + first, end - first, contrast);
    // Without a model the gain is the last factor, and the square can follow it at once.
    kernels.scaleBands(out + first, end - first, gain, squared && model == nullptr);

    if (model != nullptr) kernels.weighBands(out + first, bandProfile.data() + first, end - first, squared);
  }

  // Bands outside the shifted range are silent.
  const int32_t soundingEnd = first < end ? end : first;
  std::fill(out, out + first, 0.0f);
  std::fill(out + soundingEnd, out + kBands, 0.0f);
  if (scratch != nullptr) {
    std::fill(scratch, scratch + first, 0.0f);
    std::fill(scratch + soundingEnd, scratch + kBands, 0.0f);
  }
}
