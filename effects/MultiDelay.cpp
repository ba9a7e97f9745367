#include "effects/MultiDelay.h"

#include <algorithm>
#include <cstring>

#include "effects/DelayLine.h"

void MultiDelay::init(int newLength, int newChannels, int crossfadeLength) {
  length = std::clamp(newLength, 1, DelayLine::kMaxLength);
  channels = std::clamp(newChannels, 1, kMaxChannels);
  inverseBlock = 1.0f / static_cast<float>(std::max(crossfadeLength, 1));
  for (int ch = 0; ch < kMaxChannels; ++ch) {
    if (ch < channels)
      buffers[ch].assign(static_cast<size_t>(length), 0.0f);
    else
      buffers[ch] = std::vector<float>();
  }
  crossfade = 0.0f;
  writePos = 0;
  readCursor = 0;
  currentDelay = -1;
  nextDelay = -1;
}

void MultiDelay::clear() {
  for (std::vector<float>& b : buffers) std::fill(b.begin(), b.end(), 0.0f);
  writePos = 0;
  readCursor = 0;
  // Over silence there is nothing to fade between: a pending delay takes over at once.
  if (nextDelay >= 0) currentDelay = nextDelay;
  nextDelay = -1;
  crossfade = 0.0f;
}

void MultiDelay::write(const float* const* in, int n) {
  if (n <= 0 || length <= 0) return;
  int skip = 0;
  if (n > length) {
    // Only the last `length` samples can stay; the writer still moves by n in all.
    skip = n - length;
    writePos = static_cast<int>((static_cast<int64_t>(writePos) + skip) % length);
    n = length;
  }
  int done = 0;
  while (done < n) {
    const int run = std::min(n - done, length - writePos);
    for (int ch = 0; ch < channels; ++ch)
      std::memcpy(buffers[ch].data() + writePos, in[ch] + skip + done, sizeof(float) * run);
    done += run;
    writePos += run;
    if (writePos == length) writePos = 0;
  }
}

int MultiDelay::tapIndex(int delay) const {
  int64_t i = (static_cast<int64_t>(readCursor) - delay) % length;
  if (i < 0) i += length;
  return static_cast<int>(i);
}

void MultiDelay::readTap(float* const* out, int from, int count, int delay) {
  int i = tapIndex(delay);
  int done = 0;
  while (done < count) {
    const int run = std::min(count - done, length - i);
    for (int ch = 0; ch < channels; ++ch)
      std::memcpy(out[ch] + from + done, buffers[ch].data() + i, sizeof(float) * run);
    done += run;
    i += run;
    if (i == length) i = 0;
  }
}

void MultiDelay::read(float* const* out, int n, int delay) {
  if (n <= 0 || length <= 0) return;
  delay = std::clamp(delay, 0, length - 1);
  if (currentDelay < 0) {
    currentDelay = delay;
  } else if (delay != currentDelay && nextDelay < 0) {
    // A request during a running crossfade waits: the caller repeats it every block.
    nextDelay = delay;
    crossfade = 0.0f;
  }

  int k = 0;
  if (nextDelay >= 0) {
    // One stretch of the crossfade per call; the rest of the block is read plainly.
    const int remaining = static_cast<int>((1.0f - crossfade) / inverseBlock);
    const int m = std::clamp(remaining, 1, n);
    int a = tapIndex(currentDelay);
    int b = tapIndex(nextDelay);
    while (k < m) {
      const int run = std::min(m - k, std::min(length - a, length - b));
      for (int ch = 0; ch < channels; ++ch) {
        const float* buf = buffers[ch].data();
        float* o = out[ch];
        for (int j = 0; j < run; ++j) {
          const float step = static_cast<float>(k + j) * inverseBlock;
          o[k + j] = (1.0f - crossfade - step) * buf[a + j] + (crossfade + step) * buf[b + j];
        }
      }
      k += run;
      a += run;
      if (a == length) a = 0;
      b += run;
      if (b == length) b = 0;
    }
    crossfade += static_cast<float>(m) * inverseBlock;
    if (crossfade + inverseBlock >= 1.0f) {
      currentDelay = nextDelay;
      nextDelay = -1;
    }
    readCursor = static_cast<int>((static_cast<int64_t>(readCursor) + m) % length);
  }
  if (k < n) {
    readTap(out, k, n - k, currentDelay);
    readCursor = static_cast<int>((static_cast<int64_t>(readCursor) + (n - k)) % length);
  }
}
