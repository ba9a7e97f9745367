#include "engine/modulation/EnvelopeState.h"

#include <cmath>
#include <cstring>

#include "engine/core/Param.h"
#include "engine/core/ShapeCurve.h"

namespace {

// Positions a hair below a stage boundary (left there by float rounding) count as the next
// stage, so a stage that has used up its time is never entered again for a zero-length step.
constexpr float kStageEpsilon = 0.00001f;
// Keeps a zero stage time from dividing by zero: the stage then passes at once.
constexpr float kMinStageTime = 1e-30f;
// A regular step needs at most five sub-steps (attack, decay, sustain; or release, end). The
// cap only matters for a NaN or absurd input, which must never spin.
constexpr int32_t kMaxSubSteps = 16;

int32_t stageOf(float position) {
  const float p = position + kStageEpsilon;
  if (!(p >= 0.0f)) return 4;  // a NaN position counts as ended
  if (p >= 4.0f) return 4;
  return static_cast<int32_t>(p);
}

// Moves position towards the stage's end, which the stage reaches after `seconds`, for at most
// `left` seconds; returns the seconds used.
float runStage(float& position, float end, float seconds, float left) {
  const float t = (seconds > 0.0f ? seconds : 0.0f) + kMinStageTime;
  const float room = (end - position) * t;
  const float step = room < left ? room : left;
  position += step / t;
  return step;
}

}  // namespace

EnvelopeSettings EnvelopeSettings::fromParams(const Param* p) {
  EnvelopeSettings s;
  s.initial = p[0].effectiveValue();
  s.attackMs = p[1].effectiveValue();
  s.decay = p[2].effectiveValue();
  s.sustain = p[3].effectiveValue();
  s.release = p[4].effectiveValue();
  s.attackShape = p[5].effectiveValue();
  s.decayShape = p[6].effectiveValue();
  s.releaseShape = p[7].effectiveValue();
  return s;
}

void EnvelopeState::advance(float dt, const EnvelopeSettings& s) {
  if (position == 0.0f) level = s.initial;
  float left = dt;
  float sum = 0.0f;
  for (int32_t i = 0; i < kMaxSubSteps && left > 0.0f; ++i) {
    const float before = level;
    float step = left;
    switch (stageOf(position)) {
      case 0:
        step = runStage(position, 1.0f, s.attackMs * 0.001f, left);
        level = s.initial + (1.0f - s.initial) * shapeCurve(position, s.attackShape);
        break;
      case 1:
        step = runStage(position, 2.0f, s.decay, left);
        level = 1.0f + (s.sustain - 1.0f) * shapeCurve(position - 1.0f, s.decayShape);
        break;
      case 2:
        level = s.sustain;
        break;
      case 3:
        step = runStage(position, 4.0f, s.release, left);
        level = (1.0f - shapeCurve(position - 3.0f, s.releaseShape)) * releaseStartLevel;
        break;
      default:
        level = 0.0f;
        break;
    }
    if (!(step >= 0.0f)) step = left;  // never lets a damaged step lengthen the loop
    sum += (before + level) * 0.5f * step;
    left -= step;
  }
  const float mean = dt > 0.0f ? sum / dt : level;
  output = std::isfinite(mean) ? mean : level;  // an infinite step has no mean
}

void EnvelopeState::deferSlowly(float dt, const EnvelopeSettings& s) {
  if (restartPending) restart();
  if (deferredSettings != &s || std::memcmp(&deferredDt, &dt, sizeof dt) != 0) {
    settle(true);
    deferredDt = dt;
    deferredSettings = &s;
  }
  // Steps that change nothing need not be counted (a note-off ends that at once).
  if (steady) return;
  if (++deferred >= kMaxDeferred) settle();
}

void EnvelopeState::settle(bool newSettings) {
  for (int32_t done = 0; done < deferred;) {
    if (done == releaseAfter) release();
    if (steady) {
      // The steps up to the note-off, or all that are left, change nothing.
      done = releaseAfter > done ? releaseAfter : deferred;
      continue;
    }
    const float was[3] = {position, level, output};
    advance(deferredDt, *deferredSettings);
    ++done;
    // A step reads only these, the release start, the length and the settings: one that left
    // them as they were leaves every further one so too.
    const float now[3] = {position, level, output};
    steady = std::memcmp(was, now, sizeof was) == 0;
  }
  if (releaseAfter == deferred) release();
  deferred = 0;
  releaseAfter = -1;
  if (restartPending) {
    restartPending = false;
    steady = false;
    position = 0.0f;
  }
  if (newSettings) steady = false;
}

void EnvelopeState::restart() {
  // A step from position 0 sets the level afresh and reads nothing else the earlier steps
  // leave (the release start is set again by the next note-off before it is read).
  deferred = 0;
  releaseAfter = -1;
  restartPending = false;
  steady = false;
  position = 0.0f;
}

void EnvelopeState::retrigger() {
  if (deferred > 0) {
    // The level the steps put off reach still counts until the next step (a note-off reads
    // it), so they run first, whenever that is.
    restartPending = true;
    return;
  }
  steady = false;
  position = 0.0f;
}

void EnvelopeState::startRelease() {
  if (deferred > 0 && releaseAfter < 0 && !restartPending) {
    // The note-off takes its place among the steps put off.
    releaseAfter = deferred;
    return;
  }
  settle();
  release();
}

void EnvelopeState::release() {
  releaseStartLevel = level;
  position = kReleaseStart;
  steady = false;
}

float envelopeLevelAt(float p, const EnvelopeSettings& s) {
  if (!(p >= 0.0f) || p >= 4.0f) return 0.0f;
  switch (static_cast<int32_t>(p)) {
    case 0:
      return s.initial + (1.0f - s.initial) * shapeCurve(p, s.attackShape);
    case 1:
      return 1.0f + (s.sustain - 1.0f) * shapeCurve(p - 1.0f, s.decayShape);
    case 2:
      return s.sustain;
    default:
      return (1.0f - shapeCurve(p - 3.0f, s.releaseShape)) * s.sustain;
  }
}
