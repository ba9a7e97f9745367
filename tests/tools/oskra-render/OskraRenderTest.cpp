// oskra-render run as a program on the Oskra bundle, with the start kit installed in the test's
// own data folder: the demo, a MIDI file at several block sizes, saved and restored states, and
// its errors.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "plugin/UserDataPaths.h"
#include "support/RunProgram.h"
#include "support/ScopedDataRoot.h"
#include "tests/tools/oskra-render/MidiBytes.h"
#include "tools/oskra-render/DemoGroove.h"
#include "tools/oskra-render/Renderer.h"
#include "tools/startkit/StartKit.h"

using namespace midibytes;

namespace {

constexpr double kRate = 48000.0;
// A note's onset: some band's level over the next 25 ms is at least twice what it was over the
// 25 ms before. Between notes no band rises by more than 1.6 times.
constexpr double kOnsetWindow = 0.025;
constexpr double kOnset = 2.0;
constexpr double kNoOnset = 1.6;

struct Wav {
  int rate = 0;
  int channels = 0;
  std::vector<float> mono;  // the channels' mean
  float peak = 0.0f;        // over every channel; infinite when a sample is not finite
};

Wav readWav(const std::string& path) {
  Wav wav;
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) return wav;
  std::vector<float> frames(static_cast<size_t>(info.frames * info.channels));
  sf_readf_float(file, frames.data(), info.frames);
  sf_close(file);
  wav.rate = info.samplerate;
  wav.channels = info.channels;
  for (size_t i = 0; i < frames.size(); i += static_cast<size_t>(info.channels)) {
    float sum = 0.0f;
    for (int c = 0; c < info.channels; ++c) {
      const float v = frames[i + static_cast<size_t>(c)];
      wav.peak = std::isfinite(v) ? std::max(wav.peak, std::fabs(v)) : INFINITY;
      sum += v;
    }
    wav.mono.push_back(sum / static_cast<float>(info.channels));
  }
  return wav;
}

// How much the level rises at time t in the lows (below 150 Hz), the mids and the highs (above
// 1.5 kHz): a new drum shows in the band it sounds in even while others ring on.
double onsetStrength(const Wav& wav, double t) {
  const long at = std::lround(t * wav.rate);
  const long n = std::lround(kOnsetWindow * wav.rate);
  const double aLow = std::exp(-2.0 * M_PI * 150.0 / wav.rate);
  const double aMid = std::exp(-2.0 * M_PI * 1500.0 / wav.rate);
  double low = 0.0, mid = 0.0;
  double energy[2][3] = {};
  // The filters settle over the 100 ms before the windows; samples before the file's start are
  // silence.
  for (long i = at - n - wav.rate / 10; i < at + n; ++i) {
    const double x = i >= 0 && i < static_cast<long>(wav.mono.size()) ? wav.mono[static_cast<size_t>(i)] : 0.0;
    low = (1.0 - aLow) * x + aLow * low;
    mid = (1.0 - aMid) * x + aMid * mid;
    const double bands[3] = {low, mid - low, x - mid};
    if (i < at - n) continue;
    for (int b = 0; b < 3; ++b) energy[i < at ? 0 : 1][b] += bands[b] * bands[b];
  }
  double strongest = 0.0;
  for (int b = 0; b < 3; ++b) strongest = std::max(strongest, energy[1][b] / (energy[0][b] + 1e-12));
  return strongest;
}

std::vector<double> noteOnTimes(const oskrarender::Song& song) {
  std::vector<double> times;
  for (const auto& e : song.events)
    if ((e.status & 0xF0) == 0x90 && e.data2 > 0 && (times.empty() || e.seconds != times.back())) times.push_back(e.seconds);
  return times;
}

class OskraRender : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(startkit::InstallStartKit().ok()); }
  int render(std::vector<std::string> args, std::string* output = nullptr) {
    args.insert(args.begin(), {OSKRA_RENDER_PROGRAM, "--bundle", OSKRA_BUNDLE, "--quiet"});
    return RunProgram(args, output);
  }
  std::string file(const std::string& name) { return root.folder.file(name); }

  ScopedDataRoot root;
};

// Five drums at ticks off the 64-frame grid (480 ticks per quarter), at 100 BPM up to the
// third quarter note (tick 960, 1.2 s) and at 150 BPM after it.
struct TestNote {
  uint32_t tick;
  uint8_t note;
};
constexpr TestNote kTestNotes[] = {{241, 36}, {569, 38}, {1003, 42}, {1301, 41}, {1612, 39}};
constexpr double kSecondsPerTickAt100 = 60.0 / 100.0 / 480.0;
constexpr double kSecondsPerTickAt150 = 60.0 / 150.0 / 480.0;

double testNoteSeconds(uint32_t tick) {
  return tick <= 960 ? tick * kSecondsPerTickAt100 : 960 * kSecondsPerTickAt100 + (tick - 960) * kSecondsPerTickAt150;
}

std::string writeTestSong(const std::string& path) {
  Bytes events;
  uint32_t last = 0;
  for (const TestNote& n : kTestNotes) {
    events = cat({events, event(n.tick - last, {0x90, n.note, 110}), event(60, {0x80, n.note, 0})});
    last = n.tick + 60;
  }
  const Bytes tempoTrack = chunk("MTrk", cat({tempo(0, 600000), tempo(960, 400000), endOfTrack()}));
  EXPECT_TRUE(testaudio::writeFileBytes(path, cat({header(1, 2, 480), tempoTrack, chunk("MTrk", cat({events, endOfTrack()}))})));
  return path;
}

}  // namespace

TEST_F(OskraRender, DemoPlaysTheStartKitAtTheGroovesNoteTimes) {
  const std::string out = file("demo.wav");
  ASSERT_EQ(render({"--demo", "--out", out}), oskrarender::kExitOk);
  const Wav wav = readWav(out);
  const oskrarender::Song groove = oskrarender::DemoGroove();
  ASSERT_EQ(wav.rate, 48000);
  ASSERT_EQ(wav.channels, 2);
  EXPECT_EQ(wav.mono.size(), static_cast<size_t>(std::ceil((groove.endSeconds() + oskrarender::kTailSeconds) * kRate)));
  EXPECT_LT(wav.peak, 1.0f);  // finite, below 0 dBFS
  EXPECT_GT(wav.peak, 0.25f);
  const std::vector<double> onsets = noteOnTimes(groove);
  for (double t : onsets) EXPECT_GE(onsetStrength(wav, t), kOnset) << t;
  // Every other sixteenth of the groove stays without an onset.
  const double sixteenth = 60.0 / oskrarender::kDemoBpm / 4.0;
  for (double t = sixteenth; t < groove.endSeconds(); t += sixteenth) {
    const bool noted = std::any_of(onsets.begin(), onsets.end(), [&](double o) { return std::fabs(o - t) < 1e-6; });
    if (!noted) {
      EXPECT_LT(onsetStrength(wav, t), kNoOnset) << t;
    }
  }
}

TEST_F(OskraRender, MidiFileNotesSoundWhereTheyAreAtEveryBlockSize) {
  const std::string song = writeTestSong(file("notes.mid"));
  std::vector<float> first;
  for (int block : {64, 100, 512}) {
    const std::string out = file("notes" + std::to_string(block) + ".wav");
    ASSERT_EQ(render({"--midi", song, "--block", std::to_string(block), "--out", out}), oskrarender::kExitOk);
    const Wav wav = readWav(out);
    if (block != 64) {
      EXPECT_TRUE(wav.mono == first) << block;
      continue;
    }
    first = wav.mono;
    EXPECT_LT(wav.peak, 1.0f);
    const double firstNote = testNoteSeconds(kTestNotes[0].tick);
    // Silent until the first note's synthesis window opens, at most a control period before it.
    const auto silentEnd = wav.mono.begin() + static_cast<long>(firstNote * kRate) - 96;
    EXPECT_TRUE(std::all_of(wav.mono.begin(), silentEnd, [](float v) { return v == 0.0f; }));
    for (size_t i = 0; i < std::size(kTestNotes); ++i) {
      const double t = testNoteSeconds(kTestNotes[i].tick);
      EXPECT_GE(onsetStrength(wav, t), kOnset) << t;
      if (i > 0) {
        EXPECT_LT(onsetStrength(wav, (t + testNoteSeconds(kTestNotes[i - 1].tick)) / 2.0), kNoOnset) << t;
      }
    }
  }
}

TEST_F(OskraRender, SavedStateAndPresetRestoreTheSameAudio) {
  const std::string song = writeTestSong(file("notes.mid"));
  const std::string state = file("kit.state");
  const std::string preset = GetPresetsPath() + startkit::kStartPresetFile;
  // A fresh instance plays the start kit; its state is saved after the render.
  ASSERT_EQ(render({"--midi", song, "--out", file("fresh.wav"), "--save-state", state}), oskrarender::kExitOk);
  ASSERT_EQ(render({"--midi", song, "--out", file("preset.wav"), "--preset", preset}), oskrarender::kExitOk);
  // Without the kit in the folders only the state brings it back.
  std::filesystem::remove_all(GetSoundsPath());
  std::filesystem::remove_all(GetPresetsPath());
  ASSERT_EQ(render({"--midi", song, "--out", file("restored.wav"), "--state", state}), oskrarender::kExitOk);
  ASSERT_EQ(render({"--midi", song, "--out", file("empty.wav")}), oskrarender::kExitOk);
  const Wav fresh = readWav(file("fresh.wav"));
  ASSERT_GT(fresh.peak, 0.1f);
  EXPECT_TRUE(readWav(file("restored.wav")).mono == fresh.mono);
  EXPECT_TRUE(readWav(file("preset.wav")).mono == fresh.mono);
  EXPECT_FALSE(readWav(file("empty.wav")).mono == fresh.mono);
}

TEST_F(OskraRender, ErrorsSayWhatIsWrongAndExitWithTheirCode) {
  const std::string song = writeTestSong(file("notes.mid"));
  testaudio::writeFileBytes(file("junk"), std::vector<uint8_t>(200, 0x5A));
  const Bytes cut = testaudio::readFileBytes(song);
  testaudio::writeFileBytes(file("cut.mid"), Bytes(cut.begin(), cut.end() - 5));
  const std::string out = file("out.wav");
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* says;
  } const cases[] = {
      {{"--demo", "--out", out, "--bundle", file("Missing.vst3")}, oskrarender::kExitPlugin, "cannot load the plug-in bundle"},
      {{"--midi", file("junk"), "--out", out}, oskrarender::kExitInput, "not a Standard MIDI File"},
      {{"--midi", file("cut.mid"), "--out", out}, oskrarender::kExitInput, "cut.mid"},
      {{"--midi", file("none.mid"), "--out", out}, oskrarender::kExitInput, "cannot open"},
      {{"--demo", "--out", out, "--state", file("junk")}, oskrarender::kExitInput, "refused the state"},
      {{"--demo", "--out", file("no/folder/out.wav")}, oskrarender::kExitOutput, "cannot write"},
      {{"--demo", "--out", out, "--block", "0"}, oskrarender::kExitUsage, "--block"},
      {{"--demo"}, oskrarender::kExitUsage, "--out"},
  };
  for (const Case& c : cases) {
    std::string said;
    EXPECT_EQ(render(c.args, &said), c.code) << c.says;
    EXPECT_NE(said.find(c.says), std::string::npos) << said;
  }
}
