// What the host is told when the instance changes host-visible values on its own side: the
// editor's edits arrive as edits, and a randomised kit or a preset the instance loads itself
// asks the host to read the values again, which then match the instance's own.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "plugin/files/UserDataPaths.h"
#include "support/TestAudio.h"
#include "tests/plugin/FennrakeTestKit.h"
#include "tools/testhost/HostedPlugin.h"

namespace {

using Kind = testhost::ComponentHandler::Kind;
namespace vst = Steinberg::Vst;

struct Told {
  const char* what;
  std::function<void(Fennrake&, const std::string& folder)> change;
  std::vector<Kind> calls;  // in order
};

}  // namespace

TEST_F(FennrakeTest, OwnChangesReachTheHost) {
  // Track 1's pan in a preset, then elsewhere, as the host sets it.
  const int pan = BandSynth::trackParam(0, TrackParam::kPan);
  const int panTag = int(std::find(plug->mBandSynth.modTargets.begin(), plug->mBandSynth.modTargets.end(), pan) -
                         plug->mBandSynth.modTargets.begin());
  ASSERT_LT(panTag, plug->NParams());
  for (float value : {-30.0f, 30.0f}) {
    plug->GetParam(panTag)->Set(value);
    plug->OnParamChange(panTag, kHost, 0);
    if (value < 0.0f) {
      ASSERT_TRUE(plug->SavePresetFile(GetPresetsPath() + "Panned.oskra"));
    }
  }
  ASSERT_EQ(Engine(pan).value, 30.0f);
  testaudio::TempFolder in;
  ASSERT_TRUE(testaudio::writeAudioFile(in.file("kick.wav"), testaudio::AudioFileFormat::kWav16, {testaudio::kick(44100)}, 44100));
  ASSERT_TRUE(plug->ImportSoundFile(in.path() + "/", "kick.wav", -1));  // a library for the randomiser

  constexpr int kKnob = 5;
  const Told rows[] = {
      {"the editor's knob",
       [](Fennrake& p, const std::string&) {
         p.BeginInformHostOfParamChangeFromUI(kKnob);
         p.SendParameterValueFromUI(kKnob, 0.25);
         p.EndInformHostOfParamChangeFromUI(kKnob);
       },
       {Kind::BeginEdit, Kind::PerformEdit, Kind::EndEdit}},
      {"the randomiser", [](Fennrake& p, const std::string&) { p.Randomize(3); }, {Kind::Restart}},
      {"a preset the instance loads", [](Fennrake& p, const std::string&) { ASSERT_TRUE(p.LoadPresetFile(GetPresetsPath() + "Panned.oskra")); },
       {Kind::Restart}},
  };

  plug->addRef();  // the host's reference
  std::string error;
  auto host = testhost::HostedPlugin::adopt(static_cast<vst::IAudioProcessor*>(plug.get()), error);
  ASSERT_TRUE(host) << error;
  ASSERT_EQ(host->initialize(), Steinberg::kResultOk);
  auto& calls = host->handler().calls;
  for (const Told& row : rows) {
    calls.clear();
    row.change(*plug, in.path());
    std::vector<Kind> kinds;
    for (const auto& call : calls) kinds.push_back(call.kind);
    EXPECT_EQ(kinds, row.calls) << row.what;
    for (const auto& call : calls) {
      if (call.kind == Kind::Restart) {
        EXPECT_EQ(call.flags, vst::kParamValuesChanged) << row.what;
      } else if (call.kind == Kind::PerformEdit) {
        EXPECT_EQ(std::make_pair(call.id, call.value), std::make_pair(vst::ParamID(kKnob), 0.25)) << row.what;
      }
    }
    // Whatever the host reads now is the instance's own value, and the engine plays it.
    for (int i = 0; i < plug->NParams(); ++i) {
      ASSERT_EQ(host->controller()->getParamNormalized(vst::ParamID(i)), plug->GetParam(i)->GetNormalized()) << row.what << " " << i;
      ASSERT_EQ(plug->GetParam(i)->Value(), plug->GetParam(i)->Constrain(Engine(plug->mBandSynth.modTargets[size_t(i)]).value))
          << row.what << " " << i;
    }
  }
  host.reset();
}
