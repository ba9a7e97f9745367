#pragma once

#include <complex>
#include <cstddef>
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

namespace bandhop {

// Lanes per value in every lane array: one for each voice of every track.
constexpr int32_t kLanes = 64;

// The lane arrays of the hops for many voices live in one block, each a fixed distance after
// the one before, so that a kernel reaches all of them from the block's address. Rows (a value
// for every lane) go up to kMaxRows: the synthesis entries (low bands and high bins, at most
// 80 + 128) and a group of eight past them.
enum LaneArray : int32_t {
  kBandFrequency = 0,
  kBandOffset,
  kBandTonal,
  kBandTransient,
  kBandShare,
  kAmplitude,
  kMoved,
  kEntryTonal,
  kTonalWeight,
  kTransientWeight,
  kNoiseAmount,
  kEntryFrequency,
  kPhasorRe,
  kPhasorIm,
  kPhasorPower,
  kStateRe,
  kStateIm,
  kNoiseRe,
  kNoiseIm,
  kTableRe,
  kTableIm,
  kPivots,
  kFrames,  // three: a ring of the voices' latest frames (82 values each)
  kLaneArrayCount = kFrames + 3
};
constexpr int32_t kMaxRows = 80 + 128 + 8;
// The 16 past the rows keep the same row of different arrays off the same cache sets.
constexpr int32_t kArrayStride = kMaxRows * kLanes + 16;

}  // namespace bandhop

// The lane arrays of one hop: the block (bandhop::LaneArray), which of its frame arrays holds
// the oldest, middle and newest frames, and the per-lane values.
struct BandHopWork {
  float* block = nullptr;
  int32_t frameArray[3] = {};  // oldest, middle, newest
  const float* density = nullptr;     // per lane (kLanes): the voice's "Density", -1..1
  const float* tonalScale = nullptr;  // per lane (kLanes): sqrt(1 - max(density, 0)²)
  const float* firstHop = nullptr;    // per lane (kLanes): 1 at a note's first hop, else 0
};

// One voice's hop with its values side by side along the entries instead of across voices:
// arrays hold entry e at [e]. Every entry gets exactly the arithmetic a lane of the kernel
// above gives it; a voice alone so keeps every lane busy.
struct BandHopSingle {
  const float* frame0 = nullptr;  // oldest; 82 values: guard, 80 bands, guard
  const float* frame1 = nullptr;
  const float* frame2 = nullptr;  // newest
  float* stateRe = nullptr;       // the voice's states, in and out
  float* stateIm = nullptr;
  float* noiseRe = nullptr;       // the voice's noise states, in and out
  float* noiseIm = nullptr;
  const std::complex<float>* table = nullptr;  // this hop's noise table values
  float density = 0.0f;
  float tonalScale = 1.0f;
  bool firstHop = false;
  // Work space: kScratchRows rows of scratchStride floats. The state and noise arrays and the
  // tables read per entry (rotation, noise gain, noise spectrum) have room for the entry count
  // rounded up to the width; what lies past the entries is written or read but never kept.
  float* scratch = nullptr;
  int32_t scratchStride = 0;
  static constexpr int32_t kScratchRows = 23;
};

// bandhop::runSingle for WideLanes; only where OSKRA_HAVE_WIDE_LANES and AVX2 is there.
void runBandHopSingleWide(const BandHopTables& tables, const BandHopSingle& work);
// The same for WiderLanes; only where OSKRA_HAVE_WIDE_LANES, and only while laneWidth() allows it.
void runBandHopSingleWider(const BandHopTables& tables, const BandHopSingle& work);

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

// Eight lanes' runs of n complex values (source[0 .. 7], none null) into a real and an
// imaginary lane array, from the octet's first lane (dstRe, dstIm point there): value e of
// lane k at [bandhop::kLanes·e + k], entries from n up to the next multiple of 4 zero. Only
// where OSKRA_HAVE_WIDE_LANES and AVX2 is there.
void interleaveComplexOctet(const std::complex<float>* const* source, float* dstRe, float* dstIm, int32_t n);

// For interleaving runs of n complex values four entries at a time: from[k] points at lane k's
// re, im pairs from entry e on. A whole group points into the run; the last, partial group into
// a copy in tail, zeros past the run, so nothing past a run is read. Plain scalar code, kept
// local to each translation unit, which may be compiled for different processors.
template <int Count>
static inline void complexGroupSources(const std::complex<float>* const* runs, int32_t e, int32_t n,
                                       float (&tail)[Count][8], const float* (&from)[Count]) {
  for (int32_t k = 0; k < Count; ++k) {
    if (e + 4 <= n) {
      from[k] = reinterpret_cast<const float*>(runs[k] + e);
      continue;
    }
    for (int32_t i = 0; i < 8; ++i) tail[k][i] = 0.0f;
    for (int32_t i = 0; e + i < n; ++i) {
      tail[k][2 * i] = runs[k][e + i].real();
      tail[k][2 * i + 1] = runs[k][e + i].imag();
    }
    from[k] = tail[k];
  }
}

namespace bandhop {

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

// The arithmetic both kernels share, so a voice alone and a lane give the same bits.

// A band's measures from the frame sums around it (below, centre, above: F0 + F1 at bands
// k - 1, k, k + 1) and its band pairs (p0, p1, p2: F0, F1, F2 at bands k and k + 1): the peak's
// frequency on the band's curve, its offset in time, how tonal and how transient it is.
template <class L>
struct BandMeasures {
  L frequency;
  L offset;
  L tonal;
  L transient;
};
template <class L>
inline BandMeasures<L> measureBand(L below, L centre, L above, L p0, L p1, L p2, L c0, L c1, L c2, L offsetScale,
                                   L bias, L transientScale) {
  const L tiny = L::splat(kTiny);
  const L zero = L::zero();
  BandMeasures<L> m;
  const L delta = (above - below) / ((above + below) * L::splat(0.4249418f) + centre * L::splat(1.026078f) + tiny);
  m.frequency = c0 + (c1 + c2 * delta) * delta;
  m.offset = (p2 - p0) / ((p2 + p0) * L::splat(0.51741993f) + p1 * L::splat(1.1453495f) + tiny) * offsetScale *
             L::splat(-0.25f);
  const L total = below + centre + above + tiny;
  const L r = centre / total;
  const L q = lanesAbs(below - above) / total;
  m.tonal = lanesMax((r * r - L::splat(0.112f)) * L::splat(3.0308092f) + (r - L::splat(0.333f)) * L::splat(3.8979936f) +
                         q * q * L::splat(2.8152032f) + bias,
                     zero);
  const L totalTime = p0 + p1 + p2 + tiny;
  const L rt = p1 / totalTime;
  const L qt = lanesAbs(p0 - p2) / totalTime;
  m.transient = lanesMax(((rt * rt - L::splat(0.112f)) * L::splat(1.8380917f) +
                          (rt - L::splat(0.333f)) * L::splat(3.5223093f) + qt * qt * L::splat(2.5911577f)) *
                             transientScale,
                         zero);
  return m;
}

// What an entry takes into the coupling: the transient weight, the noise amount, the time
// phasor and its power, the tonal weight, and the state turned at the entry's frequency (the
// coupling's input x). A state that has died away barely counts as tonal, so the coupling
// rebuilds it from its neighbours.
template <class L>
struct EntryValues {
  L transientWeight;
  L noiseAmount;
  L phasorRe;
  L phasorIm;
  L phasorPower;
  L tonalWeight;
  L xRe;
  L xIm;
};
template <class L>
inline EntryValues<L> entryValues(L tonal, L transient, L share, L frequency, L offset, L density, L stateRe,
                                  L stateIm) {
  const L one = L::splat(1.0f);
  EntryValues<L> v;
  const L wt = lanesMax(tonal + L::splat(0.3f), L::splat(0.2f));
  const L wq = lanesMax(transient + L::splat(0.4f), L::splat(0.2f));
  v.transientWeight = wq * wq;
  v.noiseAmount = (lanesAbs(density) - one) * share + lanesMin(density, L::zero()) + one;
  unitPhasor(offset, v.phasorRe, v.phasorIm);
  v.phasorPower = v.phasorRe * v.phasorRe + v.phasorIm * v.phasorIm;
  L wr;
  L wi;
  unitPhasor(frequency, wr, wi);
  const L zr = stateRe * wr - stateIm * wi;
  const L zi = stateRe * wi + stateIm * wr;
  v.tonalWeight = wt * wt * lanesMin((zr * zr + zi * zi) * L::splat(1e20f) + L::splat(0.001f), one);
  v.xRe = zr + L::splat(1e-30f);
  v.xIm = zi + L::splat(1e-10f);
  return v;
}

// A low band's noise resonator: the state turned and driven from the table value (re, im in,
// the new state out).
template <class L>
inline void driveNoise(L stateRe, L stateIm, L rotationRe, L rotationIm, L gain, L& re, L& im) {
  const L r = stateRe * rotationRe - stateIm * rotationIm + re * gain;
  im = stateRe * rotationIm + stateIm * rotationRe + im * gain;
  re = r;
}

// An entry's outcome from its coupled state z (in and out): magnitude a from the frame, the
// tonal part scaled back as the density rises, plus the noise (nr, ni) by the noise amount.
template <class L>
inline void finishEntry(L a, L noiseAmount, L tonalScale, L nr, L ni, L& zr, L& zi) {
  const L v = a * noiseAmount;
  const L gain = (v + a) * tonalScale / (lanesSqrt(zr * zr + zi * zi) + v + L::splat(kTiny));
  zr = zr * gain + nr * v;
  zi = zi * gain + ni * v;
}

// One hop for the groups of lanes starting at groupLanes[0 .. groupCount - 1] (multiples of
// the width). voiceLanes has a bit for every lane that carries a voice: the other lanes of the
// groups hold anything, and only the peak moves, the one step that looks at single lanes,
// skip them. FixedGroups > 0 states the group count at compile time: the common single group,
// or every group (then groupLanes must be 0, W, 2W, ...).
template <class L, int FixedGroups = 0>
void run(const BandHopTables& tables, const BandHopWork& work, const int32_t* groupLanes, int32_t groupCount,
         uint64_t voiceLanes) {
  constexpr int32_t W = L::kWidth;
  constexpr int32_t kMaxGroups = kLanes / W;
  const int32_t groups = FixedGroups > 0 ? FixedGroups : groupCount;
  // Every group, in order (a full house): group g starts at lane g·W, so every address below
  // is a constant distance from its row's and costs no arithmetic of its own.
  constexpr bool kEveryGroup = FixedGroups == kMaxGroups;
  const int32_t n = tables.bandCount;
  const int32_t low = tables.lowCount;
  const int32_t high = tables.highCount;
  int32_t lane0[kMaxGroups];
  for (int32_t g = 0; g < groups; ++g) lane0[g] = kEveryGroup ? g * W : groupLanes[g];
  auto laneOf = [&lane0](int32_t g) { return kEveryGroup ? g * W : lane0[g]; };
  // Every array lies a constant distance from the block's address: the value of a lane group
  // at row i is found from one address per row, the array's distance added last so that it
  // becomes part of the instruction (the frame arrays are chosen per hop).
  float* const block = work.block;
  std::ptrdiff_t start[kMaxGroups];
  for (int32_t g = 0; g < groups; ++g) start[g] = lane0[g];
  auto place = [block, &start](int32_t a, int32_t i, int32_t g) {
    const std::ptrdiff_t first = kEveryGroup ? g * W : start[g];
    float* const row = block + (static_cast<std::ptrdiff_t>(i) * kLanes + first);
    return row + static_cast<std::ptrdiff_t>(a) * kArrayStride;
  };
  auto at = [&place](int32_t a, int32_t i, int32_t g) { return L::load(place(a, i, g)); };
  auto put = [&place](int32_t a, int32_t i, int32_t g, L x) { lanesStore(place(a, i, g), x); };
  auto array = [block](int32_t a) { return block + static_cast<std::ptrdiff_t>(a) * kArrayStride; };
  // The arrays by name.
  const int32_t frame0 = kFrames + work.frameArray[0];
  const int32_t frame1 = kFrames + work.frameArray[1];
  const int32_t frame2 = kFrames + work.frameArray[2];
  constexpr int32_t bandFrequency = kBandFrequency;
  constexpr int32_t bandOffset = kBandOffset;
  constexpr int32_t bandTonal = kBandTonal;
  constexpr int32_t bandTransient = kBandTransient;
  constexpr int32_t bandShare = kBandShare;
  constexpr int32_t amplitudes = kAmplitude;
  constexpr int32_t moved = kMoved;
  constexpr int32_t entryTonal = kEntryTonal;
  constexpr int32_t tonalWeight = kTonalWeight;
  constexpr int32_t transientWeight = kTransientWeight;
  constexpr int32_t noiseAmount = kNoiseAmount;
  constexpr int32_t entryFrequency = kEntryFrequency;
  constexpr int32_t phasorRe = kPhasorRe;
  constexpr int32_t phasorIm = kPhasorIm;
  constexpr int32_t phasorPower = kPhasorPower;
  constexpr int32_t stateRe = kStateRe;
  constexpr int32_t stateIm = kStateIm;
  constexpr int32_t noiseRe = kNoiseRe;
  constexpr int32_t noiseIm = kNoiseIm;
  const float* const density = work.density;
  const float* const curve0 = tables.curve[0];
  const float* const curve1 = tables.curve[1];
  const float* const curve2 = tables.curve[2];
  const L zero = L::zero();
  const L one = L::splat(1.0f);

  // Per band: the peak's frequency on the band's curve and its offset in time, how tonal
  // (standing out of its neighbours in frequency) and how transient (standing out in time).
  // The frame sums F0 + F1 are made where the measures use them: two loads and an add cost
  // less than a pass that stores them for three loads.
  auto frameSum = [&](int32_t i, int32_t g) { return at(frame0, i, g) + at(frame1, i, g); };
  for (int32_t k = 0; k < kBands; ++k) {
    const L c0 = L::splat(curve0[k]);
    const L c1 = L::splat(curve1[k]);
    const L c2 = L::splat(curve2[k]);
    const L offsetScale = L::splat(tables.timeOffsetScale[k]);
    const L bias = L::splat(tables.tonalBias[k]);
    const L transientScale = L::splat(tables.transientScale[k]);
    for (int32_t g = 0; g < groups; ++g) {
      const BandMeasures<L> m = measureBand(
          frameSum(k, g), frameSum(k + 1, g), frameSum(k + 2, g), at(frame0, k + 1, g) + at(frame0, k + 2, g),
          at(frame1, k + 1, g) + at(frame1, k + 2, g), at(frame2, k + 1, g) + at(frame2, k + 2, g), c0, c1, c2,
          offsetScale, bias, transientScale);
      put(bandFrequency, k, g, m.frequency);
      put(bandOffset, k, g, m.offset);
      put(bandTonal, k, g, m.tonal);
      put(bandTransient, k, g, m.transient);
      put(bandShare, k, g, lanesMin(m.tonal + m.transient, one));
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
    const EntryValues<L> v = entryValues(tonal, transient, share, frequency, offset, L::load(density + laneOf(g)),
                                         at(stateRe, e, g), at(stateIm, e, g));
    put(transientWeight, e, g, v.transientWeight);
    put(noiseAmount, e, g, v.noiseAmount);
    put(phasorRe, e, g, v.phasorRe);
    put(phasorIm, e, g, v.phasorIm);
    put(phasorPower, e, g, v.phasorPower);
    put(tonalWeight, e, g, v.tonalWeight);
    put(stateRe, e, g, v.xRe);
    put(stateIm, e, g, v.xIm);
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
      auto mix = [&](int32_t v, L lo, L hi) { return lo * at(v, b, g) + hi * at(v, b + 1, g); };
      const L amplitude = (wl * at(frame1, b + 1, g) + wh * at(frame1, b + 2, g)) * norm;
      setEntry(low + j, g, amplitude, mix(bandTonal, wl, wh), mix(bandTransient, wl, wh), mix(bandShare, wl, wh),
               mix(bandFrequency, pl, ph), mix(bandOffset, pl, ph));
    }
  }

  // A tonal peak that lies away from its high bin moves its share of the bin's amplitude to
  // the two bins around the peak. Every move is worked out from the amplitudes before any
  // move; a peak outside the high bins stays where it is.
  const int32_t first = tables.firstHighBin;
  // The moves start from nothing, cleared when the first one is found: mostly none is.
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
      moving &= static_cast<uint32_t>(voiceLanes >> laneOf(g));
      if (moving == 0) continue;
      if (!anyMoved) {
        for (int32_t m = low; m < n; ++m)
          for (int32_t h = 0; h < groups; ++h) put(moved, m, h, zero);
        anyMoved = true;
      }
      float shares[W];
      lanesStore(shares, share);
      for (; moving != 0; moving &= moving - 1u) {
        const int32_t l = __builtin_ctz(moving);
        const int32_t at0 = kLanes * e + laneOf(g) + l;
        float* const movedValues = array(moved);
        const float a = array(amplitudes)[at0];
        const float position = array(entryFrequency)[at0] * 4.0f;
        const int32_t to = static_cast<int32_t>(position);
        const float frac = position - static_cast<float>(to);
        const float taken = shares[l] * a;
        const int32_t target = kLanes * (low + to - first) + laneOf(g) + l;
        movedValues[at0] -= taken;
        movedValues[target] += taken * (1.0f - frac);
        movedValues[target + kLanes] += taken * frac;
      }
    }
  }

  if (FixedGroups == 1) {
    chainlanes::smoothGroups<L, 1, kLanes>(array(stateRe), array(stateIm), n, array(tonalWeight), array(phasorRe),
                                           array(phasorIm), array(phasorPower), array(transientWeight),
                                           array(stateRe), array(stateIm), array(kPivots), kLanes, lane0);
  } else {
    chainlanes::smoothChains<L, kLanes, kEveryGroup>(array(stateRe), array(stateIm), n, array(tonalWeight),
                                                     array(phasorRe), array(phasorIm), array(phasorPower),
                                                     array(transientWeight), array(stateRe), array(stateIm),
                                                     array(kPivots), kLanes, lane0, groups);
  }

  // Magnitude from the frame (after the peak moves), the tonal part scaled back as the density
  // rises, plus noise. The noise moves on first: a note's first hop takes the fixed spectrum,
  // later hops drive each low band's resonator from the table, and the high bins take the
  // table itself.
  constexpr int32_t tableRe = kTableRe;
  constexpr int32_t tableIm = kTableIm;
  constexpr uint32_t kAllLanes = W == 32 ? ~0u : (1u << W) - 1u;
  decltype(lanesLess(zero, zero)) firstHop[kMaxGroups];
  for (int32_t g = 0; g < groups; ++g) firstHop[g] = lanesLess(zero, L::load(work.firstHop + laneOf(g)));
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
      if (resonator) driveNoise(at(noiseRe, e, g), at(noiseIm, e, g), rotationRe, rotationIm, noiseGain, nr, ni);
      nr = lanesSelect(firstHop[g], spectrumRe, nr);
      ni = lanesSelect(firstHop[g], spectrumIm, ni);
      put(noiseRe, e, g, nr);
      put(noiseIm, e, g, ni);

      const L tonalScale = L::load(work.tonalScale + laneOf(g));
      L a = at(amplitudes, e, g);
      if (withMoves) a = a + at(moved, e, g);
      if (lanesBitsLessEqual(a, zero) == kAllLanes && lanesBitsLessEqual(zero, a) == kAllLanes) {
        // Silent in every lane: the state and the noise would both be scaled by exactly 0.
        put(stateRe, e, g, zero);
        put(stateIm, e, g, zero);
        continue;
      }
      L zr = at(stateRe, e, g);
      L zi = at(stateIm, e, g);
      finishEntry(a, at(noiseAmount, e, g), tonalScale, nr, ni, zr, zi);
      put(stateRe, e, g, zr);
      put(stateIm, e, g, zi);
    }
  }
}


// One voice alone (BandHopSingle): the arithmetic of run, entry by entry the same, with
// W entries to a register. Only the coupling's two sweeps, which run along the entries, go one
// entry at a time. scratchStride is at least the entry count rounded up to W, plus W.
template <class L>
void runSingle(const BandHopTables& tables, const BandHopSingle& work) {
  constexpr int32_t W = L::kWidth;
  static_assert(kBands % W == 0, "whole lane groups of bands");
  const int32_t n = tables.bandCount;
  const int32_t low = tables.lowCount;
  const int32_t high = tables.highCount;
  if (n <= 0) return;
  const int32_t stride = work.scratchStride;
  float* row[BandHopSingle::kScratchRows];
  for (int32_t r = 0; r < BandHopSingle::kScratchRows; ++r) row[r] = work.scratch + r * stride;
  float* const bandFrequency = row[0];
  float* const bandOffset = row[1];
  float* const bandTonal = row[2];
  float* const bandTransient = row[3];
  float* const bandShare = row[4];
  float* const amplitudes = row[5];
  float* const entryTonal = row[6];
  float* const entryTransient = row[7];
  float* const entryShare = row[8];
  float* const entryFrequency = row[9];
  float* const entryOffset = row[10];
  float* const moved = row[11];
  float* const transientWeight = row[12];
  float* const noiseAmount = row[13];
  float* const phasorRe = row[14];
  float* const phasorIm = row[15];
  float* const phasorPower = row[16];
  float* const tonalWeight = row[17];
  float* const xRe = row[18];
  float* const xIm = row[19];
  float* const den = row[20];
  float* const tableRe = row[21];
  float* const tableIm = row[22];
  const float* const frame0 = work.frame0;
  const float* const frame1 = work.frame1;
  const float* const frame2 = work.frame2;
  float* const stateRe = work.stateRe;
  float* const stateIm = work.stateIm;
  const L zero = L::zero();
  const L one = L::splat(1.0f);

  // Band measures, W bands at a time.
  for (int32_t k = 0; k < kBands; k += W) {
    const BandMeasures<L> m = measureBand(
        L::load(frame0 + k) + L::load(frame1 + k), L::load(frame0 + k + 1) + L::load(frame1 + k + 1),
        L::load(frame0 + k + 2) + L::load(frame1 + k + 2), L::load(frame0 + k + 1) + L::load(frame0 + k + 2),
        L::load(frame1 + k + 1) + L::load(frame1 + k + 2), L::load(frame2 + k + 1) + L::load(frame2 + k + 2),
        L::load(tables.curve[0] + k), L::load(tables.curve[1] + k), L::load(tables.curve[2] + k),
        L::load(tables.timeOffsetScale + k), L::load(tables.tonalBias + k), L::load(tables.transientScale + k));
    lanesStore(bandFrequency + k, m.frequency);
    lanesStore(bandOffset + k, m.offset);
    lanesStore(bandTonal + k, m.tonal);
    lanesStore(bandTransient + k, m.transient);
    lanesStore(bandShare + k, lanesMin(m.tonal + m.transient, one));
  }
  // The top band has no neighbour above: it takes the measures of the band below.
  bandTonal[kBands - 1] = bandTonal[kBands - 2];
  bandTransient[kBands - 1] = bandTransient[kBands - 2];
  bandShare[kBands - 1] = bandShare[kBands - 2];

  // Each entry's inputs: low bands their own band, high bins the two bands around them (the
  // mixes one value at a time, as a lane makes them).
  for (int32_t k = 0; k < low; ++k) {
    amplitudes[k] = frame1[k + 1];
    entryTonal[k] = bandTonal[k];
    entryTransient[k] = bandTransient[k];
    entryShare[k] = bandShare[k];
    entryFrequency[k] = bandFrequency[k];
    entryOffset[k] = bandOffset[k];
  }
  for (int32_t j = 0; j < high; ++j) {
    const int32_t b = tables.highBand[j];
    const float wl = tables.highWeightLow[j];
    const float wh = tables.highWeightHigh[j];
    const float pl = tables.highPositionLow[j];
    const float ph = tables.highPositionHigh[j];
    const int32_t e = low + j;
    amplitudes[e] = (wl * frame1[b + 1] + wh * frame1[b + 2]) * tables.highNorm[j];
    entryTonal[e] = wl * bandTonal[b] + wh * bandTonal[b + 1];
    entryTransient[e] = wl * bandTransient[b] + wh * bandTransient[b + 1];
    entryShare[e] = wl * bandShare[b] + wh * bandShare[b + 1];
    entryFrequency[e] = pl * bandFrequency[b] + ph * bandFrequency[b + 1];
    entryOffset[e] = pl * bandOffset[b] + ph * bandOffset[b + 1];
  }
  const int32_t padded = (n + W - 1) / W * W;
  for (int32_t e = n; e < padded; ++e) {
    // The last group runs on copies of the last entry; nothing of it is kept.
    amplitudes[e] = amplitudes[n - 1];
    entryTonal[e] = entryTonal[n - 1];
    entryTransient[e] = entryTransient[n - 1];
    entryShare[e] = entryShare[n - 1];
    entryFrequency[e] = entryFrequency[n - 1];
    entryOffset[e] = entryOffset[n - 1];
    stateRe[e] = stateRe[n - 1];
    stateIm[e] = stateIm[n - 1];
  }

  // The peak moves of the high bins start from nothing (no move reaches past the entries).
  const int32_t first = tables.firstHighBin;
  bool anyMoved = false;
  for (int32_t e = low; e < padded; ++e) moved[e] = 0.0f;
  const float lowestBin = static_cast<float>(first);
  const float highestBin = static_cast<float>(first + high - 1);
  // A high bin's peak move, worked out from the amplitudes before any move.
  auto movePeak = [&](int32_t e) {
    const int32_t j = e - low;
    const float frequency = entryFrequency[e];
    const L binFrequency = L::splat(static_cast<float>(first + j) * 0.25f);
    // The share in lanes, for the same rounding as a lane of runGroup.
    const L away = lanesAbs(L::splat(frequency) - binFrequency) - L::splat(kRelocationSlack);
    float shares[W];
    lanesStore(shares, lanesMin(lanesMax(away * L::splat(5.0f), zero) * L::splat(entryTonal[e]), one));
    const float share = shares[0];
    const float a = amplitudes[e];
    const float place = frequency * 4.0f;  // in bins
    if (!(0.0f < share && kMinRelocatedAmplitude < a && lowestBin <= place && place < highestBin)) return;
    const int32_t to = static_cast<int32_t>(place);
    const float frac = place - static_cast<float>(to);
    const float taken = share * a;
    const int32_t target = low + to - first;
    moved[e] -= taken;
    moved[target] += taken * (1.0f - frac);
    moved[target + 1] += taken * frac;
    anyMoved = true;
  };

  // W entries at a time: the weights of the coupling, the noise amount, the time phasor and
  // each state turned at its entry's frequency, in lanes; then the coupling's forward sweep
  // over the same entries one after another, and their peak moves. The sweep waits on its own
  // latency at every entry; the lane arithmetic of the next entries, which does not depend on
  // it, runs in the meantime.
  constexpr float kEps = 1e-30f;
  const L density = L::splat(work.density);
  float d = 0.0f;
  float zr = 0.0f;
  float zi = 0.0f;
  for (int32_t e = 0; e < padded; e += W) {
    const EntryValues<L> v =
        entryValues(L::load(entryTonal + e), L::load(entryTransient + e), L::load(entryShare + e),
                    L::load(entryFrequency + e), L::load(entryOffset + e), density, L::load(stateRe + e),
                    L::load(stateIm + e));
    lanesStore(transientWeight + e, v.transientWeight);
    lanesStore(noiseAmount + e, v.noiseAmount);
    lanesStore(phasorRe + e, v.phasorRe);
    lanesStore(phasorIm + e, v.phasorIm);
    lanesStore(phasorPower + e, v.phasorPower);
    lanesStore(tonalWeight + e, v.tonalWeight);
    lanesStore(xRe + e, v.xRe);
    lanesStore(xIm + e, v.xIm);

    const int32_t end = e + W < n ? e + W : n;
    int32_t i = e;
    if (e == 0) {
      d = tonalWeight[0];
      zr = d * xRe[0];
      zi = d * xIm[0];
      den[0] = d;
      stateRe[0] = zr;
      stateIm[0] = zi;
      i = 1;
    }
    for (; i < end; ++i) {
      const float si = transientWeight[i - 1];
      const float k = si / (si * phasorPower[i - 1] + d + kEps);
      const float wi = tonalWeight[i];
      d = k * d + wi;
      den[i] = d;
      const float cr = phasorRe[i - 1];
      const float ci = phasorIm[i - 1];
      const float pr = cr * zr - ci * zi;
      const float pi = cr * zi + ci * zr;
      zr = k * pr + wi * xRe[i];
      zi = k * pi + wi * xIm[i];
      stateRe[i] = zr;
      stateIm[i] = zi;
    }
    for (int32_t m = e > low ? e : low; m < end; ++m) movePeak(m);
  }

  // What the outcomes read besides the states: this hop's table values, and nothing past the
  // entries.
  for (int32_t e = 0; e < n; ++e) {
    tableRe[e] = work.table[e].real();
    tableIm[e] = work.table[e].imag();
  }
  for (int32_t e = n; e < padded; ++e) {
    tableRe[e] = 0.0f;
    tableIm[e] = 0.0f;
    stateRe[e] = 0.0f;
    stateIm[e] = 0.0f;
  }

  // Each entry's outcome, W at a time: the noise moves on, then magnitude from the frame (after
  // the peak moves), the tonal part scaled back as the density rises, plus noise.
  const L tonalScale = L::splat(work.tonalScale);
  // The entries' indices in lanes, to tell low bands from high bins.
  float firstIndices[W];
  for (int32_t l = 0; l < W; ++l) firstIndices[l] = static_cast<float>(l);
  const L laneIndex = L::load(firstIndices);
  const L lowEntries = L::splat(static_cast<float>(low));
  auto finishGroup = [&](int32_t e) {
    const L entry = L::splat(static_cast<float>(e)) + laneIndex;
    L nr = L::load(tableRe + e);
    L ni = L::load(tableIm + e);
    if (work.firstHop) {
      nr = L::load(tables.noiseSpectrumRe + e);
      ni = L::load(tables.noiseSpectrumIm + e);
    } else if (e < low) {
      // The resonators of the low bands; the high bins take the table itself.
      L rr = nr;
      L ri = ni;
      driveNoise(L::load(work.noiseRe + e), L::load(work.noiseIm + e), L::load(tables.rotationRe + e),
                 L::load(tables.rotationIm + e), L::load(tables.noiseGain + e), rr, ri);
      // Entries from the first high bin on keep the table value.
      const auto isLow = lanesLess(entry, lowEntries);
      nr = lanesSelect(isLow, rr, nr);
      ni = lanesSelect(isLow, ri, ni);
    }
    lanesStore(work.noiseRe + e, nr);
    lanesStore(work.noiseIm + e, ni);

    L a = L::load(amplitudes + e);
    if (anyMoved && e + W > low) a = lanesSelect(lanesLessEqual(lowEntries, entry), a + L::load(moved + e), a);
    L zRe = L::load(stateRe + e);
    L zIm = L::load(stateIm + e);
    if (lanesBitsLessEqual(a, zero) == (1u << W) - 1u && lanesBitsLessEqual(zero, a) == (1u << W) - 1u) {
      // Silent throughout: the state and the noise would both be scaled by exactly 0.
      zRe = zero;
      zIm = zero;
    } else {
      finishEntry(a, L::load(noiseAmount + e), tonalScale, nr, ni, zRe, zIm);
    }
    // Past the entries the arrays have room for whole groups, whose values are never kept.
    lanesStore(stateRe + e, zRe);
    lanesStore(stateIm + e, zIm);
  };

  // The coupling's backward sweep, one entry after another from the top; as it passes the
  // first entry of a group of W, that group's states are final and its outcome is worked out
  // while the sweep goes on below.
  const float last = 1.0f / (den[n - 1] + kEps);
  zr = zr * last;
  zi = zi * last;
  stateRe[n - 1] = zr;
  stateIm[n - 1] = zi;
  int32_t i = n - 2;
  for (int32_t e = padded - W; e >= 0; e -= W) {
    for (; i >= e; --i) {
      const float cr = phasorRe[i];
      const float ci = phasorIm[i];
      const float pr = cr * zr + ci * zi;
      const float pi = cr * zi - ci * zr;
      const float si = transientWeight[i];
      const float inv = 1.0f / (si * phasorPower[i] + den[i] + kEps);
      zr = (stateRe[i] + si * pr) * inv;
      zi = (stateIm[i] + si * pi) * inv;
      stateRe[i] = zr;
      stateIm[i] = zi;
    }
    finishGroup(e);
  }
}

}  // namespace bandhop
