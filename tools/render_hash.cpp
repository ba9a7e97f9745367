// Prints a hash of the engine's rendered audio for a fixed set of scenes: rates, host block
// sizes, random parameter sets (which reach the models, the modulation rows and every effect
// type), the synth track, and each lane width. Two builds that print the same lines render the
// same bits. A developer tool for changes that must not change the sound.
//
// Full-house scenes fill every voice of every track, so every lane of every width is busy.
//
//   render_hash            one line per scene, then the hash of all of them
//   render_hash --quick    fewer scenes
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/BandSynth.h"
#include "engine/dsp/LaneWidth.h"

namespace {

struct Hash {
  uint64_t h = 1469598103934665603ull;
  void add(const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
  }
};

uint32_t next(uint32_t& x) {
  x = x * 1664525u + 1013904223u;
  return x;
}
float unit(uint32_t& x) { return static_cast<float>(next(x) >> 8) * (1.0f / 16777216.0f); }

struct Scene {
  float rate;
  int32_t block;
  uint32_t seed;  // 0: default parameters
  bool synth;
  int32_t lanes;  // 0: the widest the processor runs
  bool full = false;  // every voice of every track sounding
};

uint64_t renderScene(const Scene& s, float& peakOut) {
  setLaneWidthLimit(s.lanes);
  auto engine = std::make_unique<BandSynth>();
  BandSynth& e = *engine;
  uint32_t x = 777u + s.seed;
  for (DrumTrack& track : e.tracks)
    for (Blob& blob : track.blobs) {
      blob.clear();
      for (auto& curve : blob.gridA)
        for (size_t i = 1; i + 1 < curve.size(); ++i)
          curve[i] += static_cast<float>(static_cast<int32_t>(next(x))) * 4.6e-10f;
      blob.refresh();
    }
  if (s.seed != 0) {
    for (Param& p : e.params) p.setValue(p.min + (p.max - p.min) * unit(x));
    // Keep every track audible and one synth choice per scene.
    e.params[static_cast<size_t>(BandSynth::synthParam(SynthParam::kSynthTrack))].setValue(s.synth ? 3.0f : -1.0f);
    for (int32_t t = 0; t < BandSynth::kTrackCount; ++t)
      e.params[static_cast<size_t>(BandSynth::trackParam(t, TrackParam::kAmp))].setValue(1.0f);
  }
  if (s.full) {
    for (int32_t t = 0; t < BandSynth::kTrackCount; ++t)
      e.params[static_cast<size_t>(BandSynth::trackParam(t, TrackParam::kPolyphony))].setValue(8.0f);
  }
  sharedNoiseGenerator().reseed(12345u);
  e.prepare(s.rate, 2);
  e.updateEffectTypes();

  const int32_t frames = static_cast<int32_t>(s.rate * 0.75f);
  std::vector<std::vector<float>> out(BandSynth::kMaxOutputChannels, std::vector<float>(4096));
  float* pointers[BandSynth::kMaxOutputChannels];
  for (int32_t c = 0; c < BandSynth::kMaxOutputChannels; ++c) pointers[c] = out[static_cast<size_t>(c)].data();
  Hash hash;
  float peak = 0.0f;
  uint32_t notes = 99u + s.seed;
  int32_t pos = 0;
  int32_t blocks = 0;
  while (pos < frames) {
    const int32_t n = std::min(s.block, frames - pos);
    // A full house: every voice at once, then a new note per track every 16 blocks.
    if (s.full && blocks % 16 == 0) {
      for (int32_t v = 0; v < (blocks == 0 ? 8 : 1); ++v)
        for (int32_t t = 0; t < 8; ++t) e.processNote(36 + t + 12 * ((v + blocks / 16) % 8), 0.5f + 0.05f * v, 0, 0);
    }
    ++blocks;
    if ((next(notes) >> 29) == 0) {
      const int32_t note = 36 + static_cast<int32_t>((next(notes) >> 8) % 36u);
      e.processNote(note, 0.2f + 0.8f * unit(notes), 0, 0);
    }
    if ((next(notes) >> 28) == 0) e.processNote(36 + static_cast<int32_t>((next(notes) >> 8) % 36u), 0.0f, 0, 0);
    if ((next(notes) >> 27) == 0) e.setController(BandSynth::kModWheel, unit(notes), 0);
    e.processBlock(pointers, n, BandSynth::kMaxOutputChannels, 0);
    for (int32_t c = 0; c < BandSynth::kMaxOutputChannels; ++c) {
      hash.add(pointers[c], sizeof(float) * n);
      for (int32_t i = 0; i < n; ++i) peak = std::max(peak, std::fabs(pointers[c][i]));
    }
    pos += n;
  }
  setLaneWidthLimit(0);
  // A full house must have filled every lane.
  int32_t sounding = 0;
  for (const DrumTrack& t : e.tracks) sounding += t.soundingVoices.load();
  if (s.full && sounding < 64) std::printf("full house with %d voices only\n", sounding);
  peakOut = peak;
  return hash.h;
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  std::vector<Scene> scenes;
  const float rates[] = {22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f};
  const int32_t blocks[] = {1, 64, 100, 128, 4096};
  for (float rate : rates)
    for (int32_t block : blocks) {
      if (quick && block != 100) continue;
      if (block == 1 && rate > 48000.0f) continue;  // slow and adds nothing the others miss
      scenes.push_back({rate, block, 0u, false, 0});
      for (uint32_t seed = 1; seed <= (quick ? 2u : 4u); ++seed) scenes.push_back({rate, block, seed, seed % 2 == 0, 0});
    }
  for (int32_t lanes : {4, 8, 16})
    for (uint32_t seed = 0; seed < 3u; ++seed) scenes.push_back({48000.0f, 128, seed, seed == 2, lanes});
  for (int32_t lanes : {4, 8, 16})
    for (uint32_t seed = 0; seed < 2u; ++seed) scenes.push_back({48000.0f, 128, seed, false, lanes, true});

  Hash all;
  for (const Scene& s : scenes) {
    float peak = 0.0f;
    const uint64_t h = renderScene(s, peak);
    all.add(&h, sizeof h);
    std::printf("rate %6.0f block %4d seed %u synth %d lanes %2d%s  peak %9.3g  %016llx\n", s.rate, s.block, s.seed,
                s.synth ? 1 : 0, s.lanes, s.full ? " full" : "", static_cast<double>(peak),
                static_cast<unsigned long long>(h));
  }
  std::printf("all %016llx\n", static_cast<unsigned long long>(all.h));
  return 0;
}
