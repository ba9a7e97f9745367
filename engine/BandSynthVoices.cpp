// The voice pass: once per control period every sounding voice of a track renders its band
// frames and hands one hop of band values (or, on the synth track, partials) to the track's
// synthesiser.
#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/BandSynth.h"
#include "engine/core/Clamp.h"
#include "engine/core/FloatGrid.h"
#include "engine/dsp/SimdLanes.h"
#include "engine/dsp/SpectralSynth.h"

namespace {

constexpr float kReleaseFloor = 0.00001f;
constexpr float kEndLevel = 0.00001f;
// The end test trusts a blob's tail position only below this: a blob dense to its end plays
// on until its level has died away.
constexpr float kOpenTail = 95.0f;
constexpr float kMinTimescale = 0.01f;
constexpr float kMinFrameStep = 0.001f;
// Blob time is counted in frames of 64 samples at 44.1 kHz.
constexpr float kBlobRate = 44100.0f;
constexpr float kReferenceHz = 440.0f;
constexpr float kKeyTrackHz = 261.62f;
constexpr float kUnitPerDraw = 2.3283e-10f;

}  // namespace

void BandSynth::collectVoices(int32_t t, int32_t synth) {
  DrumTrack& track = tracks[t];
  TrackPass& pass = mTrackPass[t];
  pass = TrackPass();
  track.beginPass();
  if (track.processor == nullptr) return;
  pass.active = true;
  pass.firstPending = mPendingCount;
  const bool presentA = track.blobs[0].present > 0;
  const bool presentB = track.blobs[1].present > 0;

  if (track.voiceCount > 0 && !presentA && !presentB) {
    // Without a sound the voices stop for good; left as they were they would come back with
    // the next sound, mid-note.
    for (int32_t i = 0; i < track.voiceCount; ++i) track.voices[i].goIdle();
    track.voiceCount = 0;
  }
  for (int32_t i = 0; i < track.voiceCount; ++i) {
    DrumVoice& voice = track.voices[i];
    if (voice.state == DrumVoice::kIdle || voice.track >= kTrackCount) continue;
    ++pass.visited;
    const int32_t p = mPendingCount;
    if (p < kMaxPending &&
        renderVoice(track, t, voice, synth, presentA, presentB, mPendingDensity[p], mPendingFirstHop[p])) {
      // Every voice keeps its own lane of the band arithmetic.
      mPendingLane[p] = t * DrumTrack::kVoiceCount + i;
      mPending[mPendingCount++] = &voice;
    }
  }
  pass.pendingCount = mPendingCount - pass.firstPending;
}

void BandSynth::finishVoicePass() {
  // The drum voices' band values, all voices of all tracks side by side.
  mVoiceBands.laneHops(bands, mPending, mPendingLane, mPendingDensity, mPendingFirstHop, mPendingCount);
  mPendingCount = 0;

  const int32_t low = bands.lowBandCount;
  const int32_t n = bands.bandCount;
  for (int32_t t = 0; t < kTrackCount; ++t) {
    DrumTrack& track = tracks[t];
    const TrackPass& pass = mTrackPass[t];
    if (!pass.active) continue;
    SpectralSynth* processor = track.processor.get();
    // In voice order each voice's values join the running sums, and the sums as they stand
    // count once after every voice and once more after the last: earlier voices weigh more,
    // the balance stored sounds were made with. The synthesiser is linear, so what all these
    // additions come to goes in at once.
    if (pass.visited > 0) {
      std::complex<float>* total = mHopTotal.data();
      mVoiceBands.runningSums(mPendingLane + pass.firstPending, pass.pendingCount, n, total);
      const std::complex<float>* lowTotal[1] = {total};
      const std::complex<float>* highTotal[1] = {total + low};
      processor->addBands(bands.lowBandBin.data(), bands.lowBandWeight0.data(), bands.lowBandWeight1.data(), lowTotal,
                          low, 1);
      processor->addBins(highTotal, bands.firstHighBin, bands.highBinCount, 1);
    }
    for (int32_t p = pass.firstPending; p < pass.firstPending + pass.pendingCount; ++p) endHop(*mPending[p]);
    processor->synthesizeFrame(1);

    while (track.voiceCount > 0 && track.voices[track.voiceCount - 1].state == DrumVoice::kIdle) --track.voiceCount;
    track.soundingVoices.store(pass.visited, std::memory_order_relaxed);
  }
}

bool BandSynth::renderVoice(DrumTrack& track, int32_t t, DrumVoice& voice, int32_t synth, bool presentA, bool presentB,
                            float& hopDensity, bool& hopFirst) {
  const float dt = static_cast<float>(kControlPeriod) / sampleRate;

  // Only the synth track holds notes while it is chosen.
  if (synth >= 0 && synth != t && voice.state == DrumVoice::kHeld) voice.release();

  const bool firstHop = voice.newNote != 0;
  modMatrix.processLfos(voice.sources, mVoiceStep, dt, dt * tempo / 60.0,
                        playing ? beatPosition : ModMatrix::kNoBeatPosition, &globalSources, firstHop,
                        !mVoiceEnvelopesRead);
  applyVoiceModulation(voice, mVoiceRoutes, mVoiceRouteCount);

  const float release = trackValue(t, TrackParam::kRelease) + kReleaseFloor;
  if (voice.state == DrumVoice::kReleased) {
    const float d = trackValue(t, TrackParam::kDamping) * 0.01f;
    voice.releaseProgress += dt / release;
    voice.damping += d * d * dt / release;
  }

  const float morph = clampOrLow(trackValue(t, TrackParam::kTransform) * 0.01f, 0.0f, 1.0f);
  float weightB = presentB ? 1.0f - std::fabs(morph - 1.0f) * (presentA ? 1.0f : 0.0f) : 0.0f;
  float contrast = clampOrLow(trackValue(t, TrackParam::kContrast) * 0.01f, -1.0f, 1.0f);
  const float fade = (1.0f - voice.releaseProgress) * (1.0f - voice.releaseProgress);
  const int32_t model = truncClamped(trackValue(t, TrackParam::kModel), 0, 1000);

  // The current hand-over copies. A missing slot is never read: with A missing, B plays alone.
  const Blob& snapA = track.passSnapshot(0);
  const Blob& snapB = track.passSnapshot(1);
  const Blob* blobA = presentA ? &snapA : &snapB;
  const Blob* blobB = presentA && presentB ? &snapB : nullptr;
  DrumVoiceSynth& renderer = voice.renderer;

  if (firstHop) {
    startVoice(track, t, voice, synth, model, blobA, blobB, weightB);
  } else {
    renderer.setBlobs(blobA, blobB);
  }

  // A blob whose sound ends early ends the voice once the voice has passed that point.
  float tail = -999.0f;
  if (presentA) tail = std::max(tail, snapA.tailPosition);
  if (presentB) tail = std::max(tail, snapB.tailPosition);
  if (tail < 1.0f || (tail < kOpenTail && renderer.elapsed > tail + 1.0f)) {
    voice.goIdle();
    return false;
  }

  // Velocity can drive the morph, the time scale or the contrast besides the loudness.
  const float v = voice.curvedVelocity;
  float timeFactor = 1.0f;
  if (model == 3) contrast = clampOrLow(2.0f * v - 1.0f + contrast, -1.0f, 1.0f);
  if (model == 1) weightB = clampOrLow(2.0f * v - 1.0f + weightB, 0.0f, 1.0f);
  if (model == 2) timeFactor = 2.0f * v;

  const float shift = clampOrLow(trackValue(t, TrackParam::kFrequency) / 40.0f, -64.0f, 64.0f);
  const float density = clampOrLow(trackValue(t, TrackParam::kDensity) * 0.01f, -1.0f, 1.0f);
  const float filter = clampOrLow(trackValue(t, TrackParam::kFilter) / 100.0f, -1.0f, 1.0f);

  // The floor applies after the velocity factor: a velocity curve down to 0 must not stop time
  // for good (or divide by zero).
  const float timescale = std::max(trackValue(t, TrackParam::kTimescale) * timeFactor, kMinTimescale);
  const bool sustains = synth >= 0 && voice.state == DrumVoice::kHeld;
  const float sustainAt = sustains ? Blob::timeFromSeconds(paramValue(synthParam(SynthParam::kSustainPos)))
                                   : std::numeric_limits<float>::infinity();
  renderer.transform = weightB;
  renderer.frequencyShift = shift;
  renderer.contrast = contrast;
  do {
    const float position = renderer.elapsed;
    const float rate = position < 0.9f ? 1.0f : kBlobRate / sampleRate;
    // Normal speed for the first 5 time units; the time scale takes full effect from 15.
    float step = std::max(((1.0f / timescale - 1.0f) * clampOrLow((position - 5.0f) * 0.1f, 0.0f, 1.0f) + 1.0f) * rate,
                          kMinFrameStep);
    if (position >= sustainAt) step = 0.0f;
    float* frame = voice.frames[voice.ringIndex];
    renderer.advance(step, frame + 1);
    shapeBandFrame(frame, fade, voice.damping, filter);
    voice.fillCount = std::min(voice.fillCount + 1, DrumVoice::kFrameRing);
    voice.ringIndex = (voice.ringIndex + 1) & (DrumVoice::kFrameRing - 1);
  } while (voice.fillCount < 3);

  if (synth < 0) {
    hopDensity = density;
    hopFirst = firstHop;
    return true;
  }
  renderPartials(track, voice, density);
  endHop(voice);
  return false;
}

// A voice while a synth track is chosen: harmonic partials at the voice's gliding pitch, with
// bend and detune, whose levels follow the voice's band frame.
void BandSynth::renderPartials(DrumTrack& track, DrumVoice& voice, float density) {
  const float dt = static_cast<float>(kControlPeriod) / sampleRate;
  const float glide = paramValue(synthParam(SynthParam::kGlideTime)) / 1000.0f;
  voice.pitch += dt / std::max(glide, dt) * (static_cast<float>(voice.note) - voice.pitch);
  const float b = controllers[voice.channel & (kChannelCount - 1)][kPitchBend];
  const float range = paramValue(synthParam(b > 0.0f ? SynthParam::kPitchbendUp : SynthParam::kPitchbendDown));
  const float bend = std::fabs(b) * range;
  const float s = paramValue(synthParam(SynthParam::kStretch)) / 100.0f;
  const float sigma = 0.1f * std::fabs(s) * s;
  PartialSettings partials;
  partials.oscillator = truncClamped(paramValue(synthParam(SynthParam::kOscillator)), 0, 11);
  partials.stretch = s;
  partials.fundamentalHz =
      kReferenceHz *
      std::exp2((voice.pitch + bend + paramValue(synthParam(SynthParam::kDetune)) / 100.0f - 69.0f) / 12.0f) /
      std::max(1.0f + sigma, 0.5f);
  partials.lookupHz =
      kKeyTrackHz * std::pow(partials.fundamentalHz / kKeyTrackHz,
                             std::max(1.0f - paramValue(synthParam(SynthParam::kKeyTrack)) / 100.0f, 0.0f));
  partials.density = density;
  partials.unison = paramValue(synthParam(SynthParam::kUnison));
  const float draw = static_cast<float>(sharedNoiseGenerator().next()) * kUnitPerDraw;
  const int32_t count = mVoiceBands.partialHop(voice, partials, sampleRate, draw);
  track.processor->addPartials(mVoiceBands.partialHz(), mVoiceBands.partialValues(), count, 0);
}

// A new note's first control pass: the renderer starts from the current sounds at the
// velocity after the track's curve, the seed is frozen when the track asks for it, and on the
// synth track the partial phases restart.
void BandSynth::startVoice(DrumTrack& track, int32_t t, DrumVoice& voice, int32_t synth, int32_t model,
                           const Blob* blobA, const Blob* blobB, float weightB) {
  DrumVoiceSynth& renderer = voice.renderer;
  renderer.setModel(model - 4);
  float curved = 0.0f;
  track.velocityCurve.evaluate(voice.velocity, &curved);
  const float dynamics = trackValue(t, TrackParam::kDynamics) / 100.0f;
  const float gainScale = std::pow(voice.velocity * 127.0f / 100.0f, dynamics);
  renderer.start(blobA, blobB, weightB, curved, gainScale);
  voice.curvedVelocity = curved;
  voice.newNote = 0;
  const float seedMode = trackValue(t, TrackParam::kSeedMode);
  if (seedMode > 0.0f) voice.seed = static_cast<uint32_t>(truncClamped(trackValue(t, TrackParam::kSeed), 0, 1 << 30));
  if (synth < 0) return;
  std::fill(std::begin(voice.partialPhases[0]), std::end(voice.partialPhases[0]), 0.0f);
  if (seedMode > 0.5f) {
    const Param& seedParam = params[static_cast<size_t>(trackParam(t, TrackParam::kSeed))];
    const float n = seedParam.toNormalized(seedParam.effectiveValue());
    const float a = std::max(n - 0.5f, 0.0f) * std::max(n - 0.5f, 0.0f) * 0.5f;
    const float b = n / (n + 1.0f);
    for (int32_t k = 0; k < DrumVoice::kPartialCount; ++k) {
      const float kf = static_cast<float>(k);
      voice.partialPhases[1][k] = (kf * a + b) * kf;
    }
  }
}

void BandSynth::endHop(DrumVoice& voice) {
  voice.elapsed += static_cast<float>(kControlPeriod) / sampleRate;
  const float fade = (1.0f - voice.releaseProgress) * (1.0f - voice.releaseProgress);
  if (voice.releaseProgress > 1.0f || !(voice.renderer.level * fade >= kEndLevel)) voice.goIdle();
}
