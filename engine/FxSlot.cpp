#include "engine/FxSlot.h"

#include <cmath>
#include <cstring>

#include "effects/FxBase.h"
#include "engine/core/Param.h"
#include "engine/dsp/PeakMeters.h"

namespace {
// Fade speed limit in fade units per frame: 300 / (rate + 1), about 160 frames for a full fade
// at 48 kHz.
constexpr float kFadeRate = 300.0f;
constexpr float kFadeSnap = 0.0001f;
}  // namespace

FxSlot::~FxSlot() { delete effect.load(std::memory_order_relaxed); }

FxBase* FxSlot::setEffect(FxBase* newEffect, int32_t newType, float rate, Param* params, bool keepValues) {
  sampleRate.store(rate, std::memory_order_relaxed);
  if (newEffect == nullptr || params == nullptr) return nullptr;
  if (fade.load() != 0.0f || target.load() != 0.0f) return nullptr;

  // Announce the switch, then look again: a pass that started before the announcement, or a
  // fade that began meanwhile, still uses the old effect.
  const int32_t oldType = typeIndex.exchange(kSwitching);
  if (mPassActive.load() != 0 || fade.load() != 0.0f || target.load() != 0.0f) {
    typeIndex.store(oldType);
    return nullptr;
  }

  delete effect.exchange(nullptr);
  const float kept[2] = {params[0].value, params[1].value};
  newEffect->setup(params);
  if (keepValues) {
    params[0].setValue(kept[0]);
    params[1].setValue(kept[1]);
  }
  newEffect->setSampleRate(rate);
  effect.store(newEffect, std::memory_order_release);
  typeIndex.store(newType, std::memory_order_release);
  return newEffect;
}

bool FxSlot::beginPass(int32_t wantedType, bool powerOn) {
  mPassActive.store(1);
  const bool on = powerOn && typeIndex.load() == wantedType;
  target.store(on ? 1.0f : 0.0f, std::memory_order_relaxed);
  return on || fade.load(std::memory_order_relaxed) != 0.0f;
}

void FxSlot::endPass() { mPassActive.store(0, std::memory_order_release); }

void FxSlot::process(const float* const in[2], float* const out[2], int32_t nFrames) {
  const float rate = sampleRate.load(std::memory_order_relaxed);
  updatePeakMeters(inputPeaks, in, nFrames, 2, rate);
  const float limit = kFadeRate / (rate + 1.0f);
  FxBase* fx = effect.load(std::memory_order_acquire);
  float f = fade.load(std::memory_order_relaxed);
  const float t = target.load(std::memory_order_relaxed);

  if (fx != nullptr && f == 0.0f && t > 0.0f) fx->reset();

  if (fx == nullptr || (f <= 0.0f && t <= 0.0f)) {
    for (int32_t c = 0; c < 2; ++c) {
      outputPeaks[c] = dryPass != 0 ? inputPeaks[c] : 0.0f;
      if (nFrames > 0 && out[c] != in[c]) std::memmove(out[c], in[c], sizeof(float) * static_cast<size_t>(nFrames));
    }
    fade.store(0.0f, std::memory_order_relaxed);
    return;
  }

  if (f == 1.0f && t == 1.0f) {
    fx->process(in, out, nFrames);
    updatePeakMeters(outputPeaks, out, nFrames, 2, rate);
    return;
  }

  const bool dry = dryPass != 0;
  for (int32_t start = 0; start < nFrames; start += kChunk) {
    const int32_t k = nFrames - start < kChunk ? nFrames - start : kChunk;
    const float* const chunkIn[2] = {in[0] + start, in[1] + start};
    float* const wet[2] = {mWet[0], mWet[1]};
    fx->process(chunkIn, wet, k);
    float step = (t - f) / static_cast<float>(k);
    step = step > limit ? limit : (step < -limit ? -limit : step);
    for (int32_t c = 0; c < 2; ++c) {
      const float* x = in[c] + start;
      float* y = out[c] + start;
      for (int32_t j = 0; j < k; ++j) {
        const float g = f + static_cast<float>(j) * step;
        // Without the dry path the input is not added at all (not even as 0 * x, which would
        // let an infinite input through as NaN).
        const float d = dry ? (1.0f - g) * x[j] : 0.0f;
        y[j] = d + g * wet[c][j];
      }
    }
    f += static_cast<float>(k) * step;
  }
  if (std::fabs(f - t) < kFadeSnap) f = t;
  fade.store(f, std::memory_order_relaxed);
  updatePeakMeters(outputPeaks, out, nFrames, 2, rate);
}
