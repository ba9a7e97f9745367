#pragma once

#include <cmath>

#include "engine/core/Clamp.h"
#include "engine/core/Param.h"

// The interface of every mixer effect. An effect declares its two parameters into a block of
// two records that the engine owns, is told the sample rate and the tempo, and processes
// stereo blocks of at most 64 frames, either in place or into separate buffers. Instances are
// cloned from the registry's prototypes with create() and owned by their slot.
class FxBase {
 public:
  virtual ~FxBase() = default;

  // The display name, static text.
  virtual const char* name() = 0;

  // Declares the effect's two parameters into params[0] and params[1] (which also sets their
  // values to the defaults), then keeps the pointer.
  virtual void setup(Param* p) { params = p; }

  // A new heap instance of the same class in its freshly constructed state: no parameters,
  // sample rate 0.
  virtual FxBase* create() = 0;

  // May be called again whenever the engine is prepared for a new rate.
  virtual void setSampleRate(float rate) = 0;

  // Processes nFrames stereo frames. in and out may be the same two buffers: input frame i of
  // both channels is read before output frame i is written, and every output frame is written.
  virtual void process(const float* const in[2], float* const out[2], int nFrames) = 0;

  // Clears the effect's signal memory; effects whose memory is meant to persist keep it.
  virtual void reset() {}

  // The engine's tempo in beats per minute; only tempo-synchronised effects use it.
  virtual void setTempo(float /*bpm*/) {}

  Param* params = nullptr;

 protected:
  // The value in force of parameter i, always within its declared range (a non-finite one
  // falls back to the stored value), so no effect needs to hold its parameters again. Read
  // once per process call.
  float paramValue(int i) const {
    const Param& p = params[i];
    float v = p.effectiveValue();
    if (!std::isfinite(v)) v = p.value;
    return clampOrLow(v, p.min, p.max);
  }

  // A rate the effect can run at; anything else leaves the stored rate as it was.
  static bool isUsableSampleRate(float rate) { return std::isfinite(rate) && rate > 0.0f; }
};
