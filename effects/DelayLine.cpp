#include "effects/DelayLine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "effects/DecayGain.h"
#include "engine/core/Clamp.h"
#include "engine/dsp/SimdLanes.h"

namespace {

// Catmull-Rom between y1 and y2 at fraction f; y0 and y3 shape the slopes. For a float or,
// the same arithmetic in every lane, Lanes.
inline float splatAs(float x, float) { return x; }
inline Lanes splatAs(float x, Lanes) { return lanesSplat(x); }
template <typename T>
inline T catmullRom(T y0, T y1, T y2, T y3, T f) {
  auto c = [](float x) { return splatAs(x, T{}); };
  return (((c(1.5f) * y1 - c(0.5f) * y0 - c(1.5f) * y2 + c(0.5f) * y3) * f + y0 - c(2.5f) * y1 + c(2.0f) * y2 -
           c(0.5f) * y3) * f + c(0.5f) * (y2 - y0)) * f + y1;
}

inline float tapGain(float delay, float decayRate) {
  return decayRate == 0.0f ? 1.0f : decayGain(delay * decayRate);
}

// The rotation's stage over a run where the tap is the sample the writer replaces (a delay of
// the whole line) at a steady tap gain g: the run's samples are independent of each other.
void rotateInPlace(float* __restrict line, float* __restrict x0, float* __restrict x1, int n, float g) {
  for (int j = 0; j < n; ++j) {
    const float t = g * line[j];
    const float entering = x1[j];
    const float a = x0[j];
    x1[j] = (a - t) * DelayLine::kRotationGain;
    x0[j] = (t + a) * DelayLine::kRotationGain;
    line[j] = entering;
  }
}

}  // namespace

void DelayLine::init(int usableLength) {
  const int n = std::clamp(usableLength, kGuard, kMaxLength);
  buffer.assign(static_cast<size_t>(n) + kGuard, 0.0f);
  writePos = 0;
  gain = 1.0f;
  head = DelayReadHead{};
}

void DelayLine::clear() { std::fill(buffer.begin(), buffer.end(), 0.0f); }

void DelayLine::mirrorGuards(int from, int count) {
  const int n = length();
  const int end = std::min(from + count, kGuard);
  for (int i = from; i < end; ++i) buffer[n + i] = buffer[i];
}

int DelayLine::readIndex(int delay) const {
  const int64_t n = length();
  if (delay >= 0 && delay <= n) {
    // The usual case, without a division: one step back round the line at most.
    const int r = writePos - delay;
    return r < 0 ? r + static_cast<int>(n) : r;
  }
  int64_t r = (static_cast<int64_t>(writePos) - delay) % n;
  if (r < 0) r += n;
  return static_cast<int>(r);
}

void DelayLine::write(const float* in, int n) {
  if (n <= 0 || buffer.empty()) return;
  const int len = length();
  if (n > len) {
    // Only the last `len` samples can stay; the writer still moves by n in all.
    writePos = static_cast<int>((static_cast<int64_t>(writePos) + (n - len)) % len);
    in += n - len;
    n = len;
  }
  while (n > 0) {
    const int run = std::min(n, len - writePos);
    std::memcpy(buffer.data() + writePos, in, sizeof(float) * run);
    if (writePos < kGuard) mirrorGuards(writePos, run);
    writePos += run;
    if (writePos == len) writePos = 0;
    in += run;
    n -= run;
  }
}

void DelayLine::readModulated(float* out, int n, float delay, DelayReadHead* readHead,
                              float decayRate) {
  if (n <= 0) return;
  if (buffer.empty()) {
    std::fill(out, out + n, 0.0f);
    return;
  }
  DelayReadHead& h = readHead ? *readHead : head;
  for (int done = 0; done < n; done += kMaxBlock)
    readBlock(out + done, std::min(kMaxBlock, n - done), delay, h, decayRate);
}

void DelayLine::readBlock(float* out, int n, float delay, DelayReadHead& h, float decayRate) {
  const int len = length();
  // A target beyond the headroom could never be reached and would leave the head chasing it
  // round the line; a negative or undefined one is taken as the shortest delay.
  const float maxDelay = static_cast<float>(std::max(len - kHeadroom, 0));
  if (!(delay <= maxDelay)) delay = maxDelay;
  if (!(delay >= 0.0f)) delay = 0.0f;

  // A head carried over from another line, or damaged, starts afresh rather than read outside.
  if (h.expectedWritePos >= len) h.expectedWritePos %= len;
  if (h.expectedWritePos < 0) h.expectedWritePos = writePos;
  if (!(h.speed >= 0.5f && h.speed <= 2.0f))
    h.speed = std::isnan(h.speed) ? 1.0f : clamp(h.speed, 0.5f, 2.0f);
  if (!(h.position >= 0.0 && h.position < len)) {
    // Wrap whenever the start would lie before the oldest sample, so no read ever starts at a
    // negative index.
    double start = static_cast<double>(h.expectedWritePos) - delay;
    if (start < 0.0) start += len;
    h.position = start;
  }

  double current = static_cast<double>(h.expectedWritePos) - h.position;
  if (current < 0.0) current += len;
  // Too long a delay is read faster, too short a one slower; the speed then eases towards that
  // wish by at most 0.001 per sample, so delay changes bend the pitch instead of clicking.
  const float wantedSpeed =
      clamp(1.0f - (delay - static_cast<float>(current)) * 0.001f, 0.5f, 2.0f);
  const float invN = 1.0f / static_cast<float>(n);
  const float speedStep =
      clamp((wantedSpeed - h.speed) * invN * (1.0f / 1.5f), -0.001f, 0.001f);
  const float gainStep = (tapGain(delay, decayRate) - gain) * invN;

  const float* b = buffer.data();
  const double speed = h.speed;
  double pos = h.position;
  float g = gain;
  // The read positions and gains first, one after the other; then the interpolation four
  // samples at a time, the four reads of a sample in lanes wherever four samples read
  // neighbouring positions (a head gliding near speed 1 nearly always does).
  int index[kMaxBlock];
  float fraction[kMaxBlock];
  float gains[kMaxBlock];
  for (int k = 0; k < n; ++k) {
    if (pos >= len) pos -= len;
    const int i = static_cast<int>(pos);
    index[k] = i;
    fraction[k] = static_cast<float>(pos - i);
    gains[k] = g;
    g += gainStep;
    pos += speed;
  }
  int k = 0;
  for (; k + 4 <= n; k += 4) {
    const int i = index[k];
    Lanes y[4];
    if (index[k + 1] == i + 1 && index[k + 2] == i + 2 && index[k + 3] == i + 3) {
      for (int t = 0; t < 4; ++t) y[t] = lanesLoad(b + i + t);
    } else {
      float taps[4][4];
      for (int t = 0; t < 4; ++t)
        for (int l = 0; l < 4; ++l) taps[t][l] = b[index[k + l] + t];
      for (int t = 0; t < 4; ++t) y[t] = lanesLoad(taps[t]);
    }
    lanesStore(out + k, catmullRom(y[0], y[1], y[2], y[3], lanesLoad(fraction + k)) * lanesLoad(gains + k));
  }
  for (; k < n; ++k) {
    const int i = index[k];
    out[k] = catmullRom(b[i], b[i + 1], b[i + 2], b[i + 3], fraction[k]) * gains[k];
  }
  if (pos >= len) pos -= len;
  h.position = pos;
  h.speed += static_cast<float>(n) * speedStep;
  // The writer moves by n <= kMaxBlock: past the end at most once unless the line is shorter.
  const int expected = h.expectedWritePos + n;
  h.expectedWritePos = expected < len ? expected : (n < len ? expected - len : expected % len);
  gain = g;
}

template <typename Stage>
void DelayLine::runThroughLine(int n, int delay, float& g, float step, Stage stage) {
  const int len = length();
  float* b = buffer.data();
  int r = readIndex(delay);
  int w = writePos;
  int k = 0;
  while (k < n) {
    const int run = std::min(n - k, std::min(len - r, len - w));
    for (int j = 0; j < run; ++j) {
      // The tap is read before the writer stores, so a delay of 0 reaches a whole line back.
      const float t = g * b[r + j];
      b[w + j] = stage(k + j, t);
      g += step;
    }
    if (w < kGuard) mirrorGuards(w, run);
    k += run;
    r += run;
    if (r == len) r = 0;
    w += run;
    if (w == len) w = 0;
  }
  writePos = w;
}

void DelayLine::allpass(float* buf, int n, int delay, float coefficient, float decayRate) {
  if (buffer.empty()) return;
  const float target = tapGain(static_cast<float>(delay), decayRate);
  for (int done = 0; done < n; done += kMaxBlock) {
    const int m = std::min(kMaxBlock, n - done);
    float* x = buf + done;
    float g = gain;
    runThroughLine(m, delay, g, (target - gain) / static_cast<float>(m), [&](int k, float t) {
      const float v = x[k] + coefficient * t;
      x[k] = t - coefficient * v;
      return v;
    });
    gain = g;
  }
}

void DelayLine::rotate(float* const bufs[2], int n, int delay, float decayRate) {
  if (buffer.empty()) return;
  const float target = tapGain(static_cast<float>(delay), decayRate);
  for (int done = 0; done < n; done += kMaxBlock) {
    const int m = std::min(kMaxBlock, n - done);
    float* x0 = bufs[0] + done;
    float* x1 = bufs[1] + done;
    if (gain == 1.0f && target == 1.0f && readIndex(delay) == writePos && x0 != x1) {
      // The common case (an undamped line read a whole length back): the same arithmetic
      // with the tap and the writer on the same sample, many samples at once.
      const int len = length();
      int w = writePos;
      for (int k = 0; k < m;) {
        const int run = std::min(m - k, len - w);
        rotateInPlace(buffer.data() + w, x0 + k, x1 + k, run, gain);
        if (w < kGuard) mirrorGuards(w, run);
        k += run;
        w += run;
        if (w == len) w = 0;
      }
      writePos = w;
      continue;
    }
    float g = gain;
    runThroughLine(m, delay, g, (target - gain) / static_cast<float>(m), [&](int k, float t) {
      const float entering = x1[k];
      const float a = x0[k];
      x1[k] = (a - t) * kRotationGain;
      x0[k] = (t + a) * kRotationGain;
      return entering;
    });
    gain = target;
  }
}
