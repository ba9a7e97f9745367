#pragma once

#include <cstdint>
#include <vector>

#include "effects/DelayReadHead.h"

// A single-channel delay line for the time-based effects. Its buffer holds the usable length N
// plus four guard samples that mirror the first four, so a four-point interpolated read at index
// N-1 finds its neighbours without wrapping. Besides plain writing and interpolated reading, the
// line runs the two in-place stages the reverbs are built from: a decaying allpass diffuser and a
// delayed 45-degree rotation of a channel pair.
//
// The line is sized once, off the audio thread (init); every other operation works in place on
// blocks of up to kMaxBlock samples and never allocates. Longer blocks are processed as
// consecutive blocks of kMaxBlock; empty or negative blocks do nothing.
struct DelayLine {
  static constexpr int kMaxBlock = 64;
  static constexpr int kGuard = 4;
  // A first read never starts closer than this to the oldest sample, so a gliding head has room.
  static constexpr int kHeadroom = 32;
  static constexpr float kRotationGain = 0.70710677f;  // cos 45 degrees
  // The longest line init gives (64 MB of samples): far beyond any delay an effect asks for at
  // any sample rate, and a bound that keeps an absurd rate from exhausting memory.
  static constexpr int kMaxLength = 1 << 24;

  DelayReadHead head;
  std::vector<float> buffer;  // N + kGuard samples
  int32_t writePos = 0;       // 0 <= writePos < N
  float gain = 1.0f;          // current tap gain, ramped by the reading stages

  // A fresh, silent line of `usableLength` samples (at least kGuard): writer at 0, own head
  // not started, gain 1. Allocates; call it from the owner's setSampleRate.
  void init(int usableLength);
  // Silences the line; the writer, the heads and the gain keep their places, so every head's
  // delay stays what it was.
  void clear();
  int length() const { return static_cast<int>(buffer.size()) - kGuard; }

  void write(const float* in, int n);
  // Reads n samples with cubic interpolation at a head that glides towards `delay` samples
  // behind the writer (a null head means the line's own). Reads only: the caller writes the
  // same n samples afterwards.
  void readModulated(float* out, int n, float delay, DelayReadHead* readHead = nullptr,
                     float decayRate = 0.0f);
  void allpass(float* buf, int n, int delay, float coefficient, float decayRate);
  // Sends bufs[1] through the line and turns the pair (bufs[0], delayed bufs[1]) by 45 degrees.
  void rotate(float* const bufs[2], int n, int delay, float decayRate);

 private:
  void readBlock(float* out, int n, float delay, DelayReadHead& h, float decayRate);
  template <typename Stage>
  void runThroughLine(int n, int delay, float& g, float step, Stage stage);
  void mirrorGuards(int from, int count);
  int readIndex(int delay) const;
};
