// The audio half of the binding: what a host's block becomes inside the plug-in.
#include "tests/plugin/vst3/Vst3TestKit.h"

using iplug::IMidiMsg;

TEST_F(Vst3InProcess, ControllerTagsAndHostEventsBecomeMidiMessages) {
  // A controller's tag and value, and the message that arrives (status, data 1, data 2); empty: none.
  const struct { ParamID tag; double value; std::vector<uint8_t> msg; } tags[] = {
      {65538 + 7, 0.5, {0xB0, 7, 63}}, {65538 + 130 * 3 + 7, 0.5, {0xB3, 7, 63}}, {65667, 0.0, {0xE0, 0, 0}},
      {65667, 0.5, {0xE0, 0, 0x40}},   {65538 + 130 * 15 + 129, 1.0, {0xEF, 0x7F, 0x7F}},
      {65666, 1.0, {0xD0, 127, 0}},    {65539, 1.7, {0xB0, 1, 127}}, {65539, -0.2, {0xB0, 1, 0}},
      {65539, kNaN, {}},               {65538 + 130 * 16, 0.5, {}},   {65537, 0.5, {}},
      {4, 0.5, {}},                    {0xFFFFFFFF, 0.5, {}},
  };
  for (const auto& c : tags) {
    synth->midi.clear(), synth->midiUI.clear();
    testhost::ParameterChanges changes;
    changes.add(c.tag, 9, c.value);
    ASSERT_EQ(plugin->process(32, nullptr, &changes), kResultOk);
    ASSERT_EQ(synth->midi.size(), c.msg.empty() ? 0u : 1u) << c.tag;
    if (c.msg.empty()) continue;
    EXPECT_EQ(synth->midi[0], IMidiMsg(9, c.msg[0], c.msg[1], c.msg[2])) << c.tag << " " << c.value;
    iplug::Timer::FireAll();
    EXPECT_EQ(synth->midiUI, synth->midi);  // the editor hears them too
  }
  auto event = [](uint16 type, int16 channel, int16 pitch, float value, int32 offset = 0, int32 bus = 0) {
    Event e{};
    e.busIndex = bus, e.sampleOffset = offset, e.type = type;
    // Note-on, note-off and poly pressure all start with channel and pitch; the value follows.
    if (type == Event::kPolyPressureEvent) e.polyPressure = {channel, pitch, value, -1};
    else e.noteOn = {channel, pitch, 0.0f, value, 0, -1};
    return e;
  };
  const struct { Event in; std::vector<uint8_t> msg; int32 offset = 0; } events[] = {
      {event(Event::kNoteOnEvent, 0, 60, 0.5f, 5), {0x90, 60, 63}, 5},
      {event(Event::kNoteOnEvent, 15, 127, 0.0f, -7), {0x9F, 127, 0}, 0},
      {event(Event::kNoteOnEvent, 0, 60, float(kNaN), 999), {0x90, 60, 0}, 31},
      {event(Event::kNoteOffEvent, 2, 61, 0.9f), {0x82, 61, 0}},
      {event(Event::kPolyPressureEvent, 0, 60, 1.5f), {0xA0, 60, 127}},
      {event(Event::kNoteOnEvent, 16, 60, 0.5f), {}},
      {event(Event::kNoteOnEvent, 0, 128, 0.5f), {}},
      {event(Event::kNoteOnEvent, 0, 60, 0.5f, 0, 1), {}},  // a bus there is none of
  };
  for (const auto& c : events) {
    synth->midi.clear();
    testhost::EventList list;
    Event e = c.in;
    list.addEvent(e);
    ASSERT_EQ(plugin->process(32, &list), kResultOk);
    EXPECT_EQ(synth->midi, c.msg.empty() ? std::vector<IMidiMsg>{} : std::vector<IMidiMsg>{IMidiMsg(c.offset, c.msg[0], c.msg[1], c.msg[2])});
  }
  // The editor's messages are played in the next block, even when the host sends no events.
  synth->midi.clear();
  synth->PushMidiMsgToProcessor(IMidiMsg(0, 0x90, 64, 100));
  ASSERT_EQ(plugin->process(32), kResultOk);
  EXPECT_EQ(synth->midi, std::vector<IMidiMsg>{IMidiMsg(0, 0x90, 64, 100)});
  EXPECT_FALSE(synth->SendMidiMsg(IMidiMsg(0, 0x90, 64, 100)));  // no MIDI out: dropped, never queued for ever
}

TEST_F(Vst3InProcess, HostGainChangesTakeEffectAtEveryOffset) {
  for (int32 offset = 0; offset < 64; ++offset) {
    testhost::EventList events;
    events.addNoteOn(0, 0, 60, 1.0f);
    testhost::ParameterChanges changes;
    changes.add(0, 0, 0.1);  // passed over: only the last point of a queue counts
    changes.add(0, offset, 0.25);
    ASSERT_EQ(plugin->process(64, &events, &changes), kResultOk);
    EXPECT_EQ(synth->log.back(), "change 0 1 " + std::to_string(offset));
    for (int n = 0; n < 64; ++n) ASSERT_EQ(plugin->output(0, 0)[n], n < offset ? 0.8f : 0.25f) << offset;
    changes.clear();
    changes.add(0, 0, 0.8);
    ASSERT_EQ(plugin->process(1, nullptr, &changes), kResultOk);
  }
  // A host block longer than the prepared size is rendered in pieces, each change at its frame.
  ASSERT_EQ(plugin->setupProcessing(48000.0, 64), kResultOk);
  testhost::EventList events;
  events.addNoteOff(0, 0, 60), events.addNoteOn(130, 0, 60, 1.0f);
  testhost::ParameterChanges changes;
  changes.add(0, 170, 0.5);
  ASSERT_EQ(plugin->process(200, &events, &changes), kResultOk);
  for (int n = 0; n < 200; ++n) ASSERT_EQ(plugin->output(0, 1)[n], n < 130 ? 0.0f : (n < 170 ? 0.8f : 0.5f)) << n;
}

TEST_F(Vst3InProcess, SilenceFlagsSampleSizesAndBuffersThatDoNotFit) {
  testhost::EventList note;
  note.addNoteOn(0, 0, 60, 1.0f);
  ProcessData data = plugin->blockData(64);
  data.inputEvents = &note;
  data.outputs[0].silenceFlags = data.outputs[1].silenceFlags = ~uint64{0};
  ASSERT_EQ(plugin->process(data), kResultOk);
  EXPECT_EQ(data.outputs[0].silenceFlags, 0u);           // sound: the host's stale claim is cleared
  EXPECT_EQ(data.outputs[1].silenceFlags, ~uint64{0});  // the bus the host switched off: left alone
  data = plugin->blockData(64);
  data.symbolicSampleSize = kSample64;  // not what was set up: the buffers are not trusted, nothing is processed
  ASSERT_EQ(plugin->process(data), kResultOk);
  EXPECT_EQ(plugin->output(0, 0)[0], HostedPlugin::kUntouched);
  // Bus and channel counts beyond the declared ones, and null pointers, are never followed.
  float left[64] = {};
  float* channels[2] = {left, nullptr};
  AudioBusBuffers buses[2] = {};
  buses[0].numChannels = 40;
  buses[0].channelBuffers32 = channels;
  data.symbolicSampleSize = kSample32;
  data.outputs = buses;
  data.numOutputs = 7;
  ASSERT_EQ(plugin->process(data), kResultOk);
  EXPECT_EQ(left[63], 0.8f);
  left[63] = 0.0f;
  data.outputs = nullptr;  // the last block's buffers are the host's no more: nothing writes there
  data.numOutputs = 2;
  EXPECT_EQ(plugin->process(data), kResultOk);
  EXPECT_EQ(left[63], 0.0f);
}

TEST_F(Vst3InProcess, TransportFromTheProcessContext) {
  const iplug::ITimeInfo& t = synth->GetTimeInfo();
  ProcessContext context{};
  context.state = ProcessContext::kPlaying | ProcessContext::kProjectTimeMusicValid;
  context.tempo = 98.5, context.timeSigNumerator = 7, context.timeSigDenominator = 8, context.projectTimeSamples = 4800;
  ASSERT_EQ(plugin->process(16, nullptr, nullptr, &context), kResultOk);
  ASSERT_EQ(plugin->process(16), kResultOk);  // the last context stays in force
  EXPECT_TRUE(t.mTempo == 98.5 && t.mNumerator == 7 && t.mDenominator == 8 && t.mSamplePos == 4800.0);
  EXPECT_TRUE(t.mTransportIsRunning && !t.mTransportLoopEnabled);
  context = ProcessContext{};  // a tempo of 0 and a 0/0 signature would be divided by
  ASSERT_EQ(plugin->process(16, nullptr, nullptr, &context), kResultOk);
  EXPECT_TRUE(t.mTempo == 120.0 && t.mNumerator == 4 && t.mDenominator == 4 && t.mSamplePos == -1.0);
}

// Hosts send v / 127 as a float: every velocity and pressure arrives as the v it was, and the
// softest note sounds instead of ending the note.
TEST_F(Vst3InProcess, EveryVelocityAndPressureArrivesAsSent) {
  for (int v = 0; v < 128; ++v) {
    synth->midi.clear();
    testhost::EventList list;
    list.addNoteOn(3, 0, 60, static_cast<float>(v) / 127.f);
    Event pressure{};
    pressure.type = Event::kPolyPressureEvent, pressure.sampleOffset = 4;
    pressure.polyPressure = {0, 61, static_cast<float>(v) / 127.f, -1};
    list.addEvent(pressure);
    ASSERT_EQ(plugin->process(32, &list), kResultOk);
    ASSERT_EQ(synth->midi, (std::vector<IMidiMsg>{IMidiMsg(3, 0x90, 60, uint8_t(v)), IMidiMsg(4, 0xA0, 61, uint8_t(v))})) << v;
  }
  testhost::EventList soft;
  soft.addNoteOn(0, 0, 60, 1.0f / 127.f);
  ASSERT_EQ(plugin->process(64, &soft), kResultOk);
  EXPECT_FLOAT_EQ(plugin->output(0, 0)[63], kLevel / 127.0f);
}

// Each piece of a block longer than the prepared size hears the transport where that piece
// starts; a stopped transport stays put.
TEST_F(Vst3InProcess, ALongBlockMovesTheTransportOnPieceByPiece) {
  ASSERT_EQ(plugin->setupProcessing(48000.0, 64), kResultOk);
  ProcessContext context{};
  context.tempo = 150.0, context.projectTimeMusic = 8.0, context.projectTimeSamples = 96000;
  for (bool running : {true, false}) {
    context.state = ProcessContext::kProjectTimeMusicValid | ProcessContext::kTempoValid | (running ? ProcessContext::kPlaying : 0);
    synth->times.clear();
    ASSERT_EQ(plugin->process(200, nullptr, nullptr, &context), kResultOk);
    ASSERT_EQ(synth->times.size(), 4u);  // 64, 64, 64 and 8 frames
    for (size_t k = 0; k < 4; ++k) {
      const double frames = running ? 64.0 * static_cast<double>(k) : 0.0;
      EXPECT_DOUBLE_EQ(synth->times[k].mPPQPos, 8.0 + frames / 48000.0 * 150.0 / 60.0) << k;
      EXPECT_EQ(synth->times[k].mSamplePos, 96000.0 + frames) << k;
      EXPECT_EQ(synth->times[k].mTransportIsRunning, running);
    }
    ASSERT_EQ(plugin->process(16, nullptr, nullptr, &context), kResultOk);  // the next block: the host's position again
    EXPECT_EQ(synth->times.back().mPPQPos, 8.0);
  }
}
