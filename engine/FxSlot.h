#pragma once

#include <atomic>
#include <cstdint>

class FxBase;
class Param;

// One of the engine's four effect slots: the installed effect and its fade. A slot fades its
// effect in when switched on and out when switched off or when its "Type" no longer matches the
// installed effect; only a silent slot (fade and target both 0) has its effect replaced.
//
// The editor's thread installs effects (setEffect) while the audio thread runs the slot. The
// fields both threads touch are atomics, and the audio side brackets each pass with beginPass
// and endPass, so an installation can tell whether the old effect is still in use: it first
// marks the slot as switching (type -111, which no "Type" matches, so the audio side keeps the
// target at 0), then looks for a running pass or a non-zero fade or target and backs off if it
// finds one.
class FxSlot {
 public:
  static constexpr int32_t kNoEffect = -1;
  static constexpr int32_t kSwitching = -111;
  static constexpr int32_t kChunk = 64;  // frames per fading chunk, the engine's sub-block

  std::atomic<FxBase*> effect{nullptr};  // owned
  float inputPeaks[2] = {0.0f, 0.0f};
  float outputPeaks[2] = {0.0f, 0.0f};
  std::atomic<float> sampleRate{0.0f};  // 0 until the slot is set up
  std::atomic<float> target{0.0f};      // 0 or 1: where the fade is heading
  std::atomic<float> fade{0.0f};        // 0..1: how much of the effect is heard
  std::atomic<int32_t> typeIndex{kNoEffect};
  uint8_t dryPass = 0;  // 1: the dry signal passes (main-bus slots); 0: only the effect (sends)

  FxSlot() = default;
  ~FxSlot();
  FxSlot(const FxSlot&) = delete;
  FxSlot& operator=(const FxSlot&) = delete;

  // Installs `newEffect` (taking ownership) as type `newType` when the slot is silent: deletes
  // the old effect, declares the new one's two parameters into params (with keepValues the two
  // values held before are set again afterwards), tells it the rate. The rate is stored in the
  // slot in any case. Returns the effect, or null when refused (the caller keeps newEffect).
  FxBase* setEffect(FxBase* newEffect, int32_t newType, float rate, Param* params, bool keepValues);

  // Audio side, at the start of each pass: target := 1 when the installed type is the wanted
  // one and the slot is switched on, else 0. Returns whether the slot is live (target or fade
  // non-zero).
  bool beginPass(int32_t wantedType, bool powerOn);
  void endPass();

  // One pass of nFrames (at most one control period in the engine; any length works) from in
  // to out, which may be the same buffers: bypass, steady, or a fade in chunks of at most 64
  // frames at no more than 300 / (sampleRate + 1) per frame.
  void process(const float* const in[2], float* const out[2], int32_t nFrames);

 private:
  std::atomic<int32_t> mPassActive{0};
  float mWet[2][kChunk] = {};
};
