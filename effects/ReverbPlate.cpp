#include "effects/ReverbPlate.h"

#include <algorithm>
#include <cmath>

#include "effects/GlideStep.h"
#include "effects/SampleCount.h"
#include "effects/SampleGuard.h"
#include "engine/dsp/SimdLanes.h"

namespace {

// One row of the mixing matrix over a run of the four lines' samples.
void mixInto(float* __restrict to, const float* __restrict row, const float* __restrict a, const float* __restrict b,
             const float* __restrict c, const float* __restrict d, int n) {
  for (int i = 0; i < n; ++i) to[i] = row[0] * a[i] + row[1] * b[i] + row[2] * c[i] + row[3] * d[i];
}

}  // namespace

void ReverbPlate::setup(Param* p) {
  p[0].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f", "Length", 50.0f);
  p[1].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f", "Brightness", 50.0f);
  FxBase::setup(p);
}

void ReverbPlate::setSampleRate(float rate) {
  if (!isUsableSampleRate(rate)) return;
  sampleRate = rate;
  for (int k = 0; k < kLines; ++k) {
    const int m = sampleCount(std::exp2(0.73f * static_cast<float>(k)) * 0.012f * rate + 0.5f);
    // A line holds at least one chunk, so a chunk is read before any of it is overwritten.
    feedbackLines[k].buffer.assign(static_cast<size_t>(std::max(m, kChunk)), 0.0f);
    feedbackLines[k].readPos = 0;
    feedbackLines[k].writePos = 0;
  }
  for (int i = 0; i < kRotations; ++i)
    rotationLines[i].init(sampleCount(std::exp2(0.53f * static_cast<float>(i)) * 0.00145f * rate + 0.5f));
  // Half a Hadamard matrix: orthogonal, so the mix neither adds nor loses energy.
  static constexpr float kSigns[kLines][kLines] = {
      {1, 1, 1, 1}, {1, -1, 1, -1}, {1, 1, -1, -1}, {1, -1, -1, 1}};
  for (int r = 0; r < kLines; ++r)
    for (int c = 0; c < kLines; ++c) matrix[r][c] = 0.5f * kSigns[r][c];
}

void ReverbPlate::reset() {
  for (FeedbackLine& line : feedbackLines) std::fill(line.buffer.begin(), line.buffer.end(), 0.0f);
  for (DelayLine& line : rotationLines) line.clear();
}

void ReverbPlate::process(const float* const in[2], float* const out[2], int nFrames) {
  if (nFrames <= 0) return;
  if (feedbackLines[0].buffer.empty()) {
    std::fill_n(out[0], nFrames, 0.0f);
    std::fill_n(out[1], nFrames, 0.0f);
    return;
  }
  // Every line's gain per pass is g = x / (1 + x) with x its length's share of G samples, so
  // the level falls by about 1/e every G samples whatever the line; "Length" 50 gives G = a
  // quarter of a second.
  const float lengthShare = paramValue(0) / 100.0f;
  const float decaySamples = std::exp2(4.0f * lengthShare - 2.0f) * sampleRate * 0.25f;
  const float dullness = (1.0f - paramValue(1) / 100.0f) * 32.0f;
  float gainTarget[kLines], dampingTarget[kLines];
  float meanGain = 0.0f;
  for (int k = 0; k < kLines; ++k) {
    const float m = static_cast<float>(feedbackLines[k].buffer.size());
    const float x = decaySamples / m;
    gainTarget[k] = x / (std::fabs(x) + 1.0f);
    const float y = m * dullness / sampleRate;
    dampingTarget[k] = 1.0f - y / (std::fabs(y) + 1.0f);
    meanGain += 0.25f * gainTarget[k];
  }
  // What the loop keeps of the input's energy per pass is made up at the input.
  const float inputTarget = 2.0f * std::sqrt(std::max(1.0f - meanGain * meanGain, 0.0f));

  for (int done = 0; done < nFrames; done += kChunk) {
    const int n = std::min(kChunk, nFrames - done);
    processChunk(in[0] + done, in[1] + done, out[0] + done, out[1] + done, n, gainTarget,
                 dampingTarget, inputTarget);
  }
}

void ReverbPlate::processChunk(const float* inL, const float* inR, float* outL, float* outR,
                               int n, const float* gainTarget, const float* dampingTarget,
                               float inputTarget) {
  float dryL[kChunk], dryR[kChunk];
  for (int k = 0; k < n; ++k) {
    dryL[k] = guardSample(inL[k]);
    dryR[k] = guardSample(inR[k]);
  }
  const float invN = 1.0f / static_cast<float>(n);
  const float inputStep = glideStep(inputTarget, inputGain, invN);

  float work[kLines][kChunk];
  float signRight[kLines], signLeft[kLines], gainStep[kLines], dampingStep[kLines];
  float g[kLines], d[kLines], s[kLines];
  for (int k = 0; k < kLines; ++k) {
    FeedbackLine& line = feedbackLines[k];
    const int m = static_cast<int>(line.buffer.size());
    float* b = work[k];
    for (int done = 0; done < n;) {
      const int run = std::min(n - done, m - line.readPos);
      std::copy_n(line.buffer.data() + line.readPos, run, b + done);
      done += run;
      line.readPos += run;
      if (line.readPos == m) line.readPos = 0;
    }
    // Each line takes the input with its own signs, so the four carry different mixes.
    signRight[k] = static_cast<float>(k % 2) - 0.5f;
    signLeft[k] = static_cast<float>(k / 2) - 0.5f;
    gainStep[k] = glideStep(gainTarget[k], lineGain[k], invN);
    dampingStep[k] = glideStep(dampingTarget[k], damping[k], invN);
    g[k] = lineGain[k];
    d[k] = damping[k];
    s[k] = lowPass[k];
  }
  // The four lines' low-passes side by side, a lane each: each waits on its own last sample.
  // The lines' samples are turned into one lane group per frame and back.
  static_assert(kLines == 4, "a lane per line");
  float frames[kChunk][kLines];
  auto turn = [&](bool toFrames) {
    int i = 0;
    for (; i + 4 <= n; i += 4) {
      if (toFrames) {
        Lanes r[4] = {lanesLoad(work[0] + i), lanesLoad(work[1] + i), lanesLoad(work[2] + i), lanesLoad(work[3] + i)};
        lanesTranspose(r[0], r[1], r[2], r[3]);
        for (int k = 0; k < 4; ++k) lanesStore(frames[i + k], r[k]);
      } else {
        Lanes r[4] = {lanesLoad(frames[i]), lanesLoad(frames[i + 1]), lanesLoad(frames[i + 2]), lanesLoad(frames[i + 3])};
        lanesTranspose(r[0], r[1], r[2], r[3]);
        for (int k = 0; k < 4; ++k) lanesStore(work[k] + i, r[k]);
      }
    }
    for (; i < n; ++i)
      for (int k = 0; k < kLines; ++k) {
        if (toFrames) {
          frames[i][k] = work[k][i];
        } else {
          work[k][i] = frames[i][k];
        }
      }
  };
  turn(true);
  Lanes sLanes = lanesLoad(s);
  Lanes gLanes = lanesLoad(g);
  Lanes dLanes = lanesLoad(d);
  const Lanes rightSigns = lanesLoad(signRight);
  const Lanes leftSigns = lanesLoad(signLeft);
  const Lanes gainSteps = lanesLoad(gainStep);
  const Lanes dampingSteps = lanesLoad(dampingStep);
  float w = inputGain;
  for (int i = 0; i < n; ++i) {
    const Lanes u = (rightSigns * lanesSplat(dryR[i]) + leftSigns * lanesSplat(dryL[i])) * lanesSplat(w) +
                    gLanes * lanesLoad(frames[i]);
    sLanes = sLanes + dLanes * (u - sLanes);
    lanesStore(frames[i], sLanes);
    gLanes = gLanes + gainSteps;
    dLanes = dLanes + dampingSteps;
    w += inputStep;
  }
  turn(false);
  lanesStore(lowPass, sLanes);
  lanesStore(lineGain, gLanes);
  lanesStore(damping, dLanes);
  inputGain += static_cast<float>(n) * inputStep;

  for (int i = 0; i < kRotations; ++i) {
    float* const pair[2] = {work[i % kLines], work[(i + 1) % kLines]};
    rotationLines[i].rotate(pair, n, rotationLines[i].length(), 0.0f);
  }
  std::copy_n(work[0], n, outL);
  std::copy_n(work[1], n, outR);

  for (int r = 0; r < kLines; ++r) {
    FeedbackLine& line = feedbackLines[r];
    const int m = static_cast<int>(line.buffer.size());
    const float* row = matrix[r];
    for (int i = 0; i < n;) {
      const int run = std::min(n - i, m - line.writePos);
      mixInto(line.buffer.data() + line.writePos, row, work[0] + i, work[1] + i, work[2] + i, work[3] + i, run);
      i += run;
      line.writePos += run;
      if (line.writePos == m) line.writePos = 0;
    }
  }
}
