#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "effects/FxBase.h"
#include "engine/BandSynth.h"

// Helpers shared by the engine rendering tests.
namespace engine_test {

struct NoteEvent {
  int32_t frame;
  int32_t note;
  float velocity;  // 0: note off
  int32_t channel = 0;
};

using Channels = std::vector<std::vector<float>>;

inline Param& param(BandSynth& e, int32_t index) { return e.params[static_cast<size_t>(index)]; }
inline Param& trackParam(BandSynth& e, int32_t track, int32_t k) { return param(e, BandSynth::trackParam(track, k)); }
inline Param& synthParam(BandSynth& e, int32_t k) { return param(e, BandSynth::synthParam(k)); }

// Every track gets an uneven sound in slot A (a cleared blob with its time curves moved a
// little) and an empty slot B, handed over to the audio side. Called before prepare, so no
// effect gets installed.
inline void loadTestSounds(BandSynth& e, uint32_t seed = 7u) {
  for (DrumTrack& track : e.tracks) {
    Blob& a = track.blobs[0];
    a.clear();
    for (auto& curve : a.gridA)
      for (size_t i = 1; i + 1 < curve.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        curve[i] += static_cast<float>(static_cast<int32_t>(seed)) * 4.6e-10f;
      }
    a.refresh();
    track.blobs[1].present = 0;
  }
  e.updateEffectTypes();
}

// The noise spectrum comes from a generator that every engine in the process shares; restarting
// it gives every test engine the same one.
inline std::unique_ptr<BandSynth> makeEngine(float rate, uint32_t soundSeed = 7u) {
  auto e = std::make_unique<BandSynth>();
  loadTestSounds(*e, soundSeed);
  sharedNoiseGenerator().reseed(12345u);
  e->prepare(rate, 2);
  return e;
}

// Renders `frames` frames in host blocks of at most `block` frames, cut at every event, into
// `channels` buffers. Each event is handed to the engine before the frame it names.
inline Channels render(BandSynth& e, int32_t frames, int32_t block, const std::vector<NoteEvent>& events = {},
                       int32_t channels = BandSynth::kMaxOutputChannels) {
  Channels out(static_cast<size_t>(std::max(channels, 1)), std::vector<float>(static_cast<size_t>(frames), 0.0f));
  std::vector<float*> pointers;
  for (auto& c : out) pointers.push_back(c.data());
  size_t next = 0;
  int32_t pos = 0;
  while (pos < frames) {
    while (next < events.size() && events[next].frame <= pos) {
      e.processNote(events[next].note, events[next].velocity, 0, events[next].channel);
      ++next;
    }
    int32_t n = std::min(block, frames - pos);
    if (next < events.size()) n = std::min(n, events[next].frame - pos);
    e.processBlock(pointers.data(), n, channels, pos);
    pos += n;
  }
  return out;
}

inline double energy(const std::vector<float>& x, size_t from = 0) {
  double s = 0.0;
  for (size_t i = from; i < x.size(); ++i) s += static_cast<double>(x[i]) * x[i];
  return s;
}

inline bool allFinite(const Channels& c, float bound) {
  for (const auto& ch : c)
    for (float v : ch)
      if (!(std::fabs(v) <= bound)) return false;
  return true;
}

// An effect that passes its input through unchanged and counts its calls.
class PassThrough : public FxBase {
 public:
  int calls = 0;
  int resets = 0;
  float rate = 0.0f;
  const char* name() override { return "Pass"; }
  FxBase* create() override { return new PassThrough; }
  void setSampleRate(float r) override { rate = r; }
  void reset() override { ++resets; }
  void process(const float* const in[2], float* const out[2], int nFrames) override {
    ++calls;
    for (int c = 0; c < 2; ++c) std::copy(in[c], in[c] + nFrames, out[c]);
  }
};

// Installs a pass-through effect in slot s as the slot's current "Type".
inline PassThrough* installPassThrough(BandSynth& e, int32_t s) {
  auto* fx = new PassThrough;
  const int32_t type = static_cast<int32_t>(param(e, BandSynth::slotParam(s, SlotParam::kType)).value);
  if (e.slot(s).setEffect(fx, type, e.sampleRate, &param(e, BandSynth::slotParam(s, SlotParam::kEffect0)), true) ==
      nullptr) {
    delete fx;
    return nullptr;
  }
  return fx;
}

}  // namespace engine_test
