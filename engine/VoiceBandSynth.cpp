#include "engine/VoiceBandSynth.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "engine/BandNoise.h"
#include "engine/ComplexChainSmoother.h"
#include "engine/Lcg.h"
#include "engine/OscillatorTables.h"
#include "engine/PaddedBandScale.h"
#include "engine/SimdLanes.h"

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

// The unit phasor of 2π·x (x in cycles): approxCosSin on the wrapped phase, normalised.
inline void unitPhasor(Lanes x, Lanes& re, Lanes& im) {
  const Lanes p = lanesWrap(x);
  const Lanes q = lanesSplat(4.0f) * p * (lanesSplat(1.0f) - p);
  const Lanes q2 = q * q;
  const Lanes c = lanesSplat(1.0f) - (lanesSplat(0.5268947f) * q2 + lanesSplat(1.4731053f)) * q2;
  const Lanes s =
      (lanesSplat(0.5f) - p) * q * ((lanesSplat(1.2080399f) * q + lanesSplat(1.7851804f)) * q + lanesSplat(3.320247f));
  const Lanes inv = lanesSplat(1.0f) / lanesSqrt(c * c + s * s);
  re = c * inv;
  im = s * inv;
}

// Lane arrays of G groups of four voices: value i of group g at [4·(G·i + g)]. They are filled
// from, and emptied into, per-voice arrays of n values (n a multiple of 4) by 4 × 4 transposes.
template <int G>
void interleave(DrumVoice* const* voices, const float* (*source)(const DrumVoice&), float* dst, int32_t n) {
  for (int32_t g = 0; g < G; ++g) {
    const float* src[4];
    for (int32_t l = 0; l < 4; ++l) src[l] = source(*voices[4 * g + l]);
    for (int32_t e = 0; e < n; e += 4) {
      Lanes r[4] = {lanesLoad(src[0] + e), lanesLoad(src[1] + e), lanesLoad(src[2] + e), lanesLoad(src[3] + e)};
      lanesTranspose(r[0], r[1], r[2], r[3]);
      for (int32_t k = 0; k < 4; ++k) lanesStore(dst + 4 * (G * (e + k) + g), r[k]);
    }
  }
}

template <int G>
void deinterleave(const float* src, float* const* dst, int32_t n, int32_t count) {
  for (int32_t g = 0; g < G && 4 * g < count; ++g) {
    for (int32_t e = 0; e < n; e += 4) {
      Lanes r[4];
      for (int32_t k = 0; k < 4; ++k) r[k] = lanesLoad(src + 4 * (G * (e + k) + g));
      lanesTranspose(r[0], r[1], r[2], r[3]);
      for (int32_t l = 0; l < 4 && 4 * g + l < count; ++l) lanesStore(dst[4 * g + l] + e, r[l]);
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

template <int G>
void VoiceBandSynth::hops(const BandLayout& layout, DrumVoice* const* lane, const float* density, int32_t count) {
  const int32_t n = layout.bandCount;
  const int32_t low = layout.lowBandCount;
  const int32_t high = layout.highBinCount;
  // Vector stores may alias anything, so the arrays are reached through local pointers: the
  // compiler then keeps them in registers instead of reloading them after every store.
  auto at = [](const float* v, int32_t i, int32_t g) { return lanesLoad(v + 4 * (G * i + g)); };
  auto put = [](float* v, int32_t i, int32_t g, Lanes x) { lanesStore(v + 4 * (G * i + g), x); };
  float* const frame0 = mFrames[0].data();
  float* const frame1 = mFrames[1].data();
  float* const frame2 = mFrames[2].data();
  float* const sum = mSum.data();
  float* const bandFrequency = mFrequency.data();
  float* const bandOffset = mOffset.data();
  float* const bandTonal = mTonal.data();
  float* const bandTransient = mTransient.data();
  float* const bandShare = mShare.data();
  float* const amplitudes = mAmplitude.data();
  float* const moved = mMoved.data();
  float* const entryTonal = mEntryTonal.data();
  float* const tonalWeight = mTonalWeight.data();
  float* const transientWeight = mTransientWeight.data();
  float* const noiseAmount = mNoiseAmount.data();
  float* const entryFrequency = mEntryFrequency.data();
  float* const phasorRe = mPhasorRe.data();
  float* const phasorIm = mPhasorIm.data();
  float* const phasorPower = mPhasorPower.data();
  float* const stateRe = mStateRe.data();
  float* const stateIm = mStateIm.data();
  float* const noiseRe = mNoiseRe.data();
  float* const noiseIm = mNoiseIm.data();
  const float* const curve0 = mCurve[0].data();
  const float* const curve1 = mCurve[1].data();
  const float* const curve2 = mCurve[2].data();
  const Lanes tiny = lanesSplat(kTiny);
  const Lanes zero = lanesZero();
  const Lanes one = lanesSplat(1.0f);

  interleave<G>(
      lane, [](const DrumVoice& v) { return ringFrame(v, 3); }, frame0, DrumVoice::kFrameStride);
  interleave<G>(
      lane, [](const DrumVoice& v) { return ringFrame(v, 2); }, frame1, DrumVoice::kFrameStride);
  interleave<G>(
      lane, [](const DrumVoice& v) { return ringFrame(v, 1); }, frame2, DrumVoice::kFrameStride);
  interleave<G>(
      lane, [](const DrumVoice& v) { return static_cast<const float*>(v.stateRe.data()); }, stateRe, mStride);
  interleave<G>(
      lane, [](const DrumVoice& v) { return static_cast<const float*>(v.stateIm.data()); }, stateIm, mStride);
  interleave<G>(
      lane, [](const DrumVoice& v) { return static_cast<const float*>(v.noiseRe.data()); }, noiseRe, mStride);
  interleave<G>(
      lane, [](const DrumVoice& v) { return static_cast<const float*>(v.noiseIm.data()); }, noiseIm, mStride);

  // Per band: the peak's frequency on the band's curve and its offset in time, how tonal
  // (standing out of its neighbours in frequency) and how transient (standing out in time).
  const BandMeasureTables& tables = bandMeasureTables();
  for (int32_t i = 0; i < DrumVoice::kFrameStride; ++i)
    for (int32_t g = 0; g < G; ++g) put(sum, i, g, at(frame0, i, g) + at(frame1, i, g));
  for (int32_t k = 0; k < kBands; ++k) {
    const size_t b = static_cast<size_t>(k);
    for (int32_t g = 0; g < G; ++g) {
      const Lanes below = at(sum, k, g);
      const Lanes centre = at(sum, k + 1, g);
      const Lanes above = at(sum, k + 2, g);
      const Lanes delta =
          (above - below) / ((above + below) * lanesSplat(0.4249418f) + centre * lanesSplat(1.026078f) + tiny);
      put(bandFrequency, k, g, lanesSplat(curve0[b]) + (lanesSplat(curve1[b]) + lanesSplat(curve2[b]) * delta) * delta);
      const Lanes p0 = at(frame0, k + 1, g) + at(frame0, k + 2, g);
      const Lanes p1 = at(frame1, k + 1, g) + at(frame1, k + 2, g);
      const Lanes p2 = at(frame2, k + 1, g) + at(frame2, k + 2, g);
      put(bandOffset, k, g,
          (p2 - p0) / ((p2 + p0) * lanesSplat(0.51741993f) + p1 * lanesSplat(1.1453495f) + tiny) *
              lanesSplat(tables.timeOffsetScale[b]) * lanesSplat(-0.25f));
      const Lanes total = below + centre + above + tiny;
      const Lanes r = centre / total;
      const Lanes q = lanesAbs(below - above) / total;
      const Lanes tonal = lanesMax((r * r - lanesSplat(0.112f)) * lanesSplat(3.0308092f) +
                                       (r - lanesSplat(0.333f)) * lanesSplat(3.8979936f) +
                                       q * q * lanesSplat(2.8152032f) + lanesSplat(tables.tonalBias[b]),
                                   zero);
      const Lanes totalTime = p0 + p1 + p2 + tiny;
      const Lanes rt = p1 / totalTime;
      const Lanes qt = lanesAbs(p0 - p2) / totalTime;
      const Lanes transient =
          lanesMax(((rt * rt - lanesSplat(0.112f)) * lanesSplat(1.8380917f) +
                    (rt - lanesSplat(0.333f)) * lanesSplat(3.5223093f) + qt * qt * lanesSplat(2.5911577f)) *
                       lanesSplat(tables.transientScale[b]),
                   zero);
      put(bandTonal, k, g, tonal);
      put(bandTransient, k, g, transient);
      put(bandShare, k, g, lanesMin(tonal + transient, one));
    }
  }
  // The top band has no neighbour above: it takes the measures of the band below.
  for (int32_t g = 0; g < G; ++g) {
    put(bandTonal, kBands - 1, g, at(bandTonal, kBands - 2, g));
    put(bandTransient, kBands - 1, g, at(bandTransient, kBands - 2, g));
    put(bandShare, kBands - 1, g, at(bandShare, kBands - 2, g));
  }

  // What each synthesis band or bin takes into the hop: amplitude, the weights of the
  // coupling, the noise amount, the frequency and the time phasor. Low bands read their own
  // band; high bins the two bands around them.
  Lanes densityMagnitude[G];
  Lanes densityBelow[G];
  for (int32_t g = 0; g < G; ++g) {
    const Lanes d = lanesLoad(density + 4 * g);
    densityMagnitude[g] = lanesAbs(d);
    densityBelow[g] = lanesMin(d, zero);
  }
  auto setEntry = [&](int32_t e, int32_t g, Lanes amplitude, Lanes tonal, Lanes transient, Lanes share, Lanes frequency,
                      Lanes offset) {
    put(amplitudes, e, g, amplitude);
    put(entryTonal, e, g, tonal);
    const Lanes wt = lanesMax(tonal + lanesSplat(0.3f), lanesSplat(0.2f));
    const Lanes wq = lanesMax(transient + lanesSplat(0.4f), lanesSplat(0.2f));
    put(tonalWeight, e, g, wt * wt);
    put(transientWeight, e, g, wq * wq);
    put(noiseAmount, e, g, (densityMagnitude[g] - one) * share + densityBelow[g] + one);
    put(entryFrequency, e, g, frequency);
    Lanes re;
    Lanes im;
    unitPhasor(offset, re, im);
    put(phasorRe, e, g, re);
    put(phasorIm, e, g, im);
    put(phasorPower, e, g, re * re + im * im);
  };
  for (int32_t k = 0; k < low; ++k) {
    for (int32_t g = 0; g < G; ++g) {
      setEntry(k, g, at(frame1, k + 1, g), at(bandTonal, k, g), at(bandTransient, k, g), at(bandShare, k, g),
               at(bandFrequency, k, g), at(bandOffset, k, g));
    }
  }
  for (int32_t j = 0; j < high; ++j) {
    const size_t i = static_cast<size_t>(j);
    const int32_t b = mHighBand[i];
    const Lanes wl = lanesSplat(mHighWeightLow[i]);
    const Lanes wh = lanesSplat(mHighWeightHigh[i]);
    const Lanes pl = lanesSplat(mHighPositionLow[i]);
    const Lanes ph = lanesSplat(mHighPositionHigh[i]);
    const Lanes norm = lanesSplat(mHighNorm[i]);
    for (int32_t g = 0; g < G; ++g) {
      auto mix = [&](const float* v, Lanes lo, Lanes hi) { return lo * at(v, b, g) + hi * at(v, b + 1, g); };
      const Lanes amplitude = (wl * at(frame1, b + 1, g) + wh * at(frame1, b + 2, g)) * norm;
      setEntry(low + j, g, amplitude, mix(bandTonal, wl, wh), mix(bandTransient, wl, wh), mix(bandShare, wl, wh),
               mix(bandFrequency, pl, ph), mix(bandOffset, pl, ph));
    }
  }

  // A tonal peak that lies away from its high bin moves its share of the bin's amplitude to
  // the two bins around the peak. Every move is worked out from the amplitudes before any
  // move; a peak outside the high bins stays where it is.
  const int32_t first = layout.firstHighBin;
  std::fill(moved + 4 * G * low, moved + 4 * G * n, 0.0f);
  bool anyMoved = false;
  for (int32_t j = 0; j < high; ++j) {
    const int32_t e = low + j;
    const Lanes binFrequency = lanesSplat(static_cast<float>(first + j) * 0.25f);
    for (int32_t g = 0; g < G; ++g) {
      const Lanes away = lanesAbs(at(entryFrequency, e, g) - binFrequency) - lanesSplat(kRelocationSlack);
      const Lanes share = lanesMin(lanesMax(away * lanesSplat(5.0f), zero) * at(entryTonal, e, g), one);
      float shares[4];
      lanesStore(shares, share);
      for (int32_t l = 0; l < 4 && 4 * g + l < count; ++l) {
        if (!(shares[l] > 0.0f)) continue;
        const size_t at0 = static_cast<size_t>(4 * (G * e + g) + l);
        const float a = amplitudes[at0];
        if (!(a > kMinRelocatedAmplitude)) continue;
        const float position = entryFrequency[at0] * 4.0f;  // in bins
        if (!(position >= static_cast<float>(first) && position < static_cast<float>(first + high - 1))) continue;
        const int32_t to = static_cast<int32_t>(position);
        const float frac = position - static_cast<float>(to);
        const float taken = shares[l] * a;
        const size_t target = static_cast<size_t>(4 * (G * (low + to - first) + g) + l);
        moved[at0] -= taken;
        moved[target] += taken * (1.0f - frac);
        moved[target + 4 * G] += taken * frac;
        anyMoved = true;
      }
    }
  }
  if (anyMoved) {
    for (int32_t e = low; e < n; ++e)
      for (int32_t g = 0; g < G; ++g) put(amplitudes, e, g, at(amplitudes, e, g) + at(moved, e, g));
  }

  // Each state turns at its band's frequency; a state that has died away barely counts as
  // tonal, so the coupling rebuilds it from its neighbours.
  for (int32_t e = 0; e < n; ++e) {
    for (int32_t g = 0; g < G; ++g) {
      Lanes wr;
      Lanes wi;
      unitPhasor(at(entryFrequency, e, g), wr, wi);
      const Lanes sr = at(stateRe, e, g);
      const Lanes si = at(stateIm, e, g);
      const Lanes zr = sr * wr - si * wi;
      const Lanes zi = sr * wi + si * wr;
      put(tonalWeight, e, g,
          at(tonalWeight, e, g) * lanesMin((zr * zr + zi * zi) * lanesSplat(1e20f) + lanesSplat(0.001f), one));
      put(stateRe, e, g, zr + lanesSplat(1e-30f));
      put(stateIm, e, g, zi + lanesSplat(1e-10f));
    }
  }
  smoothComplexChainLanes(stateRe, stateIm, n, tonalWeight, phasorRe, phasorIm, phasorPower, transientWeight, stateRe,
                          stateIm, mPivots.data(), G);

  // Magnitude from the frame, the tonal part scaled back as the density rises, plus noise.
  Lanes tonalScale[G];
  for (int32_t g = 0; g < G; ++g) {
    const Lanes positive = lanesMax(lanesLoad(density + 4 * g), zero);
    tonalScale[g] = lanesSqrt(one - positive * positive);
  }
  for (int32_t e = 0; e < n; ++e) {
    for (int32_t g = 0; g < G; ++g) {
      const Lanes a = at(amplitudes, e, g);
      const Lanes v = a * at(noiseAmount, e, g);
      const Lanes zr = at(stateRe, e, g);
      const Lanes zi = at(stateIm, e, g);
      const Lanes gain = (v + a) * tonalScale[g] / (lanesSqrt(zr * zr + zi * zi) + v + tiny);
      put(stateRe, e, g, zr * gain + at(noiseRe, e, g) * v);
      put(stateIm, e, g, zi * gain + at(noiseIm, e, g) * v);
    }
  }

  float* re[kMaxVoices];
  float* im[kMaxVoices];
  for (int32_t l = 0; l < count; ++l) {
    re[l] = lane[l]->stateRe.data();
    im[l] = lane[l]->stateIm.data();
  }
  deinterleave<G>(stateRe, re, mStride, count);
  deinterleave<G>(stateIm, im, mStride, count);
}

void VoiceBandSynth::drumHops(const BandLayout& layout, DrumVoice* const* voices, const float* density,
                              const bool* firstHop, int32_t count) {
  const int32_t n = layout.bandCount;
  count = std::min(count, kMaxVoices);
  if (n <= 0 || count <= 0 || mStride != ((n + 3) & ~3)) return;
  for (int32_t l = 0; l < count; ++l) {
    if (static_cast<int32_t>(voices[l]->stateRe.size()) < mStride) return;
  }
  for (int32_t l = 0; l < count; ++l) updateNoise(layout, *voices[l], firstHop[l]);
  // Lanes without a voice repeat the first voice; their results are dropped.
  DrumVoice* lane[kMaxVoices];
  float laneDensity[kMaxVoices];
  for (int32_t l = 0; l < kMaxVoices; ++l) {
    lane[l] = voices[l < count ? l : 0];
    laneDensity[l] = density[l < count ? l : 0];
  }
  if (count <= kLanes) {
    hops<1>(layout, lane, laneDensity, count);
  } else {
    hops<2>(layout, lane, laneDensity, count);
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
