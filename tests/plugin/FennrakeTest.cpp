// The plug-in object: host parameters, the undo history, reset with the start preset, the
// editor's hooks, and the library's imports and randomiser through the instance.
#include <set>

#include "graphics/IGraphics.h"
#include "gui/FennrakeGUI.h"
#include "plugin/files/FileUtils.h"
#include "plugin/files/UserDataPaths.h"
#include "tests/plugin/FennrakeTestKit.h"

using testaudio::AudioFileFormat;

TEST_F(FennrakeTest, HostParametersAreTheEngineTargetsWithTheirShapes) {
  const std::tuple<int, std::string, int, float, float, float, double, double> rows[] = {
      // index, name, type, min, max, default, a position and the value there, worked out by hand
      {0, "Track 1 Amp", IParam::kTypeDouble, 0, 4, 1, 0.5, 1.0},                // position squared
      {7, "Track 1 Timescale", IParam::kTypeDouble, 0.125, 8, 1, 0.5, 1.0},      // geometric
      {96, "Global Amp", IParam::kTypeDouble, -100, 100, 1, 0.75, 50},           // linear
      {110, "Synth Oscillator", IParam::kTypeEnum, 0, 11, 0, 1.0, 11},
      {114, "Synth Sustain Pos", IParam::kTypeDouble, 0.01f, 5, 0.3f, 0.5, 0.01 + 4.99 / 16}};  // 4th power
  for (const auto& [idx, name, type, min, max, def, normalized, value] : rows) {
    const IParam* p = plug->GetParam(idx);
    EXPECT_EQ(std::make_tuple(std::string(p->GetName()), int(p->Type()), float(p->GetMin()), float(p->GetMax()), float(p->GetDefault())),
              std::make_tuple(name, type, min, max, def));
    EXPECT_NEAR(p->FromNormalized(normalized), value, 1e-4 * (1 + std::fabs(value))) << name;
  }
  EXPECT_EQ(std::string(plug->GetParam(110)->GetDisplayText(0)) + std::to_string(plug->GetParam(110)->NDisplayTexts()), "Saw12");
  std::set<std::string> names;
  for (int i = 0; i < plug->NParams(); ++i) names.insert(plug->GetParam(i)->GetName());
  EXPECT_EQ(names.size(), 117u);
  // The engine follows the host, not the framework's reset.
  const Param& timescale = Engine(BandSynth::trackParam(0, TrackParam::kTimescale));
  plug->GetParam(7)->SetNormalized(1.0);
  plug->OnParamChange(7, kReset, -1);
  EXPECT_EQ(timescale.value, 1.0f);
  plug->OnParamChange(7, kHost, 12);
  EXPECT_EQ(timescale.value, 8.0f);
  for (int idx : {-1, 117}) plug->OnParamChange(idx, kHost, 0);
}

TEST_F(FennrakeTest, UndoRingReachesEightyEightStepsBackAndRestoresExactly) {
  for (int steps : {-1, 0, 1}) plug->Undo(steps);  // an empty ring is safe
  Blob(&blobs)[2] = plug->mBandSynth.tracks[0].blobs;
  ASSERT_TRUE(blobs[0].analyze(testaudio::kick(44100.0), 44100.0f, true, 0));
  auto contents = [&] {
    std::vector<uint8_t> a, b;
    blobs[0].toBytes(a), blobs[1].toBytes(b), a.insert(a.end(), b.begin(), b.end());
    return a.insert(a.end(), blobs[0].name.begin(), blobs[0].name.end()), a;
  };
  std::vector<std::vector<uint8_t>> pushed;
  for (int i = 0; i < 100; ++i) {
    blobs[0].name = "edit " + std::to_string(i);
    blobs[i % 2].mirror(i % 3);
    plug->PushUndoState(false);
    pushed.push_back(contents());
  }
  const int table[][4] = {  // steps, snapshot then, steps back, steps forward
      {0, 99, 88, 0}, {-3, 96, 85, 3}, {-86, 96, 85, 3} /* beyond the ring */, {-85, 11, 0, 88}, {88, 99, 88, 0}};
  for (const auto& s : table) {
    plug->Undo(s[0]);
    EXPECT_EQ(contents(), pushed[size_t(s[1])]) << s[0];
    EXPECT_EQ(std::make_pair(plug->GetUndoCount(-1), plug->GetUndoCount(1)), std::make_pair(s[2], s[3])) << s[0];
  }
  plug->MirrorSelectedBlobs(1);  // what the morph lets be heard (slot A here): one more step
  EXPECT_NE(contents(), pushed[99]);
  plug->Undo(-1);
  EXPECT_EQ(contents(), pushed[99]);
}

TEST_F(FennrakeTest, FirstResetLoadsTheStartPresetAndLaterResetsKeepTheEngine) {
  Param& pan = Engine(BandSynth::trackParam(0, TrackParam::kPan));
  for (const auto& [name, value] : {std::pair<const char*, float>{"My START kit", -40.0f}, {"another", 30.0f}}) {
    pan.setValue(value);
    ASSERT_TRUE(plug->SavePresetFile(GetPresetsPath() + name + ".oskra"));
  }
  ASSERT_TRUE(MakeFoldersForPath(GetPresetsPath() + "Start folder/"));  // folders never load
  const std::vector<uint8_t> bytes = State();
  FennrakePtr early(new Fennrake), fresh(new Fennrake);
  ASSERT_GT(early->ReadState(bytes.data(), static_cast<int>(bytes.size())), 0);
  early->Reset(48000.0f);  // a state the host gave before the first reset wins
  fresh->Reset(48000.0f);
  EXPECT_EQ(early->mPresetName + "|" + fresh->mPresetName, "another|My START kit");
  EXPECT_EQ(fresh->mBandSynth.params[BandSynth::trackParam(0, TrackParam::kPan)].value, -40.0f);
  Render(10, fresh.get());
  fresh->Reset(48000.0f);  // the same rate: voices only, the control countdown runs on
  EXPECT_EQ(fresh->mBandSynth.controlCountdown, 54);
  fresh->Reset(44100.0f);
  EXPECT_EQ(fresh->mBandSynth.controlCountdown, 0);
}

TEST_F(FennrakeTest, EditorScaleKeysHooksAndMetering) {
  for (const auto& [setting, scale] : {std::pair<const char*, float>{"150", 1.5f}, {"5", 1.0f}, {"2000", 1.0f}, {"x", 1.0f}}) {
    plug->mUserSettings.Set("ui_size_percent", setting);
    EXPECT_FLOAT_EQ(std::unique_ptr<igraphics::IGraphics>(plug->CreateGraphics())->GetDrawScale(), scale) << setting;
  }
  plug->OpenWindow(nullptr);
  FennrakeGUI* gui = plug->GetGUI();
  ASSERT_TRUE(gui != nullptr && plug->mBandSynth.meteringOn);
  plug->OnParamChangeUI(7, kHost);
  EXPECT_EQ(gui->LastFlashedParam(), 8);  // the engine's index of "Track 1 Timescale"
  plug->PushUndoState(false), plug->PushUndoState(false);
  const std::pair<IKeyPress, int> keys[] = {  // redo steps afterwards; -1: not handled
      {IKeyPress("z", 90, false, true), 1}, {IKeyPress("Z", 90, true, true), 0}, {IKeyPress("z", 90, false, true, true), -1}};
  for (const auto& [key, redo] : keys) {
    EXPECT_EQ(plug->OnKeyDown(key), redo >= 0);
    EXPECT_EQ(plug->GetUndoCount(1), std::max(redo, 0));
  }
  gui->SelectTrack(9, true);  // held to the tracks there are; another track, another history
  EXPECT_EQ(std::make_pair(plug->mSelectedTrack, plug->GetUndoCount(-1)), std::make_pair(7, 0));
  plug->ShowMessage("something went wrong");
  gui->updateOnDisplayTick();
  EXPECT_EQ(gui->LastShownMessage() + plug->mMessage, "something went wrong");
  plug->CloseWindow();
  EXPECT_FALSE(plug->mBandSynth.meteringOn);
  plug->OpenWindow(nullptr);
  plug.reset();  // destroyed with its editor open: the root control goes first
}

// One or two files land in the selected track (one undo step each, so an undo brings back the
// sounds that were there); a longer list waits for the editor to start the batch and then goes
// into the library one file per idle tick, leaving the kit alone.
TEST_F(FennrakeTest, ImportsReachTheTrackWithAnUndoStepOrTheLibraryInABatch) {
  testaudio::TempFolder in;
  for (const char* name : {"a.wav", "b.wav", "c.wav"})
    ASSERT_TRUE(testaudio::writeAudioFile(in.file(name), AudioFileFormat::kWav16, {testaudio::kick(44100)}, 44100));
  Blob(&blobs)[2] = plug->mBandSynth.tracks[2].blobs;
  plug->mSelectedTrack = 2;
  plug->PushUndoState(true);
  const std::string before = blobs[0].name + "|" + blobs[1].name;
  // "Transform" above half way shows slot B: the first file goes there, the second into A.
  Engine(BandSynth::trackParam(2, TrackParam::kTransform)).setValue(100.0f);
  plug->ImportSamples({in.file("a.wav"), in.file("b.wav")}, -1);
  EXPECT_EQ(blobs[0].name + "|" + blobs[1].name, "b|a");
  EXPECT_EQ(plug->GetUndoCount(-1), 2);
  plug->Undo(-2);
  EXPECT_EQ(blobs[0].name + "|" + blobs[1].name, before);
  const std::vector<uint8_t> kit = State();
  plug->ImportSamples({in.path()}, 0);  // a folder of three files: a batch, not started yet
  plug->OnIdle();
  EXPECT_EQ(plug->mLoadQueue.size(), 3u);
  plug->mLoadQueueIndex.store(0);
  for (int tick = 0; tick < 4; ++tick) plug->OnIdle();
  EXPECT_TRUE(plug->mLoadQueueIndex.load() == -1 && plug->mLoadQueue.empty());
  EXPECT_TRUE(FileExists((GetSoundsPath() + "0 User/c.blob").c_str()));
  EXPECT_EQ(State(), kit);
  EXPECT_FALSE(plug->ImportSoundFile(in.path() + "/", "missing.wav", 0));
}

// The randomiser's host-visible changes (the tracks' "Seed") reach the host parameters, and the
// controller's copies the host reads.
TEST_F(FennrakeTest, RandomizedValuesReachTheHostParameters) {
  ASSERT_EQ(plug->initialize(nullptr), Steinberg::kResultOk);
  testaudio::TempFolder in;
  ASSERT_TRUE(testaudio::writeAudioFile(in.file("kick.wav"), AudioFileFormat::kWav16, {testaudio::kick(44100)}, 44100));
  ASSERT_TRUE(plug->ImportSoundFile(in.path() + "/", "kick.wav", -1));
  plug->Randomize(3);
  EXPECT_EQ(plug->mBandSynth.tracks[0].blobs[0].name, "kick");
  for (int i = 0; i < plug->NParams(); ++i) {
    EXPECT_EQ(plug->GetParam(i)->Value(), plug->GetParam(i)->Constrain(Engine(plug->mBandSynth.modTargets[size_t(i)]).value)) << i;
    EXPECT_EQ(plug->getParamNormalized(Steinberg::Vst::ParamID(i)), plug->GetParam(i)->GetNormalized()) << i;
  }
  plug->terminate();
}

TEST(FennrakeFactory, AnUnwritableDataRootStillMakesAnInstance) {
  ScopedDataRoot root;
  ASSERT_TRUE(WriteTextFile("x", root.folder.file("file")));
  root.env.set("OSKRA_DATA_DIR", root.folder.file("file/under/a/file").c_str());
  Steinberg::FUnknown* made = Fennrake::MakePlug(nullptr);
  ASSERT_NE(made, nullptr);
  made->release();
}
