#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "engine/EngineTestRig.h"

namespace {

using namespace engine_test;

constexpr float kRate = 48000.0f;

int heldOn(const DrumTrack& track, int note) {
  for (int i = 0; i < DrumTrack::kVoiceCount; ++i)
    if (track.voices[i].state != DrumVoice::kIdle && track.voices[i].note == note) return i;
  return -1;
}

TEST(NoteHandling, NotesFindTheirTrack) {
  auto e = makeEngine(kRate);
  const struct {
    int synthTrack, note, track;
  } rows[] = {{-1, 36, 0}, {-1, 43, 7},  {-1, 45, -1}, {-1, 44, -1}, {-1, 47, -1},
              {-1, 0, 0},  {-1, -1, -1}, {3, 45, 3},   {3, 36, 3},   {0, 127, 0}};
  for (const auto& r : rows) {
    synthParam(*e, SynthParam::kSynthTrack).setValue(static_cast<float>(r.synthTrack));
    EXPECT_EQ(e->trackForNote(r.note), r.track) << r.synthTrack << " " << r.note;
    if (r.track < 0) continue;
    e->resetVoices(0);
    e->processNote(r.note, 0.7f, 0, 0);
    for (int t = 0; t < 8; ++t) EXPECT_EQ(heldOn(e->tracks[t], r.note) >= 0, t == r.track) << r.note << " " << t;
  }
}

TEST(NoteHandling, PolyphonyAndStealing) {
  auto e = makeEngine(kRate);
  DrumTrack& track = e->tracks[0];
  trackParam(*e, 0, TrackParam::kPolyphony).setValue(3.0f);
  // Three notes at once: equal ages, so the fourth takes the lowest index.
  for (int note : {36, 48, 60}) e->processNote(note, 0.8f, 0, 0);
  EXPECT_EQ(track.voiceCount, 3);
  e->processNote(72, 0.8f, 0, 0);
  EXPECT_EQ(heldOn(track, 72), 0);
  // Started one after another, the oldest goes first.
  e->resetVoices(0);
  for (int note : {36, 48, 60}) {
    e->processNote(note, 0.8f, 0, 0);
    render(*e, 640, 64);
  }
  e->processNote(72, 0.8f, 0, 0);
  EXPECT_EQ(heldOn(track, 72), 0);
  e->processNote(84, 0.8f, 0, 0);
  EXPECT_EQ(heldOn(track, 84), 1);
  EXPECT_EQ(heldOn(track, 48), -1);
  EXPECT_EQ(heldOn(track, 60), 2);
  // With one voice every note restarts voice 0; the voices above are cut at once.
  trackParam(*e, 0, TrackParam::kPolyphony).setValue(1.0f);
  e->processNote(36, 0.5f, 0, 0);
  EXPECT_EQ(heldOn(track, 36), 0);
  EXPECT_EQ(track.voices[1].state, DrumVoice::kIdle);
  EXPECT_EQ(track.voices[2].state, DrumVoice::kIdle);
  EXPECT_EQ(track.voices[0].newNote, 1);
  EXPECT_EQ(track.voices[0].elapsed, 0.0f);
  render(*e, 64, 64);
  EXPECT_EQ(track.voiceCount, 1);
  // A track without sounds ignores notes.
  e->tracks[1].blobs[0].present = 0;
  e->processNote(37, 1.0f, 0, 0);
  EXPECT_EQ(e->tracks[1].voiceCount, 0);
}

TEST(NoteHandling, NoteOffMatchesNoteAndChannel) {
  auto e = makeEngine(kRate);
  DrumTrack& track = e->tracks[0];
  trackParam(*e, 0, TrackParam::kPolyphony).setValue(4.0f);
  e->processNote(36, 0.8f, 0, 1);
  e->processNote(36, 0.8f, 0, 2);
  e->processNote(48, 0.8f, 0, 1);
  render(*e, 6400, 64);
  const float level = track.voices[0].sources.envelopes[0].level;
  e->processNote(36, 0.0f, 0, 1);
  EXPECT_EQ(track.voices[0].state, DrumVoice::kReleased);
  EXPECT_EQ(track.voices[1].state, DrumVoice::kHeld);
  EXPECT_EQ(track.voices[2].state, DrumVoice::kHeld);
  // The release starts from the level held when the note-off came.
  EXPECT_EQ(track.voices[0].sources.envelopes[0].releaseStartLevel, level);
  render(*e, 640, 64);
  const EnvelopeState released = track.voices[0].sources.envelopes[0];
  e->processNote(36, 0.0f, 0, 1);  // only released: nothing happens
  EXPECT_EQ(track.voices[0].sources.envelopes[0].releaseStartLevel, released.releaseStartLevel);
  EXPECT_EQ(track.voices[0].sources.envelopes[0].position, released.position);
  e->processNote(36, 0.0f, 0, -1);  // any channel
  EXPECT_EQ(track.voices[1].state, DrumVoice::kReleased);
  EXPECT_EQ(track.voices[2].state, DrumVoice::kHeld);
}

// On the synth track with one voice and "Legato" on, an overlapping note re-targets the
// sounding voice, which glides to it; without legato the voice restarts from its old pitch.
TEST(NoteHandling, LegatoAndGlideOnTheSynthTrack) {
  for (bool legato : {true, false}) {
    auto e = makeEngine(kRate);
    synthParam(*e, SynthParam::kSynthTrack).setValue(3.0f);
    synthParam(*e, SynthParam::kLegato).setValue(legato ? 1.0f : 0.0f);
    synthParam(*e, SynthParam::kGlideTime).setValue(100.0f);
    DrumVoice& voice = e->tracks[3].voices[0];
    e->processNote(60, 0.8f, 0, 0);
    render(*e, 4800, 64);
    EXPECT_EQ(voice.pitch, 60.0f);
    const float elapsed = voice.elapsed;
    e->processNote(64, 0.8f, 0, 0);
    EXPECT_EQ(voice.note, 64);
    EXPECT_EQ(voice.newNote, legato ? 0 : 1);
    EXPECT_EQ(voice.elapsed, legato ? elapsed : 0.0f);
    EXPECT_EQ(voice.pitch, 60.0f);
    // 100 ms of glide with a time constant of 100 ms: about 1 - 1/e of the way.
    render(*e, 4800, 64);
    EXPECT_NEAR((voice.pitch - 60.0f) / 4.0f, 1.0 - std::exp(-1.0), 0.02);
    render(*e, 48000, 512);
    EXPECT_NEAR(voice.pitch, 64.0f, 0.001f);
  }
  // With room for more voices the second note takes a free one.
  auto e = makeEngine(kRate);
  synthParam(*e, SynthParam::kSynthTrack).setValue(3.0f);
  synthParam(*e, SynthParam::kLegato).setValue(1.0f);
  trackParam(*e, 3, TrackParam::kPolyphony).setValue(8.0f);
  e->processNote(60, 0.8f, 0, 0);
  e->processNote(64, 0.8f, 0, 0);
  EXPECT_EQ(heldOn(e->tracks[3], 64), 1);
  EXPECT_EQ(e->tracks[3].voices[1].pitch, 64.0f);
}

// A reset silences every voice and seeds them from one sequence: the seed itself first, every
// voice its own seed, the same seed the same seeds.
TEST(NoteHandling, ResetSeedsEveryVoiceFromOneSequence) {
  BandSynth unprepared;  // no synthesisers yet: a reset still works
  unprepared.resetVoices(0);
  auto e = makeEngine(kRate);
  e->processNote(36, 1.0f, 0, 0);
  std::vector<uint32_t> first;
  for (uint32_t seed : {2u, 0xDEADBEEFu, 2u}) {
    e->resetVoices(seed);
    std::vector<uint32_t> seeds;
    for (const DrumTrack& t : e->tracks)
      for (const DrumVoice& v : t.voices) {
        seeds.push_back(v.seed);
        EXPECT_EQ(v.state, DrumVoice::kIdle);
      }
    EXPECT_EQ(seeds[0], seed);
    EXPECT_EQ(std::set<uint32_t>(seeds.begin(), seeds.end()).size(), seeds.size());
    if (first.empty()) first = seeds;
    else EXPECT_EQ(seeds == first, seed == 2u);
  }
  EXPECT_EQ(e->renderCalls, 0);
}

TEST(NoteHandling, Controllers) {
  auto e = makeEngine(kRate);
  e->setController(0, -0.5f, 3);
  e->setController(1, 0.25f, 3);
  e->setController(1001, 0.75f, 15);
  const float want[16][4] = {{}, {}, {}, {-0.5f, 0.0f, 0.0f, 0.25f}, {}, {}, {}, {}, {}, {}, {}, {},
                             {}, {}, {}, {0.0f, 0.75f, 0.0f, 0.0f}};
  // Ignored: the sustain pedal and other controllers, channels out of range, non-finite values.
  e->setController(1064, 1.0f, 3);
  e->setController(1000, 1.0f, 3);
  e->setController(0, 0.5f, 16);
  e->setController(0, 0.5f, -1);
  e->setController(0, NAN, 3);
  for (int c = 0; c < 16; ++c)
    for (int k = 0; k < 4; ++k) EXPECT_EQ(e->controllers[c][k], want[c][k]) << c << " " << k;
}

// Polyphonic pressure finds voices by pitch class, even while a synth track takes the notes.
TEST(NoteHandling, PolyPressureByPitchClass) {
  auto e = makeEngine(kRate);
  trackParam(*e, 4, TrackParam::kPolyphony).setValue(2.0f);
  e->processNote(40, 1.0f, 0, 1);
  e->processNote(52, 1.0f, 0, 1);
  e->setPolyPressure(0.6f, 40, 2);
  EXPECT_EQ(e->tracks[4].voices[0].polyPressure, 0.0f);
  e->setPolyPressure(0.6f, 40, 1);
  EXPECT_EQ(e->tracks[4].voices[0].polyPressure, 0.6f);
  EXPECT_EQ(e->tracks[4].voices[1].polyPressure, 0.0f);
  e->setPolyPressure(0.3f, 52, -1);
  EXPECT_EQ(e->tracks[4].voices[1].polyPressure, 0.3f);

  synthParam(*e, SynthParam::kSynthTrack).setValue(2.0f);
  e->processNote(40, 1.0f, 0, 0);  // plays on track 2
  e->setPolyPressure(0.9f, 40, 0);
  EXPECT_EQ(e->tracks[2].voices[0].polyPressure, 0.0f);
  e->setPolyPressure(0.9f, 40, 1);
  EXPECT_EQ(e->tracks[4].voices[0].polyPressure, 0.9f);
}

}  // namespace
