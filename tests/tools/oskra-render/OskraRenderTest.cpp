// oskra-render run as a program on the Oskra bundle, with the start kit installed in the test's
// own data folder: the demo, a MIDI file at several block sizes, saved and restored states, and
// its errors.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>

#include "plugin/files/UserDataPaths.h"
#include "support/RunProgram.h"
#include "support/ScopedDataRoot.h"
#include "tests/tools/oskra-render/MidiBytes.h"
#include "tools/oskra-render/DemoGroove.h"
#include "tools/oskra-render/Renderer.h"
#include "tools/startkit/StartKit.h"

using namespace midibytes;

namespace {

constexpr double kRate = 48000.0;

struct Wav {
  int rate = 0, channels = 0;
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
  wav.rate = info.samplerate, wav.channels = info.channels, wav.mono.assign(size_t(info.frames), 0.0f);
  for (size_t i = 0; i < frames.size(); ++i) {
    wav.peak = std::isfinite(frames[i]) ? std::max(wav.peak, std::fabs(frames[i])) : INFINITY;
    wav.mono[i / size_t(info.channels)] += frames[i] / float(info.channels);
  }
  return wav;
}

// How much the level rises at time t in the lows (below 150 Hz), the mids and the highs (above
// 1.5 kHz), over 25 ms before and after: a new drum shows in the band it sounds in even while
// others ring on.
double onsetStrength(const Wav& wav, double t) {
  const long at = std::lround(t * wav.rate), n = std::lround(0.025 * wav.rate);
  const double aLow = std::exp(-2.0 * M_PI * 150.0 / wav.rate), aMid = std::exp(-2.0 * M_PI * 1500.0 / wav.rate);
  double low = 0.0, mid = 0.0, energy[2][3] = {};
  // The filters settle over the 100 ms before the windows; samples before the file's start are silence.
  for (long i = at - n - wav.rate / 10; i < at + n; ++i) {
    const double x = i >= 0 && i < static_cast<long>(wav.mono.size()) ? wav.mono[static_cast<size_t>(i)] : 0.0;
    low = (1.0 - aLow) * x + aLow * low, mid = (1.0 - aMid) * x + aMid * mid;
    const double bands[3] = {low, mid - low, x - mid};
    for (int b = 0; b < 3 && i >= at - n; ++b) energy[i < at ? 0 : 1][b] += bands[b] * bands[b];
  }
  double strongest = 0.0;
  for (int b = 0; b < 3; ++b) strongest = std::max(strongest, energy[1][b] / (energy[0][b] + 1e-12));
  return strongest;
}

// A note's onset: some band's level at least doubles. Between notes no band rises by more than 1.6 times.
void expectOnsets(const Wav& wav, const std::vector<double>& notes, const std::vector<double>& between) {
  for (double t : notes) EXPECT_GE(onsetStrength(wav, t), 2.0) << t;
  for (double t : between) EXPECT_LT(onsetStrength(wav, t), 1.6) << t;
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

// Five drums at ticks off the 64-frame grid (480 ticks per quarter), at 100 BPM up to the third
// quarter note (tick 960, 1.2 s) and at 150 BPM after it.
const std::pair<uint32_t, uint8_t> kTestNotes[] = {{241, 36}, {569, 38}, {1003, 42}, {1301, 41}, {1612, 39}};

double testNoteSeconds(uint32_t tick) { return tick <= 960 ? tick * 0.00125 : 1.2 + (tick - 960) * 0.00125 / 1.5; }

std::string writeTestSong(const std::string& path) {
  Bytes events;
  uint32_t last = 0;
  for (const auto& [tick, note] : kTestNotes)
    events = cat({events, event(tick - last, {0x90, note, 110}), event(60, {0x80, note, 0})}), last = tick + 60;
  const Bytes tempoTrack = chunk("MTrk", cat({tempo(0, 600000), tempo(960, 400000), endOfTrack()}));
  EXPECT_TRUE(testaudio::writeFileBytes(path, cat({header(1, 2, 480), tempoTrack, chunk("MTrk", cat({events, endOfTrack()}))})));
  return path;
}

}  // namespace

// The demo as the first command plays it: through the bundle installed into the user's ~/.vst3/
// (installed twice, the second time over the first), the renderer's default bundle.
TEST_F(OskraRender, DemoPlaysTheStartKitAtTheGroovesNoteTimes) {
  root.env.set("HOME", file("home").c_str());
  std::string said;
  for (int install = 0; install < 2; ++install) ASSERT_EQ(RunProgram({OSKRA_INSTALL_BUNDLE, OSKRA_BUNDLE}, &said), 0) << said;
  std::vector<std::string> installed;  // nothing but the bundle, no half-copied one beside it
  for (const auto& entry : std::filesystem::directory_iterator(file("home/.vst3"))) installed.push_back(entry.path().filename());
  EXPECT_EQ(installed, std::vector<std::string>{"Oskra.vst3"});
  ASSERT_EQ(RunProgram({OSKRA_RENDER_PROGRAM, "--quiet", "--demo", "--out", file("demo.wav")}, &said), oskrarender::kExitOk) << said;
  const Wav wav = readWav(file("demo.wav"));
  const oskrarender::Song groove = oskrarender::DemoGroove();
  ASSERT_EQ(std::make_pair(wav.rate, wav.channels), std::make_pair(48000, 2));
  EXPECT_EQ(wav.mono.size(), static_cast<size_t>(std::ceil((groove.endSeconds() + oskrarender::kTailSeconds) * kRate)));
  EXPECT_TRUE(wav.peak > 0.25f && wav.peak < 1.0f) << wav.peak;  // finite, below 0 dBFS
  std::vector<double> onsets, between;  // the groove's note times; every other sixteenth stays without an onset
  for (const auto& e : groove.events)
    if ((e.status & 0xF0) == 0x90 && e.data2 > 0 && (onsets.empty() || e.seconds != onsets.back())) onsets.push_back(e.seconds);
  for (double t = 15.0 / oskrarender::kDemoBpm; t < groove.endSeconds(); t += 15.0 / oskrarender::kDemoBpm)
    if (std::none_of(onsets.begin(), onsets.end(), [&](double o) { return std::fabs(o - t) < 1e-6; })) between.push_back(t);
  expectOnsets(wav, onsets, between);
}

// The same audio at every block size, and again from the start preset and from a state saved by a
// render once the kit is gone from the folders; without the state the kit is missed.
TEST_F(OskraRender, MidiFileNotesSoundWhereTheyAreAndStatesRestoreTheSameAudio) {
  const std::string song = writeTestSong(file("notes.mid")), state = file("kit.state");
  ASSERT_EQ(render({"--midi", song, "--block", "64", "--out", file("64.wav"), "--save-state", state}), oskrarender::kExitOk);
  const Wav wav = readWav(file("64.wav"));
  EXPECT_TRUE(wav.peak > 0.1f && wav.peak < 1.0f) << wav.peak;
  // Silent until the first note's synthesis window opens, at most a control period before it.
  EXPECT_TRUE(std::all_of(wav.mono.begin(), wav.mono.begin() + long(testNoteSeconds(241) * kRate) - 96, [](float v) { return v == 0.0f; }));
  std::vector<double> notes, between;
  for (const auto& [tick, note] : kTestNotes) notes.push_back(testNoteSeconds(tick));
  for (size_t i = 1; i < notes.size(); ++i) between.push_back((notes[i - 1] + notes[i]) / 2.0);
  expectOnsets(wav, notes, between);
  const std::vector<std::vector<std::string>> same = {{"--block", "100"}, {"--block", "512"},
                                                      {"--preset", GetPresetsPath() + startkit::kStartPresetFile}, {"--state", state}};
  for (const auto& args : same) {
    if (args[0] == "--state") std::filesystem::remove_all(GetSoundsPath()), std::filesystem::remove_all(GetPresetsPath());
    std::vector<std::string> all = {"--midi", song, "--out", file("again.wav")};
    all.insert(all.end(), args.begin(), args.end());
    ASSERT_EQ(render(all), oskrarender::kExitOk) << args[0];
    EXPECT_TRUE(readWav(file("again.wav")).mono == wav.mono) << args[0];
  }
  ASSERT_EQ(render({"--midi", song, "--out", file("empty.wav")}), oskrarender::kExitOk);
  EXPECT_FALSE(readWav(file("empty.wav")).mono == wav.mono);
}

// The instrument's own sequencer, started as the renderer starts it, at another rate and block
// size and for a given length: the start preset's bar at the preset's tempo, hi-hats on every
// eighth note and nothing on the sixteenths 2, 6, 8, 10 and 14 of the bar.
TEST_F(OskraRender, SequencerPlaysTheStartPresetsPattern) {
  ASSERT_EQ(render({"--sequencer", "--rate", "44100", "--block", "256", "--seconds", "3", "--out", file("seq.wav")}), oskrarender::kExitOk);
  const Wav wav = readWav(file("seq.wav"));
  ASSERT_EQ(std::make_pair(wav.rate, wav.mono.size()), std::make_pair(44100, size_t(3 * 44100)));
  const double sixteenth = 15.0 / startkit::kStartKitBpm;
  std::vector<double> notes, between;
  for (int step = 0; (step + 1) * sixteenth < 3.0; ++step) {
    if (step % 2 == 0) notes.push_back(step * sixteenth);
    else if (std::set<int>{1, 5, 7, 9, 13}.count(step % 16) != 0) between.push_back(step * sixteenth);
  }
  expectOnsets(wav, notes, between);
}

TEST_F(OskraRender, ErrorsSayWhatIsWrongAndExitWithTheirCode) {
  const Bytes song = testaudio::readFileBytes(writeTestSong(file("notes.mid")));
  testaudio::writeFileBytes(file("junk"), std::vector<uint8_t>(200, 0x5A));
  testaudio::writeFileBytes(file("cut.mid"), Bytes(song.begin(), song.end() - 5));
  std::filesystem::create_directory(file("Empty.vst3"));
  const std::string out = file("out.wav");
  const std::tuple<std::vector<std::string>, int, const char*> cases[] = {  // arguments, exit code, what it says
      {{"--demo", "--out", out, "--bundle", file("Missing.vst3")}, oskrarender::kExitPlugin, "there is no plug-in bundle at"},
      {{"--demo", "--out", out, "--bundle", file("Empty.vst3")}, oskrarender::kExitPlugin, "cannot load the plug-in bundle"},
      {{"--midi", file("junk"), "--out", out}, oskrarender::kExitInput, "not a Standard MIDI File"},
      {{"--midi", file("cut.mid"), "--out", out}, oskrarender::kExitInput, "cut.mid"},
      {{"--midi", file("none.mid"), "--out", out}, oskrarender::kExitInput, "cannot open"},
      {{"--demo", "--out", out, "--state", file("junk")}, oskrarender::kExitInput, "refused the state"},
      {{"--demo", "--out", out, "--preset", file("junk")}, oskrarender::kExitInput, "refused the preset"},
      {{"--demo", "--out", file("no/folder/out.wav")}, oskrarender::kExitOutput, "cannot write"},
      {{"--demo", "--out", out, "--block", "0"}, oskrarender::kExitUsage, "--block"},
      {{"--demo"}, oskrarender::kExitUsage, "--out"}};
  for (const auto& [args, code, says] : cases) {
    std::string said;
    EXPECT_EQ(render(args, &said), code) << says;
    EXPECT_NE(said.find(says), std::string::npos) << said;
  }
}
