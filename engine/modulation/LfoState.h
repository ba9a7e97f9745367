#pragma once

// Running state of one LFO.
struct LfoState {
  float phase = 0.0f;
  // The phase before the last step; 10 right after a restart, so a consumer can tell a restart
  // from a wrap.
  float previousPhase = 0.99f;
  float output = 0.0f;  // -1..1
  // Two values uniform in -1..1, drawn from the runtime generator when the state is made.
  float random[2];

  LfoState();
};
