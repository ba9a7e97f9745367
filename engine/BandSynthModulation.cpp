// The two modulation passes: the global one before each control pass and the per-voice one.
#include <cmath>

#include "engine/BandSynth.h"

namespace {
constexpr float kMinGlobalDeviation = 0.0001f;
}  // namespace

void BandSynth::applyGlobalModulation() {
  for (int32_t p : modMatrix.exposedParams) params[static_cast<size_t>(p)].clearModulation();

  const ModRoute* routes = modMatrix.collectRoutes(-1);
  for (int32_t r = 0; r < modMatrix.routeCount; ++r) {
    const ModRoute& route = routes[r];
    params[static_cast<size_t>(route.target)].addGlobalModulation(
        modMatrix.sourceValue(globalSources, route.source) * route.amount);
  }

  // The "Global" group moves the matching parameter of every track by its own deviation from
  // its default; "Transform" counts double, so the group's -100..100 spans a track's 0..100.
  for (int32_t k = 0; k < GlobalParam::kCount; ++k) {
    float d = params[static_cast<size_t>(globalParam(k))].getNormalizedDeviation();
    if (k == GlobalParam::kTransform) d *= 2.0f;
    if (!(std::fabs(d) > kMinGlobalDeviation)) continue;
    for (int32_t t = 0; t < kTrackCount; ++t) {
      params[static_cast<size_t>(trackParam(t, kGlobalToTrack[k]))].addGlobalModulation(d);
    }
  }
}

float BandSynth::scalerValue(const DrumVoice& voice, int32_t scaler) const {
  const float* channel = controllers[voice.channel & (kChannelCount - 1)];
  switch (scaler) {
    case ModScaler::kVelocity:
      return voice.velocity;
    case ModScaler::kModWheel:
      return channel[kModWheel];
    case ModScaler::kPitchbend:
      return channel[kPitchBend];
    case ModScaler::kAftertouch:
      return channel[kChannelPressure] + voice.polyPressure;
    case ModScaler::kNoteOctave:
      if (params[static_cast<size_t>(synthParam(SynthParam::kSynthTrack))].effectiveValue() >= 0.0f) {
        return (static_cast<float>(voice.note) / 12.0f - 3.0f) * 0.5f;
      }
      return static_cast<float>(voice.note / 12 - 2) * 0.25f;
    default:
      return 1.0f;
  }
}

void BandSynth::applyVoiceModulation(const DrumVoice& voice) {
  const int32_t track = voice.track;
  if (track < 0 || track >= kTrackCount) return;
  const std::vector<int32_t>& own = trackModParams[track];
  const std::vector<int32_t>* const touched[2] = {&own, &sharedModParams};

  // The last voice's offsets go.
  for (const std::vector<int32_t>* list : touched) {
    for (int32_t i : *list) {
      Param& p = params[static_cast<size_t>(i)];
      if (!(p.voiceModOffset == 0.0f)) {
        p.voiceModOffset = 0.0f;
        p.updateModulation();
      }
    }
  }

  const ModRoute* routes = modMatrix.collectRoutes(track);
  for (int32_t r = 0; r < modMatrix.routeCount; ++r) {
    const ModRoute& route = routes[r];
    int32_t target = route.target;
    const int32_t global = target - kGlobalParamsStart;
    if (global >= 0 && global < GlobalParam::kCount) target = trackParam(track, kGlobalToTrack[global]);
    // A voice only moves its own track and the shared parameters: another track's parameter
    // is never reset by this voice's pass and would keep piling up.
    if (!contains(own, target) && !contains(sharedModParams, target)) continue;
    params[static_cast<size_t>(target)].addVoiceModulation(
        scalerValue(voice, route.scaler) * route.amount * modMatrix.sourceValue(voice.sources, route.source));
  }
  // Every parameter whose offsets changed has just been brought up to date (the reset above,
  // each route's addition); the others hold what the same value and offsets gave before.
}
