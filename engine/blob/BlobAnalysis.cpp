// Turning a recorded drum hit into a blob: the hit is trimmed, brought to 44.1 kHz, measured
// in the 80 bands frame by frame, resampled onto the blob's warped time axis as a picture of
// band amplitudes, and the blob's mesh is then laid over that picture so that its nodes crowd
// where the picture is loud.
//
// Only the start of a hit can reach the blob: its time axis ends after about 405 frames
// (0.59 s). The work is therefore bounded by that many frames whatever the input's length or
// sample rate; a longer input costs one scan for its end and nothing else.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <vector>

#include "engine/blob/AnalysisFilterBank.h"
#include "engine/blob/AnalysisStages.h"
#include "engine/blob/Blob.h"
#include "engine/dsp/Fft.h"
#include "engine/dsp/KnotIntegrator.h"
#include "engine/dsp/ShelfFilter.h"
#include "engine/dsp/VectorOps.h"

namespace {

using Bank = AnalysisFilterBank;

constexpr float kSilentSum = 1e-20f;   // an input whose absolute sum stays below this is silence
constexpr float kTrimLevel = 0.0001f;  // relative to the level at which the hit starts
constexpr float kAnalysisRate = 44100.0f;
constexpr float kRateTolerance = 0.1f;
constexpr float kMinSeconds = 0.1f;
constexpr float kLowCutCorner = 0.0031746032f;  // 140 Hz at 44.1 kHz, in cycles per sample
constexpr float kLowCutGain = 0.1f;
// The low cut runs from the signal's start, unless the first frame lies more than
// kLowCutFullRun samples in (only a frame offset puts it there): it then starts kLowCutWarmUp
// samples before that frame. The filter forgets by a factor e every ~32 samples, so what came
// earlier has long fallen below float resolution.
constexpr int64_t kLowCutFullRun = int64_t{1} << 20;
constexpr int64_t kLowCutWarmUp = 16384;
constexpr int64_t kFrameLead = 192;  // frame 0 starts this far before the frame offset
constexpr int32_t kRows = 96;        // picture rows: blob time units
constexpr int32_t kBands = kBandCount;
constexpr float kSmoothness = 0.005f;
constexpr float kFactorLift = 0.7f;  // times each factor's mean, added to all its elements
constexpr int32_t kFitSpacing = Blob::kCurveSpacing;
constexpr float kFitSmoothing = 0.33f;
constexpr float kGapShare = 0.9f;
// Caps sizes computed from absurd rates so that they stay exact in double and fit int64.
constexpr double kHugeCount = 1e15;

float finiteOrZero(float x) { return std::isfinite(x) ? x : 0.0f; }
float magnitude(float x) { return std::fabs(finiteOrZero(x)); }

// The part of the input that holds the hit: [start, end), both at or above the trim level.
struct HitRange {
  size_t start = 0;
  size_t end = 0;
};

// Finds the hit, or returns false for silence. The reference level is the running peak at the
// point where the absolute sum first reaches kSilentSum.
bool findHit(const std::vector<float>& x, HitRange& hit) {
  float sum = 0.0f;
  float peak = 0.0f;
  size_t i = 0;
  while (i < x.size() && sum < kSilentSum) {
    const float v = magnitude(x[i++]);
    sum += v;
    peak = std::max(peak, v);
  }
  if (!(sum >= kSilentSum)) return false;
  const float level = kTrimLevel * peak;
  hit.start = 0;
  while (hit.start < x.size() && !(magnitude(x[hit.start]) >= level)) ++hit.start;
  // From the end in blocks: a long quiet tail is skipped at the speed of a plain comparison.
  constexpr size_t kBlock = 256;
  size_t end = x.size();
  while (end > hit.start) {
    const size_t from = end - std::min(kBlock, end - hit.start);
    int32_t loud = 0;  // an infinity counts here; the exact search below passes over it
    for (size_t k = from; k < end; ++k) loud |= std::fabs(x[k]) >= level ? 1 : 0;
    if (loud != 0) {
      size_t k = end;
      while (k > from && !(magnitude(x[k - 1]) >= level)) --k;
      if (k > from) {
        end = k;
        break;
      }
    }
    end = from;
  }
  hit.end = end;
  return hit.end > hit.start;
}

// The analysis signal: the trimmed hit, zero-padded, at 44.1 kHz, low-cut. Only samples
// [first, first + samples.size()) are built; earlier ones cannot reach any frame.
struct AnalysisSignal {
  int64_t first = 0;
  std::vector<float> samples;
};

void buildSignal(const std::vector<float>& x, const HitRange& hit, float sampleRate, bool lowCut, int64_t from,
                 int64_t to, AnalysisSignal& signal) {
  const float* hitSamples = x.data() + hit.start;
  const int64_t hitLength = static_cast<int64_t>(hit.end - hit.start);
  auto trimmed = [&](int64_t k) { return k >= 0 && k < hitLength ? finiteOrZero(hitSamples[k]) : 0.0f; };
  const bool resample = std::fabs(sampleRate - kAnalysisRate) > kRateTolerance;
  const double ratio = static_cast<double>(sampleRate / kAnalysisRate);

  signal.first = from;
  signal.samples.assign(static_cast<size_t>(std::max<int64_t>(to - from, 0)), 0.0f);
  for (int64_t i = from; i < to; ++i) {
    float v;
    if (!resample) {
      v = trimmed(i);
    } else {
      // Catmull-Rom through the four samples around the position; past the hit all are 0.
      const double p = static_cast<double>(i) * ratio;
      if (!(p < static_cast<double>(hitLength) + 2.0)) break;
      const int64_t k = static_cast<int64_t>(p);
      const float f = static_cast<float>(p - static_cast<double>(k));
      const float w0 = ((1.0f - 0.5f * f) * f - 0.5f) * f;
      const float w1 = (1.5f * f - 2.5f) * f * f + 1.0f;
      const float w2 = ((2.0f - 1.5f * f) * f + 0.5f) * f;
      const float w3 = (0.5f * f - 0.5f) * f * f;
      v = w0 * trimmed(k - 1) + w1 * trimmed(k) + w2 * trimmed(k + 1) + w3 * trimmed(k + 2);
    }
    signal.samples[static_cast<size_t>(i - from)] = v;
  }
  if (lowCut) {
    ShelfCoefficients shelf;
    designShelf(&shelf, kLowCutCorner, kLowCutGain);
    float state = 0.0f;
    shelfProcessMono(shelf, state, signal.samples.data(), static_cast<int32_t>(signal.samples.size()));
  }
}

// Band energies of frames 0..frames-1 (row j: 80 values), of which the first `rows` are
// returned. The frames and their gated bins are all kept, since each band's kernel reads its
// neighbours in time.
void measureBands(const AnalysisSignal& signal, int64_t frameOffset, int32_t frames, int32_t rows,
                  std::vector<float>& energies) {
  const Bank& bank = analysisFilterBank();
  constexpr int32_t kBinFloats = 2 * Bank::kBins;
  std::vector<float> bins(static_cast<size_t>(frames) * kBinFloats, 0.0f);
  std::vector<float> powers(static_cast<size_t>(frames) * Bank::kBins, 0.0f);
  std::vector<float> input(Bank::kFrameSize);
  std::vector<float> framePowers(Bank::kBins);
  Fft fft;
  fft.init(log2OfPowerOfTwo(Bank::kFrameSize), Fft::kInterleaved);
  const int64_t signalEnd = signal.first + static_cast<int64_t>(signal.samples.size());
  for (int32_t j = 0; j < frames; ++j) {
    const int64_t frameStart = frameOffset - kFrameLead + int64_t{Bank::kHop} * j;
    // The frame turns by half its length, so the window's centre lands on sample 0.
    std::fill(input.begin(), input.end(), 0.0f);
    for (int32_t n = 0; n < Bank::kFrameSize; ++n) {
      const int64_t at = frameStart + n;
      if (at < signal.first || at >= signalEnd) continue;
      input[static_cast<size_t>((n + Bank::kFrameSize / 2) % Bank::kFrameSize)] =
          signal.samples[static_cast<size_t>(at - signal.first)] * bank.window[static_cast<size_t>(n)];
    }
    float* x = &bins[static_cast<size_t>(j) * kBinFloats];
    fft.forward(input.data(), x, Bank::kFrameSize);
    // The Nyquist value moves from beside DC to a bin of its own.
    x[kBinFloats - 2] = x[1];
    x[1] = 0.0f;
    powerSpectrum(x, framePowers.data(), Bank::kBins, false);
    spectralFloorGate(framePowers, x);
    std::copy(framePowers.begin(), framePowers.end(), powers.begin() + static_cast<ptrdiff_t>(j) * Bank::kBins);
  }

  energies.assign(static_cast<size_t>(rows) * kBands, 0.0f);
  std::vector<float> z(2 * static_cast<size_t>(frames));
  size_t weightAt = 0;
  size_t kernelAt = 0;
  size_t highAt = 0;
  for (int32_t b = 0; b < kBands; ++b) {
    // Weighted complex sum over the band's bins.
    const int32_t weightCount = bank.binWeightCounts[static_cast<size_t>(b)];
    const float* weights = &bank.binWeights[weightAt];
    const int32_t firstBin = static_cast<int32_t>(weights[0]);
    for (int32_t j = 0; j < frames; ++j) {
      const float* x = &bins[static_cast<size_t>(j) * kBinFloats + 2 * static_cast<size_t>(firstBin)];
      float re = 0.0f;
      float im = 0.0f;
      for (int32_t i = 0; i + 1 < weightCount; ++i) {
        re += weights[i + 1] * x[2 * i];
        im += weights[i + 1] * x[2 * i + 1];
      }
      z[2 * static_cast<size_t>(j)] = re;
      z[2 * static_cast<size_t>(j) + 1] = im;
    }
    weightAt += static_cast<size_t>(weightCount);

    // Time kernel: c(k) on frame j - k, conj(c(k)) on frame j + k, conj(c(0)) on frame j.
    const int32_t half = bank.kernelHalfLengths[static_cast<size_t>(b)];
    const float* c = &bank.bandKernels[kernelAt];
    kernelAt += 2 * static_cast<size_t>(half);
    const int32_t high = bank.highBandCounts[static_cast<size_t>(b)];
    const float* record = high > 0 ? &bank.highBandRecords[highAt] : nullptr;
    highAt += static_cast<size_t>(high);
    for (int32_t j = 0; j < rows; ++j) {
      const float* zj = &z[2 * static_cast<size_t>(j)];
      float re = c[0] * zj[0] + c[1] * zj[1];
      float im = c[0] * zj[1] - c[1] * zj[0];
      for (int32_t k = 1; k < half; ++k) {
        const float cr = c[2 * k];
        const float ci = c[2 * k + 1];
        if (j - k >= 0) {
          const float* zp = zj - 2 * k;
          re += cr * zp[0] - ci * zp[1];
          im += cr * zp[1] + ci * zp[0];
        }
        if (j + k < frames) {
          const float* zn = zj + 2 * k;
          re += cr * zn[0] + ci * zn[1];
          im += cr * zn[1] - ci * zn[0];
        }
      }
      float e = re * re + im * im;
      if (record != nullptr) {
        const int32_t firstPower = static_cast<int32_t>(record[0]);
        e = e * record[1] +
            vecDot(record + 2, &powers[static_cast<size_t>(j) * Bank::kBins + static_cast<size_t>(firstPower)],
                   high - 2);
      }
      energies[static_cast<size_t>(j) * kBands + static_cast<size_t>(b)] = e;
    }
  }

  std::vector<float> frameEnergies(kBands);
  for (int32_t j = 0; j < rows; ++j) {
    float* e = &energies[static_cast<size_t>(j) * kBands];
    std::copy(e, e + kBands, frameEnergies.begin());
    spectralFloorGate(frameEnergies);
    std::copy(frameEnergies.begin(), frameEnergies.end(), e);
  }
}

// The picture: per blob time unit, the fourth root of a bell-weighted mean of the band
// energies of the frames around it. Rows past the end of a short hit stay 0.
void resamplePicture(const std::vector<float>& energies, int32_t rows, double frameCount, FloatGrid& picture) {
  picture.assign(kRows, std::vector<float>(kBands, 0.0f));
  std::vector<float> sum(kBands);
  for (int32_t t = 0; t < kRows; ++t) {
    const int32_t lo = static_cast<int32_t>(blobTimeToFrames(static_cast<float>(t - 1)) + 1.0f);
    const int32_t hi = static_cast<int32_t>(
        std::min<double>(static_cast<int32_t>(blobTimeToFrames(static_cast<float>(t + 1)) + 1.0f), frameCount));
    if (static_cast<float>(lo) * 1.02f > static_cast<float>(hi)) break;
    std::fill(sum.begin(), sum.end(), 0.0f);
    float weightSum = 1e-30f;
    for (int32_t j = lo; j < hi && j < rows; ++j) {
      const float d = std::fabs(framesToBlobTime(static_cast<float>(j)) - static_cast<float>(t));
      const float g = 1.0f - (3.0f - 2.0f * d) * d * d;
      const float* e = &energies[static_cast<size_t>(j) * kBands];
      for (int32_t b = 0; b < kBands; ++b) sum[static_cast<size_t>(b)] += g * e[b];
      weightSum += g;
    }
    for (int32_t b = 0; b < kBands; ++b)
      picture[static_cast<size_t>(t)][static_cast<size_t>(b)] =
          std::sqrt(std::sqrt(std::max(sum[static_cast<size_t>(b)] / weightSum, 0.0f)));
  }
}

std::vector<float> flatten(const FloatGrid& grid) {
  std::vector<float> flat;
  for (const auto& row : grid) flat.insert(flat.end(), row.begin(), row.end());
  return flat;
}

// Lays the mesh over the picture and fits the blob's curves to it. False when the result is
// not finite (the blob must then stay as it was).
bool fitMesh(FloatGrid& picture, FloatGrid& timeCurves, FloatGrid& frequencyCurves) {
  constexpr int32_t kMeshRows = Blob::kMeshRows;
  constexpr int32_t kMeshColumns = Blob::kMeshColumns;
  FloatGrid p1;
  FloatGrid p2;
  decomposePicture(picture, p1, p2, kSmoothness);
  const float lift1 = kFactorLift * gridMean(p1);
  const float lift2 = kFactorLift * gridMean(p2);
  for (auto& row : p1)
    for (float& v : row) v += lift1;
  for (auto& row : p2)
    for (float& v : row) v += lift2;

  // T: the time and F: the frequency of every node, row-major over the 41 x 49 mesh.
  const size_t nodes = static_cast<size_t>(kMeshRows) * kMeshColumns;
  std::vector<float> times(nodes);
  std::vector<float> frequencies(nodes);
  const std::vector<float> a = flatten(p1);
  const std::vector<float> b = flatten(p2);
  if (!intersectKnotGrids(a.data(), b.data(), kRows, kBands, times.data(), frequencies.data(), kMeshRows,
                          kMeshColumns))
    return false;
  auto at = [](int32_t r, int32_t c) { return static_cast<size_t>(r) * kMeshColumns + static_cast<size_t>(c); };

  // How densely the nodes crowd: the inverse of the area their neighbourhood covers. A folded
  // or collapsed neighbourhood has no meaningful density and gets no weight in the fit.
  std::vector<float> density(nodes);
  for (int32_t r = 0; r < kMeshRows; ++r) {
    const int32_t r0 = std::max(r - 1, 0);
    const int32_t r1 = std::min(r + 1, kMeshRows - 1);
    for (int32_t c = 0; c < kMeshColumns; ++c) {
      const int32_t c0 = std::max(c - 1, 0);
      const int32_t c1 = std::min(c + 1, kMeshColumns - 1);
      const float area = (frequencies[at(r, c1)] - frequencies[at(r, c0)]) * (times[at(r1, c)] - times[at(r0, c)]);
      const float d = static_cast<float>((c1 - c0) * (r1 - r0)) / area;
      density[at(r, c)] = area > 0.0f && std::isfinite(d) ? d : 0.0f;
    }
  }

  // Each mesh row reduced to the times of its nodes on the time curves' columns...
  timeCurves.assign(Blob::kTimeCurves, std::vector<float>(kMeshRows, 0.0f));
  std::vector<float> values;
  std::vector<float> weights;
  std::vector<float> knots;
  for (int32_t r = 0; r < kMeshRows; ++r) {
    values.assign(times.begin() + static_cast<ptrdiff_t>(at(r, 0)), times.begin() + static_cast<ptrdiff_t>(at(r + 1, 0)));
    weights.assign(density.begin() + static_cast<ptrdiff_t>(at(r, 0)),
                   density.begin() + static_cast<ptrdiff_t>(at(r + 1, 0)));
    fitKnots(knots, values, weights, kFitSpacing, kFitSmoothing);
    for (int32_t k = 0; k < Blob::kTimeCurves && k < static_cast<int32_t>(knots.size()); ++k)
      timeCurves[static_cast<size_t>(k)][static_cast<size_t>(r)] = knots[static_cast<size_t>(k)];
  }
  // ...and each mesh column to the frequencies of its nodes on the frequency curves' rows.
  std::vector<float> frequenciesByColumn(nodes);
  std::vector<float> densityByColumn(nodes);
  transposeTable(frequencies.data(), kMeshRows, kMeshColumns, frequenciesByColumn.data());
  transposeTable(density.data(), kMeshRows, kMeshColumns, densityByColumn.data());
  frequencyCurves.assign(Blob::kFrequencyCurves, std::vector<float>(kMeshColumns, 0.0f));
  for (int32_t c = 0; c < kMeshColumns; ++c) {
    const auto from = static_cast<ptrdiff_t>(c) * kMeshRows;
    values.assign(frequenciesByColumn.begin() + from, frequenciesByColumn.begin() + from + kMeshRows);
    weights.assign(densityByColumn.begin() + from, densityByColumn.begin() + from + kMeshRows);
    fitKnots(knots, values, weights, kFitSpacing, kFitSmoothing);
    for (int32_t k = 0; k < Blob::kFrequencyCurves && k < static_cast<int32_t>(knots.size()); ++k)
      frequencyCurves[static_cast<size_t>(k)][static_cast<size_t>(c)] = knots[static_cast<size_t>(k)];
  }

  // Keep the curves rising by a share of the closest the mesh nodes came.
  float gapTime = 1e30f;
  float gapFrequency = 1e30f;
  for (int32_t r = 0; r < kMeshRows; ++r) {
    for (int32_t c = 0; c < kMeshColumns; ++c) {
      if (r + 1 < kMeshRows) gapTime = std::min(gapTime, times[at(r + 1, c)] - times[at(r, c)]);
      if (c + 1 < kMeshColumns) gapFrequency = std::min(gapFrequency, frequencies[at(r, c + 1)] - frequencies[at(r, c)]);
    }
  }
  for (auto& curve : timeCurves) monotoneSpacing(curve, kGapShare * gapTime);
  for (auto& curve : frequencyCurves) monotoneSpacing(curve, kGapShare * gapFrequency);

  for (const FloatGrid* grid : {&timeCurves, &frequencyCurves})
    for (const auto& curve : *grid)
      for (float v : curve)
        if (!std::isfinite(v)) return false;
  return true;
}

}  // namespace

bool Blob::analyze(const std::vector<float>& samples, float sampleRate, bool lowCut, int32_t frameOffset) {
  if (!std::isfinite(sampleRate) || !(sampleRate > 0.0f)) return false;
  HitRange hit;
  if (!findHit(samples, hit)) return false;

  // Padded length M: at least 0.1 s, and 256 samples at 44.1 kHz of zeros after the hit.
  const double minLength = std::trunc(static_cast<double>(kMinSeconds * sampleRate));
  const double padding = std::trunc(static_cast<double>(256.0f * sampleRate / kAnalysisRate));
  double length = std::max(minLength, padding + static_cast<double>(hit.end - hit.start));
  if (std::fabs(sampleRate - kAnalysisRate) > kRateTolerance)
    length = std::trunc(length / static_cast<double>(sampleRate / kAnalysisRate));
  length = std::isfinite(length) ? std::min(length, kHugeCount) : kHugeCount;

  const double frameCount = std::trunc((length - frameOffset + 256.0) / Bank::kHop);
  if (!(frameCount >= 1.0)) return false;
  const int32_t pictureEnd = static_cast<int32_t>(blobTimeToFrames(static_cast<float>(kRows)) + 1.0f);
  int32_t longestKernel = 0;
  for (int32_t l : analysisFilterBank().kernelHalfLengths) longestKernel = std::max(longestKernel, l);
  // Frames past these cannot reach the picture: rows read frames below pictureEnd, whose
  // kernels reach longestKernel - 1 frames further.
  const int32_t frames = static_cast<int32_t>(std::min<double>(frameCount, pictureEnd + longestKernel - 1));
  const int32_t rows = std::min(frames, pictureEnd);

  try {
    const int64_t firstFrameSample = int64_t{frameOffset} - kFrameLead;
    int64_t from = std::max<int64_t>(0, firstFrameSample);
    if (lowCut) from = from > kLowCutFullRun ? from - kLowCutWarmUp : 0;
    const int64_t to = static_cast<int64_t>(
        std::min<double>(length, static_cast<double>(firstFrameSample + int64_t{Bank::kHop} * (frames - 1) +
                                                      Bank::kFrameSize)));
    AnalysisSignal signal;
    buildSignal(samples, hit, sampleRate, lowCut, std::min(from, to), to, signal);

    std::vector<float> energies;
    measureBands(signal, frameOffset, frames, rows, energies);
    FloatGrid picture;
    resamplePicture(energies, rows, frameCount, picture);
    float total = 0.0f;
    for (const auto& row : picture)
      for (float v : row) total += v;
    // A hit too quiet to leave anything after the gates has no shape to follow.
    if (!(total > 0.0f) || !std::isfinite(total)) return false;

    FloatGrid timeCurves;
    FloatGrid frequencyCurves;
    if (!fitMesh(picture, timeCurves, frequencyCurves)) return false;
    copyGridValues(gridA, timeCurves);
    copyGridValues(gridB, frequencyCurves);
  } catch (const std::bad_alloc&) {
    return false;
  }
  refresh();
  return true;
}
