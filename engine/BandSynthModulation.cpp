// The two modulation passes: the global one before each control pass and the per-voice one.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/BandSynth.h"

namespace {
constexpr float kMinGlobalDeviation = 0.0001f;
}  // namespace

void BandSynth::applyGlobalModulation() {
  for (int32_t p : modMatrix.exposedParams) params[static_cast<size_t>(p)].clearModulation();
  // No voice offset is left.
  for (int32_t k = 0; k < mVoiceTouchedCount; ++k) mVoiceListed[mVoiceTouched[k]] = false;
  mVoiceTouchedCount = 0;

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
  if (voice.track < 0 || voice.track >= kTrackCount) return;
  const ModRoute* routes = modMatrix.collectRoutes(voice.track);
  applyVoiceModulation(voice, routes, modMatrix.routeCount);
}

void BandSynth::beginVoicePass() {
  // Every voice's pass collects the same rows: none of them is a modulation target.
  const ModRoute* routes = modMatrix.collectRoutes(0);
  mVoiceRouteCount = modMatrix.routeCount;
  std::copy(routes, routes + mVoiceRouteCount, mVoiceRoutes);
  // Voices' envelopes run only for a route that reads them; otherwise their steps are put off
  // until something reads them. Steps put off keep the settings they were put off with.
  mVoiceEnvelopesRead = false;
  for (int32_t r = 0; r < mVoiceRouteCount; ++r) {
    const int32_t source = mVoiceRoutes[r].source;
    mVoiceEnvelopesRead = mVoiceEnvelopesRead || (source >= ModSource::kEnv1 && source < ModSource::kLfo1);
  }
  const ModMatrix::StepSettings step = modMatrix.stepSettings(static_cast<float>(kControlPeriod) / sampleRate);
  if (std::memcmp(step.envelopes, mVoiceStep.envelopes, sizeof step.envelopes) != 0) {
    for (DrumTrack& track : tracks)
      for (DrumVoice& voice : track.voices)
        for (EnvelopeState& envelope : voice.sources.envelopes) envelope.settle(true);
  }
  mVoiceStep = step;
}

void BandSynth::applyVoiceModulation(const DrumVoice& voice, const ModRoute* routes, int32_t routeCount) {
  const int32_t track = voice.track;
  if (track < 0 || track >= kTrackCount) return;

  // The last voices' offsets on this voice's parameters go; those on other tracks' stay.
  int32_t kept = 0;
  for (int32_t k = 0; k < mVoiceTouchedCount; ++k) {
    const int32_t i = mVoiceTouched[k];
    if (mModOwner[i] != track && mModOwner[i] != kSharedOwner) {
      mVoiceTouched[kept++] = i;
      continue;
    }
    Param& p = params[static_cast<size_t>(i)];
    if (!(p.voiceModOffset == 0.0f)) {
      p.voiceModOffset = 0.0f;
      p.updateModulation();
    }
    mVoiceListed[i] = false;
  }
  mVoiceTouchedCount = kept;

  for (int32_t r = 0; r < routeCount; ++r) {
    const ModRoute& route = routes[r];
    int32_t target = route.target;
    const int32_t global = target - kGlobalParamsStart;
    if (global >= 0 && global < GlobalParam::kCount) target = trackParam(track, kGlobalToTrack[global]);
    // A voice only moves its own track and the shared parameters: another track's parameter
    // is never reset by this voice's pass and would keep piling up.
    if (target < 0 || target >= kParamCount || (mModOwner[target] != track && mModOwner[target] != kSharedOwner))
      continue;
    params[static_cast<size_t>(target)].addVoiceModulation(
        scalerValue(voice, route.scaler) * route.amount * modMatrix.sourceValue(voice.sources, route.source));
    if (!mVoiceListed[target]) {
      mVoiceListed[target] = true;
      mVoiceTouched[mVoiceTouchedCount++] = target;
    }
  }
  // Every parameter whose offsets changed has just been brought up to date (the reset above,
  // each route's addition); the others hold what the same value and offsets gave before.
}
