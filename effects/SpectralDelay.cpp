#include "effects/SpectralDelay.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "engine/core/WrapPhase.h"

namespace {

// cos and sin of 2*pi*u for u in 0..1, from q = 4u(1 - u): accurate to about 0.5 %, and cheap
// enough to rebuild every bin's weights whenever the delays change.
SpectralDelay::Complex unitPhasor(float u) {
  const float q = 4.0f * u * (1.0f - u);
  const float q2 = q * q;
  return {1.0f - (0.5268947f * q2 + 1.4731053f) * q2,
          ((1.2080399f * q + 1.7851804f) * q + 3.320247f) * (0.5f - u) * q};
}

}  // namespace

bool SpectralDelay::init(int n, int historyLength) {
  size = hop = frameSize = 0;
  historySize = 0;
  const int log2N = log2OfPowerOfTwo(n);
  if (log2N < 0 || !fft.init(log2N, Fft::kInterleaved)) {
    fft.destroy();
    return false;
  }

  size = frameSize = n;
  hop = n / 4;
  analysisWindow.assign(n, 0.0f);
  synthesisWindow.assign(n, 0.0f);
  double sumSquares = 0.0;
  for (int i = 0; i < n; ++i) {
    // The square root of a Blackman-like window times a Hann window: analysis and synthesis
    // share it, so their product sums to a constant over frames a quarter apart.
    const double x = 2.0 * M_PI * (i - n / 2 + 0.5) / n;
    const double product = (0.428 + 0.5 * std::cos(x) + 0.072 * std::cos(2.0 * x)) *
                           (0.5 + 0.5 * std::cos(x));
    analysisWindow[i] = static_cast<float>(std::sqrt(std::max(product, 0.0)));
    sumSquares += static_cast<double>(analysisWindow[i]) * analysisWindow[i];
  }
  // The transforms are unscaled (a round trip gives N times the input); this factor makes the
  // overlap-added round trip exactly 1.
  const float scale = static_cast<float>(hop / (n * sumSquares));
  for (int i = 0; i < n; ++i) synthesisWindow[i] = analysisWindow[i] * scale;

  inputRing.assign(n, 0.0f);
  outputRing.assign(n, 0.0f);
  spectrum.assign(n, 0.0f);
  frame.assign(n, 0.0f);
  writeIndex = 0;
  nextFrame = centred ? n / 2 : 0;

  // Bounded before rounding up (the bound is a power of two itself), so no request can
  // overflow the rounding.
  static_assert(std::has_single_bit(static_cast<uint32_t>(kMaxHistory)));
  historySize = static_cast<int32_t>(
      std::bit_ceil(static_cast<uint32_t>(std::clamp(historyLength, 2, kMaxHistory))));
  history.assign(static_cast<size_t>(historySize) * n, 0.0f);
  binDelays.assign(n / 2, 0);
  coefficients0.assign(n / 2, Complex{});
  coefficients1.assign(n / 2, Complex{});
  currentSlot = 0;
  return true;
}

void SpectralDelay::setDelays(const float* delay, const float* gain, int count) {
  if (!fft.valid()) return;
  count = std::clamp(count, 0, size / 2);
  const float maxDelay = static_cast<float>(historySize - 1);
  // A bin's delay may take the whole history but no more; anything undefined is no delay.
  auto delayOf = [&](int i) {
    const float d = delay[i];
    return d >= 0.0f ? std::min(d, maxDelay) : 0.0f;
  };
  const float hopShare = static_cast<float>(hop) / static_cast<float>(size);
  float phase = 0.0f;  // in turns: the running sum of the group delay across the bins
  for (int i = 0; i < count; ++i) {
    const float d = delayOf(i);
    const int whole = static_cast<int>(d);
    const float fraction = d - static_cast<float>(whole);
    const float g = std::isfinite(gain[i]) ? gain[i] : 0.0f;
    binDelays[i] = whole;
    for (int k = 0; k < 2; ++k) {
      const float t = static_cast<float>(k) - fraction;
      const float v = std::max(1.0f - std::fabs(t), 0.0f);
      const float s = (3.0f - 2.0f * v) * v * v * g;  // smooth-step of the linear weight
      const float theta = static_cast<float>(i) * t * hopShare + phase;
      const Complex p = unitPhasor(wrapPhase(theta));
      (k == 0 ? coefficients0 : coefficients1)[i] = {s * p.re, s * p.im};
    }
    if (i + 1 < count)
      phase = wrapPhase(phase) + (delayOf(i + 1) - d) * (static_cast<float>(i) + 0.5f) * hopShare;
  }
}

void SpectralDelay::reset() { std::fill(history.begin(), history.end(), 0.0f); }

void SpectralDelay::process(const float* in, float* out, int n) {
  if (n <= 0) return;
  if (!fft.valid()) {
    std::fill(out, out + n, 0.0f);
    return;
  }
  int done = 0;
  while (true) {
    if (writeIndex == nextFrame) processFrame();
    if (done == n) break;
    // Up to the next frame position, which is never the write index here.
    const int toFrame = nextFrame > writeIndex ? nextFrame - writeIndex : nextFrame + size - writeIndex;
    const int run = std::min(n - done, toFrame);
    float* inRing = inputRing.data() + writeIndex;
    const float* outRing = outputRing.data() + writeIndex;
    for (int k = 0; k < run; ++k) {
      const float x = in[done + k];  // read before writing: in and out may be one buffer
      out[done + k] = outRing[k];
      inRing[k] = x;
    }
    done += run;
    writeIndex += run;
    if (writeIndex == size) writeIndex = 0;
  }
}

void SpectralDelay::processFrame() {
  const int n = size;
  const int mask = historySize - 1;
  float* const current = history.data() + static_cast<size_t>(currentSlot) * n;

  // The last N input samples, oldest first, windowed and transformed into the current slot.
  const int tail = n - writeIndex;
  for (int i = 0; i < tail; ++i) frame[i] = inputRing[writeIndex + i] * analysisWindow[i];
  for (int i = tail; i < n; ++i) frame[i] = inputRing[i - tail] * analysisWindow[i];
  fft.forward(frame.data(), current, n);

  // Each bin from the two past frames around its delay. The first pair (DC and Nyquist) goes
  // through as one more complex bin; its weights are real, so the two never mix.
  for (int p = 0; p < n / 2; ++p) {
    const int j = currentSlot - binDelays[p];
    const float* a = history.data() + static_cast<size_t>((j - 1) & mask) * n + 2 * p;
    const float* b = history.data() + static_cast<size_t>(j & mask) * n + 2 * p;
    const Complex c1 = coefficients1[p], c0 = coefficients0[p];
    spectrum[2 * p] = a[0] * c1.re - a[1] * c1.im + b[0] * c0.re - b[1] * c0.im;
    spectrum[2 * p + 1] = a[0] * c1.im + a[1] * c1.re + b[0] * c0.im + b[1] * c0.re;
  }
  spectrum[1] = 0.0f;

  fft.inverse(spectrum.data(), frame.data());
  // Overlap-add from the frame position: the first N - hop samples join what earlier frames
  // left, the last hop samples are new (the output just read the old ones).
  const int start = nextFrame;
  for (int i = 0; i < n; ++i) {
    const int k = (start + i) & (n - 1);
    const float y = frame[i] * synthesisWindow[i];
    outputRing[k] = i < n - hop ? outputRing[k] + y : y;
  }
  nextFrame = (start + hop) & (n - 1);
  currentSlot = (currentSlot + 1) & mask;
}
