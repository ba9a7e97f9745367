// Block processing: sub-blocks at the engine's control boundaries, host MIDI, the transport
// keys, the sequencer in time and in step with the host, the outputs and the FPU mode.
#include <xmmintrin.h>

#include <random>

#include "support/AllocationCounter.h"
#include "tests/plugin/FennrakeTestKit.h"
#include "tools/testhost/HostedPlugin.h"

class FennrakeProcess : public FennrakeTest {
 protected:
  void SetUp() override { plug->Reset(48000.0f); }
  float Bend() { return plug->mBandSynth.controllers[0][BandSynth::kPitchBend]; }
  void Transport(double ppq, bool running, double tempo = 120.0) {
    ITimeInfo time;
    time.mTempo = tempo, time.mPPQPos = ppq, time.mTransportIsRunning = running;
    plug->SetTimeInfo(time);
  }
};

TEST_F(FennrakeProcess, SubBlocksNeverCrossAControlBoundary) {
  std::mt19937 random(7);
  for (int i = 0; i < 300; ++i) {
    const int n = i < 6 ? std::vector<int>{1, 63, 64, 65, 4096, 0}[size_t(i)] : int(random() % 4096) + 1;
    int pieces = n > 0 ? 1 : 0;  // a cut wherever a 64-frame control period ends inside the block
    for (int end = plug->mBandSynth.controlCountdown > 0 ? plug->mBandSynth.controlCountdown : 64; end < n; end += 64) ++pieces;
    const int calls = plug->mBandSynth.renderCalls;
    ASSERT_LT(Render(n), 1e6f);
    EXPECT_EQ(plug->mBandSynth.renderCalls - calls, pieces) << n;
  }
}

TEST_F(FennrakeProcess, MidiQueueOrderCarryOverAndTranslation) {
  auto bend = [&](int offset, int value) { Midi(offset, 0xE0, value & 0x7F, value >> 7); };
  bend(10, 0x1000), bend(10, 0x3000);  // the same offset: arrival order, the later wins
  bend(30, 0x0000), bend(20, 0x2000);  // arrived later but earlier: handled first
  bend(600, 0x2000);                   // frame 88 of the second block
  // A message waits for the first control pass at or after its frame: none in the first block,
  // which holds only the pass at frame 0.
  for (const auto& [n, expected] : {std::pair<int, float>{64, 0.0f}, {448, -1.0f}, {0, -1.0f}, {88, -1.0f}, {1, 0.0f}}) {
    Render(n);
    EXPECT_EQ(Bend(), expected) << n;
  }
  for (int i = 0; i < 600; ++i) bend(4000 - i, i == 0 ? 0x2000 : 0x3FFF);  // beyond the first capacity
  Midi(0, 0xF0, 1, 2);                                                     // system messages are not queued
  Render(4096);
  EXPECT_EQ(Bend(), 0.0f);  // the first arrival has the latest offset: handled last
  EXPECT_TRUE(plug->mMidiQueue.Empty());
  const struct { int status, data1, data2, controller; float value; } rows[] = {{0xE3, 0, 0, BandSynth::kPitchBend, -1.0f}, {0xE3, 0x7F, 0x7F, BandSynth::kPitchBend, 8191.0f / 8192.0f},
                    {0xB3, 1, 127, BandSynth::kModWheel, 1.0f}, {0xD3, 64, 0, BandSynth::kChannelPressure, 64.0f / 127.0f}};
  for (const auto& r : rows) {
    Midi(0, r.status, r.data1, r.data2);
    Render(16);
    EXPECT_FLOAT_EQ(plug->mBandSynth.controllers[3][r.controller], r.value) << r.status;
  }
  Midi(0, 0x94, 38, 90), Midi(0, 0xA4, 38, 127);  // track 2 on channel 5, then its pressure
  Render(16);
  const DrumVoice& voice = plug->mBandSynth.tracks[2].voices[0];
  EXPECT_EQ(std::vector<float>({float(voice.channel), voice.velocity * 127.0f, voice.polyPressure}),
            std::vector<float>({4.0f, 90.0f, 1.0f}));
}

TEST_F(FennrakeProcess, TransportKeysWhileNoSynthTrackIsChosen) {
  const int rows[][4] = {  // status, note, velocity, playing afterwards
      {0x90, 33, 100, 1}, {0x80, 33, 0, 0}, {0x90, 45, 0, 0},  // held to play; velocity 0 ends it too
      {0x90, 34, 0, 1},   {0x80, 34, 0, 1},                    // starts on any velocity; no note-off
      {0x90, 35, 64, 0},  {0x90, 32, 64, 0}};                  // stops; pitch class 8 is nothing
  for (const auto& r : rows) {
    Midi(0, r[0], r[1], r[2]), Render(8);
    EXPECT_EQ(plug->mSeqPlaying.load(), r[3]) << r[1];
  }
  Engine(BandSynth::synthParam(SynthParam::kSynthTrack)).setValue(0.0f);
  Midi(0, 0x90, 34, 100);
  Render(8);
  EXPECT_EQ(std::make_pair(int(plug->mSeqPlaying.load()), int(plug->mBandSynth.tracks[0].voices[0].note)), std::make_pair(0, 34));  // a note now
}

TEST_F(FennrakeProcess, SequencerNotesLandInTheSubBlockOfTheirTime) {
  // Lane n plays note 36 + n, which goes to track n: the first lane and one further up.
  for (int lane : {0, 3}) {
    FennrakePtr p(new Fennrake);
    p->Reset(48000.0f);
    const int starts[] = {4 * 1024 + 100, 8 * 1024 + 300, 12 * 1024 + 700};  // ticks, off the 64-frame grid
    for (int i = 0; i < 3; ++i) p->mSequencer.addNote(lane, starts[i], 512, uint8_t(100 - 10 * i));
    p->SetSequencerPlaying(1);
    Render(64, p.get());  // the start's block leaves the sequencer at step 0; its time runs from the next
    for (int block = 0, next = 0; next < 3; ++block) {
      Render(64, p.get());
      const int due = int(starts[next] / 1024.0 * 6000.0 / 64.0);  // 6000 frames a step at 120 BPM
      const bool played = std::fabs(p->mBandSynth.tracks[lane].lastVelocity * 127.0f - float(100 - 10 * next)) < 1e-3f;
      ASSERT_EQ(played, block >= due) << "lane " << lane << " note " << next << " block " << block;
      next += played ? 1 : 0;
    }
  }
}

TEST_F(FennrakeProcess, HostSyncNudgesSmallDifferencesAndJumpsLargeOnes) {
  plug->mSequencer.params[Sequencer::kHostSync].setValue(1.0f);
  Transport(0.25, true);
  Render(512), Render(512);  // the host's start plays and restarts the sequencer
  const double block = 512.0 / 6000.0;  // in steps
  const double rows[][3] = {  // steps the host is ahead, position after a block from step 4, tempo
      {0.4, 4 + block * 1.25, 120}, {-0.4, 4 + block * 0.75, 120}, {0.6, 4.6 + block, 120}, {-0.6, 3.4 + block, 120},
      {9, 13 + block, 120} /* -7: jumps */, {-9, 11 + block, 120}, {0.2, 4 + block, 0} /* no tempo, no nudge */};
  for (const auto& r : rows) {
    plug->mSequencer.setPosition(4.0);
    Transport((4.0 + r[0]) / 4.0, true, r[2]);
    Render(512);
    EXPECT_NEAR(plug->mSequencer.position, r[1], 1e-6) << r[0];
  }
  Transport(1.5, false);  // the host's stop stops the sequencer without a restart
  Render(64);
  EXPECT_EQ(std::make_pair(int(plug->mSeqPlaying.load()), int(plug->mSeqStarted.load())), std::make_pair(0, 1));
}

TEST_F(FennrakeProcess, SilenceBeforeTheFirstResetAndTheFpuModeAfterEveryReturn) {
  FennrakePtr fresh(new Fennrake);
  const unsigned mode = _mm_getcsr();
  _mm_setcsr((mode & ~0x8040u) | 0x6000u);  // no flushing, rounding towards zero
  const unsigned caller = _mm_getcsr();
  fresh->ProcessMidiMsg(IMidiMsg(0, 0x90, 36, 100));
  EXPECT_EQ(Render(64, fresh.get()), 0.0f);  // nothing prepared yet, and no note waits
  EXPECT_TRUE(fresh->mMidiQueue.Empty());
  fresh->ProcessBlock(nullptr, nullptr, 64);
  const unsigned afterEarlyReturns = _mm_getcsr();
  Render(0), Render(64);
  const unsigned afterRendering = _mm_getcsr();
  _mm_setcsr(mode);
  EXPECT_EQ(std::make_pair(afterEarlyReturns, afterRendering), std::make_pair(caller, caller));
  const std::string info = fresh->GetProductInfoText() + plug->GetProductInfoText();  // both saw blocks of 64
  EXPECT_NE(info.find("Buffersize: 64\r\nSamplerate: 0\r\nChannels: 18\r\n(hit"), std::string::npos) << info;
  EXPECT_NE(info.find("Buffersize: 64\r\nSamplerate: 48000\r\n"), std::string::npos);
}

// An instance linked in and driven through the binding as a host does: initialised, output buses
// switched on as asked, set up at 48 kHz for blocks of n frames, active and processing.
std::unique_ptr<testhost::HostedPlugin> startThroughTheBinding(Fennrake*& fennrake, int blockSize, bool (*busOn)(int)) {
  fennrake = new Fennrake;
  std::string error;
  auto plugin = testhost::HostedPlugin::adopt(static_cast<Steinberg::Vst::IAudioProcessor*>(fennrake), error);
  EXPECT_TRUE(plugin) << error;
  if (!plugin) return plugin;
  plugin->initialize();
  for (int bus = 0; bus < 9; ++bus) plugin->activateBus(Steinberg::Vst::kAudio, Steinberg::Vst::kOutput, bus, busOn(bus));
  plugin->setupProcessing(48000.0, blockSize);
  plugin->setActive(true), plugin->setProcessing(true);
  return plugin;
}

// Through the binding: a gap in the active buses still fills every host buffer (each pre-filled
// with NaN), and blocks with host events, changes and transport, cut in pieces, allocate nothing.
TEST(FennrakeBuses, AGapInTheActiveBusesStillFillsEveryHostBufferAndPlayingAllocatesNothing) {
  ScopedDataRoot root;
  ManualTimers timers;
  Fennrake* fennrake = nullptr;
  auto plugin = startThroughTheBinding(fennrake, 256, [](int bus) { return bus != 1; });
  ASSERT_TRUE(plugin);
  Steinberg::Vst::ProcessData data = plugin->blockData(256);
  for (int i = 0; i < 9 * 2 * 256; ++i) data.outputs[i / 512].channelBuffers32[i / 256 % 2][i % 256] = NAN;
  ASSERT_EQ(plugin->process(data), Steinberg::kResultOk);
  for (int i = 0; i < 9 * 2 * 256; ++i)
    ASSERT_EQ(std::isnan(data.outputs[i / 512].channelBuffers32[i / 256 % 2][i % 256]), i / 512 == 1) << i;
  fennrake->mSequencer.addNote(1, 0, 1024, 100);
  fennrake->SetSequencerPlaying(1);
  testhost::EventList events;
  for (int i = 0; i < 8; ++i) events.addNoteOn(i * 97, int16_t(i % 3), int16_t(36 + i), 0.8f);
  testhost::ParameterChanges changes;
  for (Steinberg::Vst::ParamID tag : {0u, 7u, 65538u + 1, 65667u, 65536u}) changes.add(tag, 5, 0.4);
  Steinberg::Vst::ProcessContext context{};
  context.state = Steinberg::Vst::ProcessContext::kPlaying | Steinberg::Vst::ProcessContext::kTempoValid, context.tempo = 130.0;
  plugin->process(1000, &events, &changes, &context);  // lays out the host's buffers first
  AllocationCounter counter;
  for (int block = 0; block < 20; ++block) plugin->process(1000, &events, &changes, &context);  // in pieces of 256
  EXPECT_EQ(counter.count(), 0);
}

// The engine's transport: the host's position and play state while its transport runs; else the
// sequencer's own free-running position (a quarter note every four steps) and whether it plays.
TEST_F(FennrakeProcess, EngineTransportFollowsTheHostElseTheFreeRunningSequencer) {
  Transport(5.5, true, 100.0);
  Render(64);
  EXPECT_EQ(std::make_pair(plug->mBandSynth.beatPosition, plug->mBandSynth.playing), std::make_pair(5.5, true));
  plug->SetSequencerPlaying(1);
  Transport(5.5, false);
  std::vector<double> seen;
  for (int block = 0; block < 8; ++block) {
    const double free = plug->mSequencer.freePosition;
    Render(64);
    EXPECT_EQ(std::make_pair(plug->mBandSynth.beatPosition, plug->mBandSynth.playing), std::make_pair(free / 4.0, true));
    seen.push_back(plug->mBandSynth.beatPosition);
  }
  EXPECT_LT(seen.front(), seen.back());  // it runs
  plug->SetSequencerPlaying(0);
  Render(64);
  const double free = plug->mSequencer.freePosition;
  Render(64);
  EXPECT_EQ(std::make_pair(plug->mBandSynth.beatPosition, plug->mBandSynth.playing), std::make_pair(free / 4.0, false));
}

// Through the binding: host MIDI that arrives while bypassed, and a note the last block before
// left for later, are dropped rather than saved up: nothing grows meanwhile, and nothing fires
// at once when the bypass ends.
TEST(FennrakeBypass, MidiWhileBypassedIsDroppedNotSavedUp) {
  ScopedDataRoot root;
  ManualTimers timers;
  Fennrake* fennrake = nullptr;
  auto plugin = startThroughTheBinding(fennrake, 512, [](int) { return true; });
  ASSERT_TRUE(plugin);
  const int capacity = fennrake->mMidiQueue.Capacity();
  auto bypass = [&](double value, testhost::EventList* events) {
    testhost::ParameterChanges changes;
    changes.add(65536, 0, value);
    return plugin->process(512, events, &changes);
  };
  testhost::EventList late;
  late.addNoteOn(500, 0, 36, 1.0f);  // after the block's last control pass: waits for the next block
  ASSERT_EQ(bypass(0.0, &late), Steinberg::kResultOk);
  ASSERT_FALSE(fennrake->mMidiQueue.Empty());
  testhost::EventList many;
  for (int i = 0; i < 3 * capacity; ++i) many.addNoteOn(i % 512, 0, int16_t(36 + i % 8), 1.0f);
  for (int block = 0; block < 4; ++block) ASSERT_EQ(bypass(1.0, &many), Steinberg::kResultOk);
  EXPECT_EQ(fennrake->mMidiQueue.Capacity(), capacity);
  EXPECT_TRUE(fennrake->mMidiQueue.Empty());
  float peak = 0.0f;
  for (int block = 0; block < 8; ++block) {
    ASSERT_EQ(bypass(0.0, nullptr), Steinberg::kResultOk);
    for (int bus = 0; bus < 9; ++bus)
      for (int i = 0; i < 2 * 512; ++i) peak = std::max(peak, std::fabs(plugin->output(bus, i / 512)[i % 512]));
  }
  EXPECT_EQ(peak, 0.0f);
}
