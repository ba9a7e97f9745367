#include "plugin/library/KitRandomizer.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "engine/BandSynth.h"
#include "engine/sequencer/Sequencer.h"
#include "plugin/files/FileUtils.h"

namespace {

// Categories of the tracks in order: a library sound belongs to one when its path holds the
// word. The last track takes one of the final three.
constexpr const char* kCategories[] = {"kick", "rim",   "snare",  "clap",  "percussion",
                                       "tom",  "hihat", "vocal", "cymbal", "fx"};
constexpr int32_t kLastTrackChoices = 3;
constexpr int kMatchAnywhere = 2;

// How likely each lane is to play on each step, in tenths.
constexpr int32_t kPatternLanes = 8;
constexpr int32_t kPatternSteps = 16;
constexpr uint8_t kStepWeights[kPatternLanes][kPatternSteps] = {
    {9, 1, 4, 6, 2, 2, 5, 3, 5, 3, 6, 4, 1, 3, 5, 3}, {0, 2, 2, 3, 2, 2, 2, 2, 0, 2, 2, 3, 2, 2, 2, 2},
    {0, 1, 0, 3, 8, 1, 4, 4, 0, 3, 0, 3, 8, 1, 4, 4}, {0, 1, 1, 1, 2, 2, 2, 2, 0, 1, 1, 2, 3, 3, 3, 3},
    {2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2}, {0, 0, 2, 2, 0, 0, 2, 2, 0, 0, 2, 2, 0, 0, 2, 2},
    {4, 1, 6, 3, 4, 1, 6, 3, 4, 1, 6, 3, 4, 1, 6, 3}, {0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 2, 2, 0, 2, 2, 2}};
// A note makes the next step of its lane less likely, a rest more likely again.
constexpr float kDampAfterNote = 0.333f;
constexpr float kRecoverAfterRest = 1.66f;
constexpr int32_t kFullVelocity = 100;
constexpr float kVelocityDropPerLane = 7.0f;

constexpr float kMinBpm = 105.0f;
constexpr float kBpmSpan = 15.0f;
constexpr float kFeelSpan = 20.0f;  // swing and looseness, percent

// The route of mode 3: the first row ("Mod1"), the tempo's octave slowing "Global" "Timescale" down.
constexpr int32_t kRouteRow = 0;
constexpr float kRouteAmount = -1.0f / 6.0f;

// Slot B redraws while it repeats slot A's sound; after this many tries it takes the next one.
constexpr int32_t kMaxRedraws = 64;

// Xorshift generator. It never reaches 0 from another state, and never leaves 0, so 0 is not
// a seed.
class Dice {
 public:
  explicit Dice(uint32_t seed) : mState(seed != 0 ? seed : 1u) {}
  uint32_t next() {
    mState ^= mState << 5;
    mState ^= mState >> 7;
    return mState;
  }
  // In [0, 1).
  float unit() { return static_cast<float>(next()) * 2.3283e-10f; }
  // In 0 .. count - 1; count must be above 0.
  size_t index(size_t count) {
    return std::min(static_cast<size_t>(unit() * static_cast<float>(count)), count - 1);
  }

 private:
  uint32_t mState;
};

Param& param(BandSynth& synth, int32_t index) { return synth.params[static_cast<size_t>(index)]; }

void randomizeSounds(BandSynth& synth, const std::vector<std::string>& library, Dice& dice) {
  for (int32_t t = 0; t < BandSynth::kTrackCount; ++t) {
    const int32_t category = t < BandSynth::kTrackCount - 1 ? t : t + static_cast<int32_t>(dice.next() % kLastTrackChoices);
    std::vector<const std::string*> candidates;
    for (const std::string& sound : library) {
      if (StringMatch(sound, kCategories[category], kMatchAnywhere, true)) candidates.push_back(&sound);
    }
    const size_t choices = candidates.empty() ? library.size() : candidates.size();
    auto pick = [&](size_t i) -> const std::string& { return candidates.empty() ? library[i] : *candidates[i]; };

    const size_t a = dice.index(choices);
    size_t b = dice.index(choices);
    for (int32_t tries = 1; b == a && choices > 1; ++tries) {
      b = tries < kMaxRedraws ? dice.index(choices) : (a + 1) % choices;
    }
    synth.loadBlob(t, 0, pick(a));
    synth.loadBlob(t, 1, pick(b));
    param(synth, BandSynth::trackParam(t, TrackParam::kSeed)).setNormalized(dice.unit());
  }
}

void setTempoRoute(BandSynth& synth) {
  const std::vector<int32_t>& targets = synth.exposedParams();
  const auto at = std::find(targets.begin(), targets.end(), BandSynth::globalParam(GlobalParam::kTimescale));
  const float target = at == targets.end() ? -1.0f : static_cast<float>(at - targets.begin());
  param(synth, BandSynth::rowParam(kRouteRow, ModRowParam::kSource)).setValue(static_cast<float>(ModSource::kBpmOctave));
  param(synth, BandSynth::rowParam(kRouteRow, ModRowParam::kAmount)).setValue(kRouteAmount);
  param(synth, BandSynth::rowParam(kRouteRow, ModRowParam::kTarget)).setValue(target);
}

void randomizePattern(Sequencer& sequencer, Dice& dice) {
  sequencer.clearLane(Sequencer::kAllLanes);
  for (int32_t lane = 0; lane < kPatternLanes; ++lane) {
    float chance = 1.0f;
    for (int32_t step = 0; step < kPatternSteps; ++step) {
      if (static_cast<float>(kStepWeights[lane][step]) / 10.0f * chance > dice.unit()) {
        const float drop = dice.unit() * kVelocityDropPerLane * static_cast<float>(lane);
        const auto velocity = static_cast<uint8_t>(static_cast<float>(kFullVelocity) - drop);
        sequencer.addNote(lane, step * Sequencer::kTicksPerStep, Sequencer::kTicksPerStep, velocity);
        chance *= kDampAfterNote;
      } else {
        chance = std::min(chance * kRecoverAfterRest, 1.0f);
      }
    }
  }
  sequencer.params[Sequencer::kBpm].setValue(std::round(kMinBpm + kBpmSpan * dice.unit()));
  sequencer.params[Sequencer::kSwing].setValue(kFeelSpan * dice.unit());
  sequencer.params[Sequencer::kLooseTime].setValue(kFeelSpan * dice.unit());
  sequencer.params[Sequencer::kLooseVelo].setValue(kFeelSpan * dice.unit());
}

}  // namespace

bool RandomizeKit(BandSynth& synth, Sequencer& sequencer, const std::vector<std::string>& library,
                  int32_t mode, uint32_t seed) {
  const bool sounds = mode == kRandomizeSounds || mode == kRandomizeAll;
  const bool pattern = mode == kRandomizePattern || mode == kRandomizeAll;
  if (!sounds && !pattern) return false;
  if (sounds && library.empty()) return false;

  Dice dice(seed);
  try {
    if (sounds) randomizeSounds(synth, library, dice);
    if (mode == kRandomizeAll) setTempoRoute(synth);
    if (pattern) randomizePattern(sequencer, dice);
  } catch (const std::exception&) {
    // Out of memory part way: what was done stays, and counts as a change.
  }
  return true;
}
