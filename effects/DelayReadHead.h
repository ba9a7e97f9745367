#pragma once

#include <cstdint>

// A read position on a DelayLine that glides towards the delay it is asked for instead of
// jumping there, so that delay changes bend the pitch briefly rather than click.
struct DelayReadHead {
  // Fractional read index into the line; below 0 means "not started". Held in double: on a line
  // of several seconds a float index keeps too few fraction bits, and the glide between read
  // speeds would come out as audible steps.
  double position = -1.0;
  float speed = 1.0f;  // read-index increment per sample
  float spare0 = 0.0f;
  float spare1 = 1.0f;
  // Where the line's writer stands at the head's next read; -1 until the first read takes it.
  int32_t expectedWritePos = -1;
};
