#include "engine/VoiceBandSynth.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "engine/BandHopKernel.h"
#include "engine/BandNoise.h"
#include "engine/LaneWidth.h"
#include "engine/Lcg.h"
#include "engine/OscillatorTables.h"
#include "engine/PaddedBandScale.h"
#include "engine/SimdLanes.h"
#include "engine/WideLanes.h"

namespace {

constexpr int32_t kBands = VoiceBandSynth::kBands;
constexpr float kPartialLimitHz = 21091.66f;
constexpr float kPartialLimitOfRate = 0.46f;
constexpr float kUnitPerDraw = 2.3283e-10f;

// Per-band constants of the band measures, falling from the lowest band to the highest: how far
// a time offset reaches, how readily a band counts as tonal, and how strongly a change in time
// counts as a transient. The low bands span few FFT bins and need the larger values.
struct BandMeasureTables {
  std::array<float, kBands> timeOffsetScale;
  std::array<float, kBands> tonalBias;
  std::array<float, kBands> transientScale;
};

const BandMeasureTables& bandMeasureTables() {
  static const BandMeasureTables tables = [] {
    BandMeasureTables t{};
    for (int32_t k = 0; k < kBands; ++k) {
      const double x = static_cast<double>(k) / (kBands - 1);
      const size_t i = static_cast<size_t>(k);
      t.timeOffsetScale[i] = static_cast<float>(std::pow(4.876, 1.0 - x));
      t.tonalBias[i] = static_cast<float>(0.6871 * (1.0 - x));
      t.transientScale[i] = static_cast<float>(std::pow(158.2358, 1.0 - x));
    }
    return t;
  }();
  return tables;
}

inline const float* ringFrame(const DrumVoice& voice, int32_t back) {
  return voice.frames[(voice.ringIndex - back + 2 * DrumVoice::kFrameRing) & (DrumVoice::kFrameRing - 1)];
}

// Lane arrays of `groups` groups of `width` voices: value i of voice v at
// [width·(groups·i + v / width) + v % width]. They are filled from, and emptied into, per-voice
// arrays of n values (n a multiple of 4) by 4 × 4 transposes, four voices at a time.
void interleave(DrumVoice* const* voices, const float* (*source)(const DrumVoice&), float* dst, int32_t n,
                int32_t groups, int32_t width) {
  for (int32_t v = 0; v < groups * width; v += 4) {
    const float* src[4];
    for (int32_t l = 0; l < 4; ++l) src[l] = source(*voices[v + l]);
    float* const base = dst + width * (v / width) + v % width;
    for (int32_t e = 0; e < n; e += 4) {
      Lanes r[4] = {lanesLoad(src[0] + e), lanesLoad(src[1] + e), lanesLoad(src[2] + e), lanesLoad(src[3] + e)};
      lanesTranspose(r[0], r[1], r[2], r[3]);
      for (int32_t k = 0; k < 4; ++k) lanesStore(base + width * groups * (e + k), r[k]);
    }
  }
}

void deinterleave(const float* src, float* const* dst, int32_t n, int32_t count, int32_t groups, int32_t width) {
  for (int32_t v = 0; v < count; v += 4) {
    const float* const base = src + width * (v / width) + v % width;
    for (int32_t e = 0; e < n; e += 4) {
      Lanes r[4];
      for (int32_t k = 0; k < 4; ++k) r[k] = lanesLoad(base + width * groups * (e + k));
      lanesTranspose(r[0], r[1], r[2], r[3]);
      for (int32_t l = 0; l < 4 && v + l < count; ++l) lanesStore(dst[v + l] + e, r[l]);
    }
  }
}

}  // namespace

void VoiceBandSynth::prepare(const BandLayout& layout) {
  const int32_t n = std::max(layout.bandCount, 0);
  const int32_t low = layout.lowBandCount;
  const int32_t high = layout.highBinCount;
  mStride = (n + 3) & ~3;
  for (int32_t i = 0; i < 3; ++i) mCurve[i].assign(kBands, 0.0f);
  for (int32_t k = 0; k < kBands; ++k) {
    for (int32_t i = 0; i < 3; ++i) {
      mCurve[i][static_cast<size_t>(k)] = layout.bandCurve[static_cast<size_t>(k)][static_cast<size_t>(i)];
    }
  }
  const size_t lowPadded = static_cast<size_t>((low + 3) & ~3);
  mRotationRe.assign(lowPadded, 0.0f);
  mRotationIm.assign(lowPadded, 0.0f);
  mNoiseGain.assign(lowPadded, 0.0f);
  for (size_t k = 0; k < static_cast<size_t>(low); ++k) {
    mRotationRe[k] = layout.lowBandRotation[k].real();
    mRotationIm[k] = layout.lowBandRotation[k].imag();
    mNoiseGain[k] = layout.lowBandNoiseGain[k];
  }
  mNoiseSpectrumRe.assign(static_cast<size_t>(mStride), 0.0f);
  mNoiseSpectrumIm.assign(static_cast<size_t>(mStride), 0.0f);
  for (size_t e = 0; e < static_cast<size_t>(n); ++e) {
    mNoiseSpectrumRe[e] = layout.noiseSpectrum[e].real();
    mNoiseSpectrumIm[e] = layout.noiseSpectrum[e].imag();
  }
  mHighBand.assign(static_cast<size_t>(high), 0);
  for (std::vector<float>* v : {&mHighWeightLow, &mHighWeightHigh, &mHighPositionLow, &mHighPositionHigh, &mHighNorm}) {
    v->assign(static_cast<size_t>(high), 0.0f);
  }
  for (size_t j = 0; j < static_cast<size_t>(high); ++j) {
    const BandLayout::HighBin& r = layout.highBinMap[j];
    mHighBand[j] = std::clamp(r.band, 0, kBands - 2);
    mHighWeightLow[j] = r.weightLow;
    mHighWeightHigh[j] = r.weightHigh;
    // Frequency and time offset are positions, so their weights are made to add up to 1: a
    // bin above the top band must not read a fraction of the top band's frequency. The other
    // measures keep the raw weights, which roll the bins off there.
    const float sum = r.weightLow + r.weightHigh;
    mHighPositionLow[j] = sum > 0.0f ? r.weightLow / sum : 0.5f;
    mHighPositionHigh[j] = 1.0f - mHighPositionLow[j];
    mHighNorm[j] = r.norm;
  }

  const size_t lanes = static_cast<size_t>(kMaxVoices);
  for (std::vector<float>& f : mFrames) f.assign(DrumVoice::kFrameStride * lanes, 0.0f);
  mSum.assign(DrumVoice::kFrameStride * lanes, 0.0f);
  for (std::vector<float>* v : {&mFrequency, &mOffset, &mTonal, &mTransient, &mShare}) v->assign(kBands * lanes, 0.0f);
  for (std::vector<float>* v :
       {&mAmplitude, &mMoved, &mEntryTonal, &mTonalWeight, &mTransientWeight, &mNoiseAmount, &mEntryFrequency,
        &mPhasorRe, &mPhasorIm, &mPhasorPower, &mStateRe, &mStateIm, &mNoiseRe, &mNoiseIm, &mPivots}) {
    v->assign(static_cast<size_t>(std::max(mStride, 4)) * lanes, 0.0f);
  }
  mPartialHz.assign(DrumVoice::kPartialCount, 0.0f);
  mPartialValues.assign(DrumVoice::kPartialCount, {0.0f, 0.0f});
  bandMeasureTables();
}

// The voice's noise: at the first hop the fixed noise spectrum, then each low band a
// resonator driven from the noise table at a random offset, each high bin the table itself.
void VoiceBandSynth::updateNoise(const BandLayout& layout, DrumVoice& voice, bool firstHop) {
  const int32_t n = layout.bandCount;
  const int32_t low = layout.lowBandCount;
  voice.seed = lcgStep(voice.seed);
  float* re = voice.noiseRe.data();
  float* im = voice.noiseIm.data();
  if (firstHop) {
    std::copy(mNoiseSpectrumRe.begin(), mNoiseSpectrumRe.begin() + mStride, re);
    std::copy(mNoiseSpectrumIm.begin(), mNoiseSpectrumIm.begin() + mStride, im);
    return;
  }
  const std::complex<float>* table = bandNoise.data() + voice.seed % static_cast<uint32_t>(kBandNoiseSize - n);
  const float* t = reinterpret_cast<const float*>(table);  // re, im pairs
  int32_t k = 0;
  for (; k + 4 <= low; k += 4) {
    const Lanes zr = lanesLoad(re + k);
    const Lanes zi = lanesLoad(im + k);
    const Lanes wr = lanesLoad(mRotationRe.data() + k);
    const Lanes wi = lanesLoad(mRotationIm.data() + k);
    const Lanes g = lanesLoad(mNoiseGain.data() + k);
    const Lanes t0 = lanesLoad(t + 2 * k);
    const Lanes t1 = lanesLoad(t + 2 * k + 4);
    lanesStore(re + k, zr * wr - zi * wi + lanesEven(t0, t1) * g);
    lanesStore(im + k, zr * wi + zi * wr + lanesOdd(t0, t1) * g);
  }
  for (; k < low; ++k) {
    const float zr = re[k];
    const float zi = im[k];
    const float wr = mRotationRe[static_cast<size_t>(k)];
    const float wi = mRotationIm[static_cast<size_t>(k)];
    const float g = mNoiseGain[static_cast<size_t>(k)];
    re[k] = zr * wr - zi * wi + table[k].real() * g;
    im[k] = zr * wi + zi * wr + table[k].imag() * g;
  }
  for (int32_t e = low; e < n; ++e) {
    re[e] = table[e].real();
    im[e] = table[e].imag();
  }
}

void VoiceBandSynth::hops(const BandLayout& layout, DrumVoice* const* voices, const float* density, int32_t count,
                          int32_t width) {
  const int32_t groups = (count + width - 1) / width;
  // Lanes without a voice repeat the first voice; their results are dropped.
  DrumVoice* lane[kMaxVoices];
  float laneDensity[kMaxVoices];
  float laneTonalScale[kMaxVoices];
  for (int32_t l = 0; l < groups * width; ++l) {
    const int32_t v = l < count ? l : 0;
    lane[l] = voices[v];
    const float d = density[v];
    laneDensity[l] = d;
    // The tonal part is scaled back as the density rises above 0.
    const float positive = d < 0.0f ? 0.0f : d;
    laneTonalScale[l] = std::sqrt(1.0f - positive * positive);
  }

  interleave(
      lane, [](const DrumVoice& v) { return ringFrame(v, 3); }, mFrames[0].data(), DrumVoice::kFrameStride, groups,
      width);
  interleave(
      lane, [](const DrumVoice& v) { return ringFrame(v, 2); }, mFrames[1].data(), DrumVoice::kFrameStride, groups,
      width);
  interleave(
      lane, [](const DrumVoice& v) { return ringFrame(v, 1); }, mFrames[2].data(), DrumVoice::kFrameStride, groups,
      width);
  interleave(
      lane, [](const DrumVoice& v) { return static_cast<const float*>(v.stateRe.data()); }, mStateRe.data(), mStride,
      groups, width);
  interleave(
      lane, [](const DrumVoice& v) { return static_cast<const float*>(v.stateIm.data()); }, mStateIm.data(), mStride,
      groups, width);
  interleave(
      lane, [](const DrumVoice& v) { return static_cast<const float*>(v.noiseRe.data()); }, mNoiseRe.data(), mStride,
      groups, width);
  interleave(
      lane, [](const DrumVoice& v) { return static_cast<const float*>(v.noiseIm.data()); }, mNoiseIm.data(), mStride,
      groups, width);

  const BandMeasureTables& measures = bandMeasureTables();
  BandHopTables tables;
  tables.bandCount = layout.bandCount;
  tables.lowCount = layout.lowBandCount;
  tables.highCount = layout.highBinCount;
  tables.firstHighBin = layout.firstHighBin;
  for (int32_t i = 0; i < 3; ++i) tables.curve[i] = mCurve[i].data();
  tables.timeOffsetScale = measures.timeOffsetScale.data();
  tables.tonalBias = measures.tonalBias.data();
  tables.transientScale = measures.transientScale.data();
  tables.highBand = mHighBand.data();
  tables.highWeightLow = mHighWeightLow.data();
  tables.highWeightHigh = mHighWeightHigh.data();
  tables.highPositionLow = mHighPositionLow.data();
  tables.highPositionHigh = mHighPositionHigh.data();
  tables.highNorm = mHighNorm.data();

  BandHopWork work;
  work.frame0 = mFrames[0].data();
  work.frame1 = mFrames[1].data();
  work.frame2 = mFrames[2].data();
  work.sum = mSum.data();
  work.bandFrequency = mFrequency.data();
  work.bandOffset = mOffset.data();
  work.bandTonal = mTonal.data();
  work.bandTransient = mTransient.data();
  work.bandShare = mShare.data();
  work.amplitude = mAmplitude.data();
  work.moved = mMoved.data();
  work.entryTonal = mEntryTonal.data();
  work.tonalWeight = mTonalWeight.data();
  work.transientWeight = mTransientWeight.data();
  work.noiseAmount = mNoiseAmount.data();
  work.entryFrequency = mEntryFrequency.data();
  work.phasorRe = mPhasorRe.data();
  work.phasorIm = mPhasorIm.data();
  work.phasorPower = mPhasorPower.data();
  work.stateRe = mStateRe.data();
  work.stateIm = mStateIm.data();
  work.noiseRe = mNoiseRe.data();
  work.noiseIm = mNoiseIm.data();
  work.pivots = mPivots.data();
  work.density = laneDensity;
  work.tonalScale = laneTonalScale;

#if OSKRA_HAVE_WIDE_LANES
  if (width == WiderLanes::kWidth) {
    runBandHopsWider(tables, work, groups, count);
  } else if (width == WideLanes::kWidth) {
    runBandHopsWide(tables, work, groups, count);
  } else if (groups == 1) {
    bandhop::run<Lanes, 1>(tables, work, 1, count);
  } else {
    bandhop::run<Lanes>(tables, work, groups, count);
  }
#else
  if (groups == 1) {
    bandhop::run<Lanes, 1>(tables, work, 1, count);
  } else {
    bandhop::run<Lanes>(tables, work, groups, count);
  }
#endif

  float* re[kMaxVoices];
  float* im[kMaxVoices];
  for (int32_t l = 0; l < count; ++l) {
    re[l] = voices[l]->stateRe.data();
    im[l] = voices[l]->stateIm.data();
  }
  deinterleave(mStateRe.data(), re, mStride, count, groups, width);
  deinterleave(mStateIm.data(), im, mStride, count, groups, width);
}

void VoiceBandSynth::drumHops(const BandLayout& layout, DrumVoice* const* voices, const float* density,
                              const bool* firstHop, int32_t count) {
  const int32_t n = layout.bandCount;
  if (n <= 0 || count <= 0 || mStride != ((n + 3) & ~3)) return;
  for (int32_t l = 0; l < count; ++l) {
    if (static_cast<int32_t>(voices[l]->stateRe.size()) < mStride) return;
  }
  for (int32_t l = 0; l < count; ++l) updateNoise(layout, *voices[l], firstHop[l]);
  // A few voices fill the narrower lanes: wider ones would only carry copies.
  const int32_t width = std::min(laneWidth(), count <= 4 ? 4 : (count <= 8 ? 8 : 16));
  for (int32_t first = 0; first < count; first += kMaxVoices) {
    hops(layout, voices + first, density + first, std::min(count - first, kMaxVoices), width);
  }
}

int32_t VoiceBandSynth::partialHop(DrumVoice& voice, const PartialSettings& settings, float sampleRate,
                                   float unisonDraw) {
  const OscillatorTables& tables = oscillatorTables();
  const size_t o = static_cast<size_t>(std::clamp(settings.oscillator, 0, OscillatorTables::kShapes - 1));
  const float* steps = tables.steps[o].data();
  const float* levels = tables.levels[o].data();
  const float s = settings.stretch;
  const float sigma = 0.1f * std::fabs(s) * s;
  int32_t maxCount = DrumVoice::kPartialCount;
  // With a strong negative stretch the steps would turn negative: the series ends first.
  if (sigma < -1.0f / static_cast<float>(maxCount)) maxCount = std::min(maxCount, static_cast<int32_t>(-1.0f / sigma));
  const float limit = std::min(kPartialLimitOfRate * sampleRate, kPartialLimitHz);
  const float f0 = settings.fundamentalHz;
  const float fk = settings.lookupHz;
  const float ampScale = 0.5f * std::sqrt(std::max(f0, 0.0f));
  const float d = (settings.density * 0.5f + 0.5f) * 1.4f;
  const float g = std::max(1.0f - 0.7f * d, 0.0f);
  const float u = std::max(settings.unison, 1.0f) / 1200.0f * 32.0f / sampleRate;
  const float v = (2.0f * unisonDraw + 0.5f) * u;
  const float halfHop = 32.0f / sampleRate;
  const float* frame = ringFrame(voice, 2);
  float* phase1 = voice.partialPhases[0];
  float* phase2 = voice.partialPhases[1];

  int32_t count = 0;
  int32_t cursor = 0;  // padded band index, only moving up
  float harmonic = 0.0f;
  for (int32_t k = 0; k < maxCount; ++k) {
    const float step = steps[k];
    // A series that stops growing would stack every further partial on the same frequency.
    if (k > 0 && !(step > 0.0f)) break;
    harmonic += (static_cast<float>(k) * sigma + 1.0f) * step;
    const float f = f0 * harmonic;
    const float fl = fk * harmonic;
    if (!(f <= limit && fl <= limit)) break;

    // The band frame read at the lookup frequency, linear between neighbouring bands and held
    // within the frame's guard values.
    while (cursor < kPaddedBandCount - 2 && fl > kPaddedBandCentreHz[static_cast<size_t>(cursor) + 1]) ++cursor;
    float position =
        static_cast<float>(cursor - kBandPadding) + (fl - kPaddedBandCentreHz[static_cast<size_t>(cursor)]) *
                                                        kPaddedBandInverseSpacing[static_cast<size_t>(cursor)];
    position = std::clamp(position, -1.0f, static_cast<float>(kBands));
    float band;
    if (position >= static_cast<float>(kBands)) {
      band = frame[kBands + 1];
    } else {
      const int32_t i = static_cast<int32_t>(std::floor(position));
      const float w = position - static_cast<float>(i);
      band = frame[i + 1] + (frame[i + 2] - frame[i + 1]) * w;
    }
    const float amplitude = ampScale * levels[k] * band;

    const float cycles = halfHop * f;
    const float p = wrapPhase(phase1[k] + cycles);
    phase1[k] = p + cycles;
    const float p2 = wrapPhase(phase2[k] + f * u / (f * v + 1.0f));
    phase2[k] = p2;
    const float wobble = 20.78f * p2 * (p2 - 0.5f) * (p2 - 1.0f) * d;
    float c;
    float sn;
    approxCosSin(p, c, sn);
    mPartialHz[static_cast<size_t>(count)] = f;
    mPartialValues[static_cast<size_t>(count)] = {amplitude * (sn * g + c * wobble), amplitude * (sn * wobble - c * g)};
    ++count;
  }
  return count;
}

void shapeBandFrame(float* frame, float fade, float damping, float filter) {
  float* bands = frame + 1;
  if (fade != 1.0f || damping > 0.0f) {
    for (int32_t k = 0; k < kBands; ++k) {
      const float x = 2.0f * damping * static_cast<float>(k);
      bands[k] *= fade / (x * x * x + 1.0f);
    }
  }
  // "Filter": a 20-band smooth edge below which (low-pass) or above which (high-pass) the bands
  // fall to 0.
  constexpr float kDeadZone = 0.00001f;
  constexpr float kEdgeStep = 0.05f;
  if (filter < -kDeadZone) {
    const float c = (filter + 1.0f) * 80.0f;
    const int32_t begin = std::max(static_cast<int32_t>(c + 1.0f), 0);
    const int32_t end = std::min(static_cast<int32_t>(c + 20.0f), kBands);
    float x = 1.0f - (static_cast<float>(begin) - c) * kEdgeStep;
    for (int32_t k = begin; k < end; ++k, x -= kEdgeStep) bands[k] *= (3.0f - 2.0f * x) * x * x;
    for (int32_t k = std::max(end, begin); k < kBands; ++k) bands[k] = 0.0f;
  } else if (filter > kDeadZone) {
    const float c = filter * 60.0f - 20.0f;
    const int32_t begin = std::max(static_cast<int32_t>(c + 1.0f), 0);
    const int32_t end = std::min(static_cast<int32_t>(c + 20.0f), kBands);
    float x = (static_cast<float>(begin) - c) * kEdgeStep;
    for (int32_t k = begin; k < end; ++k, x += kEdgeStep) bands[k] *= (3.0f - 2.0f * x) * x * x;
    for (int32_t k = 0; k < std::min(begin, kBands); ++k) bands[k] = 0.0f;
  }
  frame[0] = std::max(1.5f * bands[0] - 0.5f * bands[1], 0.8f * bands[0]);
  frame[kBands + 1] = std::max(1.5f * bands[kBands - 1] - 0.5f * bands[kBands - 2], 0.8f * bands[kBands - 1]);
}
