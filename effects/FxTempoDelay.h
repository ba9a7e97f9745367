#pragma once

#include "effects/DelayLine.h"
#include "effects/DelayReadHead.h"
#include "effects/FxBase.h"

// "Tempo Delay" on a send: a stereo delay whose length is counted in sixteenth notes of the
// engine's tempo. Each line is read by two heads, one for even and one for odd steps, so a
// change of "Length" glides from step to step by crossfading neighbouring taps while each head
// bends smoothly to its new delay. The feedback is filtered (no DC, less top) and soft-clipped.
// Returns only the wet signal.
class FxTempoDelay : public FxBase {
 public:
  static constexpr int kChunk = 32;
  static constexpr float kLineSeconds = 4.1f;

  const char* name() override { return "Tempo Delay"; }
  void setup(Param* p) override;
  FxBase* create() override { return new FxTempoDelay(); }
  void setSampleRate(float rate) override;
  void process(const float* const in[2], float* const out[2], int nFrames) override;
  void reset() override;
  void setTempo(float bpm) override;

  DelayLine lines[2];           // left, right
  DelayReadHead stepHeads[4];   // left even, left odd, right even, right odd
  DelayLine rotationLines[2];
  float phase = 0.0f;           // wobble LFO, 0..1
  float sampleRate = 0.0f;
  float tempo = 120.0f;         // beats per minute
  float feedback = 0.0f;        // current feedback gain
  float length = 2.0f;          // current length in steps
  float slow[2] = {0.0f, 0.0f};  // per channel: the slow follower of the feedback filter
  float fast[2] = {0.0f, 0.0f};  // per channel: its fast term

 private:
  void processChunk(const float* inL, const float* inR, float* outL, float* outR, int n,
                    float stepSamples, float wantedLength, float wantedFeedback);
  // Adds the taps of step j into the wet pair, weighted from w0 to w1 across the chunk.
  void addStep(float* const wet[2], int n, int j, float w0, float w1, float stepSamples);
};
