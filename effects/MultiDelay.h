#pragma once

#include <cstdint>
#include <vector>

// A delay of whole samples for one or two channels whose delay can change while it runs: a new
// delay is faded in linearly against the old one over the crossfade length instead of jumping.
// The owner writes a block and then reads the same number of samples; a delay of 0 gives the
// block back unchanged.
struct MultiDelay {
  static constexpr int kMaxChannels = 2;

  float crossfade = 0.0f;     // 0..1 through a running crossfade
  float inverseBlock = 1.0f;  // 1 / crossfade length
  std::vector<float> buffers[kMaxChannels];
  int32_t length = 0;
  int32_t channels = 0;
  int32_t writePos = 0;
  int32_t readCursor = 0;
  int32_t currentDelay = -1;  // -1: none yet
  int32_t nextDelay = -1;     // -1: no crossfade pending

  // Allocates; call it from the owner's setSampleRate. Starts silent with no delay chosen.
  void init(int length, int channels, int crossfadeLength);
  // Silences the buffers and puts writer and reader back together, so the delay in force stays
  // the delay heard.
  void clear();
  void write(const float* const* in, int n);
  void read(float* const* out, int n, int delay);

 private:
  void readTap(float* const* out, int from, int count, int delay);
  // Where a tap `delay` samples behind the read cursor stands in the buffers.
  int tapIndex(int delay) const;
};
