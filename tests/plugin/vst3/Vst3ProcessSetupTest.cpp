// What a host's processing set-up reaches the plug-in as: the output buses it switches on and off,
// offline or realtime rendering, and what the plug-in asks the host's process context to carry.
#include <functional>
#include <tuple>

#include "tests/plugin/vst3/Vst3TestKit.h"

namespace {

// Set-up changes as a host makes them: with processing stopped and the plug-in inactive.
void Restart(HostedPlugin& plugin, const std::function<void()>& change) {
  ASSERT_EQ(plugin.setProcessing(false), kResultOk);
  ASSERT_EQ(plugin.setActive(false), kResultOk);
  change();
  ASSERT_EQ(plugin.setActive(true), kResultOk);
  ASSERT_EQ(plugin.setProcessing(true), kResultOk);
}

}  // namespace

TEST_F(Vst3InProcess, AnOutputBusPlaysOnlyWhileTheHostHasItSwitchedOn) {
  testhost::ParameterChanges both;
  both.add(TestSynth::kMode, 0, 1.0);  // the second bus carries the note too
  ASSERT_EQ(plugin->process(1, nullptr, &both), kResultOk);
  // Bus, whether the host switches it on, and the level its host buffer then carries.
  const std::tuple<int32, bool, float> steps[] = {
      {1, false, HostedPlugin::kUntouched}, {1, true, kLevel}, {0, false, HostedPlugin::kUntouched}, {1, false, HostedPlugin::kUntouched}};
  float level[2] = {kLevel, HostedPlugin::kUntouched};  // buses 0 and 1 as initialize leaves them
  for (int i = -1; i < 4; ++i) {
    if (i >= 0) {
      const auto [bus, on, expected] = steps[i];
      Restart(*plugin, [&] { EXPECT_EQ(plugin->activateBus(kAudio, kOutput, bus, on), kResultTrue); });
      level[bus] = expected;
    }
    ASSERT_EQ(Play(64), kResultOk);
    for (int32 bus : {0, 1})
      for (int32 channel : {0, 1}) EXPECT_EQ(plugin->output(bus, channel)[63], level[bus]) << i << " " << bus;
  }
}

TEST_F(Vst3InProcess, OfflineRenderingFollowsTheProcessMode) {
  const std::pair<int32, bool> modes[] = {{kOffline, true}, {kRealtime, false}, {kPrefetch, false}, {kOffline, true}};
  for (auto [mode, offline] : modes) {
    Restart(*plugin, [&] { EXPECT_EQ(plugin->setupProcessing(48000.0, 512, kSample32, mode), kResultOk); });
    ASSERT_EQ(Play(64), kResultOk);
    EXPECT_EQ(synth->GetRenderingOffline(), offline) << mode;
  }
}

TEST_F(Vst3InProcess, AsksForEveryPartOfTheProcessContextItReads) {
  FUnknownPtr<IProcessContextRequirements> requirements(controller);
  ASSERT_TRUE(requirements);
  using R = IProcessContextRequirements;
  EXPECT_EQ(requirements->getProcessContextRequirements(),
            uint32(R::kNeedTempo | R::kNeedTimeSignature | R::kNeedProjectTimeMusic | R::kNeedBarPositionMusic |
                   R::kNeedCycleMusic | R::kNeedTransportState));
}
