#include "engine/dsp/SpectralSynth.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "engine/dsp/SimdLanes.h"

namespace {

constexpr int32_t kIdleHopCap = 1 << 30;
// While the spectrum stays empty for fewer hops than this, the shelf still runs on the tail.
constexpr int32_t kShelfTailHops = 10;
constexpr float kShelfSilence = 0.000001f;

// dst[(pos + i) mod size] += src[i]·win[i] for i < n (n <= size), in at most two runs.
void addIntoRing(float* ring, int32_t size, int32_t pos, const float* src, const float* win, int32_t n) {
  const int32_t first = std::min(n, size - pos);
  float* dst = ring + pos;
  if (win != nullptr) {
    for (int32_t i = 0; i < first; ++i) dst[i] += src[i] * win[i];
    for (int32_t i = first; i < n; ++i) ring[i - first] += src[i] * win[i];
  } else {
    for (int32_t i = 0; i < first; ++i) dst[i] += src[i];
    for (int32_t i = first; i < n; ++i) ring[i - first] += src[i];
  }
}

}  // namespace

SpectralSynth::SpectralSynth(int32_t n, int32_t channels, int32_t hop)
    : mSize(n), mChannels(std::max(channels, 1)), mHop(hop > 0 ? hop : n / 2) {
  // The transform needs a power of two; any other size gives a synthesiser that stays silent.
  const int32_t log2N = log2OfPowerOfTwo(n);
  if (log2N < 0 || !mFft.init(log2N, Fft::kInterleaved)) mSize = std::max(n, 8) & ~7;
  if (mHop <= 0) mHop = 1;

  // Blackman, scaled so that the overlapping windows add up to 1 at a hop of N/4.
  window.resize(static_cast<size_t>(mSize));
  for (int32_t k = 0; k < mSize; ++k) {
    const double phase = 2.0 * std::numbers::pi * k / mSize;
    window[static_cast<size_t>(k)] = static_cast<float>((0.42 - 0.5 * std::cos(phase) + 0.08 * std::cos(2.0 * phase)) *
                                                        mHop / (mSize * 0.42));
  }

  const int32_t half = mSize / 2 + kGuardBins;
  mSpectrum.assign(static_cast<size_t>(2 * half * mChannels), 0.0f);
  for (int32_t c = 0; c < mChannels; ++c) {
    float* base = mSpectrum.data() + static_cast<size_t>(2 * half * c);
    mRe.push_back(base + kGuardBins);
    mIm.push_back(base + half + kGuardBins);
  }
  mRing.assign(static_cast<size_t>(mSize * mChannels), 0.0f);
  mFrame.assign(static_cast<size_t>(mSize), 0.0f);
  mShelfState.assign(static_cast<size_t>(mChannels), 0.0f);
  mBinsPerHz = static_cast<float>(mSize) / mSampleRate;
}

SpectralSynth::~SpectralSynth() = default;

void SpectralSynth::setSampleRate(float rate, float shelfCornerHz, float shelfGain) {
  mShelfOn = shelfGain != 1.0f && rate > 0.0f;
  designShelf(&mShelf, shelfCornerHz / rate, shelfGain);
  mSampleRate = rate;
  mBinsPerHz = rate > 0.0f ? static_cast<float>(mSize) / rate : 0.0f;
  reset();
}

void SpectralSynth::reset() {
  std::fill(mSpectrum.begin(), mSpectrum.end(), 0.0f);
  std::fill(mRing.begin(), mRing.end(), 0.0f);
  std::fill(mShelfState.begin(), mShelfState.end(), 0.0f);
  mHasContent = false;
  mWritePos = 0;
  mIdleHops = 0;
  mDrainedSinceContent = mSize;
}

// Bins below -4 or above N/2 - 1 lie outside the arrays; a value aimed there is dropped.
void SpectralSynth::addBands(const int32_t* bin, const float* w0, const float* w1,
                             const std::complex<float>* const* values, int32_t count, int32_t channels) {
  const int32_t lastPair = mSize / 2 - 2;
  channels = std::min(channels, mChannels);
  for (int32_t c = 0; c < channels; ++c) {
    float* re = mRe[static_cast<size_t>(c)];
    float* im = mIm[static_cast<size_t>(c)];
    const std::complex<float>* v = values[c];
    for (int32_t k = 0; k < count; ++k) {
      const int32_t b = bin[k];
      if (b < -kGuardBins || b > lastPair) continue;
      re[b] += v[k].real() * w0[k];
      im[b] += v[k].imag() * w0[k];
      re[b + 1] += v[k].real() * w1[k];
      im[b + 1] += v[k].imag() * w1[k];
    }
  }
  if (count > 0) mHasContent = true;
}

void SpectralSynth::addBins(const std::complex<float>* const* values, int32_t firstBin, int32_t count,
                            int32_t channels) {
  const int32_t begin = std::max(firstBin, -kGuardBins);
  const int32_t end = std::min(firstBin + std::max(count, 0), mSize / 2);
  channels = std::min(channels, mChannels);
  for (int32_t c = 0; c < channels; ++c) {
    float* re = mRe[static_cast<size_t>(c)];
    float* im = mIm[static_cast<size_t>(c)];
    const std::complex<float>* v = values[c];
    for (int32_t b = begin; b < end; ++b) {
      re[b] += v[b - firstBin].real();
      im[b] += v[b - firstBin].imag();
    }
  }
  mHasContent = true;
}

void SpectralSynth::addPartials(const float* freqHz, const std::complex<float>* values, int32_t count,
                                int32_t channel) {
  if (channel < 0 || channel >= mChannels) return;
  float* re = mRe[static_cast<size_t>(channel)];
  float* im = mIm[static_cast<size_t>(channel)];
  const float lastPair = static_cast<float>(mSize / 2 - 2);
  for (int32_t k = 0; k < count; ++k) {
    const float x = freqHz[k] * mBinsPerHz;
    if (!(x > -static_cast<float>(kGuardBins) && x < lastPair + 1.0f)) continue;
    const int32_t b = static_cast<int32_t>(x);
    const float d = x - static_cast<float>(b);
    const float e = 1.0f - d;
    // A smooth pair of weights: all on the near bin at d = 0, a little over half each midway.
    const float w0 = 1.0f - (0.27f * d + 0.73f) * d;
    const float w1 = 1.0f - (0.27f * e + 0.73f) * e;
    re[b] += values[k].real() * w0;
    im[b] += values[k].imag() * w0;
    re[b + 1] += values[k].real() * w1;
    im[b + 1] += values[k].imag() * w1;
  }
  mHasContent = true;
}

void SpectralSynth::synthesizeFrame(int32_t channels) {
  mHopCount += 1;
  if (!mHasContent) {
    mIdleHops = std::min(mIdleHops + 1, kIdleHopCap);
    mWritePos = (mWritePos + mHop) % mSize;
    return;
  }
  mIdleHops = 0;
  mDrainedSinceContent = 0;
  const int32_t half = mSize / 2;
  const float* win = window.size() >= static_cast<size_t>(mSize) ? window.data() : nullptr;
  channels = std::min(channels, mChannels);
  for (int32_t c = 0; c < channels; ++c) {
    float* re = mRe[static_cast<size_t>(c)];
    float* im = mIm[static_cast<size_t>(c)];
    // A real signal's half spectrum: DC counts once where every other bin counts twice, the
    // Nyquist slot is unused, and bins that fell below 0 come back mirrored and conjugated.
    re[0] *= 2.0f;
    im[0] = 0.0f;
    for (int32_t k = 1; k <= kGuardBins; ++k) {
      re[k] += re[-k];
      im[k] -= im[-k];
    }
    mFft.inverseFromSplit(re, im, mFrame.data());
    // The frame's centre is its time origin: its second half goes first.
    float* ring = mRing.data() + static_cast<size_t>(c) * mSize;
    addIntoRing(ring, mSize, mWritePos, mFrame.data() + half, win, half);
    addIntoRing(ring, mSize, (mWritePos + half) % mSize, mFrame.data(), win != nullptr ? win + half : nullptr, half);
  }
  std::fill(mSpectrum.begin(), mSpectrum.end(), 0.0f);
  mHasContent = false;
  mWritePos = (mWritePos + mHop) % mSize;
}

bool SpectralSynth::shelfActive() const {
  if (!mShelfOn) return false;
  if (mIdleHops < kShelfTailHops) return true;
  for (float s : mShelfState)
    if (std::fabs(s) > kShelfSilence) return true;
  return false;
}

void SpectralSynth::readMono(SpectralSynth* const* synths, float* const* out, int32_t count, int32_t n,
                             bool* silent) {
  constexpr int32_t kGroup = 4;  // lanes
  constexpr int32_t kMaxTogether = 2 * kGroup;
  constexpr int32_t kMaxFrames = 64;  // a control period; longer reads go alone
  SpectralSynth* together[kMaxTogether];
  float* dst[kMaxTogether];
  bool* silentOf[kMaxTogether];
  int32_t joined = 0;
  for (int32_t k = 0; k < count; ++k) {
    SpectralSynth& synth = *synths[k];
    bool* s = silent != nullptr ? silent + k : nullptr;
    if (synth.mChannels == 1 && n > 0 && n <= synth.mSize) {
      // A non-finite value that once reached the shelf would stay in its state for good.
      float& state = synth.mShelfState[0];
      if (!std::isfinite(state)) state = 0.0f;
      if (synth.dormant()) {
        // A track that has died away costs next to nothing: its frames are silence.
        std::fill(out[k], out[k] + n, 0.0f);
        synth.mReadPos = (synth.mReadPos + n) % synth.mSize;
        if (s != nullptr) {
          *s = !synth.mHasContent && synth.mIdleHops > 2 + synth.mSize / synth.mHop && std::fabs(state) < kShelfSilence;
        }
        continue;
      }
    }
    if (synth.mChannels != 1 || n <= 0 || n > synth.mSize || n > kMaxFrames || synth.mReadPos + n > synth.mSize ||
        joined == kMaxTogether) {
      synth.read(&out[k], 0, n, 1, s);
      continue;
    }
    together[joined] = &synth;
    dst[joined] = out[k];
    silentOf[joined] = s;
    ++joined;
  }
  if (joined == 0) return;

  // Per lane: the shelf (the identity for a synthesiser that does not filter now), its state,
  // and whether it filters; the lanes past the last synthesiser copy silence.
  const int32_t groups = (joined + kGroup - 1) / kGroup;
  float a[kMaxTogether] = {};
  float b0[kMaxTogether] = {};
  float b1[kMaxTogether] = {};
  float state[kMaxTogether] = {};
  float filters[kMaxTogether] = {};
  bool copied[kMaxTogether] = {};
  for (int32_t k = 0; k < joined; ++k) {
    SpectralSynth& synth = *together[k];
    // A non-finite value that once reached the shelf would stay in its state for good.
    float& s = synth.mShelfState[0];
    if (!std::isfinite(s)) s = 0.0f;
    const bool filter = synth.shelfActive();
    copied[k] = !filter;
    filters[k] = filter ? 1.0f : 0.0f;
    a[k] = synth.mShelf.a;
    b0[k] = synth.mShelf.b0;
    b1[k] = synth.mShelf.b1;
    state[k] = s;
  }
  float in[kMaxFrames][kMaxTogether];
  float result[kMaxFrames][kMaxTogether];
  for (int32_t k = 0; k < kGroup * groups; ++k) {
    const float* src = k < joined ? together[k]->mRing.data() + together[k]->mReadPos : nullptr;
    for (int32_t i = 0; i < n; ++i) in[i][k] = src != nullptr ? src[i] : 0.0f;
  }
  const Lanes zero = lanesZero();
  for (int32_t g = 0; g < groups; ++g) {
    const int32_t l = kGroup * g;
    const Lanes filter = lanesLess(zero, lanesLoad(filters + l));
    const Lanes la = lanesLoad(a + l);
    const Lanes lb0 = lanesLoad(b0 + l);
    const Lanes lb1 = lanesLoad(b1 + l);
    Lanes st = lanesLoad(state + l);
    // Whether the group's synthesisers all filter, or none does: then no lane needs the choice
    // (the stand-in lanes past the last one filter silence with a zero shelf, which is dropped).
    bool all = true;
    bool none = true;
    for (int32_t k = l; k < std::min(l + kGroup, joined); ++k) {
      all = all && !copied[k];
      none = none && copied[k];
    }
    if (none) {
      for (int32_t i = 0; i < n; ++i) lanesStore(result[i] + l, lanesLoad(in[i] + l));
      continue;
    }
    if (all) {
      for (int32_t i = 0; i < n; ++i) {
        const Lanes x = lanesLoad(in[i] + l);
        const Lanes v = x - la * st;
        lanesStore(result[i] + l, lb0 * v + lb1 * st);
        st = v;
      }
      lanesStore(state + l, st);
      continue;
    }
    for (int32_t i = 0; i < n; ++i) {
      // shelfProcessSample in every lane that filters.
      const Lanes x = lanesLoad(in[i] + l);
      const Lanes v = x - la * st;
      const Lanes y = lb0 * v + lb1 * st;
      lanesStore(result[i] + l, lanesSelect(filter, y, x));
      st = lanesSelect(filter, v, st);
    }
    lanesStore(state + l, st);
  }
  for (int32_t k = 0; k < joined; ++k) {
    SpectralSynth& synth = *together[k];
    for (int32_t i = 0; i < n; ++i) dst[k][i] = result[i][k];
    float* src = synth.mRing.data() + synth.mReadPos;
    std::fill(src, src + n, 0.0f);
    synth.mShelfState[0] = state[k];
    synth.mReadPos = (synth.mReadPos + n) % synth.mSize;
    synth.drained(n);
    if (silentOf[k] != nullptr) {
      const int32_t idleNeeded = copied[k] ? 2 + synth.mSize / synth.mHop : 2;
      *silentOf[k] = !synth.mHasContent && synth.mIdleHops > idleNeeded && std::fabs(state[k]) < kShelfSilence;
    }
  }
}

int32_t SpectralSynth::read(float* const* out, int32_t offset, int32_t n, int32_t channels, bool* silent) {
  channels = std::min(channels, mChannels);
  n = std::clamp(n, 0, mSize);
  // A non-finite value that once reached the shelf would stay in its state for good.
  for (float& s : mShelfState)
    if (!std::isfinite(s)) s = 0.0f;

  bool copied = false;
  int32_t done = 0;
  while (done < n) {
    const int32_t run = std::min(n - done, mSize - mReadPos);
    const bool filter = shelfActive();
    copied = copied || !filter;
    for (int32_t c = 0; c < channels; ++c) {
      float* src = mRing.data() + static_cast<size_t>(c) * mSize + mReadPos;
      float* dst = out[c] + offset + done;
      if (filter) {
        float& state = mShelfState[static_cast<size_t>(c)];
        for (int32_t i = 0; i < run; ++i) dst[i] = shelfProcessSample(mShelf, state, src[i]);
      } else {
        std::copy(src, src + run, dst);
      }
      std::fill(src, src + run, 0.0f);
    }
    // Channels not delivered still give up their frames.
    for (int32_t c = channels; c < mChannels; ++c) {
      float* src = mRing.data() + static_cast<size_t>(c) * mSize + mReadPos;
      std::fill(src, src + run, 0.0f);
    }
    mReadPos = (mReadPos + run) % mSize;
    drained(run);
    done += run;
  }

  if (silent != nullptr) {
    float stateMagnitude = 0.0f;
    for (float s : mShelfState) stateMagnitude = std::max(stateMagnitude, std::fabs(s));
    const int32_t idleNeeded = copied ? 2 + mSize / mHop : 2;
    *silent = !mHasContent && mIdleHops > idleNeeded && stateMagnitude < kShelfSilence;
  }
  return done;
}
