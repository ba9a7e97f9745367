// The controller half of the binding: the parameters, units and MIDI mapping a host sees, values
// and texts, preset names and the channel context.
#include <climits>
#include <cmath>

#include "pluginterfaces/vst/ivstchannelcontextinfo.h"
#include "pluginterfaces/vst/ivstunits.h"
#include "public.sdk/source/vst/hosting/hostclasses.h"
#include "support/AllocationFailure.h"
#include "tests/plugin/vst3/Vst3TestKit.h"

TEST_F(Vst3InProcess, ParameterInfosUnitsAndMidiMapping) {
  constexpr int32 kAuto = ParameterInfo::kCanAutomate;
  const struct { ParamID id; std::u16string title, units; int32 steps, flags; double defaultValue; UnitID unit; } expected[] = {
      {0, u"Gain", u"x", 0, kAuto, 0.8, 1},
      {1, u"Steps", u"", 7, kAuto, 0.0, 0},
      {2, u"Mode", u"", 1, kAuto | ParameterInfo::kIsList, 0.0, 2},
      {3, u"Tone", u"Hz", 0, 0, std::log(50.0) / std::log(1000.0), 1},  // exponential 20..20000, at 1000
      {65541, u"Contr. 3", u"", 0, 0, 0.0, 5},
      {65538 + 66, u"Sostenuto ", u"", 0, 0, 0.0, 5},
      {65667, u"Pitch Bend", u"", 0, 0, 0.5, 5},
  };
  ASSERT_EQ(controller->getParameterCount(), 4 + 130);
  for (const auto& e : expected) {
    ParameterInfo info{};
    ASSERT_EQ(controller->getParameterInfo(e.id < 4 ? e.id : 4 + (e.id - 65538), info), kResultTrue);
    EXPECT_EQ(std::make_tuple(info.id, std::u16string(info.title), std::u16string(info.units), info.stepCount, info.flags,
                              info.unitId),
              std::make_tuple(e.id, e.title, e.units, e.steps, e.flags, e.unit));
    EXPECT_NEAR(controller->getParamNormalized(e.id), e.defaultValue, 1e-12) << e.id;
    EXPECT_EQ(info.defaultNormalizedValue, controller->getParamNormalized(e.id));
  }
  // Groups become units in order of first appearance; the controllers sit in "MIDI CCs" / "CH1".
  FUnknownPtr<IUnitInfo> units(controller);
  const std::tuple<UnitID, std::u16string, UnitID> tree[] = {
      {0, u"Root", -1}, {1, u"Voice", 0}, {2, u"Routing", 0}, {4, u"MIDI CCs", 0}, {5, u"CH1", 4}};
  ASSERT_EQ(units->getUnitCount(), 5);
  for (int32 i = 0; i < 5; ++i) {
    UnitInfo unit{};
    ASSERT_EQ(units->getUnitInfo(i, unit), kResultTrue);
    EXPECT_EQ(std::make_tuple(unit.id, std::u16string(unit.name), unit.parentUnitId), tree[i]);
  }
  FUnknownPtr<IMidiMapping> mapping(controller);
  const std::tuple<int32, int16, CtrlNumber, ParamID> assignments[] = {
      {0, 0, 7, 65545}, {0, 0, 129, 65667}, {1, 0, 7, 0}, {0, 1, 7, 0}, {0, -1, 7, 0}, {0, 0, 130, 0}, {0, 0, -2, 0}};
  for (auto [bus, channel, number, tag] : assignments) {
    ParamID id = 0;
    EXPECT_EQ(mapping->getMidiControllerAssignment(bus, channel, number, id), tag != 0 ? kResultOk : kResultFalse);
    EXPECT_EQ(id, tag);
  }
  // Preset names reach the host as the characters they are, from the preset list only.
  String128 name = {};
  ASSERT_EQ(units->getProgramName(65537, 0, name), kResultOk);
  EXPECT_EQ(std::u16string(name), u"Caf\u00E9 \u2615");
  EXPECT_EQ(units->getProgramName(0, 0, name), kResultFalse);
}

TEST_F(Vst3InProcess, HostValuesReachTheParametersAndTheirTexts) {
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(synth->Logged("change " + std::to_string(i) + " 0 -1"));  // initialize
  synth->log.clear();
  ASSERT_EQ(controller->setParamNormalized(0, 0.25), kResultOk);
  EXPECT_EQ(synth->GetParam(0)->Value(), 0.25);
  // The editor hears of it; the processor does from the host's next block, not from here.
  EXPECT_EQ(synth->log, std::vector<std::string>({"ui 0 1", "ui 0 4"}));
  ASSERT_EQ(controller->setParamNormalized(0, 1.5), kResultOk);
  EXPECT_EQ(controller->getParamNormalized(0), 1.0);
  EXPECT_EQ(controller->setParamNormalized(0, kNaN), kInvalidArgument);
  EXPECT_EQ(controller->setParamNormalized(65536, 0.5), kResultFalse);  // an instrument has no bypass
  EXPECT_EQ(synth->GetParam(0)->Value(), 1.0);
  const std::tuple<ParamID, double, std::u16string> shown[] = {
      {2, 1.0, u"Both buses"}, {0, 0.5, u"0.500"}, {1, 3.0 / 7.0, u"3"}, {3, 1.0, u"20000"}};
  for (const auto& [tag, value, text] : shown) {
    String128 string = {};
    EXPECT_EQ(controller->getParamStringByValue(tag, value, string), kResultTrue);
    EXPECT_EQ(std::u16string(string), text);
  }
  for (auto [tag, string, expected] : {std::tuple<ParamID, std::u16string, double>{2, u"Both buses", 1.0}, {3, u"nonsense", 0.0}}) {
    ParamValue value = -1.0;
    ASSERT_EQ(controller->getParamValueByString(tag, string.data(), value), kResultTrue);
    EXPECT_NEAR(value, expected, 1e-12);
  }
}

TEST_F(Vst3InProcess, ChannelContextFromTheHost) {
  using namespace ChannelContext;
  IPtr<HostAttributeList> list = owned(new HostAttributeList);
  list->setInt(kChannelNameLengthKey, 2);  // a length shorter than the text cuts it
  list->setString(kChannelNameKey, u"Drums");
  list->setInt(kChannelColorKey, 0x7F00FF8040);
  list->setInt(kChannelIndexKey, int64{1} << 40);
  list->setInt(kChannelIndexNamespaceOrderKey, 2);
  list->setInt(kChannelIndexNamespaceLengthKey, int64{1} << 40);  // a length that does not fit: 127 at most
  list->setString(kChannelIndexNamespaceKey, u"Mixer");
  FUnknownPtr<IInfoListener> listener(controller);
  ASSERT_EQ(listener->setChannelContextInfos(list), kResultOk);
  WDL_String name, space;
  synth->GetChannelName(name);
  synth->GetChannelNamespace(space);
  int r = 0, g = 0, b = 0;
  synth->GetChannelColor(r, g, b);
  EXPECT_EQ(std::string(name.Get()) + "|" + space.Get(), "Dr|Mixer");
  EXPECT_EQ(std::vector<int>({r, g, b, synth->GetChannelIndex(), synth->GetChannelNamespaceOrder()}),
            std::vector<int>({255, 128, 64, INT_MAX, 2}));
  EXPECT_EQ(listener->setChannelContextInfos(nullptr), kResultFalse);
}

// What the plug-in tells the host through its component handler: an edit's begin, value and end;
// a new latency; new values after a preset change; and the latency and tail the host reads.
TEST_F(Vst3InProcess, HostNotificationsLatencyAndTail) {
  using Kind = testhost::ComponentHandler::Kind;
  auto& calls = plugin->handler().calls;
  calls.clear();
  synth->BeginInformHostOfParamChangeFromUI(1);
  synth->SendParameterValueFromUI(1, 3.0 / 7.0);
  synth->EndInformHostOfParamChangeFromUI(1);
  synth->SetLatency(128);
  synth->InformHostOfPresetChange();
  ASSERT_EQ(calls.size(), 5u);
  const std::tuple<Kind, ParamID, double, int32> expected[] = {{Kind::BeginEdit, 1, 0.0, 0}, {Kind::PerformEdit, 1, 3.0 / 7.0, 0},
      {Kind::EndEdit, 1, 0.0, 0}, {Kind::Restart, 0, 0.0, kLatencyChanged}, {Kind::Restart, 0, 0.0, kParamValuesChanged}};
  for (size_t i = 0; i < calls.size(); ++i)
    EXPECT_EQ(std::make_tuple(calls[i].kind, calls[i].id, calls[i].value, calls[i].flags), expected[i]) << i;
  EXPECT_EQ(controller->getParamNormalized(1), 3.0 / 7.0);
  EXPECT_EQ(plugin->processor()->getLatencySamples(), 128u);
  const std::pair<int, uint32> tails[] = {{0, 0}, {4410, 4410}, {iplug::IPlugProcessor::kInfiniteTail, kInfiniteTail}, {-5, 0}};
  for (auto [tail, reported] : tails) {
    synth->SetTailSize(tail);
    EXPECT_EQ(plugin->processor()->getTailSamples(), reported) << tail;
  }
}

// Out of memory while the host initialises the instance again: the failure is the answer, no
// exception reaches the host, and a later try succeeds.
TEST_F(Vst3InProcess, InitializeWithoutMemoryAnswersTheFailure) {
  ASSERT_EQ(plugin->component()->terminate(), kResultOk);
  {
    AllocationFailure failing;
    EXPECT_EQ(plugin->component()->initialize(static_cast<IHostApplication*>(&plugin->host())), kOutOfMemory);
  }
  ASSERT_EQ(plugin->component()->initialize(static_cast<IHostApplication*>(&plugin->host())), kResultOk);
  EXPECT_EQ(controller->getParameterCount(), 4 + 130);
  EXPECT_EQ(iplug::Timer::FireAll(), 1);  // the idle timer runs again
}
