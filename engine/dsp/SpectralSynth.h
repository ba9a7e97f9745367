#pragma once

#include <algorithm>
#include <complex>
#include <cstdint>
#include <vector>

#include "engine/dsp/Fft.h"
#include "engine/dsp/ShelfFilter.h"

// Band values in, audio out: per hop the collected half spectrum is inverse-transformed and
// overlap-added into an output ring, which `read` drains. Each channel has a real and an
// imaginary array of N/2 + 4 values with 4 guard bins below bin 0, so a band spread that
// reaches below 0 lands in the guards and is folded back (mirrored and conjugated) at the
// next hop. Nothing allocates after construction.
class SpectralSynth {
 public:
  static constexpr int32_t kGuardBins = 4;

  // hop 0 means N/2. N must be a size the FFT accepts (a multiple of 32, at least 32).
  SpectralSynth(int32_t n, int32_t channels, int32_t hop);
  ~SpectralSynth();
  SpectralSynth(const SpectralSynth&) = delete;
  SpectralSynth& operator=(const SpectralSynth&) = delete;

  // The shelf runs on the output when its gain is not 1 and the rate is above 0. Also resets.
  void setSampleRate(float rate, float shelfCornerHz, float shelfGain);
  // Silence: spectrum, rings, content flag, write position, shelf state and idle count.
  void reset();

  // Band k adds value·w0[k] to bin[k] and value·w1[k] to bin[k] + 1, per channel c from
  // values[c][k]. Bins from -4 up to N/2 - 2 are in range.
  void addBands(const int32_t* bin, const float* w0, const float* w1, const std::complex<float>* const* values,
                int32_t count, int32_t channels);
  // values[c][k] added to bin firstBin + k.
  void addBins(const std::complex<float>* const* values, int32_t firstBin, int32_t count, int32_t channels);
  // Partials at any frequency, spread over the two nearest bins with a smooth weight pair.
  void addPartials(const float* freqHz, const std::complex<float>* values, int32_t count, int32_t channel);

  // One hop: inverse transform of what was added since the last hop, overlap-added into the
  // ring; the spectrum is cleared.
  void synthesizeFrame(int32_t channels);

  // Drains up to n frames (at most N) from the ring into out[c][offset..]; returns the count.
  // silent (may be null) tells whether the output has died away.
  int32_t read(float* const* out, int32_t offset, int32_t n, int32_t channels, bool* silent);
  // read(&out[k], 0, n, 1, silent + k) for each of `count` synthesisers (silent may be null).
  // Their shelves wait on their own last sample; those of single-channel synthesisers that
  // drain at most 64 frames without wrapping round the ring run side by side, exactly as each
  // would alone.
  static void readMono(SpectralSynth* const* synths, float* const* out, int32_t count, int32_t n, bool* silent);

  int32_t size() const { return mSize; }
  int32_t hop() const { return mHop; }
  int32_t channels() const { return mChannels; }
  float sampleRate() const { return mSampleRate; }
  float binsPerHz() const { return mBinsPerHz; }
  uint32_t hopCount() const { return mHopCount; }
  int32_t idleHops() const { return mIdleHops; }
  bool hasContent() const { return mHasContent; }
  int32_t writePosition() const { return mWritePos; }
  int32_t readPosition() const { return mReadPos; }
  bool shelfOn() const { return mShelfOn; }
  const ShelfCoefficients& shelf() const { return mShelf; }

  // Bin k (-4..N/2 - 1) of channel c, for inspection.
  float* re(int32_t channel) { return mRe[static_cast<size_t>(channel)]; }
  float* im(int32_t channel) { return mIm[static_cast<size_t>(channel)]; }
  // The overlap-add ring of channel c (N values).
  const float* ring(int32_t channel) const { return mRing.data() + static_cast<size_t>(channel) * mSize; }

  // Synthesis window, N values; the owner may overwrite it. Empty means plain addition.
  std::vector<float> window;

 private:
  bool shelfActive() const;
  // Nothing left to hear: the ring holds only zeros (every value written by the last hop with
  // content has been drained) and the shelf rests, so a read gives silence and changes nothing
  // but the read position.
  bool dormant() const { return mDrainedSinceContent >= mSize && !shelfActive(); }
  // Frames drained since a hop last wrote the ring; counts up to the ring size.
  void drained(int32_t n) { mDrainedSinceContent = std::min(mDrainedSinceContent + n, mSize); }

  int32_t mSize;
  int32_t mChannels;
  int32_t mHop;
  Fft mFft;
  std::vector<float> mSpectrum;  // per channel: guards, re, guards, im
  std::vector<float*> mRe;
  std::vector<float*> mIm;
  std::vector<float> mRing;      // per channel N values
  std::vector<float> mFrame;
  std::vector<float> mShelfState;
  ShelfCoefficients mShelf;
  int32_t mReadPos = 0;
  int32_t mWritePos = 0;
  float mSampleRate = 44100.0f;
  float mBinsPerHz = 0.0f;
  bool mHasContent = false;
  bool mShelfOn = false;
  int32_t mIdleHops = 0;
  int32_t mDrainedSinceContent = 0;
  uint32_t mHopCount = 0;  // wraps after 2^32 hops
};
