// Hosts that behave in their own way and what the binding does for them: Ardour and Mixbus ask for
// bus arrangements the plug-in never offered and then use the buses as they are; WaveLab reports
// failure on state reads that delivered their bytes.
#include <cstring>

#include "pluginterfaces/base/ibstream.h"
#include "tests/plugin/vst3/Vst3TestKit.h"

namespace {

// Hands out the bytes it holds, and calls every read a failure.
struct FailingReadsStream final : testhost::HostObject<IBStream> {
  explicit FailingReadsStream(std::vector<char> bytes) : bytes(std::move(bytes)) {}
  tresult PLUGIN_API read(void* buffer, int32 numBytes, int32* numBytesRead) override {
    const auto n = static_cast<int32>(std::min<size_t>(static_cast<size_t>(std::max(numBytes, 0)), bytes.size() - pos));
    std::memcpy(buffer, bytes.data() + pos, static_cast<size_t>(n));
    pos += static_cast<size_t>(n);
    if (numBytesRead != nullptr) *numBytesRead = n;
    return kResultFalse;
  }
  tresult PLUGIN_API write(void*, int32, int32*) override { return kResultFalse; }
  tresult PLUGIN_API seek(int64, int32, int64*) override { return kResultFalse; }
  tresult PLUGIN_API tell(int64*) override { return kResultFalse; }
  std::vector<char> bytes;
  size_t pos = 0;
};

}  // namespace

TEST_F(Vst3InProcess, ArdourAndMixbusGetEveryArrangementAndTheBusesStayAsTheyAre) {
  const SpeakerArrangement mono = SpeakerArr::kMono, stereo = SpeakerArr::kStereo;
  const std::vector<SpeakerArrangement> outputs[] = {{mono}, {stereo, stereo, stereo}, {}, {stereo}};
  for (const char* host : {"Ardour 8.4", "Harrison Mixbus 10"}) {
    synth->SetHost(host, 0);
    for (const auto& out : outputs) {
      EXPECT_EQ(plugin->setBusArrangements({stereo}, out), kResultTrue) << host << " " << out.size();
      ASSERT_EQ(plugin->component()->getBusCount(kAudio, kOutput), 2) << host;
      EXPECT_EQ(plugin->component()->getBusCount(kAudio, kInput), 0) << host;
    }
    SpeakerArrangement arrangement = 0;
    EXPECT_EQ(plugin->processor()->getBusArrangement(kOutput, 1, arrangement), kResultTrue);
    EXPECT_EQ(arrangement, stereo);
    ASSERT_EQ(Play(64), kResultOk);  // and the main bus still plays
    EXPECT_EQ(plugin->output(0, 1)[63], kLevel) << host;
  }
  synth->SetHost("Oskra Test Host", 0);  // any other host is refused what does not fit
  EXPECT_EQ(plugin->setBusArrangements({}, {mono}), kResultFalse);
  EXPECT_EQ(plugin->setBusArrangements({}, {stereo}), kResultTrue);
  EXPECT_EQ(plugin->component()->getBusCount(kAudio, kOutput), 1);
}

TEST_F(Vst3InProcess, WaveLabStateIsReadToItsEndThoughEveryReadReportsFailure) {
  testhost::ParameterChanges changes;
  changes.add(0, 0, 0.25);
  ASSERT_EQ(plugin->process(8, nullptr, &changes), kResultOk);
  const std::vector<char> saved = State();
  changes.clear();
  changes.add(0, 0, 0.75);
  ASSERT_EQ(plugin->process(8, nullptr, &changes), kResultOk);

  FailingReadsStream elsewhere(saved);  // another host stops at the first failed read: nothing to load
  EXPECT_EQ(plugin->component()->setState(&elsewhere), kResultFalse);
  EXPECT_EQ(synth->GetParam(TestSynth::kGain)->Value(), 0.75);

  synth->SetHost("WaveLab 12", 0);
  FailingReadsStream wavelab(saved);
  EXPECT_EQ(plugin->component()->setState(&wavelab), kResultOk);
  EXPECT_EQ(synth->GetParam(TestSynth::kGain)->Value(), 0.25);
  EXPECT_EQ(controller->getParamNormalized(TestSynth::kGain), 0.25);
  EXPECT_EQ(State(), saved);
}
