// Saved state and presets: round trips, version gates, large states, damaged chunks and files.
#include <cstring>
#include <filesystem>
#include <random>

#include "plugin/files/FileUtils.h"
#include "plugin/files/UserDataPaths.h"
#include "tests/plugin/FennrakeTestKit.h"
#include "tools/testhost/HostedPlugin.h"

namespace {

const std::string kNotRecognized = "The saved data is not recognized, possibly corrupted data.";
const std::string kTooOld = "This preset is too old to open with your version of Oskra, sorry!";
#if defined(__SANITIZE_ADDRESS__)
constexpr size_t kTruncationStride = 5;  // each truncation is a whole load under the sanitizer
#else
constexpr size_t kTruncationStride = 1;
#endif

// Parameters, sounds with long names (one analysed and edited, one switched off), a pattern and
// a preset name.
void makeNonDefault(Fennrake& p, size_t nameLength) {
  p.mBandSynth.params[BandSynth::trackParam(0, TrackParam::kPan)].setValue(-40.0f);
  p.mBandSynth.params[BandSynth::rowParam(1, 1)].setValue(-0.25f);  // "Mod2 Amount"
  p.mBandSynth.params[BandSynth::synthParam(SynthParam::kSynthTrack)].setValue(6.0f);
  for (int t = 0; t < BandSynth::kTrackCount; ++t)
    for (Blob& blob : p.mBandSynth.tracks[t].blobs) blob.name = std::string(nameLength, char('a' + t));
  ASSERT_TRUE(p.mBandSynth.tracks[1].blobs[0].analyze(testaudio::kick(44100.0), 44100.0f, true, 0));
  p.mBandSynth.tracks[1].blobs[0].modified = 1;
  p.mBandSynth.tracks[2].blobs[1].present = 0;
  p.mSequencer.addNote(3, 5 * 1024, 2048, 77);
  p.mPresetName = "My Kit";
}

std::string message(Fennrake& p) {
  std::string text;
  return p.TakeMessage(text), text;
}

}  // namespace

using FennrakeState = FennrakeTest;

// Sounds with 4000-byte names make a state of more than 64 KB.
TEST_F(FennrakeState, RoundTripThroughASecondInstanceIsByteIdentical) {
  makeNonDefault(*plug, 4000);
  const std::vector<uint8_t> written = State();
  ASSERT_GT(written.size(), 65536u);
  FennrakePtr second(new Fennrake);
  ASSERT_EQ(second->ReadState(written.data(), int(written.size())), int(written.size()));
  EXPECT_EQ(State(second.get()), written);
  EXPECT_EQ(second->mPresetName, "My Kit");      // written modified: read back modified,
  EXPECT_EQ(second->mChangeCount.load(), 100);  // the name without its mark
  EXPECT_EQ(second->mSelectedTrack, 6);
  EXPECT_EQ(second->GetParam(103)->Value(), -0.25);  // the host parameter follows
  IByteChunk chunk;  // the host's chunk and a preset file hold all of it
  ASSERT_TRUE(plug->SerializeState(chunk));
  EXPECT_EQ(std::vector<uint8_t>(chunk.GetData(), chunk.GetData() + chunk.Size()), written);
  ASSERT_TRUE(plug->SavePresetFile(GetPresetsPath() + "big.oskra"));
  EXPECT_EQ(int(ReadFileBytes((GetPresetsPath() + "big.oskra").c_str()).size()), plug->WriteState(nullptr, 0));  // named "big" now
}

TEST_F(FennrakeState, VersionGates) {
  plug->mPresetName = "Kit";
  plug->mChangeCount = 0;
  plug->mSeqChangeMark = plug->mSequencer.changeCount.load();
  const std::vector<uint8_t> chunk = State();
  const std::tuple<int32_t, bool, std::string, const char*> rows[] = {  // version, with name, message, name
      {2307, false, kTooOld, "before"}, {2308, false, "", ""}, {65552, false, "", ""}, {65553, true, "", "Kit"},
      {0x20001, true, "This preset was created with a newer version of Oskra. You need to upgrade to load this.", "before"}};
  for (const auto& [version, withName, text, name] : rows) {
    FennrakePtr reader(new Fennrake);
    reader->mPresetName = "before";
    std::vector<uint8_t> bytes(chunk.begin(), chunk.end() - (withName ? 0 : 4));  // "Kit" and its NUL
    std::memcpy(bytes.data() + 12, &version, 4);
    EXPECT_EQ(reader->ReadState(bytes.data(), int(bytes.size())), text.empty() ? int(bytes.size()) : 0) << version;
    EXPECT_EQ(message(*reader) + "|" + reader->mPresetName, text + "|" + name) << version;
  }
  for (long length : {0, 5, 11, 12}) {  // 12: ends right after the marker, the version reads 0
    EXPECT_EQ(plug->ReadState(chunk.data(), int(length)), 0);
    EXPECT_EQ(message(*plug), length < 12 ? kNotRecognized : kTooOld) << length;
  }
  EXPECT_EQ(State(), chunk);
}

TEST_F(FennrakeState, DamagedChunksNeverCrashAndRefusedOnesChangeNothing) {
  FennrakePtr source(new Fennrake);
  makeNonDefault(*source, 20);
  // One sound (the edited one) is enough; switched-off slots keep the chunk and each load small.
  for (DrumTrack& track : source->mBandSynth.tracks)
    for (Blob& blob : track.blobs) blob.present = &blob == &source->mBandSynth.tracks[1].blobs[0] ? 1 : 0;
  const std::vector<uint8_t> chunk = State(source.get());
  plug->Reset(48000.0f);
  plug->mPresetName = "mine";
  std::vector<uint8_t> before = State();
  for (size_t length = 0; length < chunk.size(); length += length < 64 || length + 64 > chunk.size() ? 1 : kTruncationStride) {
    IByteChunk cut;
    cut.PutBytes(chunk.data(), int(length));
    ASSERT_EQ(plug->UnserializeState(cut, 0), -1) << length;
    ASSERT_EQ(State(), before) << length;
  }
  std::mt19937 random(42);
  std::vector<std::vector<uint8_t>> damaged(250, chunk);
  for (int trial = 0; trial < 200; ++trial)  // flipped bytes
    for (int k = 0, flips = 1 + int(random() % 8); k < flips; ++k) damaged[trial][random() % chunk.size()] ^= uint8_t(1 + random() % 255);
  for (int trial = 200; trial < 250; ++trial)  // noise behind a valid marker and version
    for (size_t k = 16; k < chunk.size(); ++k) damaged[trial][k] = uint8_t(random());
  damaged.push_back(chunk);  // every parameter non-finite
  const float nonFinite[] = {NAN, INFINITY, -INFINITY};
  for (int i = 0; i < BandSynth::kParamCount; ++i) std::memcpy(&damaged.back()[18 + 4 * i], &nonFinite[i % 3], 4);
  const size_t sequencerBlock = 16 + size_t(source->mBandSynth.serialize(nullptr, 0));
  const std::pair<size_t, uint8_t> counts[] = {
      {sequencerBlock + 1, 0}, {sequencerBlock, 255},  // a lane length of 0; more notes than there are
      {18 + 4 * BandSynth::kParamCount, 9},            // a "present" flag neither 0 nor 1
      {sequencerBlock - 2, 99}};                       // a solo track that does not exist
  for (const auto& [at, value] : counts) damaged.push_back(chunk), damaged.back()[at] = value;
  for (const std::vector<uint8_t>& bytes : damaged) {
    if (plug->ReadState(bytes.data(), int(bytes.size())) == 0) {
      ASSERT_EQ(State(), before);
    }
    before = State();
  }
  EXPECT_EQ(plug->mBandSynth.soloTrack, -1);
  for (const Param& p : plug->mBandSynth.params)
    ASSERT_TRUE(p.value >= std::min(p.fromNormalized(0), p.fromNormalized(1)) && p.value <= std::max(p.fromNormalized(0), p.fromNormalized(1)));
  for (int i = 0; i < plug->NParams(); ++i)
    ASSERT_TRUE(plug->GetParam(i)->Value() >= plug->GetParam(i)->GetMin() && plug->GetParam(i)->Value() <= plug->GetParam(i)->GetMax());
  Midi(0, 0x90, 37, 120);
  for (int block = 0; block < 100; ++block) ASSERT_LT(Render(64), 1e6f);
}

TEST_F(FennrakeState, PresetFiles) {
  const std::string folder = GetPresetsPath();
  Param& pan = Engine(BandSynth::trackParam(0, TrackParam::kPan));
  pan.setValue(-20.0f);
  Engine(BandSynth::slotParam(0, SlotParam::kType)).setValue(3.0f);  // another send effect
  ASSERT_TRUE(plug->SavePresetFile(folder + "Deep Kick.oskra"));
  EXPECT_FALSE(plug->IsModified());
  const std::vector<uint8_t> saved = ReadFileBytes((folder + "Deep Kick.oskra").c_str());
  EXPECT_EQ(std::string(saved.end() - 10, saved.end()), std::string("Deep Kick\0", 10));  // the file's name, no "*"

  FennrakePtr other(new Fennrake);
  other->mSequencer.params[Sequencer::kHostSync].setValue(1.0f);
  other->Reset(48000.0f);
  ASSERT_TRUE(other->LoadPresetFile(folder + "Deep Kick.oskra"));
  for (int tick = 0; tick < 3; ++tick) Timer::FireAll();  // the preset's effect is installed, no edit
  EXPECT_EQ(other->mBandSynth.slot(0).typeIndex.load(), 3);
  EXPECT_EQ(other->mSequencer.params[Sequencer::kHostSync].value, 1.0f);  // "Host Sync" stays as it was
  EXPECT_EQ(other->mBandSynth.params[BandSynth::trackParam(0, TrackParam::kPan)].value, -20.0f);
  EXPECT_EQ(other->mPresetName + (other->IsModified() ? "*" : ""), "Deep Kick");

  pan.setValue(5.0f);
  plug->mPresetName = "unsaved work";
  const std::vector<uint8_t> before = State();
  std::vector<uint8_t> longer = saved;
  longer.push_back(0);
  const std::pair<std::string, std::vector<uint8_t>> files[] = {{"short", std::vector<uint8_t>(saved.begin(), saved.end() - 1)},
                                                                {"long", longer}, {"junk", std::vector<uint8_t>(300, 7)}, {"missing", {}}};
  for (const auto& [name, bytes] : files) {
    const std::string path = folder + name + ".oskra";
    if (!bytes.empty()) {
      ASSERT_TRUE(WriteFileBytes(bytes.data(), int64_t(bytes.size()), path.c_str(), true));
    }
    EXPECT_FALSE(plug->LoadPresetFile(path)) << name;
    EXPECT_EQ(message(*plug), bytes.empty() ? "couldn't open preset: " + path : kNotRecognized) << name;
    EXPECT_EQ(State(), before) << name;  // name, modified mark and sounds as they were
  }
  plug->mChangeCount = 0;  // only the pattern is edited now
  plug->mSequencer.addNote(2, 0, 1024, 90);
  const std::vector<uint8_t> edited = State();
  const std::string unwritable = folder + "Deep Kick.oskra/under a file.oskra";
  EXPECT_FALSE(plug->SavePresetFile(unwritable));
  EXPECT_EQ(message(*plug), "couldn't save preset: " + unwritable);
  EXPECT_EQ(State(), edited);  // still modified, under its old name
  ASSERT_TRUE(plug->SavePresetFile(folder + "saved.oskra"));
  plug->mChangeCount = 5;  // only a parameter is edited now
  EXPECT_FALSE(plug->SavePresetFile(unwritable));
  EXPECT_TRUE(plug->IsModified());
}

// The sounds a state or the start preset brings are heard from the next block on, whether or not
// the idle timer has run since: a host that renders straight after restoring gets the same audio.
TEST_F(FennrakeState, LoadedSoundsPlayBeforeTheIdleTimerRuns) {
  for (Blob& blob : plug->mBandSynth.tracks[0].blobs) ASSERT_TRUE(blob.analyze(testaudio::kick(44100.0), 44100.0f, false, 0));
  const std::vector<uint8_t> state = State();
  ASSERT_TRUE(plug->SavePresetFile(GetPresetsPath() + "Start.oskra"));
  // Note 36 through a fresh instance that got the kick by `load`, with or without an idle call;
  // from the state, the first reset finds no start preset and keeps the sounds it was made with.
  auto kickOf = [&](bool fromPreset, bool idle) {
    if (!fromPreset) std::filesystem::remove(GetPresetsPath() + "Start.oskra");
    FennrakePtr p(new Fennrake);
    p->Reset(48000.0f);  // the first reset loads the start preset
    if (!fromPreset) p->ReadState(state.data(), static_cast<int>(state.size()));
    if (idle) p->OnIdle();
    p->ProcessMidiMsg(IMidiMsg(0, 0x90, 36, 127));
    Render(8192, p.get());
    return std::vector<float>(out[0].begin(), out[0].end() - 1);
  };
  for (bool fromPreset : {true, false}) {
    const std::vector<float> timed = kickOf(fromPreset, true);
    ASSERT_GT(*std::max_element(timed.begin(), timed.end()), 0.05f);
    // The same kick; only the runtime's shared random draws, which each instance advances, differ.
    const std::vector<float> untimed = kickOf(fromPreset, false);
    double difference = 0.0, energy = 0.0;
    for (size_t i = 0; i < timed.size(); ++i) {
      difference += (timed[i] - untimed[i]) * (timed[i] - untimed[i]);
      energy += timed[i] * timed[i];
    }
    EXPECT_LT(std::sqrt(difference / energy), 0.02) << fromPreset;
  }
}

// An edit of a parameter, from the host or from the editor, marks the preset modified.
TEST_F(FennrakeState, AParameterEditMarksThePresetModified) {
  ASSERT_TRUE(plug->SavePresetFile(GetPresetsPath() + "Clean.oskra"));
  ASSERT_FALSE(plug->IsModified());
  plug->GetParam(0)->SetNormalized(0.3);  // the host's automation, as its block delivers it
  plug->OnParamChange(0, kHost, 0);
  EXPECT_TRUE(plug->IsModified());
  ASSERT_TRUE(plug->SavePresetFile(GetPresetsPath() + "Clean.oskra"));
  Engine(BandSynth::trackParam(2, TrackParam::kPan)).setValue(12.0f);  // the editor's knob
  EXPECT_TRUE(plug->IsModified());
}

// A preset loaded by the plug-in itself reaches the host: the controller's values follow, and the
// host is asked to read them again.
TEST_F(FennrakeState, APresetLoadTellsTheHostToReadTheValuesAgain) {
  Engine(BandSynth::trackParam(0, TrackParam::kPan)).setValue(-30.0f);
  ASSERT_TRUE(plug->SavePresetFile(GetPresetsPath() + "Panned.oskra"));
  Engine(BandSynth::trackParam(0, TrackParam::kPan)).setValue(30.0f);
  plug->addRef();  // the host's reference
  std::string error;
  auto host = testhost::HostedPlugin::adopt(static_cast<Steinberg::Vst::IAudioProcessor*>(plug.get()), error);
  ASSERT_TRUE(host) << error;
  ASSERT_EQ(host->initialize(), Steinberg::kResultOk);
  auto& calls = host->handler().calls;
  calls.clear();
  ASSERT_TRUE(plug->LoadPresetFile(GetPresetsPath() + "Panned.oskra"));
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].kind, testhost::ComponentHandler::Kind::Restart);
  EXPECT_EQ(calls[0].flags, Steinberg::Vst::kParamValuesChanged);
  for (int i = 0; i < plug->NParams(); ++i)
    ASSERT_EQ(host->controller()->getParamNormalized(Steinberg::Vst::ParamID(i)), plug->GetParam(i)->GetNormalized()) << i;
  host.reset();
}
