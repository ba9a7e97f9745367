#pragma once

#include "tools/oskra-render/Song.h"

namespace oskrarender {

// The built-in demo: two bars of a drum groove on the notes that reach the instrument's drum
// tracks (36 kick, 37 rim, 38 snare, 39 clap, 40 percussion, 41 tom, 42 hi-hat, 43 cymbal),
// played twice at the given tempo. Every note is a sixteenth long.
inline constexpr double kDemoBpm = 104.0;
Song DemoGroove(double bpm = kDemoBpm);

}  // namespace oskrarender
