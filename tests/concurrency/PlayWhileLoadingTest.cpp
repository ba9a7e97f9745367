// The instrument played by one thread while another loads states and presets, undoes, saves and
// sets parameters, as hosts and the editor do. Built also under ThreadSanitizer (tools/test.sh),
// where any data race between the two fails the run. Every loop runs a fixed count, never to a
// deadline.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/modulation/ModSourceParams.h"
#include "plugin/Fennrake.h"
#include "plugin/files/UserDataPaths.h"
#include "plugin/vst3/Vst3ParamTags.h"
#include "support/ScopedDataRoot.h"
#include "support/TestAudio.h"
#include "tools/testhost/HostedPlugin.h"

namespace vst = Steinberg::Vst;
using Steinberg::kResultOk;
using testhost::HostedPlugin;

namespace {

constexpr int kBlock = 256;
constexpr double kRate = 48000.0;
constexpr int kRounds = 40;      // loads, saves and edits of the other thread
constexpr int kMinBlocks = 200;  // blocks the audio thread plays at least

struct ManualTimers {  // the idle work runs only when a test fires it
  ManualTimers() { iplug::Timer::SetManualMode(true); }
  ~ManualTimers() { iplug::Timer::SetManualMode(false); }
};

// Two kits as states (with the host's bypass flag) and as preset files: a loud one, a kick at
// full level on track 1, and a quieter one, a snare at a lower level there and on track 2, which
// plays on the second output bus. Busy kits also differ in everything a load makes the audio
// side switch over: the loud one plays its own pattern synced to the host into the effect slots,
// the quiet one has other effects and looping LFOs.
struct Kits {
  std::vector<char> loud, quiet;
  std::string loudPreset, quietPreset;
};

void makeBusy(Fennrake& maker, bool loud) {
  BandSynth& engine = maker.mBandSynth;
  auto param = [&](int index) -> Param& { return engine.params[static_cast<size_t>(index)]; };
  for (int s = 0; s < BandSynth::kSlotCount; ++s) {
    param(BandSynth::slotParam(s, SlotParam::kPower)).setValue(1.0f);
    param(BandSynth::slotParam(s, SlotParam::kType)).setValue(loud ? 0.0f : 2.0f);
  }
  param(BandSynth::trackParam(0, TrackParam::kSend1)).setNormalized(0.7f);
  param(BandSynth::trackParam(0, TrackParam::kSend2)).setNormalized(0.7f);
  for (int lfo = 0; lfo < 4; ++lfo) param(BandSynth::lfoParam(lfo, LfoParam::kLoop)).setValue(loud ? 0.0f : 1.0f);
  if (loud) {
    maker.mSequencer.params[Sequencer::kHostSync].setValue(1.0f);
    for (int step = 0; step < 16; step += 2) maker.mSequencer.addNote(0, step * Sequencer::kTicksPerStep, Sequencer::kTicksPerStep, 120);
  }
}

Kits makeKits(bool busy = false) {
  const ManualTimers timers;
  Kits kits;
  for (int k = 0; k < 2; ++k) {
    Fennrake* maker = new Fennrake;
    const std::vector<float> sound = k == 0 ? testaudio::kick(44100.0) : testaudio::snare(44100.0);
    for (Blob& blob : maker->mBandSynth.tracks[0].blobs) EXPECT_TRUE(blob.analyze(sound, 44100.0f, true, 0));
    maker->mBandSynth.params[BandSynth::trackParam(0, TrackParam::kAmp)].setNormalized(k == 0 ? 1.0f : 0.5f);
    if (k == 1) {
      for (Blob& blob : maker->mBandSynth.tracks[1].blobs) EXPECT_TRUE(blob.analyze(sound, 44100.0f, true, 0));
      maker->mBandSynth.params[BandSynth::trackParam(1, TrackParam::kOutput)].setValue(1.0f);
    }
    if (busy) makeBusy(*maker, k == 0);
    iplug::IByteChunk chunk;
    EXPECT_TRUE(maker->SerializeState(chunk));
    std::vector<char>& state = k == 0 ? kits.loud : kits.quiet;
    state.assign(chunk.GetData(), chunk.GetData() + chunk.Size());
    state.insert(state.end(), 4, 0);  // not bypassed
    std::string& preset = k == 0 ? kits.loudPreset : kits.quietPreset;
    preset = GetPresetsPath() + (k == 0 ? "Loud.oskra" : "Quiet.oskra");
    EXPECT_TRUE(maker->SavePresetFile(preset));
    // Every instance starts from the loud kit, whatever it is given next.
    if (k == 0) {
      EXPECT_TRUE(maker->SavePresetFile(GetPresetsPath() + "Start.oskra"));
    }
    maker->release();
  }
  return kits;
}

// Set up at 48 kHz for blocks of 256 frames, active and processing, the given state loaded.
void start(HostedPlugin& plugin, const std::vector<char>& state) {
  ASSERT_EQ(plugin.initialize(), kResultOk);
  ASSERT_EQ(plugin.activateBus(vst::kAudio, vst::kOutput, 1, true), kResultOk);
  ASSERT_EQ(plugin.setupProcessing(kRate, kBlock), kResultOk);
  ASSERT_EQ(plugin.setActive(true), kResultOk);
  ASSERT_EQ(plugin.setProcessing(true), kResultOk);
  ASSERT_EQ(plugin.setState(state), kResultOk);
}

std::unique_ptr<HostedPlugin> loadBundle() {
  std::string error;
  auto module = testhost::VstModule::load(OSKRA_BUNDLE, error);
  auto plugin = module ? HostedPlugin::create(module, module->classInfos().at(0).cid, error) : nullptr;
  EXPECT_TRUE(plugin) << error;
  return plugin;
}

// A Fennrake linked into the test program, driven through the same host interfaces, so the test
// can also do what only the editor does (presets, undo, imports).
std::unique_ptr<HostedPlugin> adopt(Fennrake*& plug) {
  plug = new Fennrake;
  std::string error;
  auto plugin = HostedPlugin::adopt(static_cast<vst::IAudioProcessor*>(plug), error);
  EXPECT_TRUE(plugin) << error;
  return plugin;
}

// An instance linked in and started at 48 kHz from one of the two kits, with everything the test
// needs to outlive it: the data root, the kits and the manual timers.
struct InProcess {
  explicit InProcess(bool busy = false, bool loud = true) : kits(makeKits(busy)), plugin(adopt(plug)) {
    if (plugin) start(*plugin, loud ? kits.loud : kits.quiet);
  }
  ScopedDataRoot root;
  const Kits kits;
  const ManualTimers timers;
  Fennrake* plug = nullptr;
  std::unique_ptr<HostedPlugin> plugin;
};

// The peak of an output bus's block just played; infinite when a sample is not finite.
float blockPeak(const HostedPlugin& plugin, int bus = 0) {
  float peak = 0.0f;
  for (int c = 0; c < 2; ++c) {
    const float* out = plugin.output(bus, c);
    for (int i = 0; i < kBlock; ++i) peak = std::isfinite(out[i]) ? std::max(peak, std::fabs(out[i])) : INFINITY;
  }
  return peak;
}

// The host's audio thread: blocks with notes on every track, controller and parameter moves and
// a running transport, until told to stop (and at least kMinBlocks of them). Returns the peaks.
std::vector<float> play(HostedPlugin& plugin, const std::atomic<bool>& stop, bool automate) {
  std::vector<float> peaks;
  vst::ProcessContext context{};
  context.sampleRate = kRate;
  context.tempo = 120.0;
  context.state = vst::ProcessContext::kPlaying | vst::ProcessContext::kTempoValid |
                  vst::ProcessContext::kProjectTimeMusicValid;
  for (int block = 0; block < kMinBlocks || !stop.load(); ++block) {
    testhost::EventList events;
    const auto pitch = static_cast<int16_t>(36 + block / 4 % 8);
    if (block % 4 == 0) events.addNoteOn(block % kBlock, 0, pitch, 1.0f);
    if (block % 4 == 3) events.addNoteOff(0, 0, pitch);
    testhost::ParameterChanges changes;
    if (automate && block % 3 == 0) changes.add(static_cast<vst::ParamID>(block % 117), block % kBlock, (block % 11) / 10.0);
    if (automate && block % 7 == 0) changes.add(65538 + 1, 0, (block % 5) / 4.0);  // the mod wheel
    // Bypassed for a few blocks now and then, while the other thread saves the flag with the state.
    if (automate && block % 16 == 0) changes.add(iplug::kBypassParamTag, 0, block % 64 == 32 ? 1.0 : 0.0);
    plugin.process(kBlock, &events, &changes, &context);
    context.projectTimeMusic += kBlock / kRate * context.tempo / 60.0;
    peaks.push_back(blockPeak(plugin));
  }
  return peaks;
}

bool allFinite(const std::vector<float>& peaks) {
  return std::all_of(peaks.begin(), peaks.end(), [](float p) { return std::isfinite(p); });
}

}  // namespace

// Through the bundle with its own idle timer running: states loaded and saved, saved states
// loaded back, parameters set by the host's editor thread, while blocks play.
TEST(PlayWhileLoading, TheBundleTakesStatesAndParametersWhilePlaying) {
  ScopedDataRoot root;
  const Kits kits = makeKits(true);
  auto plugin = loadBundle();
  ASSERT_TRUE(plugin);
  start(*plugin, kits.loud);
  std::atomic<bool> stop{false};
  std::vector<float> peaks;
  std::thread audio([&] { peaks = play(*plugin, stop, true); });
  int refused = 0;
  for (int round = 0; round < kRounds; ++round) {
    refused += plugin->setState(round % 2 ? kits.loud : kits.quiet) != kResultOk;
    std::vector<char> saved;
    refused += plugin->getState(saved) != kResultOk;
    if (round % 4 == 0) refused += plugin->setState(saved) != kResultOk;
    plugin->controller()->setParamNormalized(static_cast<vst::ParamID>(round * 7 % 117), (round % 9) / 8.0);
  }
  stop.store(true);
  audio.join();
  EXPECT_EQ(refused, 0);
  EXPECT_TRUE(allFinite(peaks));
  plugin->teardown();
}

// What the editor does as well: presets, undo and redo of sound edits, a sound imported onto a
// track, the randomiser and the idle work, all while blocks play.
TEST(PlayWhileLoading, PresetsUndoAndImportsWhilePlaying) {
  ScopedDataRoot root;
  const Kits kits = makeKits(true);
  const ManualTimers timers;
  Fennrake* plug = nullptr;
  auto plugin = adopt(plug);
  ASSERT_TRUE(plugin);
  start(*plugin, kits.loud);
  ASSERT_TRUE(testaudio::writeAudioFile(root.folder.file("tom.wav"), testaudio::AudioFileFormat::kWav16,
                                        {testaudio::tom(44100.0)}, 44100));
  std::atomic<bool> stop{false};
  std::vector<float> peaks;
  std::thread audio([&] { peaks = play(*plugin, stop, true); });
  int failed = 0;
  for (int round = 0; round < kRounds; ++round) {
    failed += !plug->LoadPresetFile(round % 2 ? kits.loudPreset : kits.quietPreset);
    plug->MirrorSelectedBlobs(round % 2);
    plug->Undo(-1);
    plug->Undo(1);
    if (round % 5 == 0) failed += !plug->ImportSoundFile(root.folder.path() + "/", "tom.wav", round % 2);
    if (round % 10 == 9) plug->Randomize(round % 4);
    iplug::Timer::FireAll();
    std::vector<char> saved;
    failed += plugin->getState(saved) != kResultOk;
    plugin->controller()->setParamNormalized(static_cast<vst::ParamID>(round * 5 % 117), (round % 7) / 6.0);
    plug->SetSequencerPlaying(round % 3 - 1);  // the editor's play button: on, off, toggle
  }
  stop.store(true);
  audio.join();
  EXPECT_EQ(failed, 0);
  EXPECT_TRUE(allFinite(peaks));
  plugin->teardown();
}

namespace {

// Notes of track 1 at full velocity in blocks 0 and 5; the peak of each of kLoudBlocks blocks.
constexpr int kLoudBlocks = 40;
testhost::EventList loudNotes(int block) {
  testhost::EventList events;
  if (block == 0 || block == 5) events.addNoteOn(0, 0, 36, 1.0f);
  return events;
}

float ownPeak(const std::vector<char>& state) {
  const ManualTimers timers;
  Fennrake* plug = nullptr;
  auto plugin = adopt(plug);
  start(*plugin, state);
  float peak = 0.0f;
  for (int block = 0; block < kLoudBlocks; ++block) {
    testhost::EventList events = loudNotes(block);
    plugin->process(kBlock, &events);
    peak = std::max(peak, blockPeak(*plugin));
  }
  plugin->teardown();
  return peak;
}

}  // namespace

// A host restores the quieter kit while the loud kick rings: the block that starts while the load
// has the engine is silent, the note sent with it plays in the next one, and nothing is louder
// than either kit plays on its own.
TEST(PlayWhileLoading, ALoadWhileALoudSoundPlaysMakesNoBurstAndOneSilentBlock) {
  ScopedDataRoot root;
  const Kits kits = makeKits();
  const float bound = std::max(ownPeak(kits.loud), ownPeak(kits.quiet));
  ASSERT_GT(bound, 0.1f);
  const ManualTimers timers;
  Fennrake* plug = nullptr;
  auto plugin = adopt(plug);
  start(*plugin, kits.loud);
  std::vector<float> peaks, secondBus;
  for (int block = 0; block < kLoudBlocks; ++block) {
    testhost::EventList events = loudNotes(block);
    if (block == 4) events.addNoteOn(0, 0, 37, 1.0f);  // track 2, only in the kit being loaded
    if (block != 4) {
      plugin->process(kBlock, &events);
    } else {
      // The load has the engine when the host's audio thread starts this block.
      const std::lock_guard<std::recursive_mutex> instance(plug->InstanceLock());
      const Fennrake::LoadHold load(*plug);
      std::thread([&] { plugin->process(kBlock, &events); }).join();
      ASSERT_EQ(plugin->setState(kits.quiet), kResultOk);
    }
    peaks.push_back(blockPeak(*plugin));
    secondBus.push_back(blockPeak(*plugin, 1));
  }
  EXPECT_EQ(peaks[4], 0.0f);
  EXPECT_EQ(secondBus[4], 0.0f);
  EXPECT_GT(secondBus[5], 0.01f);  // the note sent with the silent block waited for the next
  EXPECT_GT(peaks[3], 0.1f);
  EXPECT_GT(peaks[5], 0.01f);  // the kick still rings, now with the quiet kit's sound
  EXPECT_EQ(std::count(peaks.begin(), peaks.end(), 0.0f), 1);
  // The runtime's random generator runs on per thread, across instances, so separate runs
  // differ in their last bits; a burst is far beyond that.
  for (int block = 0; block < kLoudBlocks; ++block) EXPECT_LE(peaks[size_t(block)], 1.001f * bound) << block;
  plugin->teardown();
}

// A host saving the state on its own thread after every edit: no block goes silent, and every
// saved state loads back.
TEST(PlayWhileLoading, SavingWhilePlayingSilencesNoBlockAndLoadsBack) {
  ScopedDataRoot root;
  const Kits kits = makeKits();
  auto plugin = loadBundle();
  ASSERT_TRUE(plugin);
  start(*plugin, kits.loud);
  std::atomic<bool> done{false};
  std::vector<float> peaks;
  std::thread audio([&] {
    for (int block = 0; block < 4 * kMinBlocks; ++block) {
      testhost::EventList events;
      if (block % 2 == 0) events.addNoteOn(0, 0, 36, 1.0f);
      testhost::ParameterChanges changes;
      changes.add(1, 0, 0.3 + 0.4 * (block % 5) / 4.0);  // track 1's pan moves while it saves
      plugin->process(kBlock, &events, &changes);
      peaks.push_back(blockPeak(*plugin));
    }
    done.store(true);
  });
  std::vector<std::vector<char>> saved;  // the first three and the last
  int saves = 0;
  for (; !done.load(); ++saves) {
    std::vector<char> bytes;
    EXPECT_EQ(plugin->getState(bytes), kResultOk);
    if (saved.size() < 4) saved.emplace_back();
    saved.back().swap(bytes);
  }
  audio.join();
  EXPECT_GT(saves, 1);
  EXPECT_EQ(std::count(peaks.begin(), peaks.end(), 0.0f), 0);
  auto other = loadBundle();
  ASSERT_TRUE(other);
  start(*other, kits.quiet);
  for (const std::vector<char>& bytes : saved) EXPECT_EQ(other->setState(bytes), kResultOk);
  other->teardown();
  plugin->teardown();
}

// Host automation that arrives while a load has the engine is not lost: the next block that
// renders takes it.
TEST(PlayWhileLoading, AutomationThatMeetsALoadIsTakenByTheNextBlock) {
  InProcess instance;
  Fennrake* plug = instance.plug;
  HostedPlugin* plugin = instance.plugin.get();
  ASSERT_TRUE(plugin);
  const Param& amp = plug->mBandSynth.params[BandSynth::trackParam(0, TrackParam::kAmp)];
  const float before = amp.value;
  testhost::ParameterChanges changes;
  changes.add(0, 0, 0.25);  // "Track 1 Amp"
  {
    const std::lock_guard<std::recursive_mutex> host(plug->InstanceLock());
    const Fennrake::LoadHold load(*plug);
    std::thread([&] { plugin->process(kBlock, nullptr, &changes); }).join();
    EXPECT_EQ(amp.value, before);
  }
  plugin->process(kBlock);
  EXPECT_FLOAT_EQ(plug->mBandSynth.params[BandSynth::trackParam(0, TrackParam::kAmp)].toNormalized(amp.value), 0.25f);
  EXPECT_NE(amp.value, before);
  plugin->teardown();
}

// Processing switched off (a reset at the same rate, which may come on the audio thread) while a
// load has the engine waits for nothing: the next block that renders silences the voices.
TEST(PlayWhileLoading, AResetThatMeetsALoadSilencesTheVoicesWithTheNextBlock) {
  InProcess instance;
  Fennrake* plug = instance.plug;
  HostedPlugin* plugin = instance.plugin.get();
  ASSERT_TRUE(plugin);
  testhost::EventList note = loudNotes(0);
  plugin->process(kBlock, &note);
  const DrumTrack& track = plug->mBandSynth.tracks[0];
  auto sounding = [&] {
    return std::count_if(std::begin(track.voices), std::end(track.voices),
                         [](const DrumVoice& v) { return v.state != DrumVoice::kIdle; });
  };
  ASSERT_GT(sounding(), 0);
  {
    const std::lock_guard<std::recursive_mutex> host(plug->InstanceLock());
    const Fennrake::LoadHold load(*plug);
    std::thread([&] { plug->Reset(static_cast<float>(kRate)); }).join();
    EXPECT_GT(sounding(), 0);
  }
  plugin->process(kBlock);
  EXPECT_EQ(sounding(), 0);
  plugin->teardown();
}

// The editor's knobs move while blocks play with host automation and modulation: the values the
// editor sets are read by every control pass, and both threads ask for values, so a value read
// or written in pieces fails the ThreadSanitizer run.
TEST(PlayWhileLoading, TheEditorsKnobsMoveWhileBlocksPlay) {
  InProcess instance(true, false);  // the quiet kit: its LFOs loop
  Fennrake* plug = instance.plug;
  HostedPlugin* plugin = instance.plugin.get();
  ASSERT_TRUE(plugin);
  std::atomic<bool> stop{false};
  std::vector<float> peaks;
  std::thread audio([&] { peaks = play(*plugin, stop, true); });
  for (int round = 0; round < 8 * kRounds; ++round)
    plug->SendParameterValueFromUI(round * 13 % 117, (round % 9) / 8.0);
  stop.store(true);
  audio.join();
  EXPECT_TRUE(allFinite(peaks));
  plugin->teardown();
}
