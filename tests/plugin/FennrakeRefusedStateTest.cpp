// A state or preset that is refused, for whatever reason and by whichever road it came, leaves
// every field of the instance as it was: not only what the instance would save, but also the
// track the editor has selected, the sounds as they are in memory, the host's values, the undo
// history and whether the preset counts as modified.
#include <cstring>
#include <sstream>

#include "plugin/files/FileUtils.h"
#include "plugin/files/UserDataPaths.h"
#include "tests/plugin/FennrakeTestKit.h"

namespace {

// What the instance holds, field by field.
struct Fields {
  std::vector<uint8_t> state;
  int32_t selectedTrack = 0;
  std::vector<double> hostValues;
  std::vector<Blob> sounds;
  std::string presetName;
  int32_t changeCount = 0;
  bool modified = false;
  std::vector<int> undo;
  int32_t playing = 0;

  // The names of the fields that differ, "" when none does.
  std::string differences(const Fields& o) const {
    std::ostringstream out;
    auto check = [&out](bool same, const char* name) { out << (same ? "" : name) << (same ? "" : " "); };
    check(state == o.state, "state");
    check(selectedTrack == o.selectedTrack, "selectedTrack");
    check(hostValues == o.hostValues, "hostValues");
    for (size_t i = 0; i < sounds.size(); ++i) {
      const Blob &a = sounds[i], &b = o.sounds[i];
      const bool same = a.gridA == b.gridA && a.gridB == b.gridB && a.energy == b.energy && a.tailPosition == b.tailPosition &&
                        a.activePoints == b.activePoints && a.decayHalfLife == b.decayHalfLife && a.name == b.name &&
                        a.present == b.present && a.modified == b.modified;
      check(same, ("sound" + std::to_string(i)).c_str());
    }
    check(presetName == o.presetName, "presetName");
    check(changeCount == o.changeCount, "changeCount");
    check(modified == o.modified, "modified");
    check(undo == o.undo, "undo");
    check(playing == o.playing, "playing");
    return out.str();
  }
};

}  // namespace

class FennrakeRefusedState : public FennrakeTest {
 protected:
  Fields Now() {
    Fields f;
    f.state = State();
    f.selectedTrack = plug->mSelectedTrack;
    for (int i = 0; i < plug->NParams(); ++i) f.hostValues.push_back(plug->GetParam(i)->Value());
    for (const DrumTrack& track : plug->mBandSynth.tracks)
      for (const Blob& blob : track.blobs) f.sounds.emplace_back().assign(blob, true);
    f.presetName = plug->mPresetName;
    f.changeCount = plug->mChangeCount.load();
    f.modified = plug->IsModified();
    f.undo = {plug->GetUndoCount(-1), plug->GetUndoCount(1), plug->mUndoPos, plug->mUndoTop};
    f.playing = plug->mSeqPlaying.load();
    return f;
  }
  // An edit the way the host makes it: the host's value, then the engine's.
  void HostEdit(int engineIndex, double value) {
    for (int i = 0; i < plug->NParams(); ++i) {
      if (i >= int(plug->mBandSynth.modTargets.size()) || plug->mBandSynth.modTargets[size_t(i)] != engineIndex) continue;
      plug->GetParam(i)->Set(value);
      plug->OnParamChange(i, kHost, 0);
      return;
    }
    ADD_FAILURE() << "no host parameter for " << engineIndex;
  }
};

TEST_F(FennrakeRefusedState, EveryFieldStaysAsItWas) {
  // Another instance's state, different in every block: parameters, track, sounds, pattern, name.
  FennrakePtr source(new Fennrake);
  source->mBandSynth.params[BandSynth::trackParam(4, TrackParam::kPan)].setValue(45.0f);
  source->mBandSynth.params[BandSynth::synthParam(SynthParam::kSynthTrack)].setValue(6.0f);
  ASSERT_TRUE(source->mBandSynth.tracks[5].blobs[1].analyze(testaudio::snare(44100.0), 44100.0f, false, 0));
  source->mSequencer.addNote(1, 2048, 1024, 64);
  source->mPresetName = "Theirs";
  const std::vector<uint8_t> chunk = State(source.get());
  const size_t sequencerBlock = 16 + size_t(source->mBandSynth.serialize(nullptr, 0));

  // This instance: its own parameters, a sound analysed in memory (finer than its stored form),
  // the editor on track 5 while the notes play track 2, an undo step, a saved preset, playing.
  HostEdit(BandSynth::trackParam(0, TrackParam::kPan), -35.0);
  Engine(BandSynth::synthParam(SynthParam::kSynthTrack)).setValue(2.0f);  // no host parameter
  plug->mSelectedTrack = 5;
  plug->PushUndoState(true);
  ASSERT_TRUE(plug->mBandSynth.tracks[5].blobs[0].analyze(testaudio::kick(44100.0), 44100.0f, true, 0));
  plug->PushUndoState(false);
  ASSERT_TRUE(plug->SavePresetFile(GetPresetsPath() + "Mine.oskra"));
  plug->SetSequencerPlaying(1);
  const Fields before = Now();
  ASSERT_EQ(before.undo[0], 1);

  const auto withVersion = [&chunk](int32_t version) {
    std::vector<uint8_t> bytes = chunk;
    std::memcpy(bytes.data() + 12, &version, 4);
    return bytes;
  };
  std::vector<uint8_t> marker = chunk, longer = chunk;
  marker[3] ^= 0x20;
  longer.push_back(0);
  const auto cut = [&chunk](size_t size) { return std::vector<uint8_t>(chunk.begin(), chunk.begin() + long(size)); };
  const std::tuple<const char*, std::vector<uint8_t>, bool> rows[] = {  // what, bytes, refused as a state too
      {"another marker", marker, true},
      {"a newer version", withVersion(Fennrake::kStateVersion + 1), true},
      {"a version too old", withVersion(2307), true},
      {"cut in the engine block", cut(sequencerBlock - 700), true},
      {"cut in the sequencer block", cut(sequencerBlock + 3), true},
      {"cut before the name's end", cut(chunk.size() - 1), true},
      {"a byte behind the chunk", longer, false}};  // a preset file is one chunk, nothing more
  for (const auto& [what, bytes, refusedAsState] : rows) {
    SCOPED_TRACE(what);
    if (refusedAsState) {
      EXPECT_EQ(plug->ReadState(bytes.data(), int(bytes.size())), 0);
      EXPECT_EQ(Now().differences(before), "");
      IByteChunk hostChunk;
      hostChunk.PutBytes(bytes.data(), int(bytes.size()));
      EXPECT_EQ(plug->UnserializeState(hostChunk, 0), -1);
      EXPECT_EQ(Now().differences(before), "");
    }
    const std::string path = GetPresetsPath() + "Refused.oskra";
    ASSERT_TRUE(WriteFileBytes(bytes.data(), int64_t(bytes.size()), path.c_str(), true));
    EXPECT_FALSE(plug->LoadPresetFile(path));
    EXPECT_EQ(Now().differences(before), "");
  }
}
