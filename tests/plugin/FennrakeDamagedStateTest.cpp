// Damaged chunks, case by case: after every single load (taken or refused) every value the
// instance holds is finite and in range, a refused chunk changed nothing, and the instance plays
// on with finite output. Presets and "Host Sync" in both directions; the length of a message.
#include <cstring>
#include <random>

#include "plugin/files/FileUtils.h"
#include "plugin/files/UserDataPaths.h"
#include "tests/plugin/FennrakeTestKit.h"

namespace {

bool inRange(const Param& p) {
  const float lo = std::min(p.fromNormalized(0.0f), p.fromNormalized(1.0f));
  const float hi = std::max(p.fromNormalized(0.0f), p.fromNormalized(1.0f));
  return std::isfinite(p.value) && p.value >= lo && p.value <= hi;
}

bool finiteCurve(const PointCurve& curve) {
  for (int32_t i = 0; i <= curve.count && i < static_cast<int32_t>(curve.points.size()); ++i) {
    const CurvePoint& point = curve.points[static_cast<size_t>(i)];
    if (!std::isfinite(point.x) || !std::isfinite(point.y) || !std::isfinite(point.curve)) return false;
  }
  return true;
}

}  // namespace

class FennrakeDamagedState : public FennrakeTest {
 protected:
  // A non-default source: parameters, one analysed sound, a velocity curve bent, notes in
  // several lanes and a name; the other slots switched off to keep each load small.
  std::vector<uint8_t> SourceChunk() {
    FennrakePtr source(new Fennrake);
    BandSynth& synth = source->mBandSynth;
    synth.params[BandSynth::trackParam(3, TrackParam::kPan)].setValue(30.0f);
    synth.params[BandSynth::synthParam(SynthParam::kSynthTrack)].setValue(1.0f);  // notes play the sound
    for (DrumTrack& track : synth.tracks)
      for (Blob& blob : track.blobs) blob.present = 0;
    EXPECT_TRUE(synth.tracks[1].blobs[0].analyze(testaudio::kick(44100.0), 44100.0f, true, 0));
    synth.tracks[1].blobs[0].present = 1;
    for (int lane = 0; lane < 8; lane += 3) source->mSequencer.addNote(lane, lane * 1024, 1024, uint8_t(60 + lane));
    source->mSequencer.params[Sequencer::kSwing].setValue(12.0f);
    source->mPresetName = "Source";
    sequencerBlock = 16 + size_t(synth.serialize(nullptr, 0));
    return State(source.get());
  }

  size_t sequencerBlock = 0;  // where the source chunk's sequencer block starts
  float peak = 0.0f;

  // Loads bytes and checks everything the instance holds, then plays notes and the pattern
  // through it; the loudest sample is kept in `peak`.
  void LoadAndCheck(const std::vector<uint8_t>& bytes, const std::string& what, int blocks) {
    const std::vector<uint8_t> before = State();
    const bool taken = plug->ReadState(bytes.data(), static_cast<int>(bytes.size())) > 0;
    SCOPED_TRACE(what + (taken ? " (taken)" : " (refused)"));
    if (!taken) {
      ASSERT_EQ(State(), before);
    }
    for (const Param& p : plug->mBandSynth.params) ASSERT_TRUE(inRange(p)) << p.label << " " << p.value;
    for (const Param& p : plug->mSequencer.params) ASSERT_TRUE(inRange(p)) << p.label << " " << p.value;
    for (int i = 0; i < plug->NParams(); ++i) {
      const double v = plug->GetParam(i)->Value();
      ASSERT_TRUE(std::isfinite(v) && v >= plug->GetParam(i)->GetMin() && v <= plug->GetParam(i)->GetMax()) << i;
    }
    ASSERT_TRUE(plug->mSelectedTrack >= 0 && plug->mSelectedTrack < BandSynth::kTrackCount);
    ASSERT_TRUE(plug->mBandSynth.soloTrack >= -1 && plug->mBandSynth.soloTrack < BandSynth::kTrackCount);
    for (const DrumTrack& track : plug->mBandSynth.tracks) ASSERT_TRUE(finiteCurve(track.velocityCurve));
    for (const PointCurve& shape : plug->mBandSynth.lfoShapes) ASSERT_TRUE(finiteCurve(shape));
    plug->OnIdle();  // the loaded sounds and effects reach the audio side
    Midi(0, 0x90, 37, 120);
    Midi(0, 0x90, 60, 100);
    plug->SetSequencerPlaying(1);
    peak = 0.0f;
    for (int block = 0; block < blocks; ++block) {
      peak = std::max(peak, Render(64));
      ASSERT_LT(peak, 1e6f) << "block " << block;
    }
  }
};

// A non-finite float written over every byte offset of the blocks (the layout need not be
// known: every float field is met at its own offset), each of NaN, +Inf and -Inf.
TEST_F(FennrakeDamagedState, NonFiniteFloatsAtEveryOffsetLeaveEverythingFiniteAndPlaying) {
  const std::vector<uint8_t> chunk = SourceChunk();
  plug->Reset(48000.0f);
  const float nonFinite[] = {NAN, INFINITY, -INFINITY};
  for (size_t at = 16; at + 4 <= chunk.size(); ++at) {
    for (float value : nonFinite) {
      std::vector<uint8_t> bytes = chunk;
      std::memcpy(&bytes[at], &value, 4);
      LoadAndCheck(bytes, "offset " + std::to_string(at) + " " + std::to_string(value), 2);
      if (HasFatalFailure()) return;
    }
  }
  LoadAndCheck(chunk, "the chunk itself", 100);
  EXPECT_GT(peak, 0.01f);  // the checks above ran on an instance that plays
}

// Counts and flags out of range, random flips and random data: each load on its own is followed
// by 100 blocks.
TEST_F(FennrakeDamagedState, EachDamagedChunkIsFollowedByAHundredFiniteBlocks) {
  const std::vector<uint8_t> chunk = SourceChunk();
  plug->Reset(48000.0f);
  const size_t engineBlock = 16, firstSlot = engineBlock + 2 + 4 * BandSynth::kParamCount;
  std::vector<std::pair<std::string, std::vector<uint8_t>>> cases;
  // The chunk with a little-endian 16-bit value (or its low byte alone) at a position.
  auto with = [&](const std::string& name, size_t at, int value, int bytes) {
    cases.emplace_back(name, chunk);
    for (int k = 0; k < bytes; ++k) cases.back().second[at + size_t(k)] = uint8_t(value >> (8 * k));
  };
  // Each lane: its note count, its length, then six bytes per note.
  for (size_t lane = 0, at = sequencerBlock; lane < 8; ++lane, at += 2 + 6 * size_t(chunk[at])) {
    const std::string which = " in lane " + std::to_string(lane);
    with("length 0" + which, at + 1, 0, 1);
    with("length 255" + which, at + 1, 255, 1);
    with("255 notes" + which, at, 255, 1);
  }
  with("engine block version 0xFFFF", engineBlock, 0xFFFF, 2);
  with("\"present\" 9", firstSlot, 9, 1);
  with("\"present\" 255", firstSlot, 255, 1);
  with("solo track 99", sequencerBlock - 2, 99, 2);
  with("solo track -2", sequencerBlock - 2, -2, 2);
  with("mute mask all", sequencerBlock - 4, 0xFFFF, 2);
  std::mt19937 random(1234);
  for (int trial = 0; trial < 20; ++trial) {
    cases.emplace_back("flips " + std::to_string(trial), chunk);
    for (int k = 0, flips = 1 + int(random() % 16); k < flips; ++k) cases.back().second[random() % chunk.size()] ^= uint8_t(1 + random() % 255);
  }
  for (int trial = 0; trial < 10; ++trial) {
    cases.emplace_back("noise behind the marker " + std::to_string(trial), chunk);
    for (size_t k = 16 + random() % 64; k < chunk.size(); ++k) cases.back().second[k] = uint8_t(random());
    cases.emplace_back("noise " + std::to_string(trial), std::vector<uint8_t>(random() % 4096));
    for (uint8_t& b : cases.back().second) b = uint8_t(random());
  }
  for (const auto& [name, bytes] : cases) {
    LoadAndCheck(bytes, name, 100);
    if (HasFatalFailure()) return;
  }
}

// "Host Sync" is the instance's, whatever a preset holds and whether or not it loads.
TEST_F(FennrakeDamagedState, PresetsNeverChangeHostSync) {
  const std::string path = GetPresetsPath() + "Synced.oskra";
  Param& sync = plug->mSequencer.params[Sequencer::kHostSync];
  sync.setValue(1.0f);
  ASSERT_TRUE(plug->SavePresetFile(path));
  FennrakePtr other(new Fennrake);
  ASSERT_EQ(other->mSequencer.params[Sequencer::kHostSync].value, 0.0f);
  ASSERT_TRUE(other->LoadPresetFile(path));
  EXPECT_EQ(other->mSequencer.params[Sequencer::kHostSync].value, 0.0f);
  EXPECT_EQ(other->mPresetName, "Synced");
  EXPECT_FALSE(other->IsModified());

  // A refused preset with sync on: sync stays on and nothing else moves either.
  const std::vector<uint8_t> bytes = ReadFileBytes(path.c_str());
  const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + bytes.size() / 2);
  ASSERT_TRUE(WriteFileBytes(cut.data(), int64_t(cut.size()), (GetPresetsPath() + "Cut.oskra").c_str(), true));
  plug->mChangeCount = 3;
  const std::vector<uint8_t> before = State();
  EXPECT_FALSE(plug->LoadPresetFile(GetPresetsPath() + "Cut.oskra"));
  EXPECT_EQ(sync.value, 1.0f);
  EXPECT_EQ(State(), before);
  EXPECT_EQ(plug->mPresetName, "Synced");
  EXPECT_TRUE(plug->IsModified());
}

// A message keeps its first 511 bytes, however long the path it names.
TEST_F(FennrakeDamagedState, AMessageAboutALongPathIsCutToItsRoom) {
  const std::string path = GetPresetsPath() + std::string(600, 'p') + ".oskra";
  EXPECT_FALSE(plug->LoadPresetFile(path));
  std::string text;
  ASSERT_TRUE(plug->TakeMessage(text));
  EXPECT_EQ(text, ("couldn't open preset: " + path).substr(0, Fennrake::kMessageSize - 1));
  EXPECT_FALSE(plug->TakeMessage(text));  // taken once
}
