#include "engine/voice/VoiceBandSynth.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "engine/core/Lcg.h"
#include "engine/dsp/LaneWidth.h"
#include "engine/dsp/SimdLanes.h"
#include "engine/dsp/WideLanes.h"
#include "engine/voice/BandHopKernel.h"
#include "engine/voice/BandNoise.h"
#include "engine/voice/OscillatorTables.h"
#include "engine/voice/PaddedBandScale.h"

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

constexpr int32_t kLanes = bandhop::kLanes;
static_assert(kLanes == VoiceBandSynth::kMaxVoices, "one lane per voice");
static_assert(bandhop::kArrayStride == VoiceBandSynth::kLaneArrayStride, "the kernels' block layout");

// Lane arrays hold value e of lane l at [kLanes·e + l]. They are filled from per-voice arrays
// of n values (n a multiple of 4) four lanes at a time by 4 × 4 transposes: source[l] is lane
// l's array, or null for a lane without a voice, which then gets a copy of a neighbour's.
void interleave(const float* const* source, float* dst, int32_t n) {
  for (int32_t q = 0; q < kLanes; q += 4) {
    const float* src[4] = {source[q], source[q + 1], source[q + 2], source[q + 3]};
    const float* any = nullptr;
    for (const float* p : src) any = any != nullptr ? any : p;
    if (any == nullptr) continue;
    for (const float*& p : src) p = p != nullptr ? p : any;
    for (int32_t e = 0; e < n; e += 4) {
      Lanes r[4] = {lanesLoad(src[0] + e), lanesLoad(src[1] + e), lanesLoad(src[2] + e), lanesLoad(src[3] + e)};
      lanesTranspose(r[0], r[1], r[2], r[3]);
      for (int32_t k = 0; k < 4; ++k) lanesStore(dst + kLanes * (e + k) + q, r[k]);
    }
  }
}

// The same from per-lane runs of n complex values (re, im pairs) into a real and an imaginary
// lane array; entries from n up to the next multiple of 4 are zero.
void interleaveComplex(const std::complex<float>* const* source, float* dstRe, float* dstIm, int32_t n) {
  auto quad = [&](const float* const* from, int32_t e, int32_t q) {
    Lanes re[4];
    Lanes im[4];
    for (int32_t k = 0; k < 4; ++k) {
      const Lanes low = lanesLoad(from[k]);
      const Lanes high = lanesLoad(from[k] + 4);
      re[k] = lanesEven(low, high);
      im[k] = lanesOdd(low, high);
    }
    lanesTranspose(re[0], re[1], re[2], re[3]);
    lanesTranspose(im[0], im[1], im[2], im[3]);
    for (int32_t k = 0; k < 4; ++k) {
      lanesStore(dstRe + kLanes * (e + k) + q, re[k]);
      lanesStore(dstIm + kLanes * (e + k) + q, im[k]);
    }
  };
  bool octets = false;
#if OSKRA_HAVE_WIDE_LANES
  octets = laneWidth() >= WideLanes::kWidth;
#endif
  for (int32_t q = 0; q < kLanes; q += 4) {
    const std::complex<float>* src[4] = {source[q], source[q + 1], source[q + 2], source[q + 3]};
#if OSKRA_HAVE_WIDE_LANES
    // Where both quads of an octet have a voice, the octet goes at once, each lane without
    // one taking its quad's first voice's values as below.
    if (octets && q % 8 == 0) {
      const std::complex<float>* eight[8];
      bool full = true;
      for (int32_t half = 0; half < 8; half += 4) {
        const std::complex<float>* any = nullptr;
        for (int32_t k = half; k < half + 4; ++k) any = any != nullptr ? any : source[q + k];
        full = full && any != nullptr;
        for (int32_t k = half; k < half + 4; ++k) eight[k] = source[q + k] != nullptr ? source[q + k] : any;
      }
      if (full) {
        interleaveComplexOctet(eight, dstRe + q, dstIm + q, n);
        q += 4;
        continue;
      }
    }
#endif
    const std::complex<float>* any = nullptr;
    for (const std::complex<float>* p : src) any = any != nullptr ? any : p;
    if (any == nullptr) continue;
    for (const std::complex<float>*& p : src) p = p != nullptr ? p : any;
    float tail[4][8];
    for (int32_t e = 0; e < n; e += 4) {
      const float* from[4];
      complexGroupSources(src, e, n, tail, from);
      quad(from, e, q);
    }
  }
}

// One lane from or into a per-voice array of n values.
void putLane(float* dst, int32_t lane, const float* src, int32_t n) {
  for (int32_t e = 0; e < n; ++e) dst[kLanes * e + lane] = src[e];
}
void getLane(const float* src, int32_t lane, float* dst, int32_t n) {
  for (int32_t e = 0; e < n; ++e) dst[e] = src[kLanes * e + lane];
}
void clearLane(float* dst, int32_t lane, int32_t n) {
  for (int32_t e = 0; e < n; ++e) dst[kLanes * e + lane] = 0.0f;
}

// Cost of a hop per group of lanes, by width (4, 8, 16), measured: sixteen lanes cost less than
// four groups of four, but a few voices are best served by the narrow groups that hold them.
int32_t groupCost(int32_t width) { return width == 4 ? 10 : (width == 8 ? 12 : 18); }

// The groups of `width` lanes that carry a voice, by their first lane.
int32_t groupsOf(uint64_t voiceLanes, int32_t width, int32_t* groupLanes) {
  const uint64_t groupMask = width == 64 ? ~0ull : (1ull << width) - 1ull;
  int32_t count = 0;
  for (int32_t l = 0; l < kLanes; l += width) {
    if ((voiceLanes >> l) & groupMask) groupLanes[count++] = l;
  }
  return count;
}

}  // namespace

void VoiceBandSynth::prepare(const BandLayout& layout) {
  // Every layout fits the lane block (at most 80 bands and 128 bins); a larger count would
  // leave the hops undone rather than write past it.
  const int32_t n = layout.bandCount <= bandhop::kMaxRows - 8 ? std::max(layout.bandCount, 0) : 0;
  const int32_t low = layout.lowBandCount;
  const int32_t high = layout.highBinCount;
  mStride = (n + 3) & ~3;
  for (int32_t i = 0; i < 3; ++i) mCurve[i].assign(kBands, 0.0f);
  for (int32_t k = 0; k < kBands; ++k) {
    for (int32_t i = 0; i < 3; ++i) {
      mCurve[i][static_cast<size_t>(k)] = layout.bandCurve[static_cast<size_t>(k)][static_cast<size_t>(i)];
    }
  }
  // Room past the entries for the widest group of a voice alone.
  constexpr int32_t kWidest = 16;
  mSingleStride = (mStride + kWidest - 1) / kWidest * kWidest + kWidest;
  const size_t lowPadded = static_cast<size_t>(mSingleStride);
  mRotationRe.assign(lowPadded, 0.0f);
  mRotationIm.assign(lowPadded, 0.0f);
  mNoiseGain.assign(lowPadded, 0.0f);
  for (size_t k = 0; k < static_cast<size_t>(low); ++k) {
    mRotationRe[k] = layout.lowBandRotation[k].real();
    mRotationIm[k] = layout.lowBandRotation[k].imag();
    mNoiseGain[k] = layout.lowBandNoiseGain[k];
  }
  mNoiseSpectrumRe.assign(static_cast<size_t>(mSingleStride), 0.0f);
  mNoiseSpectrumIm.assign(static_cast<size_t>(mSingleStride), 0.0f);
  mSingleScratch.assign(static_cast<size_t>(BandHopSingle::kScratchRows * mSingleStride), 0.0f);
  for (std::vector<float>& v : mSingleState) v.assign(static_cast<size_t>(mSingleStride), 0.0f);
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
  // Rows to a whole group of eight past the last entry, for the sums taken eight at a time.
  mLaneBlock.assign(static_cast<size_t>(bandhop::kLaneArrayCount) * kLaneArrayStride + kLineFloats, 0.0f);
  for (std::vector<float>* v : {&mKeptRe, &mKeptIm, &mKeptNoiseRe, &mKeptNoiseIm}) {
    v->assign(static_cast<size_t>(mStride) * lanes, 0.0f);
  }
  std::fill(std::begin(mLaneVoice), std::end(mLaneVoice), nullptr);
  // No lane holds frames of the hop before the first.
  mHopCount = 1;
  std::fill(std::begin(mLaneFramesHop), std::end(mLaneFramesHop), 0u);
  mOldestFrame = 0;
  std::fill(std::begin(mLaneDensity), std::end(mLaneDensity), 0.0f);
  std::fill(std::begin(mLaneTonalScale), std::end(mLaneTonalScale), 1.0f);
  std::fill(std::begin(mLaneFirstHop), std::end(mLaneFirstHop), 0.0f);
  mPartialHz.assign(DrumVoice::kPartialCount, 0.0f);
  mPartialValues.assign(DrumVoice::kPartialCount, {0.0f, 0.0f});
  bandMeasureTables();
}

BandHopTables VoiceBandSynth::hopTables(const BandLayout& layout) const {
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
  tables.rotationRe = mRotationRe.data();
  tables.rotationIm = mRotationIm.data();
  tables.noiseGain = mNoiseGain.data();
  tables.noiseSpectrumRe = mNoiseSpectrumRe.data();
  tables.noiseSpectrumIm = mNoiseSpectrumIm.data();
  return tables;
}

std::complex<float> VoiceBandSynth::laneValue(int32_t lane, int32_t entry, int32_t array) const {
  const size_t e = static_cast<size_t>(entry);
  if (lane == mSingleLane) return {mSingleState[array][e], mSingleState[array + 1][e]};
  const float* re = laneArray(array == 0 ? bandhop::kStateRe : bandhop::kNoiseRe);
  const float* im = laneArray(array == 0 ? bandhop::kStateIm : bandhop::kNoiseIm);
  const size_t at = static_cast<size_t>(kMaxVoices) * e + static_cast<size_t>(lane);
  return {re[at], im[at]};
}

void VoiceBandSynth::singleHop(const BandLayout& layout, DrumVoice& voice, int32_t lane, float density,
                               bool firstHop) {
  const int32_t n = mStride;
  // The states come from the lane while it holds them (after hops shared with other voices),
  // else from the voice itself; they go back to the voice, and the lane no longer holds them.
  float* single[4] = {mSingleState[0].data(), mSingleState[1].data(), mSingleState[2].data(),
                      mSingleState[3].data()};
  float* own[4] = {voice.stateRe.data(), voice.stateIm.data(), voice.noiseRe.data(), voice.noiseIm.data()};
  float* laneArrays[4] = {laneArray(bandhop::kStateRe), laneArray(bandhop::kStateIm), laneArray(bandhop::kNoiseRe),
                          laneArray(bandhop::kNoiseIm)};
  const bool inLane = mLaneVoice[lane] == &voice && !voice.statesCleared;
  for (int32_t k = 0; k < 4; ++k) {
    if (inLane) {
      getLane(laneArrays[k], lane, single[k], n);
    } else {
      std::copy(own[k], own[k] + n, single[k]);
    }
  }
  voice.statesCleared = false;
  // Nor its frames: a later hop beside other voices takes everything from the voice again.
  mLaneVoice[lane] = nullptr;

  voice.seed = lcgStep(voice.seed);
  const float positive = density < 0.0f ? 0.0f : density;
  BandHopSingle work;
  work.frame0 = ringFrame(voice, 3);
  work.frame1 = ringFrame(voice, 2);
  work.frame2 = ringFrame(voice, 1);
  work.stateRe = single[0];
  work.stateIm = single[1];
  work.noiseRe = single[2];
  work.noiseIm = single[3];
  work.table = bandNoise.data() + voice.seed % static_cast<uint32_t>(kBandNoiseSize - layout.bandCount);
  work.density = density;
  // The tonal part is scaled back as the density rises above 0.
  work.tonalScale = std::sqrt(1.0f - positive * positive);
  work.firstHop = firstHop;
  work.scratch = mSingleScratch.data();
  work.scratchStride = mSingleStride;
  const BandHopTables tables = hopTables(layout);
#if OSKRA_HAVE_WIDE_LANES
  if (laneWidth() >= WiderLanes::kWidth) {
    runBandHopSingleWider(tables, work);
  } else if (laneWidth() >= WideLanes::kWidth) {
    runBandHopSingleWide(tables, work);
  } else {
    bandhop::runSingle<Lanes>(tables, work);
  }
#else
  bandhop::runSingle<Lanes>(tables, work);
#endif
  for (int32_t k = 0; k < 4; ++k) std::copy(single[k], single[k] + n, own[k]);
  mSingleLane = lane;
}

void VoiceBandSynth::hops(const BandLayout& layout, DrumVoice* const* voices, const int32_t* lanes,
                          const float* density, const bool* firstHop, int32_t count, bool statesInVoices) {
  mSingleLane = -1;
  if (count == 1) {
    // A voice alone: its entries side by side, every lane of the arithmetic busy.
    singleHop(layout, *voices[0], lanes[0], density[0], firstHop[0]);
    endHop();
    return;
  }
  const int32_t n = mStride;
  const uint32_t hop = mHopCount;
  // The frame ring turns by one slot per hop: the oldest slot takes the newest frames.
  float* frames[3];
  int32_t frameArray[3];
  for (int32_t k = 0; k < 3; ++k) {
    frameArray[k] = (mOldestFrame + k) % 3;
    frames[k] = laneArray(bandhop::kFrames + frameArray[k]);
  }
  const float* newestFrame[kLanes] = {};
  const std::complex<float>* noiseTable[kLanes] = {};
  uint64_t voiceLanes = 0;
  // Each voice reads the noise table at an offset of its own generator, one step per hop.
  const uint32_t noiseOffsets = static_cast<uint32_t>(kBandNoiseSize - layout.bandCount);
  for (int32_t v = 0; v < count; ++v) {
    DrumVoice& voice = *voices[v];
    const int32_t l = lanes[v];
    voiceLanes |= 1ull << l;
    const float d = density[v];
    mLaneDensity[l] = d;
    // The tonal part is scaled back as the density rises above 0.
    const float positive = d < 0.0f ? 0.0f : d;
    mLaneTonalScale[l] = std::sqrt(1.0f - positive * positive);

    // A voice new to its lane brings its states along; cleared states start from zero.
    const bool arrived = statesInVoices || mLaneVoice[l] != &voice;
    if (arrived) {
      putLane(laneArray(bandhop::kStateRe), l, voice.stateRe.data(), n);
      putLane(laneArray(bandhop::kStateIm), l, voice.stateIm.data(), n);
      putLane(laneArray(bandhop::kNoiseRe), l, voice.noiseRe.data(), n);
      putLane(laneArray(bandhop::kNoiseIm), l, voice.noiseIm.data(), n);
    } else if (voice.statesCleared) {
      for (int32_t a : {bandhop::kStateRe, bandhop::kStateIm, bandhop::kNoiseRe, bandhop::kNoiseIm}) {
        clearLane(laneArray(a), l, n);
      }
    }
    voice.statesCleared = false;
    mLaneVoice[l] = statesInVoices ? nullptr : &voice;
    // The lane's two older frames are the ones it held last hop unless the voice is new there
    // or has refilled its ring.
    const bool ringCurrent = !arrived && !firstHop[v] && mLaneFramesHop[l] == hop - 1u &&
                             voice.fillCount == DrumVoice::kFrameRing;
    if (!ringCurrent) {
      putLane(frames[0], l, ringFrame(voice, 3), DrumVoice::kFrameStride);
      putLane(frames[1], l, ringFrame(voice, 2), DrumVoice::kFrameStride);
    }
    mLaneFramesHop[l] = hop;
    newestFrame[l] = ringFrame(voice, 1);
    voice.seed = lcgStep(voice.seed);
    noiseTable[l] = bandNoise.data() + voice.seed % noiseOffsets;
    mLaneFirstHop[l] = firstHop[v] ? 1.0f : 0.0f;
  }
  interleave(newestFrame, frames[2], DrumVoice::kFrameStride);

  const BandHopTables tables = hopTables(layout);

  interleaveComplex(noiseTable, laneArray(bandhop::kTableRe), laneArray(bandhop::kTableIm), layout.bandCount);

  // The width and the groups of lanes to work on.
  int32_t groupLanes[kLanes];
  int32_t groupCount = groupsOf(voiceLanes, 4, groupLanes);
  int32_t width = 4;
#if OSKRA_HAVE_WIDE_LANES
  for (int32_t w = 8; w <= laneWidth(); w *= 2) {
    int32_t wider[kLanes];
    const int32_t widerCount = groupsOf(voiceLanes, w, wider);
    if (widerCount * groupCost(w) <= groupCount * groupCost(width)) {
      width = w;
      groupCount = widerCount;
      std::copy(wider, wider + widerCount, groupLanes);
    }
  }
#endif

  // The groups' other lanes are worked on too; a voice sounding there without a hop now (on
  // the synth track) keeps its states.
  int32_t kept[kLanes];
  int32_t keptCount = 0;
  for (int32_t g = 0; g < groupCount; ++g) {
    for (int32_t l = groupLanes[g]; l < groupLanes[g] + width; ++l) {
      if ((voiceLanes >> l) & 1u) continue;
      const DrumVoice* owner = mLaneVoice[l];
      if (owner == nullptr || owner->state == DrumVoice::kIdle) continue;
      getLane(laneArray(bandhop::kStateRe), l, mKeptRe.data() + keptCount * n, n);
      getLane(laneArray(bandhop::kStateIm), l, mKeptIm.data() + keptCount * n, n);
      getLane(laneArray(bandhop::kNoiseRe), l, mKeptNoiseRe.data() + keptCount * n, n);
      getLane(laneArray(bandhop::kNoiseIm), l, mKeptNoiseIm.data() + keptCount * n, n);
      kept[keptCount++] = l;
    }
  }

  BandHopWork work;
  work.block = laneBlock();
  for (int32_t k = 0; k < 3; ++k) work.frameArray[k] = frameArray[k];
  work.firstHop = mLaneFirstHop;
  work.density = mLaneDensity;
  work.tonalScale = mLaneTonalScale;

#if OSKRA_HAVE_WIDE_LANES
  if (width == WiderLanes::kWidth) {
    runBandHopsWider(tables, work, groupLanes, groupCount, voiceLanes);
  } else if (width == WideLanes::kWidth) {
    runBandHopsWide(tables, work, groupLanes, groupCount, voiceLanes);
  } else if (groupCount == 1) {
    bandhop::run<Lanes, 1>(tables, work, groupLanes, 1, voiceLanes);
  } else {
    bandhop::run<Lanes>(tables, work, groupLanes, groupCount, voiceLanes);
  }
#else
  if (groupCount == 1) {
    bandhop::run<Lanes, 1>(tables, work, groupLanes, 1, voiceLanes);
  } else {
    bandhop::run<Lanes>(tables, work, groupLanes, groupCount, voiceLanes);
  }
#endif

  for (int32_t k = 0; k < keptCount; ++k) {
    putLane(laneArray(bandhop::kStateRe), kept[k], mKeptRe.data() + k * n, n);
    putLane(laneArray(bandhop::kStateIm), kept[k], mKeptIm.data() + k * n, n);
    putLane(laneArray(bandhop::kNoiseRe), kept[k], mKeptNoiseRe.data() + k * n, n);
    putLane(laneArray(bandhop::kNoiseIm), kept[k], mKeptNoiseIm.data() + k * n, n);
  }
  if (statesInVoices) {
    for (int32_t v = 0; v < count; ++v) {
      getLane(laneArray(bandhop::kStateRe), lanes[v], voices[v]->stateRe.data(), n);
      getLane(laneArray(bandhop::kStateIm), lanes[v], voices[v]->stateIm.data(), n);
      getLane(laneArray(bandhop::kNoiseRe), lanes[v], voices[v]->noiseRe.data(), n);
      getLane(laneArray(bandhop::kNoiseIm), lanes[v], voices[v]->noiseIm.data(), n);
    }
  }
  endHop();
}

void VoiceBandSynth::endHop() {
  ++mHopCount;
  mOldestFrame = (mOldestFrame + 1) % 3;
}

bool VoiceBandSynth::readyFor(const BandLayout& layout, DrumVoice* const* voices, int32_t count) const {
  const int32_t n = layout.bandCount;
  if (n <= 0 || count <= 0 || mStride != ((n + 3) & ~3)) return false;
  for (int32_t v = 0; v < count; ++v) {
    if (static_cast<int32_t>(voices[v]->stateRe.size()) < mStride) return false;
  }
  return true;
}

void VoiceBandSynth::drumHops(const BandLayout& layout, DrumVoice* const* voices, const float* density,
                              const bool* firstHop, int32_t count) {
  if (!readyFor(layout, voices, count)) return;
  int32_t lanes[kMaxVoices];
  for (int32_t l = 0; l < kMaxVoices; ++l) lanes[l] = l;
  for (int32_t first = 0; first < count; first += kMaxVoices) {
    hops(layout, voices + first, lanes, density + first, firstHop + first, std::min(count - first, kMaxVoices), true);
  }
}

void VoiceBandSynth::laneHops(const BandLayout& layout, DrumVoice* const* voices, const int32_t* lanes,
                              const float* density, const bool* firstHop, int32_t count) {
  bool valid = count > 0 && count <= kMaxVoices && readyFor(layout, voices, count);
  uint64_t seen = 0;
  for (int32_t v = 0; valid && v < count; ++v) {
    // Every voice needs a lane of its own.
    valid = lanes[v] >= 0 && lanes[v] < kMaxVoices && !((seen >> lanes[v]) & 1u);
    seen |= 1ull << (lanes[v] & (kMaxVoices - 1));
  }
  if (!valid) {
    // The hop passes all the same: a lane's frames are never taken for current across it.
    mSingleLane = -1;
    endHop();
    return;
  }
  hops(layout, voices, lanes, density, firstHop, count, false);
}

void VoiceBandSynth::runningSums(const int32_t* lanes, int32_t count, int32_t n, std::complex<float>* total) const {
  const int32_t padded = (n + 3) & ~3;
  if (padded > mStride) return;
  if (count == 1 && lanes[0] == mSingleLane) {
    // The voice alone: its value joins the empty sum, which counts once and once more.
    const float* re = mSingleState[0].data();
    const float* im = mSingleState[1].data();
    for (int32_t e = 0; e < n; ++e) {
      const float sumRe = 0.0f + re[e];
      const float sumIm = 0.0f + im[e];
      total[e] = {(0.0f + sumRe) + sumRe, (0.0f + sumIm) + sumIm};
    }
    return;
  }
  const float* re = laneArray(bandhop::kStateRe);
  const float* im = laneArray(bandhop::kStateIm);
#if OSKRA_HAVE_WIDE_LANES
  if (laneWidth() >= WideLanes::kWidth) {
    laneRunningSumsWide(re, im, lanes, count, n, total);
    return;
  }
#endif
  for (int32_t e = 0; e < padded; e += 4) {
    // Each lane's four values come out of a 4 × 4 transpose of its lane quad.
    Lanes sumRe = lanesZero();
    Lanes sumIm = lanesZero();
    Lanes totalRe = lanesZero();
    Lanes totalIm = lanesZero();
    int32_t quad = -1;
    Lanes quadRe[4];
    Lanes quadIm[4];
    for (int32_t v = 0; v < count; ++v) {
      const int32_t l = lanes[v];
      if (l / 4 != quad) {
        quad = l / 4;
        for (int32_t k = 0; k < 4; ++k) {
          quadRe[k] = lanesLoad(re + kLanes * (e + k) + 4 * quad);
          quadIm[k] = lanesLoad(im + kLanes * (e + k) + 4 * quad);
        }
        lanesTranspose(quadRe[0], quadRe[1], quadRe[2], quadRe[3]);
        lanesTranspose(quadIm[0], quadIm[1], quadIm[2], quadIm[3]);
      }
      sumRe = sumRe + quadRe[l % 4];
      sumIm = sumIm + quadIm[l % 4];
      totalRe = totalRe + sumRe;
      totalIm = totalIm + sumIm;
    }
    float r[4];
    float i[4];
    lanesStore(r, totalRe + sumRe);
    lanesStore(i, totalIm + sumIm);
    for (int32_t k = 0; k < 4 && e + k < n; ++k) total[e + k] = {r[k], i[k]};
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
