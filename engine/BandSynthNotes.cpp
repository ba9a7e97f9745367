// Notes, voice allocation and MIDI controller input.
#include <cmath>

#include "engine/BandSynth.h"
#include "engine/core/FloatGrid.h"
#include "engine/core/Lcg.h"
#include "engine/dsp/SpectralSynth.h"

namespace {
// Controller ids: 0 and 1 are pitch bend and channel pressure, 1000 + n is control change n.
constexpr int32_t kPitchBendId = 0;
constexpr int32_t kChannelPressureId = 1;
constexpr int32_t kModWheelId = 1001;
}  // namespace

int32_t BandSynth::synthTrack() const {
  return truncClamped(paramValue(synthParam(SynthParam::kSynthTrack)), -1, kTrackCount - 1);
}

int32_t BandSynth::trackForNote(int32_t note) const {
  const int32_t s = synthTrack();
  // With no synth track the pitch class picks the track; classes 8..11 reach none.
  const int32_t t = s < 0 ? note % 12 : s;
  return t >= 0 && t < kTrackCount ? t : -1;
}

void BandSynth::processNote(int32_t note, float velocity, int32_t /*frameOffset*/, int32_t channel) {
  const int32_t t = trackForNote(note);
  if (t < 0) return;
  DrumTrack& track = tracks[t];

  if (!(velocity > 0.0f)) {
    for (DrumVoice& voice : track.voices) {
      if (voice.state == DrumVoice::kHeld && voice.note == note && (channel < 0 || voice.channel == channel)) {
        voice.release();
      }
    }
    return;
  }

  if (!(track.blobs[0].present > 0) && !(track.blobs[1].present > 0)) return;
  const int32_t polyphony = truncClamped(trackValue(t, TrackParam::kPolyphony), 1, DrumTrack::kVoiceCount);
  for (int32_t i = track.voiceCount - 1; i >= polyphony; --i) track.voices[i].goIdle();

  // The first free voice, else the oldest (the lowest index among equals).
  int32_t chosen = -1;
  for (int32_t i = 0; i < polyphony && chosen < 0; ++i) {
    if (track.voices[i].state == DrumVoice::kIdle) chosen = i;
  }
  if (chosen < 0) {
    chosen = 0;
    for (int32_t i = 1; i < polyphony; ++i) {
      if (track.voices[i].elapsed > track.voices[chosen].elapsed) chosen = i;
    }
  }
  track.voiceCount = std::max(track.voiceCount, chosen + 1);
  DrumVoice& voice = track.voices[chosen];

  const int32_t synth = synthTrack();
  const bool legato =
      synth >= 0 && voice.state == DrumVoice::kHeld && paramValue(synthParam(SynthParam::kLegato)) > 0.0f;
  if (legato) {
    voice.note = note;
  } else {
    const bool wasIdle = voice.state == DrumVoice::kIdle;
    voice.elapsed = 0.0f;
    voice.releaseProgress = 0.0f;
    voice.damping = 0.0f;
    // A restarted voice fills its frame ring afresh; the old note's frames must not shape the
    // new note's first hop.
    voice.fillCount = 0;
    voice.ringIndex = 0;
    if (synth < 0) voice.clearSpectra();
    voice.newNote = 1;
    voice.note = note;
    // A voice stolen while sounding keeps its pitch: the synth track glides from there.
    if (wasIdle) voice.pitch = static_cast<float>(note);
  }
  voice.channel = channel;
  voice.velocity = velocity;
  voice.state = DrumVoice::kHeld;
  voice.track = t;
  lastTrack = t;
  track.lastVelocity = velocity;
  modMatrix.retriggerLfos(voice.sources, true);
  modMatrix.retriggerLfos(globalSources, false);
}

void BandSynth::resetVoices(uint32_t seed) {
  uint32_t x = seed;
  for (DrumTrack& track : tracks) {
    for (DrumVoice& voice : track.voices) {
      voice.goIdle();
      voice.seed = x;
      x = lcgStep(x);
    }
    if (track.processor) track.processor->reset();
  }
  renderCalls = 0;
  renderedFrames = 0;
}

void BandSynth::setController(int32_t id, float value, int32_t channel) {
  if (channel < 0 || channel >= kChannelCount || !std::isfinite(value)) return;
  float* c = controllers[channel];
  if (id == kPitchBendId)
    c[kPitchBend] = value;
  else if (id == kChannelPressureId)
    c[kChannelPressure] = value;
  else if (id == kModWheelId)
    c[kModWheel] = value;
}

void BandSynth::setPolyPressure(float pressure, int32_t note, int32_t channel) {
  if (!std::isfinite(pressure)) return;
  // By pitch class even while a synth track is chosen: sounds and presets rely on it.
  const int32_t t = note % 12;
  if (t < 0 || t >= kTrackCount) return;
  DrumTrack& track = tracks[t];
  for (int32_t i = 0; i < track.voiceCount; ++i) {
    DrumVoice& voice = track.voices[i];
    if (voice.state != DrumVoice::kIdle && voice.note == note && (channel < 0 || voice.channel == channel)) {
      voice.polyPressure = pressure;
    }
  }
}
