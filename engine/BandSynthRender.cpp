// Preparation for a sample rate and block rendering: control passes, the tracks' audio paths,
// the sends and the effect slots.
#include <algorithm>
#include <cstring>
#include <memory>

#include "effects/FxBase.h"
#include "engine/BandSynth.h"
#include "engine/core/Clamp.h"
#include "engine/core/FloatGrid.h"
#include "engine/dsp/PeakMeters.h"
#include "engine/dsp/SpectralSynth.h"
#include "platform/DenormalGuard.h"

namespace {

constexpr int32_t kPeriod = BandSynth::kControlPeriod;
// The track synthesisers: 256 points, one channel, a hop of one control period, and a shelf
// that lifts the lowest frequencies (corner 2 Hz, gain 10).
constexpr int32_t kSynthSize = BandLayout::kFftSize;
constexpr float kShelfCornerHz = 2.0f;
constexpr float kShelfGain = 10.0f;
// Strip and send levels may reach four times their parameters' maximum (through modulation).
constexpr float kLevelHeadroom = 4.0f;

inline int32_t truncParam(float v) { return truncClamped(v, -1000000, 1000000); }

inline void addInto(float* dst, const float* src, int32_t n) {
  for (int32_t i = 0; i < n; ++i) dst[i] += src[i];
}

inline void addScaled(float* dst, const float* src, float gain, int32_t n) {
  for (int32_t i = 0; i < n; ++i) dst[i] += gain * src[i];
}

}  // namespace

void BandSynth::prepare(float rate, int32_t seed) {
  if (!(rate >= kMinSampleRate && rate <= kMaxSampleRate)) return;
  sampleRate = rate;
  tempo = 120.0;
  modMatrix.tempo = 120.0f;
  beatPosition = -100.0;
  playing = false;

  bands.build(rate);
  mVoiceBands.prepare(bands);
  mHopTotal.assign(static_cast<size_t>(bands.bandCount), {0.0f, 0.0f});
  for (TrackAudio& audio : mTrackAudio) audio = TrackAudio();
  for (float(&bus)[2 * kPeriod] : mSendBus) std::fill(std::begin(bus), std::end(bus), 0.0f);

  const std::array<float, BandLayout::kFftSize>& window = synthWindow();
  for (DrumTrack& track : tracks) {
    track.processor = std::make_unique<SpectralSynth>(kSynthSize, 1, kPeriod);
    track.processor->setSampleRate(rate, kShelfCornerHz, kShelfGain);
    for (int32_t k = 0; k < kSynthSize; ++k) {
      track.processor->window[static_cast<size_t>(k)] = window[static_cast<size_t>(k)] / static_cast<float>(kSynthSize);
    }
    for (DrumVoice& voice : track.voices) {
      voice.sizeSpectra(bands.bandCount);
      voice.goIdle();
      voice.velocity = 0.0f;
      voice.polyPressure = 0.0f;
    }
    track.voiceCount = 0;
    track.clip.sampleRate = rate;
  }

  // Installed effects follow the new rate; a slot without an effect learns it when one is
  // installed.
  for (int32_t s = 0; s < kSlotCount; ++s) {
    FxSlot& fx = slot(s);
    if (FxBase* effect = fx.effect.load(std::memory_order_acquire)) {
      effect->setSampleRate(rate);
      fx.sampleRate.store(rate, std::memory_order_relaxed);
    }
  }

  controlCountdown = 0;
  std::fill(std::begin(outputMeter), std::end(outputMeter), 0.0f);
  resetVoices(static_cast<uint32_t>(seed));
}

void BandSynth::processBlock(float** outputs, int32_t nFrames, int32_t nOutputChannels, int32_t startFrame) {
  const DenormalGuard denormals;
  // The counters wrap round (twelve hours at 48 kHz fill a 32-bit frame count) rather than
  // overflow.
  renderCalls = static_cast<int32_t>(static_cast<uint32_t>(renderCalls) + 1u);
  renderedFrames = static_cast<int32_t>(static_cast<uint32_t>(renderedFrames) + static_cast<uint32_t>(nFrames));
  if (nOutputChannels <= 0 || outputs == nullptr) return;
  nFrames = std::max(nFrames, 0);
  startFrame = std::max(startFrame, 0);
  for (int32_t c = 0; c < nOutputChannels; ++c) {
    if (outputs[c] != nullptr && nFrames > 0)
      std::memset(outputs[c] + startFrame, 0, sizeof(float) * static_cast<size_t>(nFrames));
  }

  if (sampleRate > 0.0f) {
    const int32_t synth = synthTrack();
    const double seconds = static_cast<double>(kPeriod) / sampleRate;
    int32_t pos = startFrame;
    const int32_t end = startFrame + nFrames;
    while (pos < end) {
      const int32_t left = end - pos;
      const bool control = controlCountdown < left;
      const int32_t n = control ? controlCountdown : left;

      for (float(&bus)[2 * kPeriod] : mSendBus) {
        std::fill(bus, bus + n, 0.0f);
        std::fill(bus + kPeriod, bus + kPeriod + n, 0.0f);
      }
      if (control) {
        modMatrix.processLfos(globalSources, seconds, seconds * tempo / 60.0,
                              playing ? beatPosition : ModMatrix::kNoBeatPosition, nullptr, false);
        applyGlobalModulation();
      }
      // The tracks' audio of this stretch comes from hops already made and reads only each
      // track's own parameters, so every track's audio goes first (their pan stages side by
      // side), then the voice pass.
      readTrackAudio(outputs, nOutputChannels, n);
      panTrackAudio(n);
      for (int32_t t = 0; t < kTrackCount; ++t) mixTrackAudio(t, outputs, pos);
      if (control) {
        beginVoicePass();
        for (int32_t t = 0; t < kTrackCount; ++t) collectVoices(t, synth);
      }
      if (control) finishVoicePass();
      if (effectsReady) runEffectSlots(outputs, nOutputChannels, pos, n);

      pos += n;
      controlCountdown = control ? kPeriod : controlCountdown - n;
    }
  }

  if (meteringOn && sampleRate > 0.0f) {
    const int32_t channels = 2 * std::min(nOutputChannels / 2, kMaxOutputChannels / 2);
    const float* from[kMaxOutputChannels];
    bool complete = true;
    for (int32_t c = 0; c < channels; ++c) {
      from[c] = outputs[c] != nullptr ? outputs[c] + startFrame : nullptr;
      complete = complete && from[c] != nullptr;
    }
    if (complete) updatePeakMeters(outputMeter, from, nFrames, channels, sampleRate);
  }
  if (meteringOn) {
    for (int32_t i : modMatrix.exposedParams) {
      Param& p = params[static_cast<size_t>(i)];
      p.shownValue = p.changed != 0 ? p.modulatedValue : loadShared(p.value);
      p.shownModulated = p.changed;
    }
  }
  sampleCounter += nFrames;
}

void BandSynth::readTrackAudio(float** outputs, int32_t nOutputChannels, int32_t n) {
  // Every track's synthesiser output first, their shelves side by side.
  SpectralSynth* synths[kTrackCount];
  float* mono[kTrackCount];
  bool silent[kTrackCount];
  int32_t trackOf[kTrackCount];
  int32_t count = 0;
  for (int32_t t = 0; t < kTrackCount; ++t) {
    mTrackAudio[t].sounding = false;
    if (!tracks[t].processor) continue;
    synths[count] = tracks[t].processor.get();
    mono[count] = mTrackAudio[t].mono;
    trackOf[count] = t;
    ++count;
  }
  SpectralSynth::readMono(synths, mono, count, n, silent);

  for (int32_t k = 0; k < count; ++k) {
    const int32_t t = trackOf[k];
    DrumTrack& track = tracks[t];
    TrackAudio& audio = mTrackAudio[t];
    const int32_t m = std::clamp(n, 0, track.processor->size());
    const int32_t o = truncClamped(trackValue(t, TrackParam::kOutput), 0, kTrackCount);
    if (silent[k] || 2 * o + 1 >= nOutputChannels || outputs[2 * o] == nullptr || outputs[2 * o + 1] == nullptr) {
      track.silent.store(true, std::memory_order_relaxed);
      continue;
    }
    track.silent.store(false, std::memory_order_relaxed);

    const Param& amp = params[static_cast<size_t>(trackParam(t, TrackParam::kAmp))];
    audio.gain =
        clampOrLow(isTrackAudible(t) ? amp.effectiveValue() : 0.0f, 0.0f, kLevelHeadroom * amp.fromNormalized(1.0f));
    audio.pan = clampOrLow(trackValue(t, TrackParam::kPan) * 0.01f, -1.0f, 1.0f);
    audio.width = clampOrLow(trackValue(t, TrackParam::kWidth) * 0.01f, 0.0f, 1.0f);
    const Param& clipParam = params[static_cast<size_t>(trackParam(t, TrackParam::kClip))];
    const float clipAmount = clampOrLow(clipParam.toNormalized(clipParam.effectiveValue()), 0.0f, 1.0f);
    processClip(track.clip, audio.mono, m, clipAmount);
    audio.bus = o;
    audio.frames = m;
    audio.sounding = true;
  }
}

void BandSynth::panTrackAudio(int32_t n) {
  // The sounding tracks' pan and width side by side; a track with a shorter read (none, as
  // reads never fall short of a control period) goes alone.
  PanWidthState* states[kTrackCount];
  const float* mono[kTrackCount];
  float* left[kTrackCount];
  float* right[kTrackCount];
  float gain[kTrackCount];
  float pan[kTrackCount];
  float width[kTrackCount];
  int32_t count = 0;
  for (int32_t t = 0; t < kTrackCount; ++t) {
    TrackAudio& audio = mTrackAudio[t];
    if (!audio.sounding) continue;
    if (audio.frames != n) {
      float* const stereo[2] = {audio.left, audio.right};
      processPanWidth(tracks[t].panWidth, audio.mono, stereo, audio.frames, audio.gain, audio.pan, audio.width);
      continue;
    }
    states[count] = &tracks[t].panWidth;
    mono[count] = audio.mono;
    left[count] = audio.left;
    right[count] = audio.right;
    gain[count] = audio.gain;
    pan[count] = audio.pan;
    width[count] = audio.width;
    ++count;
  }
  processPanWidthTracks(states, mono, left, right, count, n, gain, pan, width);
}

void BandSynth::mixTrackAudio(int32_t t, float** outputs, int32_t pos) {
  const TrackAudio& audio = mTrackAudio[t];
  if (!audio.sounding) return;
  const int32_t o = audio.bus;
  const int32_t m = audio.frames;
  addInto(outputs[2 * o] + pos, audio.left, m);
  addInto(outputs[2 * o + 1] + pos, audio.right, m);

  for (int32_t s = 0; s < 2; ++s) {
    const Param& send = params[static_cast<size_t>(trackParam(t, s == 0 ? TrackParam::kSend1 : TrackParam::kSend2))];
    const float level = clampOrLow(send.effectiveValue(), 0.0f, kLevelHeadroom * send.fromNormalized(1.0f));
    if (!(level > 0.0f)) continue;
    addScaled(mSendBus[s], audio.left, level, m);
    addScaled(mSendBus[s] + kPeriod, audio.right, level, m);
  }
}

void BandSynth::runEffectSlots(float** outputs, int32_t nOutputChannels, int32_t pos, int32_t n) {
  float* const mainLeft = outputs[0];
  float* const mainRight = outputs[1 % nOutputChannels];
  const bool haveMain = mainLeft != nullptr && mainRight != nullptr;
  for (int32_t s = 0; s < kSlotCount; ++s) {
    FxSlot& fx = slot(s);
    const int32_t wanted = truncParam(paramValue(slotParam(s, SlotParam::kType)));
    const bool power = paramValue(slotParam(s, SlotParam::kPower)) > 0.5f;
    const bool send = s < 2;
    if (!send) fx.dryPass = 1;
    const bool live = fx.beginPass(wanted, power);
    FxBase* effect = fx.effect.load(std::memory_order_acquire);
    if (send && live && effect != nullptr) effect->setTempo(static_cast<float>(tempo));
    // A pass of 0 frames (a control pass at a block boundary) has nothing to process.
    if (n > 0 && fx.sampleRate.load(std::memory_order_relaxed) > 0.0f && haveMain) {
      if (send && live) {
        float* const bus[2] = {mSendBus[s], mSendBus[s] + kPeriod};
        fx.process(bus, bus, n);
        addInto(mainLeft + pos, bus[0], n);
        addInto(mainRight + pos, bus[1], n);
      } else if (!send) {
        float* const main[2] = {mainLeft + pos, mainRight + pos};
        fx.process(main, main, n);
      }
    }
    fx.endPass();
  }
}
