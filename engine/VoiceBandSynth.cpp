#include "engine/VoiceBandSynth.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "engine/BandNoise.h"
#include "engine/ComplexChainSmoother.h"
#include "engine/Lcg.h"
#include "engine/OscillatorTables.h"
#include "engine/PaddedBandScale.h"

namespace {

constexpr int32_t kBands = VoiceBandSynth::kBands;
constexpr float kTiny = 1e-30f;
// A peak this far from its bin (cycles per hop) starts to move to the bins around it.
constexpr float kRelocationSlack = 0.4f;
constexpr float kMinRelocatedAmplitude = 1e-9f;
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

// The unit phasor of 2π·x, x in cycles.
inline std::complex<float> unitPhasor(float x) {
  float c;
  float s;
  approxCosSin(wrapPhase(x), c, s);
  const float inv = 1.0f / std::sqrt(c * c + s * s);
  return {c * inv, s * inv};
}

}  // namespace

void VoiceBandSynth::prepare(const BandLayout& layout) {
  const size_t n = static_cast<size_t>(std::max(layout.bandCount, 1));
  for (std::vector<float>* v : {&mAmplitude, &mMoved, &mTonalWeight, &mTransientWeight, &mNoiseAmount,
                                &mBinFrequency, &mPhasorPower, &mPivots}) {
    v->assign(n, 0.0f);
  }
  mPhasor.assign(n, {0.0f, 0.0f});
  mPartialHz.assign(DrumVoice::kPartialCount, 0.0f);
  mPartialValues.assign(DrumVoice::kPartialCount, {0.0f, 0.0f});
  bandMeasureTables();
}

void VoiceBandSynth::drumHop(const BandLayout& layout, DrumVoice& voice, float density, bool firstHop) {
  const int32_t low = layout.lowBandCount;
  const int32_t high = layout.highBinCount;
  const int32_t n = layout.bandCount;
  if (n <= 0 || static_cast<int32_t>(voice.bandStates.size()) < n || static_cast<int32_t>(mAmplitude.size()) < n) {
    return;
  }
  const BandMeasureTables& tables = bandMeasureTables();

  // Band measures from the three latest frames: f0 the oldest, f2 the newest, each with its
  // guard values at index 0 and 81 (band k sits at k + 1).
  const float* f0 = ringFrame(voice, 3);
  const float* f1 = ringFrame(voice, 2);
  const float* f2 = ringFrame(voice, 1);
  float sum[DrumVoice::kFrameSize];
  for (int32_t i = 0; i < DrumVoice::kFrameSize; ++i) sum[i] = f0[i] + f1[i];
  for (int32_t k = 0; k < kBands; ++k) {
    const float below = sum[k];
    const float at = sum[k + 1];
    const float above = sum[k + 2];
    // Where the peak lies between the neighbours, and its frequency on the band's curve.
    const float delta = (above - below) / ((above + below) * 0.4249418f + at * 1.026078f + kTiny);
    const std::array<float, 3>& c = layout.bandCurve[static_cast<size_t>(k)];
    mFrequency[k] = c[0] + (c[1] + c[2] * delta) * delta;
    const float p0 = f0[k + 1] + f0[k + 2];
    const float p1 = f1[k + 1] + f1[k + 2];
    const float p2 = f2[k + 1] + f2[k + 2];
    mOffset[k] = (p2 - p0) / ((p2 + p0) * 0.51741993f + p1 * 1.1453495f + kTiny) *
                 tables.timeOffsetScale[static_cast<size_t>(k)] * -0.25f;
    if (k == kBands - 1) break;
    // A band standing out of its neighbours is tonal; one standing out of its time
    // neighbours is a transient.
    const float total = below + at + above + kTiny;
    const float r = at / total;
    const float q = std::fabs(below - above) / total;
    mTonal[k] = std::max((r * r - 0.112f) * 3.0308092f + (r - 0.333f) * 3.8979936f + q * q * 2.8152032f +
                             tables.tonalBias[static_cast<size_t>(k)],
                         0.0f);
    const float totalTime = p0 + p1 + p2 + kTiny;
    const float rt = p1 / totalTime;
    const float qt = std::fabs(p0 - p2) / totalTime;
    mTransient[k] = std::max(((rt * rt - 0.112f) * 1.8380917f + (rt - 0.333f) * 3.5223093f + qt * qt * 2.5911577f) *
                                 tables.transientScale[static_cast<size_t>(k)],
                             0.0f);
    mShare[k] = std::min(mTonal[k] + mTransient[k], 1.0f);
  }
  mTonal[kBands - 1] = mTonal[kBands - 2];
  mTransient[kBands - 1] = mTransient[kBands - 2];
  mShare[kBands - 1] = mShare[kBands - 2];

  // The voice's noise: at the first hop the fixed noise spectrum, then each low band a
  // resonator driven from the noise table at a random offset, each high bin the table itself.
  voice.seed = lcgStep(voice.seed);
  std::complex<float>* noise = voice.noiseStates.data();
  if (firstHop) {
    std::copy(layout.noiseSpectrum.begin(), layout.noiseSpectrum.begin() + n, noise);
  } else {
    const std::complex<float>* table = bandNoise.data() + voice.seed % static_cast<uint32_t>(kBandNoiseSize - n);
    for (int32_t k = 0; k < low; ++k) {
      const std::complex<float> z = noise[k];
      const std::complex<float> w = layout.lowBandRotation[static_cast<size_t>(k)];
      const float g = layout.lowBandNoiseGain[static_cast<size_t>(k)];
      noise[k] = {z.real() * w.real() - z.imag() * w.imag() + table[k].real() * g,
                  z.real() * w.imag() + z.imag() * w.real() + table[k].imag() * g};
    }
    std::copy(table + low, table + n, noise + low);
  }

  const float densityMagnitude = std::fabs(density);
  const float densityBelow = std::min(density, 0.0f);
  auto setEntry = [&](int32_t e, float amplitude, float tonal, float transient, float share, float frequency,
                      float offset) {
    const size_t i = static_cast<size_t>(e);
    mAmplitude[i] = amplitude;
    const float wt = std::max(tonal + 0.3f, 0.2f);
    const float wq = std::max(transient + 0.4f, 0.2f);
    mTonalWeight[i] = wt * wt;
    mTransientWeight[i] = wq * wq;
    mNoiseAmount[i] = (densityMagnitude - 1.0f) * share + densityBelow + 1.0f;
    mBinFrequency[i] = frequency;
    mPhasor[i] = unitPhasor(offset);
  };
  for (int32_t k = 0; k < low; ++k) {
    setEntry(k, f1[k + 1], mTonal[k], mTransient[k], mShare[k], mFrequency[k], mOffset[k]);
  }

  // High bins read the two bands around them. A tonal peak that lies away from its bin moves
  // its share of the bin's amplitude to the two bins around the peak; every move is worked out
  // from the amplitudes before any move, and a peak outside the high bins stays where it is.
  float* moved = mMoved.data();
  std::fill(moved + low, moved + n, 0.0f);
  const int32_t first = layout.firstHighBin;
  for (int32_t j = 0; j < high; ++j) {
    const BandLayout::HighBin& r = layout.highBinMap[static_cast<size_t>(j)];
    const int32_t b = std::clamp(r.band, 0, kBands - 2);
    const float wl = r.weightLow;
    const float wh = r.weightHigh;
    // Frequency and time offset are positions, so their weights are made to add up to 1: a
    // bin above the top band must not read a fraction of the top band's frequency. The other
    // measures keep the raw weights, which roll the bins off there.
    const float wsum = wl + wh;
    const float pl = wsum > 0.0f ? wl / wsum : 0.5f;
    const float ph = 1.0f - pl;
    const float amplitude = (wl * f1[b + 1] + wh * f1[b + 2]) * r.norm;
    const float tonal = wl * mTonal[b] + wh * mTonal[b + 1];
    const float frequency = pl * mFrequency[b] + ph * mFrequency[b + 1];
    setEntry(low + j, amplitude, tonal, wl * mTransient[b] + wh * mTransient[b + 1],
             wl * mShare[b] + wh * mShare[b + 1], frequency, pl * mOffset[b] + ph * mOffset[b + 1]);
    if (!(amplitude > kMinRelocatedAmplitude)) continue;
    const float away = std::fabs(frequency - static_cast<float>(first + j) * 0.25f) - kRelocationSlack;
    const float share = std::min(std::max(away * 5.0f, 0.0f) * tonal, 1.0f);
    if (!(share > 0.0f)) continue;
    const float position = frequency * 4.0f;  // in bins
    if (!(position >= static_cast<float>(first) && position < static_cast<float>(first + high - 1))) continue;
    const int32_t to = static_cast<int32_t>(position);
    const float frac = position - static_cast<float>(to);
    const float taken = share * amplitude;
    moved[low + j] -= taken;
    moved[low + to - first] += taken * (1.0f - frac);
    moved[low + to - first + 1] += taken * frac;
  }
  float* amplitude = mAmplitude.data();
  for (int32_t e = low; e < n; ++e) amplitude[e] += moved[e];

  // Each state turns at its band's frequency; a state that has died away barely counts as
  // tonal, so the coupling rebuilds it from its neighbours.
  std::complex<float>* state = voice.bandStates.data();
  for (int32_t e = 0; e < n; ++e) {
    const std::complex<float> w = unitPhasor(mBinFrequency[static_cast<size_t>(e)]);
    const float zr = state[e].real() * w.real() - state[e].imag() * w.imag();
    const float zi = state[e].real() * w.imag() + state[e].imag() * w.real();
    mTonalWeight[static_cast<size_t>(e)] *= std::min((zr * zr + zi * zi) * 1e20f + 0.001f, 1.0f);
    state[e] = {zr + 1e-30f, zi + 1e-10f};
    const std::complex<float> c = mPhasor[static_cast<size_t>(e)];
    mPhasorPower[static_cast<size_t>(e)] = c.real() * c.real() + c.imag() * c.imag();
  }
  smoothComplexChain(state, n, mTonalWeight.data(), mPhasor.data(), mPhasorPower.data(), mTransientWeight.data(),
                     state, mPivots.data());

  // Magnitude from the frame, the tonal part scaled back as the density rises, plus noise.
  const float tonalScale = std::sqrt(1.0f - std::max(density, 0.0f) * std::max(density, 0.0f));
  for (int32_t e = 0; e < n; ++e) {
    const float a = amplitude[e];
    const float v = a * mNoiseAmount[static_cast<size_t>(e)];
    const float zr = state[e].real();
    const float zi = state[e].imag();
    const float g = (v + a) * tonalScale / (std::sqrt(zr * zr + zi * zi) + v + kTiny);
    state[e] = {zr * g + noise[e].real() * v, zi * g + noise[e].imag() * v};
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
    float position = static_cast<float>(cursor - kBandPadding) +
                     (fl - kPaddedBandCentreHz[static_cast<size_t>(cursor)]) *
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
