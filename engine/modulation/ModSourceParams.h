#pragma once

#include <cstdint>

class Param;

// The settings of the envelopes and LFOs as parameter records: eight per envelope, six per
// LFO, none of them a modulation target.
namespace EnvParam {
enum : int32_t {
  kInitial = 0,
  kAttack,
  kDecay,
  kSustain,
  kRelease,
  kAttackShape,
  kDecayShape,
  kReleaseShape,
  kCount
};
}

namespace LfoParam {
enum : int32_t { kBeatsync = 0, kRate, kBeatRate, kLoop, kRetrigger, kPerVoice, kCount };
}

// A note length n/d of a whole note; an LFO synced to it runs d / (4 n) cycles per beat.
struct BeatDivision {
  int32_t numerator;
  int32_t denominator;
};

constexpr int32_t kBeatDivisionCount = 15;
extern const BeatDivision kBeatDivisions[kBeatDivisionCount];

// "n/d" of each division, in table order.
const char** beatDivisionNames();

// Declares the eight records of envelope `index` (0..3) from first on.
void initEnvelopeParams(Param* first, const char* prefix, int32_t index);
// Declares the six records of one LFO from first on.
void initLfoParams(Param* first, const char* prefix);
