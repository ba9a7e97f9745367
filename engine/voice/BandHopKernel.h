#pragma once

#include <complex>
#include <cstdint>

#include "engine/dsp/ComplexChainLanes.h"

// The arithmetic of one hop of drum-voice band values, written once for any lane type L
// (Lanes, WideLanes, WiderLanes): each lane is one voice, and a lane gives exactly what the
// same voice gives alone, whatever the width. Lane arrays hold value i of lane l at
// [bandhop::kLanes·i + l]: every voice keeps its lane from hop to hop, and a hop works on the
// groups of L::kWidth lanes that carry voices.
//
// Only templates and plain records live here: a wide translation unit includes this header
// under its own target, and each lane type gets its own instantiation.

// Per-band and per-bin tables of the sample rate's layout, by component.
struct BandHopTables {
  int32_t bandCount = 0;  // synthesis entries: low bands, then high bins
  int32_t lowCount = 0;
  int32_t highCount = 0;
  int32_t firstHighBin = 0;
  const float* curve[3] = {};  // per band: the frequency quadratic's coefficients
  const float* timeOffsetScale = nullptr;
  const float* tonalBias = nullptr;
  const float* transientScale = nullptr;
  // Per high bin: the band below it, the raw weights of the two bands, the weights of
  // positions (adding up to 1) and the amplitude normalisation.
  const int32_t* highBand = nullptr;
  const float* highWeightLow = nullptr;
  const float* highWeightHigh = nullptr;
  const float* highPositionLow = nullptr;
  const float* highPositionHigh = nullptr;
  const float* highNorm = nullptr;
  // The noise: per low band the resonator's rotation and input gain; per entry the fixed
  // spectrum a note's noise starts from.
  const float* rotationRe = nullptr;
  const float* rotationIm = nullptr;
  const float* noiseGain = nullptr;
  const float* noiseSpectrumRe = nullptr;
  const float* noiseSpectrumIm = nullptr;
};

// Lane arrays: the three frames (82 values each), the band measures (80), and per synthesis
// entry the work values, the voices' states (in and out) and their noise.
struct BandHopWork {
  const float* frame0 = nullptr;  // oldest
  const float* frame1 = nullptr;
  const float* frame2 = nullptr;  // newest
  float* sum = nullptr;
  float* bandFrequency = nullptr;
  float* bandOffset = nullptr;
  float* bandTonal = nullptr;
  float* bandTransient = nullptr;
  float* bandShare = nullptr;
  float* amplitude = nullptr;
  float* moved = nullptr;
  float* entryTonal = nullptr;
  float* tonalWeight = nullptr;
  float* transientWeight = nullptr;
  float* noiseAmount = nullptr;
  float* entryFrequency = nullptr;
  float* phasorRe = nullptr;
  float* phasorIm = nullptr;
  float* phasorPower = nullptr;
  float* stateRe = nullptr;
  float* stateIm = nullptr;
  // The voices' noise states (in and out) and this hop's noise table values, read at each
  // voice's own offset.
  float* noiseRe = nullptr;
  float* noiseIm = nullptr;
  const float* tableRe = nullptr;
  const float* tableIm = nullptr;
  float* pivots = nullptr;
  const float* density = nullptr;     // per lane (kLanes): the voice's "Density", -1..1
  const float* tonalScale = nullptr;  // per lane (kLanes): sqrt(1 - max(density, 0)²)
  const float* firstHop = nullptr;    // per lane (kLanes): 1 at a note's first hop, else 0
};

// bandhop::run for WideLanes and WiderLanes; only where OSKRA_HAVE_WIDE_LANES, and only while
// laneWidth() allows their width.
void runBandHopsWide(const BandHopTables& tables, const BandHopWork& work, const int32_t* groupLanes,
                     int32_t groupCount, uint64_t voiceLanes);
void runBandHopsWider(const BandHopTables& tables, const BandHopWork& work, const int32_t* groupLanes,
                      int32_t groupCount, uint64_t voiceLanes);

// VoiceBandSynth::runningSums eight lanes at a time, for the lane arrays' real and
// imaginary parts (rows of entries padded to whole groups of eight); only where
// OSKRA_HAVE_WIDE_LANES and AVX2 is there.
void laneRunningSumsWide(const float* re, const float* im, const int32_t* lanes, int32_t count, int32_t n,
                         std::complex<float>* total);

namespace bandhop {

// Lanes per value in every lane array: one for each voice of every track.
constexpr int32_t kLanes = 64;

constexpr int32_t kBands = 80;
constexpr int32_t kFrameValues = 82;  // guard, 80 bands, guard
constexpr float kTiny = 1e-30f;
// A peak this far from its bin (cycles per hop) starts to move to the bins around it.
constexpr float kRelocationSlack = 0.4f;
constexpr float kMinRelocatedAmplitude = 1e-9f;

// The unit phasor of 2π·x (x in cycles): the cosine and sine approximations on the wrapped
// phase, normalised.
template <class L>
inline void unitPhasor(L x, L& re, L& im) {
  const L one = L::splat(1.0f);
  const L p = lanesWrap(x);
  const L q = L::splat(4.0f) * p * (one - p);
  const L q2 = q * q;
  const L c = one - (L::splat(0.5268947f) * q2 + L::splat(1.4731053f)) * q2;
  const L s = (L::splat(0.5f) - p) * q * ((L::splat(1.2080399f) * q + L::splat(1.7851804f)) * q + L::splat(3.320247f));
  const L inv = one / lanesSqrt(c * c + s * s);
  re = c * inv;
  im = s * inv;
}

// One hop for the groups of lanes starting at groupLanes[0 .. groupCount - 1] (multiples of
// the width). voiceLanes has a bit for every lane that carries a voice: the other lanes of the
// groups hold anything, and only the peak moves, the one step that looks at single lanes,
// skip them. FixedGroups > 0 states the group count at compile time (the common single group).
template <class L, int FixedGroups = 0>
void run(const BandHopTables& tables, const BandHopWork& work, const int32_t* groupLanes, int32_t groupCount,
         uint64_t voiceLanes) {
  constexpr int32_t W = L::kWidth;
  constexpr int32_t kMaxGroups = kLanes / W;
  const int32_t groups = FixedGroups > 0 ? FixedGroups : groupCount;
  const int32_t n = tables.bandCount;
  const int32_t low = tables.lowCount;
  const int32_t high = tables.highCount;
  int32_t lane0[kMaxGroups];
  for (int32_t g = 0; g < groups; ++g) lane0[g] = groupLanes[g];
  auto at = [&lane0](const float* v, int32_t i, int32_t g) { return L::load(v + kLanes * i + lane0[g]); };
  auto put = [&lane0](float* v, int32_t i, int32_t g, L x) { lanesStore(v + kLanes * i + lane0[g], x); };
  // Vector stores may alias anything, so the arrays are reached through local pointers: the
  // compiler then keeps them in registers instead of reloading them after every store.
  const float* const frame0 = work.frame0;
  const float* const frame1 = work.frame1;
  const float* const frame2 = work.frame2;
  float* const sum = work.sum;
  float* const bandFrequency = work.bandFrequency;
  float* const bandOffset = work.bandOffset;
  float* const bandTonal = work.bandTonal;
  float* const bandTransient = work.bandTransient;
  float* const bandShare = work.bandShare;
  float* const amplitudes = work.amplitude;
  float* const moved = work.moved;
  float* const entryTonal = work.entryTonal;
  float* const tonalWeight = work.tonalWeight;
  float* const transientWeight = work.transientWeight;
  float* const noiseAmount = work.noiseAmount;
  float* const entryFrequency = work.entryFrequency;
  float* const phasorRe = work.phasorRe;
  float* const phasorIm = work.phasorIm;
  float* const phasorPower = work.phasorPower;
  float* const stateRe = work.stateRe;
  float* const stateIm = work.stateIm;
  float* const noiseRe = work.noiseRe;
  float* const noiseIm = work.noiseIm;
  const float* const density = work.density;
  const float* const curve0 = tables.curve[0];
  const float* const curve1 = tables.curve[1];
  const float* const curve2 = tables.curve[2];
  const L tiny = L::splat(kTiny);
  const L zero = L::zero();
  const L one = L::splat(1.0f);

  // Per band: the peak's frequency on the band's curve and its offset in time, how tonal
  // (standing out of its neighbours in frequency) and how transient (standing out in time).
  for (int32_t i = 0; i < kFrameValues; ++i)
    for (int32_t g = 0; g < groups; ++g) put(sum, i, g, at(frame0, i, g) + at(frame1, i, g));
  for (int32_t k = 0; k < kBands; ++k) {
    const L c0 = L::splat(curve0[k]);
    const L c1 = L::splat(curve1[k]);
    const L c2 = L::splat(curve2[k]);
    const L offsetScale = L::splat(tables.timeOffsetScale[k]);
    const L bias = L::splat(tables.tonalBias[k]);
    const L transientScale = L::splat(tables.transientScale[k]);
    for (int32_t g = 0; g < groups; ++g) {
      const L below = at(sum, k, g);
      const L centre = at(sum, k + 1, g);
      const L above = at(sum, k + 2, g);
      const L delta = (above - below) / ((above + below) * L::splat(0.4249418f) + centre * L::splat(1.026078f) + tiny);
      put(bandFrequency, k, g, c0 + (c1 + c2 * delta) * delta);
      const L p0 = at(frame0, k + 1, g) + at(frame0, k + 2, g);
      const L p1 = at(frame1, k + 1, g) + at(frame1, k + 2, g);
      const L p2 = at(frame2, k + 1, g) + at(frame2, k + 2, g);
      put(bandOffset, k, g,
          (p2 - p0) / ((p2 + p0) * L::splat(0.51741993f) + p1 * L::splat(1.1453495f) + tiny) * offsetScale *
              L::splat(-0.25f));
      const L total = below + centre + above + tiny;
      const L r = centre / total;
      const L q = lanesAbs(below - above) / total;
      const L tonal = lanesMax((r * r - L::splat(0.112f)) * L::splat(3.0308092f) +
                                   (r - L::splat(0.333f)) * L::splat(3.8979936f) + q * q * L::splat(2.8152032f) + bias,
                               zero);
      const L totalTime = p0 + p1 + p2 + tiny;
      const L rt = p1 / totalTime;
      const L qt = lanesAbs(p0 - p2) / totalTime;
      const L transient = lanesMax(((rt * rt - L::splat(0.112f)) * L::splat(1.8380917f) +
                                    (rt - L::splat(0.333f)) * L::splat(3.5223093f) + qt * qt * L::splat(2.5911577f)) *
                                       transientScale,
                                   zero);
      put(bandTonal, k, g, tonal);
      put(bandTransient, k, g, transient);
      put(bandShare, k, g, lanesMin(tonal + transient, one));
    }
  }
  // The top band has no neighbour above: it takes the measures of the band below.
  for (int32_t g = 0; g < groups; ++g) {
    put(bandTonal, kBands - 1, g, at(bandTonal, kBands - 2, g));
    put(bandTransient, kBands - 1, g, at(bandTransient, kBands - 2, g));
    put(bandShare, kBands - 1, g, at(bandShare, kBands - 2, g));
  }

  // What each synthesis band or bin takes into the hop: amplitude, the weights of the
  // coupling, the noise amount, the frequency and the time phasor. Low bands read their own
  // band; high bins the two bands around them. Each state then turns at its entry's
  // frequency; a state that has died away barely counts as tonal, so the coupling rebuilds it
  // from its neighbours.
  // Inlined by force: called from two loops, it would otherwise stay a call per entry.
  auto setEntry = [&](int32_t e, int32_t g, L amplitude, L tonal, L transient, L share, L frequency,
                      L offset) __attribute__((always_inline)) {
    put(amplitudes, e, g, amplitude);
    // Only the high bins' peaks move, so only they keep their tonality and frequency.
    if (e >= low) {
      put(entryTonal, e, g, tonal);
      put(entryFrequency, e, g, frequency);
    }
    const L wt = lanesMax(tonal + L::splat(0.3f), L::splat(0.2f));
    const L wq = lanesMax(transient + L::splat(0.4f), L::splat(0.2f));
    put(transientWeight, e, g, wq * wq);
    const L d = L::load(density + lane0[g]);
    put(noiseAmount, e, g, (lanesAbs(d) - one) * share + lanesMin(d, zero) + one);
    L re;
    L im;
    unitPhasor(offset, re, im);
    put(phasorRe, e, g, re);
    put(phasorIm, e, g, im);
    put(phasorPower, e, g, re * re + im * im);

    L wr;
    L wi;
    unitPhasor(frequency, wr, wi);
    const L sr = at(stateRe, e, g);
    const L si = at(stateIm, e, g);
    const L zr = sr * wr - si * wi;
    const L zi = sr * wi + si * wr;
    put(tonalWeight, e, g, wt * wt * lanesMin((zr * zr + zi * zi) * L::splat(1e20f) + L::splat(0.001f), one));
    put(stateRe, e, g, zr + L::splat(1e-30f));
    put(stateIm, e, g, zi + L::splat(1e-10f));
  };
  for (int32_t k = 0; k < low; ++k) {
    for (int32_t g = 0; g < groups; ++g) {
      setEntry(k, g, at(frame1, k + 1, g), at(bandTonal, k, g), at(bandTransient, k, g), at(bandShare, k, g),
               at(bandFrequency, k, g), at(bandOffset, k, g));
    }
  }
  for (int32_t j = 0; j < high; ++j) {
    const int32_t b = tables.highBand[j];
    const L wl = L::splat(tables.highWeightLow[j]);
    const L wh = L::splat(tables.highWeightHigh[j]);
    const L pl = L::splat(tables.highPositionLow[j]);
    const L ph = L::splat(tables.highPositionHigh[j]);
    const L norm = L::splat(tables.highNorm[j]);
    for (int32_t g = 0; g < groups; ++g) {
      auto mix = [&](const float* v, L lo, L hi) { return lo * at(v, b, g) + hi * at(v, b + 1, g); };
      const L amplitude = (wl * at(frame1, b + 1, g) + wh * at(frame1, b + 2, g)) * norm;
      setEntry(low + j, g, amplitude, mix(bandTonal, wl, wh), mix(bandTransient, wl, wh), mix(bandShare, wl, wh),
               mix(bandFrequency, pl, ph), mix(bandOffset, pl, ph));
    }
  }

  // A tonal peak that lies away from its high bin moves its share of the bin's amplitude to
  // the two bins around the peak. Every move is worked out from the amplitudes before any
  // move; a peak outside the high bins stays where it is.
  const int32_t first = tables.firstHighBin;
  for (int32_t e = low; e < n; ++e)
    for (int32_t g = 0; g < groups; ++g) put(moved, e, g, zero);
  bool anyMoved = false;
  // The lanes that move are picked out in lanes first: most bins have none.
  const L lowestBin = L::splat(static_cast<float>(first));
  const L highestBin = L::splat(static_cast<float>(first + high - 1));
  const L minAmplitude = L::splat(kMinRelocatedAmplitude);
  for (int32_t j = 0; j < high; ++j) {
    const int32_t e = low + j;
    const L binFrequency = L::splat(static_cast<float>(first + j) * 0.25f);
    for (int32_t g = 0; g < groups; ++g) {
      const L frequency = at(entryFrequency, e, g);
      const L away = lanesAbs(frequency - binFrequency) - L::splat(kRelocationSlack);
      const L share = lanesMin(lanesMax(away * L::splat(5.0f), zero) * at(entryTonal, e, g), one);
      const L position = frequency * L::splat(4.0f);  // in bins
      uint32_t moving = lanesBitsLess(zero, share) & lanesBitsLess(minAmplitude, at(amplitudes, e, g)) &
                        lanesBitsLessEqual(lowestBin, position) & lanesBitsLess(position, highestBin);
      moving &= static_cast<uint32_t>(voiceLanes >> lane0[g]);
      if (moving == 0) continue;
      float shares[W];
      lanesStore(shares, share);
      for (; moving != 0; moving &= moving - 1u) {
        const int32_t l = __builtin_ctz(moving);
        const int32_t at0 = kLanes * e + lane0[g] + l;
        const float a = amplitudes[at0];
        const float position = entryFrequency[at0] * 4.0f;
        const int32_t to = static_cast<int32_t>(position);
        const float frac = position - static_cast<float>(to);
        const float taken = shares[l] * a;
        const int32_t target = kLanes * (low + to - first) + lane0[g] + l;
        moved[at0] -= taken;
        moved[target] += taken * (1.0f - frac);
        moved[target + kLanes] += taken * frac;
        anyMoved = true;
      }
    }
  }

  if (FixedGroups == 1) {
    chainlanes::smoothGroups<L, 1, kLanes>(stateRe, stateIm, n, tonalWeight, phasorRe, phasorIm, phasorPower,
                                           transientWeight, stateRe, stateIm, work.pivots, kLanes, lane0);
  } else {
    chainlanes::smoothChains<L, kLanes>(stateRe, stateIm, n, tonalWeight, phasorRe, phasorIm, phasorPower,
                                        transientWeight, stateRe, stateIm, work.pivots, kLanes, lane0, groups);
  }

  // Magnitude from the frame (after the peak moves), the tonal part scaled back as the density
  // rises, plus noise. The noise moves on first: a note's first hop takes the fixed spectrum,
  // later hops drive each low band's resonator from the table, and the high bins take the
  // table itself.
  const float* const tableRe = work.tableRe;
  const float* const tableIm = work.tableIm;
  decltype(lanesLess(zero, zero)) firstHop[kMaxGroups];
  for (int32_t g = 0; g < groups; ++g) firstHop[g] = lanesLess(zero, L::load(work.firstHop + lane0[g]));
  for (int32_t e = 0; e < n; ++e) {
    const bool withMoves = anyMoved && e >= low;
    const bool resonator = e < low;
    const L rotationRe = L::splat(resonator ? tables.rotationRe[e] : 0.0f);
    const L rotationIm = L::splat(resonator ? tables.rotationIm[e] : 0.0f);
    const L noiseGain = L::splat(resonator ? tables.noiseGain[e] : 0.0f);
    const L spectrumRe = L::splat(tables.noiseSpectrumRe[e]);
    const L spectrumIm = L::splat(tables.noiseSpectrumIm[e]);
    for (int32_t g = 0; g < groups; ++g) {
      L nr = at(tableRe, e, g);
      L ni = at(tableIm, e, g);
      if (resonator) {
        const L zr = at(noiseRe, e, g);
        const L zi = at(noiseIm, e, g);
        nr = zr * rotationRe - zi * rotationIm + nr * noiseGain;
        ni = zr * rotationIm + zi * rotationRe + ni * noiseGain;
      }
      nr = lanesSelect(firstHop[g], spectrumRe, nr);
      ni = lanesSelect(firstHop[g], spectrumIm, ni);
      put(noiseRe, e, g, nr);
      put(noiseIm, e, g, ni);

      const L tonalScale = L::load(work.tonalScale + lane0[g]);
      L a = at(amplitudes, e, g);
      if (withMoves) a = a + at(moved, e, g);
      const L v = a * at(noiseAmount, e, g);
      const L zr = at(stateRe, e, g);
      const L zi = at(stateIm, e, g);
      const L gain = (v + a) * tonalScale / (lanesSqrt(zr * zr + zi * zi) + v + tiny);
      put(stateRe, e, g, zr * gain + nr * v);
      put(stateIm, e, g, zi * gain + ni * v);
    }
  }
}

}  // namespace bandhop
